#include "format/entry_id.h"

#include <algorithm>

namespace salvora {

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
