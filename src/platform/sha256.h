#pragma once
// SHA-256 (FIPS 180-4, computed by nettle), incremental, for fingerprints of bodies and attachments in dumps and
// checks. Not used for anything secret.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace salvora {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;
  void Update(std::span<const std::uint8_t> data);
  void Update(const std::string& data);
  // The digest as 64 lowercase hex characters; the object is spent afterwards.
  std::string HexDigest();
  // The digest's 32 bytes; the object is spent afterwards.
  std::array<std::uint8_t, 32> Digest();

 private:
  struct State;  // the library's context, kept out of this header
  std::unique_ptr<State> state_;
};

std::string sha256_hex(std::span<const std::uint8_t> data);

}  // namespace salvora
