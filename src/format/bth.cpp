#include "format/bth.h"

#include <algorithm>
#include <functional>
#include <set>
#include <utility>

#include "format/byte_writer.h"
#include "format/layout.h"

namespace salvora {

namespace {

// Index levels above this are not written by any client and would only come from damage.
constexpr std::uint8_t kMaxIndexLevels = 8;
constexpr std::size_t kHeaderBytes = 8;

class RecordWalk {
 public:
  // With forget, each leaf's heap block is let go of once the walk has moved on from it (a
  // lazy heap's only), so a large tree is never held whole; the records handed to visit are
  // then valid during the call only.
  RecordWalk(const HeapOnNode& heap, const BthHeader& header, Findings& findings, const std::function<void(Bytes)>& visit,
             bool forget)
      : heap_(heap), header_(header), findings_(findings), visit_(visit), forget_(forget) {}

  // False when the tree fails (strict, or the root itself is missing).
  bool Walk(Hid hid, int level, bool root) {
    // Each record block belongs to one place in a sound tree; reaching one again means a cycle
    // or shared subtrees, which would repeat records, up to without end.
    if (!seen_.insert(hid.value).second) {
      findings_.add("BTH: a record block is reached twice");
      return !findings_.strict();
    }
    if (forget_ && level == 0 && left_.value != 0) {
      path_.push_back(hid);
      heap_.Forget(left_, path_);
      path_.pop_back();
    }
    const auto bytes = heap_.Lookup(hid);
    const std::size_t size = level == 0 ? header_.record_size() : std::size_t{header_.key_size} + 4;
    if (!bytes || bytes->size() % size != 0) {
      findings_.add("BTH: record block missing or not a whole number of records");
      if (findings_.strict() || (!bytes && root)) return false;
      if (!bytes) return true;
    }
    const Bytes block = *bytes;
    if (level > 0) path_.push_back(hid);
    for (std::size_t at = 0; at + size <= block.size(); at += size) {
      const Bytes record = block.subspan(at, size);
      if (level == 0) {
        visit_(record);
      } else if (!Walk(Hid(load_u32(record, header_.key_size)), level - 1, false)) {
        return false;
      }
    }
    if (level > 0) path_.pop_back();
    if (level == 0) left_ = hid;
    return true;
  }

  // Lets go of the last leaf's block once the walk is over.
  void Finish() {
    if (forget_ && left_.value != 0) heap_.Forget(left_, {});
  }

 private:
  const HeapOnNode& heap_;
  const BthHeader& header_;
  Findings& findings_;
  const std::function<void(Bytes)>& visit_;
  const bool forget_;
  std::set<std::uint32_t> seen_;
  std::vector<Hid> path_;  // the index records' blocks above the leaf being read
  Hid left_;               // the leaf read last
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

namespace {

bool walk_records(const HeapOnNode& heap, const BthHeader& header, Findings& findings,
                  const std::function<void(Bytes)>& visit, bool forget) {
  if (header.root.value == 0) return true;
  bool first = true;
  bool ascending = true;
  std::uint64_t last = 0;
  const std::function<void(Bytes)> each = [&](Bytes record) {
    const std::uint64_t key = bth_key(record, header.key_size);
    if (!first && last >= key) ascending = false;
    first = false;
    last = key;
    visit(record);
  };
  RecordWalk walk(heap, header, findings, each, forget);
  const bool walked = walk.Walk(header.root, header.index_levels, true);
  walk.Finish();
  if (!walked) return false;
  if (!ascending) findings.add("BTH: keys not in ascending order");
  return true;
}

}  // namespace

bool for_each_bth_record(const HeapOnNode& heap, const BthHeader& header, Findings& findings,
                         const std::function<void(Bytes)>& visit) {
  return walk_records(heap, header, findings, visit, true);
}

std::optional<std::vector<Bytes>> read_bth_records(const HeapOnNode& heap, const BthHeader& header, Findings& findings) {
  std::vector<Bytes> out;
  if (!walk_records(heap, header, findings, [&out](Bytes record) { out.push_back(record); }, false)) return std::nullopt;
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
      level.emplace_back(heap_.Reserve(n * size), n);
    }
    levels_.push_back(std::move(level));
    if (levels_.back().size() == 1) break;
    count = levels_.back().size();
    size = std::size_t{key_size_} + 4;
  }
}

std::span<std::uint8_t> BthBuilder::Record(std::size_t i) {
  const std::size_t size = std::size_t{key_size_} + entry_size_;
  const std::size_t per = levels_.at(0).front().second;  // every leaf but the last is full
  return heap_.Mutable(levels_[0].at(i / per).first).subspan((i % per) * size, size);
}

void BthBuilder::RecordFinal(std::size_t i) {
  const auto& leaves = levels_.at(0);
  const std::size_t per = leaves.front().second;
  if (i % per == 0) {
    const auto key = Record(i).first(key_size_);
    first_keys_.insert(first_keys_.end(), key.begin(), key.end());
  }
  // Its own block may hold the next leaf too: only the blocks before it are final.
  if (i + 1 == (i / per) * per + leaves.at(i / per).second)
    heap_.ReleaseFinalBefore(split_hid(leaves[i / per].first, HidLayout::kStandard).block);
}

void BthBuilder::Fill(Bytes records) {
  const std::size_t size = std::size_t{key_size_} + entry_size_;
  for (std::size_t i = 0; i * size < records.size(); ++i) {
    const Bytes record = records.subspan(i * size, size);
    std::copy(record.begin(), record.end(), Record(i).begin());
  }
  FillIndex();
}

namespace {

// The leaf records spread over their allocations, sorted where they lie: the heap's blocks hold
// the only copy of a large table's row index.
class LeafRecords {
 public:
  LeafRecords(std::vector<std::span<std::uint8_t>> leaves, std::size_t per, std::uint8_t key_size, std::size_t size)
      : leaves_(std::move(leaves)), per_(per), key_size_(key_size), size_(size) {}

  void Sort(std::size_t count) {
    // Heap sort: in place, and in n log n however the rows came.
    for (std::size_t i = count / 2; i-- > 0;) SiftDown(i, count);
    for (std::size_t end = count; end > 1; --end) {
      Swap(0, end - 1);
      SiftDown(0, end - 1);
    }
  }

 private:
  std::span<std::uint8_t> At(std::size_t i) const { return leaves_[i / per_].subspan((i % per_) * size_, size_); }
  // Key, then data, each a little-endian number: compared from its last byte.
  bool Less(std::size_t a, std::size_t b) const {
    const auto ra = At(a), rb = At(b);
    for (auto [from, to] : {std::pair<std::size_t, std::size_t>{0, key_size_}, {key_size_, size_}})
      for (std::size_t k = to; k-- > from;)
        if (ra[k] != rb[k]) return ra[k] < rb[k];
    return false;
  }
  void Swap(std::size_t a, std::size_t b) const {
    const auto ra = At(a), rb = At(b);
    std::swap_ranges(ra.begin(), ra.end(), rb.begin());
  }
  void SiftDown(std::size_t root, std::size_t end) const {
    for (std::size_t child = 2 * root + 1; child < end; root = child, child = 2 * root + 1) {
      if (child + 1 < end && Less(child, child + 1)) ++child;
      if (!Less(root, child)) return;
      Swap(root, child);
    }
  }

  std::vector<std::span<std::uint8_t>> leaves_;
  std::size_t per_;
  std::size_t key_size_;
  std::size_t size_;
};

}  // namespace

void BthBuilder::FillInPlace() {
  if (!levels_.empty() && first_keys_.empty()) {
    std::vector<std::span<std::uint8_t>> leaves;
    std::size_t count = 0;
    for (const auto& [hid, n] : levels_.front()) {
      leaves.push_back(heap_.Mutable(hid));
      count += n;
    }
    const std::size_t size = std::size_t{key_size_} + entry_size_;
    LeafRecords(std::move(leaves), levels_.front().front().second, key_size_, size).Sort(count);
  }
  FillIndex();
}

void BthBuilder::FillIndex() {
  BthHeader header{key_size_, entry_size_, 0, Hid()};
  // Level by level from the leaves: each level above holds the first key and the HID of every
  // allocation of the level below.
  std::vector<std::uint8_t> below;
  for (std::size_t l = 0; l < levels_.size(); ++l) {
    const std::size_t size = std::size_t{key_size_} + 4;
    ByteWriter index;
    std::size_t at = 0;
    for (const auto& [hid, n] : levels_[l]) {
      if (l > 0) heap_.Overwrite(hid, Bytes(below).subspan(at * size, n * size));
      if (l == 0 && !first_keys_.empty()) index.bytes(Bytes(first_keys_).subspan(index.size() / size * key_size_, key_size_));
      else index.bytes(heap_.Mutable(hid).first(key_size_));
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
