#include "format/bth.h"

#include <set>

#include "format/byte_writer.h"
#include "format/layout.h"

namespace salvora {

namespace {

// Index levels above this are not written by any client and would only come from damage.
constexpr std::uint8_t kMaxIndexLevels = 8;
constexpr std::size_t kHeaderBytes = 8;

class RecordWalk {
 public:
  RecordWalk(const HeapOnNode& heap, const BthHeader& header, Findings& findings)
      : heap_(heap), header_(header), findings_(findings) {}

  // False when the tree fails (strict, or the root itself is missing).
  bool Walk(Hid hid, int level, bool root, std::vector<Bytes>& out) {
    // Each record block belongs to one place in a sound tree; reaching one again means a cycle
    // or shared subtrees, which would repeat records, up to without end.
    if (!seen_.insert(hid.value).second) {
      findings_.add("BTH: a record block is reached twice");
      return !findings_.strict();
    }
    const auto bytes = heap_.Lookup(hid);
    const std::size_t size = level == 0 ? header_.record_size() : std::size_t{header_.key_size} + 4;
    if (!bytes || bytes->size() % size != 0) {
      findings_.add("BTH: record block missing or not a whole number of records");
      if (findings_.strict() || (!bytes && root)) return false;
      if (!bytes) return true;
    }
    const Bytes block = *bytes;
    for (std::size_t at = 0; at + size <= block.size(); at += size) {
      const Bytes record = block.subspan(at, size);
      if (level == 0) {
        out.push_back(record);
      } else if (!Walk(Hid(load_u32(record, header_.key_size)), level - 1, false, out)) {
        return false;
      }
    }
    return true;
  }

 private:
  const HeapOnNode& heap_;
  const BthHeader& header_;
  Findings& findings_;
  std::set<std::uint32_t> seen_;
};

}  // namespace

std::vector<std::uint8_t> BthHeader::Serialize() const {
  ByteWriter w(kHeaderBytes);
  w.u8(kType);
  w.u8(key_size);
  w.u8(entry_size);
  w.u8(index_levels);
  w.u32(root.value);
  return w.take();
}

std::optional<BthHeader> BthHeader::Parse(Bytes data) {
  ByteReader r(data);
  const std::uint8_t type = r.u8();
  BthHeader h;
  h.key_size = r.u8();
  h.entry_size = r.u8();
  h.index_levels = r.u8();
  h.root = Hid(r.u32());
  if (!r.ok() || type != kType) return std::nullopt;
  return h;
}

std::optional<BthHeader> read_bth_header(const HeapOnNode& heap, Hid hid, Findings& findings) {
  const auto bytes = heap.Lookup(hid);
  const auto header = bytes ? BthHeader::Parse(*bytes) : std::nullopt;
  if (!header) {
    findings.add("BTH: header missing or bType not 0xB5");
    return std::nullopt;
  }
  if (header->key_size == 0 || header->index_levels > kMaxIndexLevels) {
    findings.add("BTH: key size 0 or more index levels than any writer makes");
    return std::nullopt;
  }
  return header;
}

std::optional<std::vector<Bytes>> read_bth_records(const HeapOnNode& heap, const BthHeader& header, Findings& findings) {
  std::vector<Bytes> out;
  if (header.root.value == 0) return out;
  RecordWalk walk(heap, header, findings);
  if (!walk.Walk(header.root, header.index_levels, true, out)) return std::nullopt;
  for (std::size_t i = 1; i < out.size(); ++i) {
    if (bth_key(out[i - 1], header.key_size) >= bth_key(out[i], header.key_size)) {
      findings.add("BTH: keys not in ascending order");
      break;
    }
  }
  return out;
}

std::optional<BthContents> read_bth(const HeapOnNode& heap, Hid hid, Findings& findings) {
  auto header = read_bth_header(heap, hid, findings);
  if (!header) return std::nullopt;
  auto records = read_bth_records(heap, *header, findings);
  if (!records) return std::nullopt;
  return BthContents{*header, std::move(*records)};
}

std::uint64_t bth_key(Bytes record, std::uint8_t key_size) {
  std::uint64_t k = 0;
  for (std::size_t i = 0; i < key_size && i < 8 && i < record.size(); ++i) k |= std::uint64_t{record[i]} << (8 * i);
  return k;
}

Hid BthBuilder::AllocateHeader() {
  header_hid_ = heap_.Allocate(BthHeader{key_size_, entry_size_, 0, Hid()}.Serialize());
  return header_hid_;
}

void BthBuilder::ReserveRecords(std::size_t count) {
  levels_.clear();
  std::size_t size = std::size_t{key_size_} + entry_size_;
  while (count > 0) {
    const std::size_t per = kMaxHeapAlloc / size;
    std::vector<std::pair<Hid, std::size_t>> level;
    for (std::size_t at = 0; at < count; at += per) {
      const std::size_t n = std::min(per, count - at);
      level.emplace_back(heap_.Allocate(std::vector<std::uint8_t>(n * size, 0)), n);
    }
    levels_.push_back(std::move(level));
    if (levels_.back().size() == 1) break;
    count = levels_.back().size();
    size = std::size_t{key_size_} + 4;
  }
}

void BthBuilder::Fill(Bytes records) {
  const std::size_t size = std::size_t{key_size_} + entry_size_;
  Fill([&](std::size_t i, std::span<std::uint8_t> record) {
    std::copy_n(records.begin() + static_cast<std::ptrdiff_t>(i * size), size, record.begin());
  });
}

void BthBuilder::Fill(const RecordWriter& record_at) {
  BthHeader header{key_size_, entry_size_, 0, Hid()};
  // Level by level from the leaves, one allocation at a time: each level above holds the first
  // key and the HID of every allocation of the level below.
  std::vector<std::uint8_t> below;
  std::vector<std::uint8_t> chunk;
  for (std::size_t l = 0; l < levels_.size(); ++l) {
    const std::size_t size = std::size_t{key_size_} + (l == 0 ? entry_size_ : 4);
    ByteWriter index;
    std::size_t at = 0;
    for (const auto& [hid, n] : levels_[l]) {
      if (l == 0) {
        chunk.assign(n * size, 0);
        for (std::size_t i = 0; i < n; ++i) record_at(at + i, std::span(chunk).subspan(i * size, size));
      } else {
        const auto first = below.begin() + static_cast<std::ptrdiff_t>(at * size);
        chunk.assign(first, first + static_cast<std::ptrdiff_t>(n * size));
      }
      heap_.Overwrite(hid, chunk);
      index.bytes(Bytes(chunk).first(key_size_));
      index.u32(hid.value);
      at += n;
    }
    below = index.take();
  }
  if (!levels_.empty()) {
    header.index_levels = static_cast<std::uint8_t>(levels_.size() - 1);
    header.root = levels_.back().front().first;
  }
  heap_.Overwrite(header_hid_, header.Serialize());
}

Hid build_bth(HeapWriter& heap, std::uint8_t key_size, std::uint8_t entry_size, Bytes records) {
  BthBuilder b(heap, key_size, entry_size);
  const Hid hid = b.AllocateHeader();
  b.ReserveRecords(records.size() / (std::size_t{key_size} + entry_size));
  b.Fill(records);
  return hid;
}

}  // namespace salvora
