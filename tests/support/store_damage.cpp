#include "support/store_damage.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include "format/byte_reader.h"
#include "format/byte_writer.h"
#include "format/crc.h"

namespace salvora::testing {

namespace {

// Where a layout keeps what the damage needs; stated here rather than taken from the reader, so
// that a wrong offset in the reader does not hide from the tests that damage by it.
struct Layout {
  std::size_t page = 512;
  std::size_t ptype = 496, level = 491;
  std::size_t nbt_root = 224, bbt_root = 240, eof = 184;
  bool wide = true;  // 64-bit ids and offsets
};

Layout layout_of(const ByteVector& b) {
  const std::uint16_t version = b.size() >= 12 ? static_cast<std::uint16_t>(b[10] | b[11] << 8) : 0;
  if (version == 14 || version == 15) return {512, 500, 499, 188, 196, 168, false};
  if (version == 36) return {4096, 4072, 4061, 224, 240, 184, true};
  return {};
}

std::uint64_t load_ptr(const ByteVector& b, std::size_t off, bool wide) {
  return wide ? load_u64(b, off) : load_u32(b, off);
}
void store_ptr(ByteVector& b, std::size_t off, std::uint64_t v, bool wide) {
  if (wide) store_u64(b, off, v);
  else store_u32(b, off, static_cast<std::uint32_t>(v));
}

// The header checksums made right again after a change to the header.
void fix_header_crc(ByteVector& b, const Layout& l) {
  if (b.size() < 564) return;
  store_u32(b, 4, ComputeCrc(Bytes(b).subspan(8, 471)));
  if (l.wide) store_u32(b, 524, ComputeCrc(Bytes(b).subspan(8, 516)));
}

void zero(ByteVector& b, std::uint64_t off, std::size_t n) {
  if (off >= b.size()) return;
  std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(off), std::min<std::uint64_t>(n, b.size() - off), 0);
}

}  // namespace

std::vector<std::uint64_t> IndexPages(const ByteVector& store, std::uint8_t ptype, int level) {
  const Layout l = layout_of(store);
  std::vector<std::uint64_t> out;
  for (std::uint64_t off = l.page; off + l.page <= store.size(); off += l.page) {
    if (store[off + l.ptype] == ptype && store[off + l.ptype + 1] == ptype &&
        (level < 0 || store[off + l.level] == level))
      out.push_back(off);
  }
  return out;
}

std::vector<std::uint64_t> RootChildren(const ByteVector& store, std::uint8_t ptype) {
  const Layout l = layout_of(store);
  const std::uint64_t root = load_ptr(store, ptype == 0x81 ? l.nbt_root : l.bbt_root, l.wide);
  std::vector<std::uint64_t> out;
  if (root + l.page > store.size() || store[root + l.level] == 0) return out;
  const std::size_t count = l.page == 4096 ? load_u16(store, root + 4056) : store[root + l.level - 3];
  const std::size_t entry = l.wide ? 24 : 12, id = l.wide ? 8 : 4;
  for (std::size_t i = 0; i < count; ++i) out.push_back(load_ptr(store, root + i * entry + 2 * id, l.wide));
  return out;
}

void SetRootPointer(ByteVector& store, std::uint8_t ptype, std::uint64_t offset, bool fix_crc) {
  const Layout l = layout_of(store);
  store_ptr(store, ptype == 0x81 ? l.nbt_root : l.bbt_root, offset, l.wide);
  if (fix_crc) fix_header_crc(store, l);
}

void SetEndOfFile(ByteVector& store, std::uint64_t eof) {
  const Layout l = layout_of(store);
  store_ptr(store, l.eof, eof, l.wide);
  fix_header_crc(store, l);
}

StoreDamage DamageStore(const ByteVector& original, std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&rng](std::uint64_t n) { return n == 0 ? 0 : std::uniform_int_distribution<std::uint64_t>(0, n - 1)(rng); };
  const Layout l = layout_of(original);
  StoreDamage d{"", original};
  ByteVector& b = d.bytes;
  const std::uint64_t size = b.size();
  const std::uint8_t tree = pick(2) ? 0x81 : 0x80;
  const char* tree_name = tree == 0x81 ? "node" : "block";
  switch (pick(9)) {
    case 0: {
      const std::uint64_t flips = 1 + pick(8);
      for (std::uint64_t i = 0; i < flips; ++i) b[pick(size)] ^= static_cast<std::uint8_t>(1u << pick(8));
      d.name = std::to_string(flips) + " bit flips";
      break;
    }
    case 1:
    case 2: {
      const std::size_t n = pick(2) ? 4096 : 512;
      const std::uint64_t off = pick(size / n) * n;
      zero(b, off, n);
      d.name = "zeroed " + std::to_string(n) + " bytes at " + std::to_string(off);
      break;
    }
    case 3: {
      const std::uint64_t keep = size / 10 + pick(size * 85 / 100);
      b.resize(keep);
      d.name = "cut to " + std::to_string(keep) + " bytes";
      break;
    }
    case 4: {
      const std::uint64_t from = pick(size / l.page) * l.page, to = pick(size / l.page) * l.page;
      std::copy_n(original.begin() + static_cast<std::ptrdiff_t>(from), l.page, b.begin() + static_cast<std::ptrdiff_t>(to));
      d.name = "page at " + std::to_string(from) + " copied over " + std::to_string(to);
      break;
    }
    case 5: {
      // Live pages half of the time: the root's children are what a reader meets.
      auto pages = pick(2) ? RootChildren(b, tree) : IndexPages(b, tree);
      if (pages.size() < 2) pages = IndexPages(b, tree);
      if (pages.size() < 2) return DamageStore(original, seed + 7919);
      const std::uint64_t x = pages[pick(pages.size())], y = pages[pick(pages.size())];
      std::swap_ranges(b.begin() + static_cast<std::ptrdiff_t>(x), b.begin() + static_cast<std::ptrdiff_t>(x + l.page),
                       b.begin() + static_cast<std::ptrdiff_t>(y));
      d.name = std::string(tree_name) + " index pages at " + std::to_string(x) + " and " + std::to_string(y) + " swapped";
      break;
    }
    case 6: {
      auto pages = pick(2) ? RootChildren(b, tree) : IndexPages(b, tree);
      if (pages.empty()) pages = IndexPages(b, tree);
      if (pages.empty()) return DamageStore(original, seed + 7919);
      const std::uint64_t x = pages[pick(pages.size())];
      zero(b, x, l.page);
      d.name = std::string(tree_name) + " index page at " + std::to_string(x) + " zeroed";
      break;
    }
    case 7: {
      const std::uint64_t choices[] = {0, size + 4096 * (1 + pick(100)), pick(size), pick(size / l.page) * l.page};
      const std::uint64_t to = choices[pick(4)];
      const bool fixed = pick(2) != 0;
      SetRootPointer(b, tree, to, fixed);
      d.name = std::string(tree_name) + " index root pointer set to " + std::to_string(to) +
               (fixed ? ", header checksum fixed" : ", header checksum left wrong");
      break;
    }
    default: {
      const std::uint64_t eof = size + 512 * (1 + pick(1000));
      SetEndOfFile(b, eof);
      d.name = "end of file in the header set to " + std::to_string(eof);
      break;
    }
  }
  d.name = "seed " + std::to_string(seed) + ": " + d.name;
  return d;
}

ByteVector ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const ByteVector& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

}  // namespace salvora::testing
