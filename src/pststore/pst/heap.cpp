#include "pststore/pst/heap.h"

#include <cassert>
#include <stdexcept>

#include "format/byte_writer.h"
#include "pststore/pst/disk_layout.h"

namespace salvora::pst {

namespace {

// 2.3.1.2: fill-level nibble for the free bytes left in a block.
std::uint8_t FillLevel(std::size_t free_bytes) {
  static constexpr std::size_t kLimits[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768, 512, 256, 128, 64, 32, 16, 8};
  for (std::uint8_t i = 0; i < 15; ++i)
    if (free_bytes >= kLimits[i]) return i;
  return 15;
}

std::size_t MapSize(std::size_t allocs) { return 4 + 2 * (allocs + 1); }

}  // namespace

std::size_t HeapWriter::HeaderSize(std::size_t block_index) {
  if (block_index == 0) return 12;
  if (block_index % 128 == 8) return 66;
  return 2;
}

std::uint32_t HeapWriter::Allocate(Bytes data) {
  if (data.size() > kMaxHeapAlloc) throw std::length_error("heap allocation too large");
  auto fits = [&](const Block& b) {
    const std::size_t end = b.bytes.size() + data.size();
    return b.starts.size() < 2047 && end + (end & 1) + MapSize(b.starts.size() + 1) <= kMaxBlockData;
  };
  if (blocks_.empty() || !fits(blocks_.back())) {
    if (blocks_.size() >= 65536) throw std::length_error("heap too large");
    Block b;
    b.bytes.assign(HeaderSize(blocks_.size()), 0);
    blocks_.push_back(std::move(b));
  }
  Block& b = blocks_.back();
  b.starts.push_back(static_cast<std::uint16_t>(b.bytes.size()));
  b.bytes.insert(b.bytes.end(), data.begin(), data.end());
  return MakeHid(static_cast<std::uint32_t>(blocks_.size() - 1), static_cast<std::uint32_t>(b.starts.size()));
}

void HeapWriter::Overwrite(std::uint32_t hid, Bytes data) {
  Block& b = blocks_.at(hid >> 16);
  const std::size_t start = b.starts.at(((hid >> 5) & 0x7FF) - 1);
  assert(start + data.size() <= b.bytes.size());
  std::copy(data.begin(), data.end(), b.bytes.begin() + static_cast<std::ptrdiff_t>(start));
}

std::vector<std::vector<std::uint8_t>> HeapWriter::Finish() const {
  std::vector<Block> blocks = blocks_;
  if (blocks.empty()) blocks.push_back(Block{std::vector<std::uint8_t>(12, 0), {}});
  std::vector<std::size_t> used(blocks.size());
  std::vector<std::vector<std::uint8_t>> out;
  out.reserve(blocks.size());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    ByteWriter w;
    w.bytes(blocks[i].bytes);
    const std::size_t end = w.size();
    if (end & 1) w.u8(0);
    const auto ib_hnpm = static_cast<std::uint16_t>(w.size());
    w.u16(static_cast<std::uint16_t>(blocks[i].starts.size()));
    w.u16(0);
    for (auto s : blocks[i].starts) w.u16(s);
    w.u16(static_cast<std::uint16_t>(end));
    used[i] = w.size();
    w.put_u16(0, ib_hnpm);
    if (i + 1 < blocks.size()) w.pad_to(kMaxBlockData);
    out.push_back(w.take());
  }
  auto level = [&](std::size_t i) -> std::uint8_t { return i < used.size() ? FillLevel(kMaxBlockData - used[i]) : 0; };
  // Block 0: HNHDR; blocks 8, 136, ...: HNBITMAPHDR with the levels of the next 128 blocks.
  auto& b0 = out[0];
  b0[2] = 0xEC;
  b0[3] = client_sig_;
  store_u32(b0, 4, user_root_);
  for (std::size_t j = 0; j < 8; ++j)
    b0[8 + j / 2] = static_cast<std::uint8_t>(b0[8 + j / 2] | (level(j) << (4 * (j % 2))));
  for (std::size_t i = 8; i < out.size(); i += 128)
    for (std::size_t j = 0; j < 128; ++j)
      out[i][2 + j / 2] = static_cast<std::uint8_t>(out[i][2 + j / 2] | (level(i + j) << (4 * (j % 2))));
  return out;
}

std::optional<HeapReader> HeapReader::Parse(std::vector<std::vector<std::uint8_t>> blocks, std::vector<std::string>* problems) {
  auto fail = [&](const std::string& what) -> std::optional<HeapReader> {
    if (problems) problems->push_back("heap: " + what);
    return std::nullopt;
  };
  if (blocks.empty() || blocks[0].size() < 12) return fail("no header block");
  HeapReader h;
  if (blocks[0][2] != 0xEC) return fail("bSig is not 0xEC");
  h.client_sig_ = blocks[0][3];
  h.user_root_ = load_u32(blocks[0], 4);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const Bytes b = blocks[i];
    const std::size_t map = load_u16(b, 0);
    if (b.size() < 2 || map + 4 > b.size()) return fail("page map outside block " + std::to_string(i));
    const std::size_t count = load_u16(b, map);
    if (map + 4 + 2 * (count + 1) > b.size()) return fail("page map of block " + std::to_string(i) + " is cut off");
    std::vector<std::uint16_t> offs(count + 1);
    for (std::size_t j = 0; j <= count; ++j) {
      offs[j] = load_u16(b, map + 4 + 2 * j);
      if (offs[j] > map || (j > 0 && offs[j] < offs[j - 1]))
        return fail("allocation offsets of block " + std::to_string(i) + " out of order");
    }
    h.maps_.push_back(std::move(offs));
  }
  h.blocks_ = std::move(blocks);
  return h;
}

std::optional<Bytes> HeapReader::Get(std::uint32_t hid) const {
  if ((hid & 0x1F) != 0) return std::nullopt;
  const std::size_t block = hid >> 16;
  const std::size_t index = (hid >> 5) & 0x7FF;
  if (block >= maps_.size() || index == 0 || index >= maps_[block].size()) return std::nullopt;
  const auto& m = maps_[block];
  return Bytes(blocks_[block]).subspan(m[index - 1], m[index] - m[index - 1]);
}

std::size_t HeapReader::allocation_count() const {
  std::size_t n = 0;
  for (const auto& m : maps_) n += m.size() - 1;
  return n;
}

}  // namespace salvora::pst
