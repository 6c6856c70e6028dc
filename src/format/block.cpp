#include "format/block.h"

#include <algorithm>

#include <zlib.h>

#include "format/byte_writer.h"
#include "format/crc.h"
#include "format/signature.h"

namespace salvora {

std::size_t block_disk_size(std::size_t cb, FileLayout layout) {
  const PageGeometry g = geometry_for(layout);
  const std::size_t align = std::max<std::size_t>(g.block_alignment, 1);
  return (cb + g.block_trailer_size + align - 1) / align * align;
}

std::optional<BlockTrailer> parse_block_trailer(Bytes disk, std::size_t cb, FileLayout layout) {
  const PageGeometry g = geometry_for(layout);
  const std::size_t size = block_disk_size(cb, layout);
  if (g.block_trailer_size == 0 || disk.size() < size) return std::nullopt;
  return read_block_trailer(disk.subspan(size - g.block_trailer_size, g.block_trailer_size), layout);
}

std::optional<BlockTrailer> read_block_trailer(Bytes trailer, FileLayout layout) {
  const PageGeometry g = geometry_for(layout);
  if (g.block_trailer_size == 0 || trailer.size() < g.block_trailer_size) return std::nullopt;
  ByteReader r(trailer);
  BlockTrailer t;
  t.cb = r.u16();
  t.sig = r.u16();
  const CrcAndId tail = read_crc_and_id(r, layout);
  t.crc = tail.crc;
  t.bid = tail.id;
  if (layout == FileLayout::kUnicode4k) {
    r.skip(2);  // not known; the size once inflated follows it
    t.cb_inflated = r.u16();
  }
  return t;
}

TrailerVerdict judge_block_trailer(const BlockTrailer& trailer, Bytes stored, std::uint64_t bid, std::uint16_t cb,
                                   std::uint64_t ib) {
  TrailerVerdict v;
  v.cb_ok = trailer.cb == cb;
  v.sig_ok = trailer.sig == ComputeSignature(ib, bid);
  v.crc_ok = trailer.crc == ComputeCrc(stored.first(std::min<std::size_t>(cb, stored.size())));
  v.bid_ok = (trailer.bid & ~std::uint64_t{1}) == (bid & ~std::uint64_t{1});
  return v;
}

namespace {

// zlib at its default level, which is what the Outlook files seen so far carry (their blocks
// recompress to the same bytes); empty when zlib fails.
std::vector<std::uint8_t> deflate_bytes(Bytes data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<std::uint8_t> out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK) return {};
  out.resize(size);
  return out;
}

}  // namespace

StoredBlock store_block_data(Bytes payload, std::uint64_t bid, CryptMethod crypt, FileLayout layout,
                             bool allow_compression) {
  StoredBlock s;
  s.bytes.assign(payload.begin(), payload.end());
  s.cb_inflated = static_cast<std::uint16_t>(payload.size());
  if (!IsInternalBid(bid)) encode_block_bytes(s.bytes, crypt, bid);
  // Compressed last, so that the stored bytes start with the zlib header a reader looks for.
  if (layout == FileLayout::kUnicode4k && allow_compression && !payload.empty()) {
    auto packed = deflate_bytes(s.bytes);
    if (!packed.empty() && block_disk_size(packed.size(), layout) < block_disk_size(s.bytes.size(), layout))
      s.bytes = std::move(packed);
  }
  return s;
}

std::vector<std::uint8_t> seal_block(const StoredBlock& stored, std::uint64_t bid, std::uint64_t ib, FileLayout layout) {
  const bool wide = layout == FileLayout::kUnicode4k;
  if (!wide) layout = FileLayout::kUnicode;
  const std::size_t cb = stored.bytes.size();
  // The data first, then zeros for the padding and the trailer: every byte is written once.
  const std::size_t size = block_disk_size(cb, layout);
  std::vector<std::uint8_t> out;
  out.reserve(size);
  out.assign(stored.bytes.begin(), stored.bytes.end());
  out.resize(size, 0);
  const std::size_t t = out.size() - geometry_for(layout).block_trailer_size;
  store_u16(out, t, static_cast<std::uint16_t>(cb));
  store_u16(out, t + 2, ComputeSignature(ib, bid));
  // The CRC is over the bytes as stored, after encoding and compression.
  store_u32(out, t + 4, ComputeCrc(Bytes(out).first(cb)));
  store_u64(out, t + 8, bid);
  if (wide) {
    // Every block of the Outlook files seen so far has 2 in the word before cbInflated.
    store_u16(out, t + 16, 2);
    store_u16(out, t + 18, stored.cb_inflated);
  }
  return out;
}

std::vector<std::uint8_t> build_block(Bytes payload, std::uint64_t bid, std::uint64_t ib, CryptMethod crypt) {
  return seal_block(store_block_data(payload, bid, crypt, FileLayout::kUnicode), bid, ib, FileLayout::kUnicode);
}

std::vector<std::uint8_t> open_block(Bytes disk, std::uint64_t bid, std::uint16_t cb, std::uint64_t ib, CryptMethod crypt,
                                     Findings& findings) {
  return open_block(disk, bid, cb, ib, crypt, findings, FileLayout::kUnicode, cb);
}

std::vector<std::uint8_t> open_block(Bytes disk, std::uint64_t bid, std::uint16_t cb, std::uint64_t ib, CryptMethod crypt,
                                     Findings& findings, FileLayout layout, std::uint16_t cb_inflated) {
  const bool wide = layout == FileLayout::kUnicode4k;
  if (!wide) layout = FileLayout::kUnicode;
  // 64 KB on disk less the 24-byte trailer in the 4 KB layout.
  const std::size_t max_stored = wide ? 65512 : kMaxBlockData;
  const auto trailer = cb <= max_stored ? parse_block_trailer(disk, cb, layout) : std::nullopt;
  if (!trailer) {
    findings.add("block extends past its space");
    return {};
  }
  if (wide && trailer->cb_inflated != cb_inflated) findings.add("trailer cbInflated differs from the block tree entry");
  const TrailerVerdict v = judge_block_trailer(*trailer, disk, bid, cb, ib);
  if (!v.cb_ok) findings.add("trailer cb differs from the block tree entry");
  if (!v.sig_ok) findings.add("trailer signature wrong");
  if (!v.crc_ok) findings.add("trailer CRC wrong");
  if (!v.bid_ok) findings.add("trailer bid differs from the block tree key");
  std::vector<std::uint8_t> data(disk.begin(), disk.begin() + cb);
  if (wide && cb != cb_inflated) {
    std::vector<std::uint8_t> inflated(cb_inflated);
    uLongf size = cb_inflated;
    if (uncompress(inflated.data(), &size, data.data(), cb) != Z_OK || size != cb_inflated) {
      findings.add("block does not inflate to the size its block tree entry gives");
      return {};
    }
    data = std::move(inflated);
  }
  if (!IsInternalBid(bid)) decode_block_bytes(data, crypt, bid);
  return data;
}

std::vector<std::uint8_t> XBlock::Serialize() const {
  ByteWriter w(8 + bids.size() * 8);
  w.u8(kBlockTypeDataTree);
  w.u8(level);
  w.u16(static_cast<std::uint16_t>(bids.size()));
  w.u32(total);
  for (auto b : bids) w.u64(b);
  return w.take();
}

namespace {

// What an internal block's count may claim beyond its bytes.
enum class CountPastData { kRefuse, kKeepWhatFits };

std::optional<std::size_t> entries_to_read(const ByteReader& r, std::size_t count, std::size_t entry_size,
                                           CountPastData past) {
  if (!r.ok()) return std::nullopt;
  const std::size_t fit = r.remaining() / entry_size;
  if (count <= fit) return count;
  if (past == CountPastData::kRefuse) return std::nullopt;
  return fit;
}

std::optional<XBlock> parse_xblock(Bytes payload, FileLayout layout, Tolerance tolerance, CountPastData past) {
  ByteReader r(payload);
  XBlock x;
  if (r.u8() != kBlockTypeDataTree) return std::nullopt;
  x.level = r.u8();
  const std::size_t count = r.u16();
  x.total = r.u32();
  const auto n = entries_to_read(r, count, id_width(layout), past);
  if (!n) return std::nullopt;
  if (tolerance == Tolerance::kStrict && x.level != 1 && x.level != 2) return std::nullopt;
  x.bids.resize(*n);
  for (auto& b : x.bids) b = read_id(r, layout);
  return x;
}

std::optional<SubnodeBlock> parse_subnode_block(Bytes payload, FileLayout layout, Tolerance tolerance,
                                                CountPastData past) {
  ByteReader r(payload);
  SubnodeBlock s;
  if (r.u8() != kBlockTypeSubnodes) return std::nullopt;
  s.level = r.u8();
  const std::size_t count = r.u16();
  if (layout != FileLayout::kAnsi) r.skip(4);  // dwPadding; the 32-bit layout has none
  const auto n = entries_to_read(r, count, (s.level == 0 ? 3 : 2) * id_width(layout), past);
  if (!n) return std::nullopt;
  if (tolerance == Tolerance::kStrict && s.level > 1) return std::nullopt;
  s.entries.resize(*n);
  for (auto& e : s.entries) {
    // NIDs are 32 bits, stored zero-extended in the Unicode layouts.
    e.nid = static_cast<std::uint32_t>(read_id(r, layout));
    e.bid_data = read_id(r, layout);
    if (s.level == 0) e.bid_sub = read_id(r, layout);
  }
  return s;
}

}  // namespace

std::optional<XBlock> XBlock::Parse(Bytes payload, FileLayout layout, Tolerance tolerance) {
  return parse_xblock(payload, layout, tolerance, CountPastData::kRefuse);
}

std::optional<XBlock> XBlock::ParseWhatFits(Bytes payload, FileLayout layout) {
  return parse_xblock(payload, layout, Tolerance::kSalvage, CountPastData::kKeepWhatFits);
}

std::vector<std::uint8_t> SubnodeBlock::Serialize() const {
  ByteWriter w(8 + entries.size() * 24);
  w.u8(kBlockTypeSubnodes);
  w.u8(level);
  w.u16(static_cast<std::uint16_t>(entries.size()));
  w.u32(0);
  for (const auto& e : entries) {
    w.u64(e.nid);
    w.u64(e.bid_data);
    if (level == 0) w.u64(e.bid_sub);
  }
  return w.take();
}

std::optional<SubnodeBlock> SubnodeBlock::Parse(Bytes payload, FileLayout layout, Tolerance tolerance) {
  return parse_subnode_block(payload, layout, tolerance, CountPastData::kRefuse);
}

std::optional<SubnodeBlock> SubnodeBlock::ParseWhatFits(Bytes payload, FileLayout layout) {
  return parse_subnode_block(payload, layout, Tolerance::kSalvage, CountPastData::kKeepWhatFits);
}

}  // namespace salvora
