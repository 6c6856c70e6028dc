#pragma once
// Bounds-checked little-endian decoding over a byte span.
//
// A ByteReader never reads past its span. The first read that does not fit latches a failure
// flag and every later read returns zero, so a parser reads its fields in order and checks
// ok() once at the end. The reader does not own the bytes: the span must outlive it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace salvora {

using Bytes = std::span<const std::uint8_t>;
using ByteVector = std::vector<std::uint8_t>;

class ByteReader {
 public:
  explicit ByteReader(Bytes data) : data_(data) {}

  std::uint8_t u8();
  std::uint16_t u16();
  std::uint32_t u32();
  std::uint64_t u64();
  // The next n bytes as a view into the underlying span; empty (and failed) when short.
  Bytes bytes(std::size_t n);
  void skip(std::size_t n);
  // Moves to an absolute position; past the end latches the failure.
  void seek(std::size_t pos);

  std::size_t pos() const { return pos_; }
  std::size_t size() const { return data_.size(); }
  std::size_t remaining() const { return failed_ ? 0 : data_.size() - pos_; }
  bool ok() const { return !failed_; }
  // Whether n more bytes can be read; does not latch anything.
  bool has(std::size_t n) const { return !failed_ && n <= data_.size() - pos_; }

 private:
  bool take(std::size_t n);

  Bytes data_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

// Single loads at a fixed offset for structures read field by field from a known-size buffer.
// The caller has checked that off + width fits; out-of-range loads return 0.
std::uint16_t load_u16(Bytes data, std::size_t off);
std::uint32_t load_u32(Bytes data, std::size_t off);
std::uint64_t load_u64(Bytes data, std::size_t off);
// IEEE 754 values stored in the byte order of the integers.
float load_f32(Bytes data, std::size_t off);
double load_f64(Bytes data, std::size_t off);

}  // namespace salvora
