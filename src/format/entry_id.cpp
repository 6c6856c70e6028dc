#include "format/entry_id.h"

#include <algorithm>

#include "format/byte_writer.h"

namespace salvora {

std::vector<std::uint8_t> EntryId::Serialize() const {
  ByteWriter w(kSize);
  w.u32(flags);
  w.bytes(record_key);
  w.u32(nid.value);
  return w.take();
}

std::optional<EntryId> EntryId::Parse(Bytes bytes) {
  ByteReader r(bytes);
  EntryId id;
  id.flags = r.u32();
  const Bytes key = r.bytes(id.record_key.size());
  std::copy(key.begin(), key.end(), id.record_key.begin());
  id.nid = Nid(r.u32());
  if (!r.ok()) return std::nullopt;
  return id;
}

}  // namespace salvora
