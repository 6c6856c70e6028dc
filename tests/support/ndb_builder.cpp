#include "support/ndb_builder.h"

#include <signal.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "format/byte_writer.h"
#include "format/crc.h"
#include "format/signature.h"

namespace salvora::testing {

namespace {

std::size_t align_up(std::size_t v, std::size_t a) { return (v + a - 1) / a * a; }

void put_id(ByteVector& page, std::size_t off, std::uint64_t v, std::size_t width) {
  if (width == 4) store_u32(page, off, static_cast<std::uint32_t>(v));
  else store_u64(page, off, v);
}

// Blocks start on these boundaries and fill whole multiples of them, trailer included. The
// builder states them itself rather than taking the reader's geometry, so a wrong value in the
// reader reads trailers from the wrong place instead of agreeing with the files it is tested on.
std::size_t block_alignment_of(FileLayout layout) { return layout == FileLayout::kUnicode4k ? 512 : 64; }

ByteVector compress(const ByteVector& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  ByteVector out(size);
  compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9);
  out.resize(size);
  return out;
}

}  // namespace

NdbBuilder::NdbBuilder(FileLayout layout, CryptMethod crypt, std::uint16_t client)
    : layout_(layout), g_(geometry_for(layout)), crypt_(crypt), client_(client) {}

Bid NdbBuilder::NextBid(bool internal) {
  const std::uint64_t bid = (next_bid_index_++ << 2) | (internal ? 2 : 0);
  return Bid(bid);
}

Bid NdbBuilder::AddRaw(ByteVector stored, std::uint32_t inflated, bool internal) {
  Block b;
  b.bid = NextBid(internal);
  b.stored = std::move(stored);
  b.inflated = inflated;
  blocks_.push_back(std::move(b));
  return blocks_.back().bid;
}

Bid NdbBuilder::AddBlock(const ByteVector& data, bool compress_it) {
  const Bid bid = NextBid(false);
  --next_bid_index_;
  ByteVector stored = data;
  encode_block_bytes(stored, crypt_, bid.value);
  // Like the writers of such files, keep the compressed form only when it is smaller: a block
  // whose stored size equals its inflated size reads as plain.
  if (compress_it && layout_ == FileLayout::kUnicode4k) {
    ByteVector packed = compress(stored);
    if (packed.size() < stored.size()) stored = std::move(packed);
  }
  return AddRaw(std::move(stored), static_cast<std::uint32_t>(data.size()), false);
}

Bid NdbBuilder::AddDataTree(const std::vector<Bid>& children, std::uint8_t level, std::uint32_t total,
                            bool compress_it) {
  ByteWriter w;
  w.u8(0x01);
  w.u8(level);
  w.u16(static_cast<std::uint16_t>(children.size()));
  w.u32(total);
  for (Bid c : children) {
    if (g_.id_size == 4) w.u32(static_cast<std::uint32_t>(c.value));
    else w.u64(c.value);
  }
  ByteVector data = w.take();
  const auto inflated = static_cast<std::uint32_t>(data.size());
  if (compress_it && layout_ == FileLayout::kUnicode4k) {
    ByteVector packed = compress(data);
    if (packed.size() < data.size()) data = std::move(packed);
  }
  return AddRaw(std::move(data), inflated, true);
}

Bid NdbBuilder::AddSubnodeLeaf(const std::vector<SubnodeSpec>& entries) {
  ByteWriter w;
  w.u8(0x02);
  w.u8(0x00);
  w.u16(static_cast<std::uint16_t>(entries.size()));
  if (g_.id_size == 8) w.u32(0);
  for (const auto& e : entries) {
    if (g_.id_size == 4) {
      w.u32(e.nid.value);
      w.u32(static_cast<std::uint32_t>(e.data.value));
      w.u32(static_cast<std::uint32_t>(e.sub.value));
    } else {
      w.u64(e.nid.value);
      w.u64(e.data.value);
      w.u64(e.sub.value);
    }
  }
  ByteVector data = w.take();
  const auto size = static_cast<std::uint32_t>(data.size());
  return AddRaw(std::move(data), size, true);
}

Bid NdbBuilder::AddSubnodeIndex(const std::vector<std::pair<Nid, Bid>>& children) {
  ByteWriter w;
  w.u8(0x02);
  w.u8(0x01);
  w.u16(static_cast<std::uint16_t>(children.size()));
  if (g_.id_size == 8) w.u32(0);
  for (const auto& [nid, bid] : children) {
    if (g_.id_size == 4) {
      w.u32(nid.value);
      w.u32(static_cast<std::uint32_t>(bid.value));
    } else {
      w.u64(nid.value);
      w.u64(bid.value);
    }
  }
  ByteVector data = w.take();
  const auto size = static_cast<std::uint32_t>(data.size());
  return AddRaw(std::move(data), size, true);
}

void NdbBuilder::AddNode(Nid nid, Bid data, Bid sub, Nid parent) { nodes_.push_back({nid, data, sub, parent}); }

std::uint64_t NdbBuilder::offset_of(Bid bid) const {
  for (const auto& b : blocks_) {
    if (b.bid == bid) return b.ib;
  }
  return 0;
}

ByteVector NdbBuilder::Build() {
  const std::size_t ps = g_.page_size;
  ByteVector file(align_up(StoreHeader::kReadSize, ps), 0);

  // Blocks: data, padding, trailer.
  for (auto& b : blocks_) {
    const std::size_t total = align_up(b.stored.size() + g_.block_trailer_size, block_alignment_of(layout_));
    b.ib = file.size();
    file.resize(file.size() + total, 0);
    std::copy(b.stored.begin(), b.stored.end(), file.begin() + static_cast<std::ptrdiff_t>(b.ib));
    const std::size_t t = b.ib + total - g_.block_trailer_size;
    const auto cb = static_cast<std::uint16_t>(b.stored.size());
    const std::uint32_t crc = ComputeCrc(Bytes(b.stored));
    store_u16(file, t, cb);
    store_u16(file, t + 2, ComputeSignature(b.ib, b.bid.value));
    if (layout_ == FileLayout::kAnsi) {
      store_u32(file, t + 4, static_cast<std::uint32_t>(b.bid.value));
      store_u32(file, t + 8, crc);
    } else {
      store_u32(file, t + 4, crc);
      store_u64(file, t + 8, b.bid.value);
      if (layout_ == FileLayout::kUnicode4k) store_u16(file, t + 18, static_cast<std::uint16_t>(b.inflated));
    }
  }
  file.resize(align_up(file.size(), ps), 0);

  std::uint64_t page_bid = 0x100000;
  auto write_page = [&](const std::vector<ByteVector>& entries, std::size_t entry_size, std::uint8_t level,
                        std::uint8_t ptype, std::size_t valid_count) -> std::uint64_t {
    ByteVector page(ps, 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      std::copy(entries[i].begin(), entries[i].end(), page.begin() + static_cast<std::ptrdiff_t>(i * entry_size));
    }
    const std::uint64_t ib = file.size();
    const std::uint64_t bid = page_bid++;
    std::size_t ptype_off = 0, crc_off = 0, crc_len = 0;
    if (layout_ == FileLayout::kUnicode4k) {
      store_u16(page, 4056, static_cast<std::uint16_t>(valid_count));
      store_u16(page, 4058, static_cast<std::uint16_t>(g_.entry_area / entry_size));
      page[4060] = static_cast<std::uint8_t>(entry_size);
      page[4061] = level;
      ptype_off = 4072; crc_off = 4076; crc_len = 4072;
      store_u64(page, 4080, bid);
    } else {
      const std::size_t m = g_.entry_area;
      page[m] = static_cast<std::uint8_t>(valid_count);
      page[m + 1] = static_cast<std::uint8_t>(g_.entry_area / entry_size);
      page[m + 2] = static_cast<std::uint8_t>(entry_size);
      page[m + 3] = level;
      if (layout_ == FileLayout::kAnsi) {
        ptype_off = 500; crc_off = 508; crc_len = 500;
        store_u32(page, 504, static_cast<std::uint32_t>(bid));
      } else {
        ptype_off = 496; crc_off = 500; crc_len = 496;
        store_u64(page, 504, bid);
      }
    }
    page[ptype_off] = ptype;
    page[ptype_off + 1] = ptype;
    store_u16(page, ptype_off + 2, ComputeSignature(ib, bid));
    std::uint32_t crc = ComputeCrc(Bytes(page).subspan(0, crc_len));
    if (!valid_trailers) crc ^= 0xDEADBEEF;
    store_u32(page, crc_off, crc);
    file.insert(file.end(), page.begin(), page.end());
    return ib;
  };

  // Builds one tree bottom-up from sorted (key, leaf entry) pairs; returns the root offset.
  auto build_tree = [&](std::vector<std::pair<std::uint64_t, ByteVector>> leaves, std::size_t leaf_size,
                        std::uint8_t ptype, const std::vector<ByteVector>& stale) -> std::uint64_t {
    const std::size_t leaf_cap = leaf_capacity ? leaf_capacity : g_.entry_area / leaf_size;
    const std::size_t int_cap = intermediate_capacity ? intermediate_capacity : g_.entry_area / g_.bt_entry_size;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> level;  // (first key, page offset)
    for (std::size_t i = 0; i < leaves.size() || i == 0; i += leaf_cap) {
      std::vector<ByteVector> entries;
      for (std::size_t k = i; k < std::min(leaves.size(), i + leaf_cap); ++k) entries.push_back(leaves[k].second);
      const std::size_t valid = entries.size();
      const bool last = i + leaf_cap >= leaves.size();
      if (last) {
        for (const auto& s : stale) {
          if (entries.size() < g_.entry_area / leaf_size) entries.push_back(s);
        }
      }
      const std::uint64_t key = leaves.empty() ? 0 : leaves[i].first;
      level.emplace_back(key, write_page(entries, leaf_size, 0, ptype, valid));
      if (leaves.empty()) break;
    }
    std::uint8_t depth = 1;
    while (level.size() > 1) {
      std::vector<std::pair<std::uint64_t, std::uint64_t>> up;
      for (std::size_t i = 0; i < level.size(); i += int_cap) {
        std::vector<ByteVector> entries;
        for (std::size_t k = i; k < std::min(level.size(), i + int_cap); ++k) {
          ByteVector e(g_.bt_entry_size, 0);
          put_id(e, 0, level[k].first, g_.id_size);
          put_id(e, g_.id_size, 0x200000 + k, g_.id_size);
          put_id(e, 2 * g_.id_size, level[k].second, g_.id_size);
          entries.push_back(e);
        }
        const std::size_t n = entries.size();
        up.emplace_back(level[i].first, write_page(entries, g_.bt_entry_size, depth, ptype, n));
      }
      level = std::move(up);
      ++depth;
    }
    return level.front().second;
  };

  std::vector<std::pair<std::uint64_t, ByteVector>> bbt;
  auto bbt_entry = [&](Bid bid, std::uint64_t ib, std::uint32_t stored, std::uint32_t inflated) {
    ByteVector e(g_.bbt_leaf_entry_size, 0);
    put_id(e, 0, bid.value, g_.id_size);
    put_id(e, g_.id_size, ib, g_.id_size);
    store_u16(e, 2 * g_.id_size, static_cast<std::uint16_t>(stored));
    if (layout_ == FileLayout::kUnicode4k) {
      store_u16(e, 18, static_cast<std::uint16_t>(inflated));
      store_u16(e, 20, 2);
    } else {
      store_u16(e, 2 * g_.id_size + 2, 2);
    }
    return e;
  };
  for (const auto& b : blocks_) {
    bbt.emplace_back(b.bid.value, bbt_entry(b.bid, b.ib, static_cast<std::uint32_t>(b.stored.size()), b.inflated));
  }
  std::sort(bbt.begin(), bbt.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ByteVector> bbt_stale;
  for (const auto& [bid, ib] : stale_blocks) bbt_stale.push_back(bbt_entry(bid, ib, 16, 16));

  auto nbt_entry = [&](const BuiltNode& n) {
    ByteVector e(g_.nbt_leaf_entry_size, 0);
    put_id(e, 0, n.nid.value, g_.id_size);
    put_id(e, g_.id_size, n.data.value, g_.id_size);
    put_id(e, 2 * g_.id_size, n.sub.value, g_.id_size);
    store_u32(e, 3 * g_.id_size, n.parent.value);
    return e;
  };
  std::vector<std::pair<std::uint64_t, ByteVector>> nbt;
  for (const auto& n : nodes_) nbt.emplace_back(n.nid.value, nbt_entry(n));
  if (!omit_node_sort) {
    std::sort(nbt.begin(), nbt.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  std::vector<ByteVector> nbt_stale;
  for (const auto& n : stale_nodes) nbt_stale.push_back(nbt_entry(n));

  const std::uint64_t bbt_root = build_tree(bbt, g_.bbt_leaf_entry_size, 0x80, bbt_stale);
  const std::uint64_t nbt_root = build_tree(nbt, g_.nbt_leaf_entry_size, 0x81, nbt_stale);

  // Header last, once the roots are known.
  store_u32(file, 0, StoreHeader::kMagic);
  store_u16(file, 8, client_);
  const std::uint16_t version = layout_ == FileLayout::kAnsi ? 14 : layout_ == FileLayout::kUnicode ? 23 : 36;
  store_u16(file, 10, version);
  store_u16(file, 12, 19);
  file[14] = file[15] = 1;
  if (layout_ == FileLayout::kAnsi) {
    store_u32(file, 24, static_cast<std::uint32_t>(next_bid_index_ << 2));
    store_u32(file, 168, static_cast<std::uint32_t>(file.size()));
    store_u32(file, 184, 0x100);
    store_u32(file, 188, static_cast<std::uint32_t>(nbt_root));
    store_u32(file, 192, 0x101);
    store_u32(file, 196, static_cast<std::uint32_t>(bbt_root));
    file[460] = 0x80;
    file[461] = static_cast<std::uint8_t>(crypt_);
  } else {
    store_u64(file, 184, file.size());
    store_u64(file, 216, 0x100);
    store_u64(file, 224, nbt_root);
    store_u64(file, 232, 0x101);
    store_u64(file, 240, bbt_root);
    file[512] = 0x80;
    file[513] = static_cast<std::uint8_t>(crypt_);
    store_u64(file, 516, next_bid_index_ << 2);
    store_u32(file, 524, ComputeCrc(Bytes(file).subspan(8, 516)));
  }
  store_u32(file, 4, ComputeCrc(Bytes(file).subspan(8, 471)));
  return file;
}

namespace {

std::string& temp_dir_path() {
  static std::string dir;
  return dir;
}
pid_t temp_dir_owner = 0;

// Removed when the test program ends. A forked child that exits normally runs the same handlers,
// so only the process that made the folder removes it.
void remove_temp_dir() {
  if (::getpid() != temp_dir_owner) return;
  std::error_code ec;
  std::filesystem::remove_all(temp_dir_path(), ec);
}

// The folders of test programs that were killed (a timeout, Ctrl-C) and never ran their exit
// handlers: named for a process that no longer exists.
void remove_orphaned_temp_dirs(const std::string& base) {
  const std::string prefix = "salvora-test-";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0 || name.size() == prefix.size()) continue;
    const std::string digits = name.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) || digits.size() > 9) continue;
    const auto pid = static_cast<pid_t>(std::stol(digits));
    if (pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) std::filesystem::remove_all(entry.path(), ec);
  }
}

}  // namespace

std::string TestTempDir() {
  static const std::string dir = [] {
    const char* t = std::getenv("TMPDIR");
    std::string base = (t && *t) ? t : "/tmp";
    remove_orphaned_temp_dirs(base);
    std::string d = base + "/salvora-test-" + std::to_string(::getpid());
    std::filesystem::create_directories(d);
    temp_dir_path() = d;
    temp_dir_owner = ::getpid();
    std::atexit(remove_temp_dir);
    return d;
  }();
  return dir;
}

std::string NdbBuilder::WriteTemp(const std::string& name) {
  const ByteVector data = Build();
  const std::string path = TestTempDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return path;
}

std::string CorpusDir() {
  const char* env = std::getenv("SALVORA_CORPUS_DIR");
#ifdef SALVORA_DEFAULT_CORPUS_DIR
  std::string dir = (env && *env) ? env : SALVORA_DEFAULT_CORPUS_DIR;
#else
  std::string dir = (env && *env) ? env : "";
#endif
  if (dir.empty() || !std::filesystem::is_directory(dir)) return {};
  return dir;
}

}  // namespace salvora::testing
