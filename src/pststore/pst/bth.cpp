#include "pststore/pst/bth.h"

#include <set>

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

std::uint32_t BthBuilder::AllocateHeader() {
  header_hid_ = heap_.Allocate(BthHeader{cb_key_, cb_ent_, 0, 0}.Serialize());
  return header_hid_;
}

void BthBuilder::ReserveRecords(std::size_t count) {
  levels_.clear();
  std::size_t size = std::size_t{cb_key_} + cb_ent_;
  while (count > 0) {
    const std::size_t per = kMaxHeapAlloc / size;
    std::vector<std::pair<std::uint32_t, std::size_t>> level;
    for (std::size_t at = 0; at < count; at += per) {
      const std::size_t n = std::min(per, count - at);
      level.emplace_back(heap_.Allocate(std::vector<std::uint8_t>(n * size, 0)), n);
    }
    levels_.push_back(std::move(level));
    if (levels_.back().size() == 1) break;
    count = levels_.back().size();
    size = std::size_t{cb_key_} + 4;
  }
}

void BthBuilder::Fill(Bytes records) {
  BthHeader header{cb_key_, cb_ent_, 0, 0};
  if (!levels_.empty()) {
    std::vector<std::uint8_t> below(records.begin(), records.end());
    std::size_t size = std::size_t{cb_key_} + cb_ent_;
    for (const auto& level : levels_) {
      ByteWriter index;
      std::size_t at = 0;
      for (const auto& [hid, n] : level) {
        const Bytes chunk = Bytes(below).subspan(at * size, n * size);
        heap_.Overwrite(hid, chunk);
        index.bytes(chunk.first(cb_key_));
        index.u32(hid);
        at += n;
      }
      below = index.take();
      size = std::size_t{cb_key_} + 4;
    }
    header.levels = static_cast<std::uint8_t>(levels_.size() - 1);
    header.hid_root = levels_.back().front().first;
  }
  heap_.Overwrite(header_hid_, header.Serialize());
}

std::uint32_t BuildBth(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent, Bytes records) {
  BthBuilder b(heap, cb_key, cb_ent);
  const std::uint32_t hid = b.AllocateHeader();
  b.ReserveRecords(records.size() / (std::size_t{cb_key} + cb_ent));
  b.Fill(records);
  return hid;
}

namespace {
bool Walk(const HeapReader& heap, std::uint32_t hid, int level, const BthHeader& h, std::vector<Bytes>& out,
          std::set<std::uint32_t>& seen, std::vector<std::string>* problems) {
  // Each record block belongs to one place in a sound tree; reaching one again means a cycle
  // or shared subtrees, which would repeat records, up to without end.
  if (!seen.insert(hid).second) {
    if (problems) problems->push_back("BTH: a record block is reached twice");
    return false;
  }
  auto data = heap.Get(hid);
  const std::size_t size = level == 0 ? std::size_t{h.cb_key} + h.cb_ent : std::size_t{h.cb_key} + 4;
  if (!data || size == 0 || data->size() % size != 0) {
    if (problems) problems->push_back("BTH: record block missing or not a whole number of records");
    return false;
  }
  for (std::size_t at = 0; at < data->size(); at += size) {
    const Bytes r = data->subspan(at, size);
    if (level == 0) {
      out.push_back(r);
    } else if (!Walk(heap, load_u32(r, h.cb_key), level - 1, h, out, seen, problems)) {
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
  std::set<std::uint32_t> seen;
  if (header->hid_root != 0 && !Walk(heap, header->hid_root, header->levels, *header, c.records, seen, problems))
    return std::nullopt;
  for (std::size_t i = 1; i < c.records.size(); ++i) {
    if (BthKey(c.records[i - 1], header->cb_key) >= BthKey(c.records[i], header->cb_key)) {
      if (problems) problems->push_back("BTH: keys not in ascending order");
      break;
    }
  }
  return c;
}

}  // namespace salvora::pst
