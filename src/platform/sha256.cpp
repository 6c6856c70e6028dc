#include "platform/sha256.h"

#include <nettle/sha2.h>

namespace salvora {

// Nettle picks the processor's SHA instructions where there are some; dumps of large mailboxes
// spend most of their time here.
struct Sha256::State {
  sha256_ctx ctx;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { sha256_init(&state_->ctx); }

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(std::span<const std::uint8_t> data) { sha256_update(&state_->ctx, data.size(), data.data()); }

void Sha256::Update(const std::string& data) {
  sha256_update(&state_->ctx, data.size(), reinterpret_cast<const std::uint8_t*>(data.data()));
}

std::array<std::uint8_t, 32> Sha256::Digest() {
  std::array<std::uint8_t, 32> digest{};
  static_assert(SHA256_DIGEST_SIZE == 32);
  sha256_digest(&state_->ctx, digest.size(), digest.data());
  return digest;
}

std::string Sha256::HexDigest() {
  const auto digest = Digest();
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * sizeof digest);
  for (std::uint8_t b : digest) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0F]);
  }
  return out;
}

std::string sha256_hex(std::span<const std::uint8_t> data) {
  Sha256 h;
  h.Update(data);
  return h.HexDigest();
}

}  // namespace salvora
