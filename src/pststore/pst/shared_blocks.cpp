#include "pststore/pst/shared_blocks.h"

#include <algorithm>

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

std::size_t SharedBlocks::SlotOf(const Digest& digest) const {
  std::size_t index = 0;
  for (std::size_t i = 0; i < sizeof(std::uint32_t); ++i) index = (index << 8) | digest[i];
  return index & (kSlots - 1);
}

std::uint64_t SharedBlocks::Find(const Digest& digest) const {
  if (slots_.empty()) return 0;
  const Slot& s = slots_[SlotOf(digest)];
  return s.bid != 0 && s.digest == digest ? s.bid : 0;
}

void SharedBlocks::Remember(const Digest& digest, std::uint64_t bid) {
  if (slots_.empty()) slots_.resize(kSlots);
  slots_[SlotOf(digest)] = Slot{digest, bid};
}

}  // namespace salvora::pst
