#pragma once
// SHA-256 (FIPS 180-4), incremental, for fingerprints of bodies and attachments in dumps and
// checks. Not used for anything secret.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace salvora {

class Sha256 {
 public:
  Sha256();
  void Update(std::span<const std::uint8_t> data);
  void Update(const std::string& data);
  // The digest as 64 lowercase hex characters; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const std::uint8_t* p);

  std::array<std::uint32_t, 8> h_;
  std::array<std::uint8_t, 64> buf_{};
  std::size_t buf_len_ = 0;
  std::uint64_t total_ = 0;
};

std::string sha256_hex(std::span<const std::uint8_t> data);

}  // namespace salvora
