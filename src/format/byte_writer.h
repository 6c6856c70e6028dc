#pragma once
// Little-endian encoding into a growing byte vector: the counterpart of ByteReader for the
// structures the PST writer serialises.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace salvora {

class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(std::size_t reserve) { out_.reserve(reserve); }

  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v);
  void u32(std::uint32_t v);
  void u64(std::uint64_t v);
  void bytes(std::span<const std::uint8_t> v) { out_.insert(out_.end(), v.begin(), v.end()); }
  void zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }
  // Pads with zeros up to an absolute size; does nothing when already that long.
  void pad_to(std::size_t size);

  // Overwrites bytes already written (for counts and CRCs filled in last).
  void put_u16(std::size_t off, std::uint16_t v);

  std::size_t size() const { return out_.size(); }
  const std::vector<std::uint8_t>& data() const { return out_; }
  std::vector<std::uint8_t>& data() { return out_; }
  std::vector<std::uint8_t> take() { return std::move(out_); }

 private:
  std::vector<std::uint8_t> out_;
};

void store_u16(std::span<std::uint8_t> out, std::size_t off, std::uint16_t v);
void store_u32(std::span<std::uint8_t> out, std::size_t off, std::uint32_t v);
void store_u64(std::span<std::uint8_t> out, std::size_t off, std::uint64_t v);

}  // namespace salvora
