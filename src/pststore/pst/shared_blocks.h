#pragma once
// The leaf data blocks written lately, by the digest of their bytes, so that a body or an
// attachment that repeats (a source that shares its blocks between messages, the same file
// attached to a whole thread) is stored once and referenced again.
//
// A fixed table indexed by the digest: a newer block takes the slot of an older one, so memory
// stays the same whatever the size of the mailbox, and repeats far apart may be stored twice.
// A slot may name a block that has since been freed; the caller checks the block tree, which
// never gives a freed id out again.

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

namespace salvora::pst {

class SharedBlocks {
 public:
  // The first half of the bytes' SHA-256: chance collisions are out of reach at any file size,
  // and a crafted source cannot make two different blocks meet.
  using Digest = std::array<std::uint8_t, 16>;
  static Digest Of(std::span<const std::uint8_t> payload);

  // The block last remembered with this digest, or 0.
  std::uint64_t Find(const Digest& digest) const;
  void Remember(const Digest& digest, std::uint64_t bid);

 private:
  struct Slot {
    Digest digest{};
    std::uint64_t bid = 0;
  };
  static constexpr std::size_t kSlots = std::size_t{1} << 17;  // 3 MB once the first value comes
  // The slot is picked by the digest's first four bytes, read big-endian: the low bits come from
  // the fourth byte.
  std::size_t SlotOf(const Digest& digest) const;
  struct ReleaseSlots {
    void operator()(Slot* slots) const;
  };
  std::unique_ptr<Slot[], ReleaseSlots> slots_;
};

}  // namespace salvora::pst
