#include "format/byte_writer.h"

#include <cassert>

namespace salvora {

namespace {
void store_le(std::uint8_t* p, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
}  // namespace

void ByteWriter::u16(std::uint16_t v) {
  out_.resize(out_.size() + 2);
  store_le(out_.data() + out_.size() - 2, v, 2);
}

void ByteWriter::u32(std::uint32_t v) {
  out_.resize(out_.size() + 4);
  store_le(out_.data() + out_.size() - 4, v, 4);
}

void ByteWriter::u64(std::uint64_t v) {
  out_.resize(out_.size() + 8);
  store_le(out_.data() + out_.size() - 8, v, 8);
}

void ByteWriter::pad_to(std::size_t size) {
  if (out_.size() < size) out_.resize(size, 0);
}

void ByteWriter::put_u16(std::size_t off, std::uint16_t v) { store_u16(out_, off, v); }

void store_u16(std::span<std::uint8_t> out, std::size_t off, std::uint16_t v) {
  assert(off + 2 <= out.size());
  store_le(out.data() + off, v, 2);
}

void store_u32(std::span<std::uint8_t> out, std::size_t off, std::uint32_t v) {
  assert(off + 4 <= out.size());
  store_le(out.data() + off, v, 4);
}

void store_u64(std::span<std::uint8_t> out, std::size_t off, std::uint64_t v) {
  assert(off + 8 <= out.size());
  store_le(out.data() + off, v, 8);
}

}  // namespace salvora
