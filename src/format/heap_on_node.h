#pragma once
// Heap-on-node: the allocator inside a node's value. A heap is the sequence of blocks of the
// node's data (one block, or the data blocks under a data tree); each holds allocations and,
// after them, a page map of their offsets. A heap id names a block and an allocation in it.
//
// HeapOnNode reads a heap, HeapWriter builds one (Unicode layout). A HeapOnNode owns its
// blocks; the views Lookup returns live as long as the heap.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "format/byte_reader.h"
#include "format/findings.h"
#include "format/ids.h"

namespace salvora {

// How a heap id splits into allocation index and block index. Files with 4 KB pages widen the
// index to 14 bits and leave 13 bits for the block (as libpff reads them).
enum class HidLayout { kStandard, kWide };

inline constexpr std::uint8_t kHeapSignature = 0xEC;
inline constexpr std::uint8_t kClientPropertyContext = 0xBC;
inline constexpr std::uint8_t kClientTableContext = 0x7C;
inline constexpr std::uint8_t kClientBth = 0xB5;

struct HidParts {
  std::uint32_t index = 0;  // 1-based allocation index; 0 names nothing
  std::uint32_t block = 0;  // 0-based heap block
};
HidParts split_hid(Hid hid, HidLayout layout);
// The id of allocation `index` (1-based) of heap block `block`, standard layout.
constexpr Hid make_hid(std::uint32_t block, std::uint32_t index) { return Hid((block << 16) | (index << 5)); }

// The start of a heap's first block: where its page map is, the signature, the client that
// uses the heap and the client's root allocation.
struct HeapHeader {
  std::uint16_t ib_hnpm = 0;
  std::uint8_t sig = 0;
  std::uint8_t client_signature = 0;
  Hid user_root;
  bool complete = false;  // the fill levels after the fields above are there too
  bool is_heap_of(std::uint8_t client) const { return sig == kHeapSignature && client_signature == client; }
  // Empty when the bytes are shorter than the fields above.
  static std::optional<HeapHeader> Parse(Bytes block);
};

enum class HeapError { kNone, kEmpty, kShortHeader, kBadSignature, kBadPageMap };

class HeapOnNode {
 public:
  // Takes the node value's blocks in order. Every violation is a finding ("heap: ...").
  // Under salvage the heap fails only when block 0 is unusable: a later block with a broken
  // page map fails the lookups into it, and boundaries out of order read as empty allocations.
  // Under strict any broken page map fails the heap.
  static std::optional<HeapOnNode> Parse(std::vector<ByteVector> blocks, HidLayout layout, Findings& findings,
                                         HeapError* error = nullptr);

  // The same heap with its blocks read only when a lookup first needs one (block 0 at once):
  // for a large table of which only the row index is wanted, its strings are never read.
  // Salvage only: a block that cannot be read or whose page map is broken fails the lookups
  // into it, and its findings are not kept. Lookups must then come from one thread.
  using BlockLoader = std::function<std::optional<ByteVector>(std::size_t index)>;
  static std::optional<HeapOnNode> OpenLazily(std::size_t block_count, BlockLoader load, HidLayout layout);

  std::uint8_t client_signature() const { return client_signature_; }
  Hid user_root() const { return user_root_; }
  std::size_t block_count() const { return blocks_.size(); }
  std::size_t allocation_count() const;  // of the blocks read so far
  HidLayout layout() const { return layout_; }

  // The bytes of one allocation; empty optional when the id is not a heap id or names no
  // allocation. A zero-length allocation is a valid, empty value.
  std::optional<Bytes> Lookup(Hid hid) const;

  // A lazy heap lets go of the block that holds hid, unless block 0 or a block that one of keep
  // lies in; the next lookup into it reads it again. Views into that block are then invalid.
  // Nothing happens on a heap read whole.
  void Forget(Hid hid, std::span<const Hid> keep) const;

 private:
  struct PageMap {
    bool valid = false;
    bool ordered = false;                // every boundary within the allocations, none falling
    std::vector<std::uint16_t> offsets;  // cAlloc + 1 boundaries
  };
  static PageMap ParsePageMap(Bytes block, std::size_t index, Findings& findings);
  std::optional<Bytes> LookupAs(Hid hid, HidLayout layout) const;
  void LoadBlock(std::size_t index) const;

  // Blocks and maps are filled in by a lazy heap as lookups reach them; a block once read
  // stays until it is forgotten, so the views lookups give out stay valid until then.
  mutable std::vector<ByteVector> blocks_;
  mutable std::vector<PageMap> maps_;
  mutable std::vector<bool> loaded_;  // empty unless lazy
  BlockLoader load_;
  HidLayout layout_ = HidLayout::kStandard;
  std::uint8_t client_signature_ = 0;
  Hid user_root_;
};

// One heap block whose bytes are final: its place in the heap and its payload.
struct HeapBlock {
  std::size_t index = 0;
  std::vector<std::uint8_t> bytes;
};
// Takes heap blocks as they become final, in any order; each index comes exactly once.
using HeapBlockSink = std::function<void(HeapBlock)>;

class HeapWriter {
 public:
  explicit HeapWriter(std::uint8_t client_signature) : client_signature_(client_signature) {}
  // A new allocation of at most kMaxHeapAlloc bytes (zero-length allocations are legal).
  Hid Allocate(Bytes data);
  // A new allocation of `size` zero bytes, which take no memory until it or a later allocation
  // of its block is written: a large table's row index is reserved whole at the front of its
  // heap but filled a block at a time.
  Hid Reserve(std::size_t size);
  // Rewrites an allocation in place with bytes of the same length. Its block must still be held:
  // once streaming, only the blocks that existed when it began.
  void Overwrite(Hid hid, Bytes data);
  // The bytes of an allocation in a block still held, to write in place; the span lives until
  // the next Allocate.
  std::span<std::uint8_t> Mutable(Hid hid);
  void SetUserRoot(Hid hid) { user_root_ = hid; }
  // From now on each block goes to sink as soon as it is final, that is when the next block
  // starts; a large heap is then never in memory whole. Held back to the end are the blocks
  // that exist now (the caller overwrites their allocations later) and block 0, whose header
  // carries the fill levels of blocks 0-7; a block with the fill levels of the next 128 (8, 136,
  // ...) is held until the last of them is final.
  void StreamCompleteBlocks(HeapBlockSink sink);
  // Gives the sink every block held since streaming began whose index is below `block`, but
  // block 0 and the blocks with fill levels: the caller has written their allocations for good.
  void ReleaseFinalBefore(std::size_t block);
  // Hands every block still held to the sink given above, in index order.
  void FinishStream() &&;
  // The block payloads of a heap that was not streamed: every block but the last is a full
  // kMaxBlockData bytes. The second form spends the writer, taking its blocks over instead of
  // copying them.
  std::vector<std::vector<std::uint8_t>> Finish() const&;
  std::vector<std::vector<std::uint8_t>> Finish() &&;

 private:
  struct Block {
    std::size_t index = 0;
    std::vector<std::uint8_t> bytes;     // header space and allocations
    std::vector<std::uint16_t> starts;   // offset of each allocation
    std::size_t zeros = 0;               // reserved zero bytes after `bytes`, not yet made
    std::size_t size() const { return bytes.size() + zeros; }
    // The reserved zeros made into bytes, before any of the block is read or written.
    void Materialize() {
      bytes.resize(size(), 0);
      zeros = 0;
    }
  };
  // The allocation `data` (or `zeros` zero bytes when it is empty) in the open block or a new one.
  Hid Place(Bytes data, std::size_t zeros);
  static std::size_t HeaderSize(std::size_t block_index);
  static bool CarriesFillLevels(std::size_t block_index);
  // The open block is done: no allocation goes to it any more.
  void CompleteOpenBlock();
  // Gives the held block at position `at` of held_ to the sink, with its page map and levels.
  void Release(std::size_t at, bool last);
  Block& Held(std::size_t index);

  std::uint8_t client_signature_;
  Hid user_root_;
  std::vector<Block> held_;              // by index; the open block, if any, is the last
  std::vector<std::uint8_t> levels_;     // fill level of each block no longer open
  std::size_t block_count_ = 0;
  std::size_t pinned_ = SIZE_MAX;        // blocks below this are held to the end
  HeapBlockSink sink_;
};

}  // namespace salvora
