#include "pststore/pst/shared_blocks.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "platform/sha256.h"

namespace salvora::pst {

SharedBlocks::Digest SharedBlocks::Of(std::span<const std::uint8_t> payload) {
  Sha256 h;
  h.Update(payload);
  const auto full = h.Digest();
  Digest d;
  std::copy_n(full.begin(), d.size(), d.begin());
  return d;
}

void SharedBlocks::ReleaseSlots::operator()(Slot* slots) const { std::free(static_cast<void*>(slots)); }

std::size_t SharedBlocks::SlotOf(const Digest& digest) const {
  std::size_t index = 0;
  for (std::size_t i = 0; i < sizeof(std::uint32_t); ++i) index = (index << 8) | digest[i];
  return index & (kSlots - 1);
}

std::uint64_t SharedBlocks::Find(const Digest& digest) const {
  if (!slots_) return 0;
  const Slot& s = slots_[SlotOf(digest)];
  return s.bid != 0 && s.digest == digest ? s.bid : 0;
}

void SharedBlocks::Remember(const Digest& digest, std::uint64_t bid) {
  // Zeroed by the system, page by page as slots are first used: a small mailbox touches few
  // of them, and none is cleared by hand.
  if (!slots_) {
    slots_.reset(static_cast<Slot*>(std::calloc(kSlots, sizeof(Slot))));
    if (!slots_) throw std::bad_alloc();
  }
  slots_[SlotOf(digest)] = Slot{digest, bid};
}

}  // namespace salvora::pst
