#include "pststore/pst/bth.h"

#include "format/byte_writer.h"
#include "pststore/pst/disk_layout.h"

namespace salvora::pst {

std::vector<std::uint8_t> BthHeader::Serialize() const {
  ByteWriter w(8);
  w.u8(kHeapSigBth);
  w.u8(cb_key);
  w.u8(cb_ent);
  w.u8(levels);
  w.u32(hid_root);
  return w.take();
}

std::optional<BthHeader> BthHeader::Parse(Bytes data) {
  if (data.size() < 8 || data[0] != kHeapSigBth) return std::nullopt;
  BthHeader h{data[1], data[2], data[3], load_u32(data, 4)};
  return h;
}

std::uint64_t BthKey(Bytes record, std::uint8_t cb_key) {
  std::uint64_t k = 0;
  for (std::size_t i = 0; i < cb_key && i < 8 && i < record.size(); ++i) k |= std::uint64_t{record[i]} << (8 * i);
  return k;
}

std::uint32_t BuildBth(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent, Bytes records) {
  BthHeader header{cb_key, cb_ent, 0, 0};
  const std::uint32_t hid = heap.Allocate(header.Serialize());
  const std::size_t rec = std::size_t{cb_key} + cb_ent;
  if (records.empty()) return hid;
  // Each level: cut into allocations of whole records; the next level indexes their first keys.
  std::size_t size = rec;
  Bytes level = records;
  std::vector<std::uint8_t> index;
  while (true) {
    const std::size_t per = kMaxHeapAlloc / size * size;
    ByteWriter next;
    for (std::size_t at = 0; at < level.size(); at += per) {
      const Bytes chunk = level.subspan(at, std::min(per, level.size() - at));
      const std::uint32_t h = heap.Allocate(chunk);
      next.bytes(chunk.first(cb_key));
      next.u32(h);
    }
    if (level.size() <= per) {
      header.hid_root = load_u32(next.data(), cb_key);
      break;
    }
    ++header.levels;
    index = next.take();
    level = index;
    size = std::size_t{cb_key} + 4;
  }
  heap.Overwrite(hid, header.Serialize());
  return hid;
}

namespace {
bool Walk(const HeapReader& heap, std::uint32_t hid, int level, const BthHeader& h, std::vector<Bytes>& out,
          std::vector<std::string>* problems) {
  auto data = heap.Get(hid);
  const std::size_t size = level == 0 ? std::size_t{h.cb_key} + h.cb_ent : std::size_t{h.cb_key} + 4;
  if (!data || data->size() % size != 0) {
    if (problems) problems->push_back("BTH: record block missing or not a whole number of records");
    return false;
  }
  for (std::size_t at = 0; at < data->size(); at += size) {
    const Bytes r = data->subspan(at, size);
    if (level == 0) {
      out.push_back(r);
    } else if (!Walk(heap, load_u32(r, h.cb_key), level - 1, h, out, problems)) {
      return false;
    }
  }
  return true;
}
}  // namespace

std::optional<BthContents> ReadBth(const HeapReader& heap, std::uint32_t hid, std::vector<std::string>* problems) {
  auto raw = heap.Get(hid);
  auto header = raw ? BthHeader::Parse(*raw) : std::nullopt;
  if (!header) {
    if (problems) problems->push_back("BTH: header missing or bType not 0xB5");
    return std::nullopt;
  }
  BthContents c{*header, {}};
  if (header->hid_root != 0 && !Walk(heap, header->hid_root, header->levels, *header, c.records, problems)) return std::nullopt;
  for (std::size_t i = 1; i < c.records.size(); ++i) {
    if (BthKey(c.records[i - 1], header->cb_key) >= BthKey(c.records[i], header->cb_key)) {
      if (problems) problems->push_back("BTH: keys not in ascending order");
      break;
    }
  }
  return c;
}

}  // namespace salvora::pst
