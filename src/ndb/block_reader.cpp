#include "ndb/block_reader.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "format/block.h"
#include "format/byte_reader.h"

namespace salvora {

namespace {

// Data trees nest two levels in the format (XXBLOCK over XBLOCKs) and sub-node trees two
// (SIBLOCK over SLBLOCKs); anything deeper is a damaged or hostile file.
constexpr int kMaxTreeDepth = 4;

thread_local std::uint64_t damaged_here = 0;

void count_damage(const OstContext& ctx) {
  ctx.damaged_blocks.fetch_add(1, std::memory_order_relaxed);
  ++damaged_here;
}

// A sound tree names each block once, so its walk visits no more blocks than the index holds.
// A tree that names blocks again and again would make a few kilobytes of a damaged or hostile
// file expand without end: the walk stops when the visits run out.
bool take_visit(std::size_t& visits_left) {
  if (visits_left == 0) return false;
  --visits_left;
  return true;
}

bool looks_like_zlib(Bytes b) {
  return b.size() >= 2 && (b[0] & 0x0F) == 8 && ((b[0] << 8) | b[1]) % 31 == 0;
}

// One decompressor per thread (the reading may run on two), made on first use: a block is
// inflated whole in one call, which a whole-buffer inflater does at about twice zlib's speed.
struct DecompressorFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

libdeflate_decompressor* thread_decompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(libdeflate_alloc_decompressor());
  return decompressor.get();
}

// The zlib stream of a compressed block, which must give exactly inflated_size bytes and pass
// its checksum. Bytes after the stream's end are ignored.
std::optional<ByteVector> inflate_block(Bytes stored, std::size_t inflated_size) {
  libdeflate_decompressor* decompressor = thread_decompressor();
  if (decompressor == nullptr) return std::nullopt;
  ByteVector out(inflated_size);
  std::size_t consumed = 0, produced = 0;
  const libdeflate_result r = libdeflate_zlib_decompress_ex(decompressor, stored.data(), stored.size(), out.data(),
                                                            out.size(), &consumed, &produced);
  if (r != LIBDEFLATE_SUCCESS || produced != inflated_size) return std::nullopt;
  return out;
}

// A block as stored, made ready: compressed blocks are inflated, external blocks decoded. The
// order of the two steps is not settled among the writers seen so far, so the stored bytes
// decide: a zlib header means the compressed form was written last.
std::optional<ByteVector> prepare_block(const OstContext& ctx, const BlockEntry& entry, ByteVector stored) {
  const bool external = !entry.bid.is_internal();
  const CryptMethod crypt = ctx.crypt();
  if (!entry.is_compressed()) {
    if (external) decode_block_bytes(stored, crypt, entry.bid.value);
    return stored;
  }
  if (!external || crypt == CryptMethod::kNone || looks_like_zlib(stored)) {
    auto out = inflate_block(stored, entry.cb_inflated);
    if (out && external) decode_block_bytes(*out, crypt, entry.bid.value);
    return out;
  }
  decode_block_bytes(stored, crypt, entry.bid.value);
  return inflate_block(stored, entry.cb_inflated);
}

struct StoredBlock {
  ByteVector bytes;
  bool vouched = true;  // the trailer vouches for the bytes, or the file has no trailers
};

// The stored bytes and what the trailer says of them, counted nowhere.
std::optional<StoredBlock> read_checked(const OstContext& ctx, const BlockEntry& entry) {
  if (entry.cb == 0) return StoredBlock{};
  const FileLayout layout = ctx.header.layout;
  // Data, padding and trailer in one read.
  StoredBlock out;
  ByteVector& b = out.bytes;
  b = ReadAt(ctx, entry.ib, block_disk_size(entry.cb, layout));
  if (b.size() < entry.cb) return std::nullopt;
  // The trailer must vouch for the block: its size, its id and a checksum over the stored bytes.
  const auto trailer = parse_block_trailer(b, entry.cb, layout);
  out.vouched = ctx.geometry.block_trailer_size == 0 ||
                (trailer && judge_block_trailer(*trailer, Bytes(b).first(entry.cb), entry.bid.value, entry.cb, entry.ib).vouches());
  b.resize(entry.cb);
  return out;
}

// Damaged bytes are still used, but counted.
std::optional<ByteVector> read_stored(const OstContext& ctx, const BlockEntry& entry) {
  auto stored = read_checked(ctx, entry);
  if (!stored) return std::nullopt;
  if (!stored->vouched) count_damage(ctx);
  return std::move(stored->bytes);
}

std::optional<ByteVector> read_prepared(const OstContext& ctx, Bid bid) {
  const auto entry = FindBlock(ctx, bid);
  if (!entry) return std::nullopt;
  auto stored = read_stored(ctx, *entry);
  if (!stored) return std::nullopt;
  return prepare_block(ctx, *entry, std::move(*stored));
}

// Collects the blocks of a value apart from each other.
class BlockListSink : public ValueSink {
 public:
  void Deliver(Bytes chunk) override {
    blocks_.emplace_back(chunk.begin(), chunk.end());
    total_ += chunk.size();
  }
  std::vector<ByteVector>& blocks() { return blocks_; }

 private:
  std::vector<ByteVector> blocks_;
};

// The bytes a leaf of a data tree holds, as the index gives them: no data block is read.
std::uint64_t leaf_size(const OstContext& ctx, Bid leaf, const ByteVector* bytes) {
  if (bytes) return bytes->size();
  const auto entry = FindBlock(ctx, leaf);
  return entry ? entry->cb_inflated : 0;
}

// One walk over a data tree: the visits it may still make, and the bytes its leaves hold.
struct TreeWalk {
  std::size_t visits;
  std::uint64_t size = 0;
  // A tree whose leaves do not add up to the total it stores (lcbTotal): a count lowered or
  // raised, or ids lost. Every leaf it names is still walked, so that what can be read is.
  bool size_mismatch = false;
};

// Walks a data tree in the order of its data and hands each leaf to on_leaf: its id, and its
// bytes when the walk already has them (a block marked internal that is no data tree is taken
// as one plain block). on_leaf returns false to end the walk as failed.
// fetch reads the tree's own blocks, ready for use (read_prepared, or a stricter reader).
template <class OnLeaf, class Fetch = decltype(&read_prepared)>
bool walk_data_tree(const OstContext& ctx, Bid bid, int depth, TreeWalk& walk, OnLeaf& on_leaf,
                    Fetch fetch = &read_prepared) {
  if (depth > kMaxTreeDepth || ctx.stopped() || !take_visit(walk.visits)) return false;
  auto block = fetch(ctx, bid);
  if (!block) return false;
  const Bytes b(*block);
  if (b.empty() || b[0] != kBlockTypeDataTree) {
    walk.size += b.size();
    return on_leaf(bid, &*block);
  }
  const auto tree = XBlock::Parse(b, ctx.header.layout, Tolerance::kSalvage);
  if (!tree) return false;
  const std::uint64_t before = walk.size;
  for (const std::uint64_t id : tree->bids) {
    const Bid child(id);
    if (tree->level == 1 && !child.is_internal()) {
      if (!take_visit(walk.visits) || !on_leaf(child, nullptr)) return false;
      walk.size += leaf_size(ctx, child, nullptr);
    } else if (!walk_data_tree(ctx, child, depth + 1, walk, on_leaf, fetch)) {
      return false;
    }
    if (ctx.stopped()) return false;
  }
  if (walk.size - before != tree->total) walk.size_mismatch = true;
  return true;
}

// The stored bytes of a block that is found, read whole and vouched for by its trailer;
// nothing is counted.
std::optional<ByteVector> read_vouched(const OstContext& ctx, const std::optional<BlockEntry>& entry) {
  if (!entry) return std::nullopt;
  auto stored = read_checked(ctx, *entry);
  if (!stored || !stored->vouched) return std::nullopt;
  return std::move(stored->bytes);
}

// A data tree's own block, vouched for and made ready.
std::optional<ByteVector> read_vouched_prepared(const OstContext& ctx, Bid bid) {
  const auto entry = FindBlock(ctx, bid);
  auto stored = read_vouched(ctx, entry);
  if (!stored) return std::nullopt;
  return prepare_block(ctx, *entry, std::move(*stored));
}

// Every leaf of a data tree into the sink; false when one cannot be read.
bool deliver_data_tree(const OstContext& ctx, Bid bid, ValueSink& sink, int depth, TreeWalk& walk) {
  auto deliver = [&](Bid leaf, const ByteVector* bytes) {
    if (bytes) {
      sink.Deliver(*bytes);
      return true;
    }
    auto data = read_prepared(ctx, leaf);
    if (!data) return false;
    sink.Deliver(*data);
    return true;
  };
  return walk_data_tree(ctx, bid, depth, walk, deliver);
}

// A value whose tree does not add up is read as far as it goes and fails: it is not whole.
bool read_data_tree(const OstContext& ctx, Bid bid, ValueSink& sink, int depth, TreeWalk& walk) {
  return deliver_data_tree(ctx, bid, sink, depth, walk) && !walk.size_mismatch;
}

// A value as ReadNodeData reads it, but one whose tree does not add up is kept as far as its
// blocks go, with the damage counted for its object: for a heap, whose blocks still hold their
// properties.
bool deliver_in_part(const OstContext& ctx, const BlockEntry& entry, ValueSink& sink) {
  if (!entry.bid.is_internal()) return ReadNodeData(ctx, entry, sink);
  TreeWalk walk{ctx.blocks->size()};
  if (!deliver_data_tree(ctx, entry.bid, sink, 0, walk)) return false;
  if (walk.size_mismatch) count_damage(ctx);
  return true;
}

bool read_subnode_block(const OstContext& ctx, Bid bid, std::vector<SubnodeEntry>& out, int depth,
                        std::size_t& visits) {
  if (depth > kMaxTreeDepth || !take_visit(visits)) return false;
  auto block = read_prepared(ctx, bid);
  if (!block) return false;
  const auto list = SubnodeBlock::Parse(*block, ctx.header.layout, Tolerance::kSalvage);
  if (!list) return false;
  for (const SubnodeBlockEntry& entry : list->entries) {
    if (list->level == 0) {
      SubnodeEntry e;
      e.nid = Nid(entry.nid);
      e.data_bid = Bid(entry.bid_data);
      e.sub_bid = Bid(entry.bid_sub);
      e.data_block = FindBlock(ctx, e.data_bid);
      e.sub_block = FindBlock(ctx, e.sub_bid);
      out.push_back(e);
    } else {
      // One unreadable leaf of a large list loses its own entries, not the others.
      read_subnode_block(ctx, Bid(entry.bid_data), out, depth + 1, visits);
    }
  }
  return true;
}

}  // namespace

std::uint64_t damaged_blocks_read_here() { return damaged_here; }

void MemorySink::Deliver(Bytes chunk) {
  value_.insert(value_.end(), chunk.begin(), chunk.end());
  total_ += chunk.size();
}

void TripletFileSink::Deliver(Bytes chunk) {
  std::size_t i = 0;
  // Complete the held-back group first, then write the largest run of whole groups.
  while (carry_count_ > 0 && carry_count_ < 3 && i < chunk.size()) carry_[carry_count_++] = chunk[i++];
  if (carry_count_ == 3) {
    file_.Write(carry_, 3);
    carry_count_ = 0;
  }
  const std::size_t rest = chunk.size() - i;
  const std::size_t whole = rest - rest % 3;
  if (whole > 0) file_.Write(chunk.data() + i, whole);
  for (std::size_t k = i + whole; k < chunk.size(); ++k) carry_[carry_count_++] = chunk[k];
  total_ += chunk.size();
}

void TripletFileSink::Finish() {
  if (carry_count_ > 0) file_.Write(carry_, carry_count_);
  carry_count_ = 0;
}

ByteVector ReadAt(const OstContext& context, std::uint64_t offset, std::size_t count) {
  ByteVector out(count);
  const std::size_t got = context.file.ReadAt(offset, out.data(), count);
  out.resize(got);
  return out;
}

int DecodeBlock(std::span<std::uint8_t> data, int method, Bid bid) {
  auto m = crypt_method_from_byte(static_cast<std::uint8_t>(method));
  if (method < 0 || method > 0xFF || !m) return -1;
  decode_block_bytes(data, *m, bid.value);
  return 0;
}

std::optional<ByteVector> ReadBlock(const OstContext& context, Bid bid) {
  const auto entry = FindBlock(context, bid);
  if (!entry) return std::nullopt;
  return read_stored(context, *entry);
}

std::optional<ByteVector> ReadBlockDecoded(const OstContext& context, Bid bid) {
  if (context.stopped()) return std::nullopt;
  return read_prepared(context, bid);
}

bool ReadDataTree(const OstContext& context, Bid bid, ValueSink& sink, int depth) {
  TreeWalk walk{context.blocks->size()};
  return read_data_tree(context, bid, sink, depth, walk);
}

bool ReadNodeData(const OstContext& context, const BlockEntry& entry, ValueSink& sink) {
  TreeWalk walk{context.blocks->size()};
  if (entry.bid.is_internal()) return read_data_tree(context, entry.bid, sink, 0, walk);
  auto block = read_prepared(context, entry.bid);
  if (!block) return false;
  sink.Deliver(*block);
  return true;
}

std::optional<ValueBlockList> ValueBlocks(const OstContext& context, Bid bid) {
  const auto entry = FindBlock(context, bid);
  if (!entry) return std::nullopt;
  ValueBlockList out;
  if (!entry->bid.is_internal()) {
    out.blocks.push_back(entry->bid);
    return out;
  }
  TreeWalk walk{context.blocks->size()};
  auto collect = [&](Bid leaf, const ByteVector*) {
    out.blocks.push_back(leaf);
    return true;
  };
  out.complete = walk_data_tree(context, entry->bid, 0, walk, collect) && !walk.size_mismatch;
  return out;
}

bool CheckNodeData(const OstContext& context, const BlockEntry& entry) {
  if (context.stopped()) return false;
  if (!entry.bid.is_internal()) return read_vouched(context, entry).has_value();
  TreeWalk walk{context.blocks->size()};
  // A leaf handed over with its bytes was fetched, and so vouched for, by the walk itself.
  auto check = [&](Bid leaf, const ByteVector* bytes) {
    return bytes != nullptr || read_vouched(context, FindBlock(context, leaf)).has_value();
  };
  return walk_data_tree(context, entry.bid, 0, walk, check, &read_vouched_prepared) && !walk.size_mismatch;
}

bool CheckValueBlocks(const OstContext& context, const BlockEntry& entry) {
  if (context.stopped()) return false;
  auto look = [&](Bid leaf, const ByteVector* bytes) {
    if (bytes) return true;
    const auto found = FindBlock(context, leaf);
    return found && read_stored(context, *found).has_value();
  };
  if (!entry.bid.is_internal()) return read_stored(context, entry).has_value();
  TreeWalk walk{context.blocks->size()};
  return walk_data_tree(context, entry.bid, 0, walk, look) && !walk.size_mismatch;
}

bool BlockVouched(const OstContext& context, const BlockEntry& entry) { return read_vouched(context, entry).has_value(); }

std::optional<ByteVector> ReadNodeValue(const OstContext& context, Bid bid) {
  const auto entry = FindBlock(context, bid);
  if (!entry) return std::nullopt;
  MemorySink sink;
  if (!ReadNodeData(context, *entry, sink)) return std::nullopt;
  return std::move(sink.value());
}

std::optional<std::vector<ByteVector>> ReadNodeBlocks(const OstContext& context, Bid bid) {
  const auto entry = FindBlock(context, bid);
  if (!entry) return std::nullopt;
  // The blocks a heap has still hold their properties.
  BlockListSink sink;
  if (!deliver_in_part(context, *entry, sink)) return std::nullopt;
  return std::move(sink.blocks());
}

std::optional<std::vector<SubnodeEntry>> ReadSubnodes(const OstContext& context, Bid sub_bid) {
  std::vector<SubnodeEntry> out;
  if (sub_bid.is_null()) return out;
  std::size_t visits = context.blocks->size();
  if (!read_subnode_block(context, sub_bid, out, 0, visits)) return std::nullopt;
  return out;
}

const SubnodeEntry* FindSubnode(const std::vector<SubnodeEntry>& subnodes, Nid nid) {
  for (const auto& e : subnodes) {
    if (e.nid == nid) return &e;
  }
  return nullptr;
}

std::optional<ByteVector> ReadSubnodeValue(const OstContext& context, Nid nid,
                                           const std::vector<SubnodeEntry>& subnodes) {
  const SubnodeEntry* e = FindSubnode(subnodes, nid);
  if (!e || !e->data_block) return std::nullopt;
  MemorySink sink;
  if (!ReadNodeData(context, *e->data_block, sink)) return std::nullopt;
  return std::move(sink.value());
}

std::optional<std::uint64_t> WriteAttachmentData(const OstContext& context, Bid data_bid, CFile64& file) {
  const auto entry = FindBlock(context, data_bid);
  if (!entry) return std::nullopt;
  TripletFileSink sink(file);
  const bool ok = ReadNodeData(context, *entry, sink);
  sink.Finish();
  if (!ok) return std::nullopt;
  return sink.total();
}

}  // namespace salvora
