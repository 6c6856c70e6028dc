#pragma once
// Little-endian encoding into a growing byte vector: the counterpart of ByteReader for the
// structures the PST writer serialises.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
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

// The little-endian bytes of an integer or an IEEE 754 value, whatever the host's order.
template <class T>
std::vector<std::uint8_t> le_bytes(T v) {
  static_assert(std::is_arithmetic_v<T> && (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8));
  using Bits = std::conditional_t<sizeof(T) == 1, std::uint8_t,
               std::conditional_t<sizeof(T) == 2, std::uint16_t,
               std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
  auto bits = std::bit_cast<Bits>(v);
  std::vector<std::uint8_t> out(sizeof(T));
  for (auto& b : out) {
    b = static_cast<std::uint8_t>(bits & 0xFF);
    bits = static_cast<Bits>(bits >> 4 >> 4);  // two shifts: a byte-wide Bits cannot shift by 8
  }
  return out;
}

}  // namespace salvora
