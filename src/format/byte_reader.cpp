#include "format/byte_reader.h"

#include <bit>

namespace salvora {

namespace {
std::uint64_t load_le(const std::uint8_t* p, int width) {
  std::uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
}  // namespace

bool ByteReader::take(std::size_t n) {
  if (failed_ || n > data_.size() - pos_) {
    failed_ = true;
    return false;
  }
  return true;
}

std::uint8_t ByteReader::u8() {
  if (!take(1)) return 0;
  return data_[pos_++];
}

std::uint16_t ByteReader::u16() {
  if (!take(2)) return 0;
  auto v = static_cast<std::uint16_t>(load_le(data_.data() + pos_, 2));
  pos_ += 2;
  return v;
}

std::uint32_t ByteReader::u32() {
  if (!take(4)) return 0;
  auto v = static_cast<std::uint32_t>(load_le(data_.data() + pos_, 4));
  pos_ += 4;
  return v;
}

std::uint64_t ByteReader::u64() {
  if (!take(8)) return 0;
  auto v = load_le(data_.data() + pos_, 8);
  pos_ += 8;
  return v;
}

Bytes ByteReader::bytes(std::size_t n) {
  if (!take(n)) return {};
  Bytes v = data_.subspan(pos_, n);
  pos_ += n;
  return v;
}

void ByteReader::skip(std::size_t n) {
  if (take(n)) pos_ += n;
}

void ByteReader::seek(std::size_t pos) {
  if (failed_ || pos > data_.size()) {
    failed_ = true;
    return;
  }
  pos_ = pos;
}

std::uint16_t load_u16(Bytes data, std::size_t off) {
  if (off > data.size() || data.size() - off < 2) return 0;
  return static_cast<std::uint16_t>(load_le(data.data() + off, 2));
}

std::uint32_t load_u32(Bytes data, std::size_t off) {
  if (off > data.size() || data.size() - off < 4) return 0;
  return static_cast<std::uint32_t>(load_le(data.data() + off, 4));
}

std::uint64_t load_u64(Bytes data, std::size_t off) {
  if (off > data.size() || data.size() - off < 8) return 0;
  return load_le(data.data() + off, 8);
}

float load_f32(Bytes data, std::size_t off) { return std::bit_cast<float>(load_u32(data, off)); }

double load_f64(Bytes data, std::size_t off) { return std::bit_cast<double>(load_u64(data, off)); }

}  // namespace salvora
