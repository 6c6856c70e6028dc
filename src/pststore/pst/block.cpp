#include "pststore/pst/block.h"

#include "format/byte_writer.h"
#include "format/crc.h"
#include "format/signature.h"
#include "pststore/pst/disk_layout.h"

namespace salvora::pst {

std::vector<std::uint8_t> BuildBlock(Bytes payload, std::uint64_t bid, std::uint64_t ib, CryptMethod crypt) {
  const std::size_t cb = payload.size();
  std::vector<std::uint8_t> out(BlockDiskSize(cb), 0);
  std::copy(payload.begin(), payload.end(), out.begin());
  if (!IsInternalBid(bid)) encode_block_bytes(std::span(out).first(cb), crypt, bid);
  const std::size_t t = out.size() - kBlockTrailerSize;
  store_u16(out, t, static_cast<std::uint16_t>(cb));
  store_u16(out, t + 2, ComputeSignature(ib, bid));
  // The CRC is over the bytes as stored, after encoding.
  store_u32(out, t + 4, ComputeCrc(Bytes(out).first(cb)));
  store_u64(out, t + 8, bid);
  return out;
}

std::vector<std::uint8_t> OpenBlock(Bytes disk, std::uint64_t bid, std::uint16_t cb, std::uint64_t ib,
                                    CryptMethod crypt, std::vector<std::string>* problems) {
  auto report = [&](const char* what) {
    if (problems) problems->push_back(what);
  };
  if (cb > kMaxBlockData || disk.size() < BlockDiskSize(cb)) {
    report("block extends past its space");
    return {};
  }
  const std::size_t t = BlockDiskSize(cb) - kBlockTrailerSize;
  if (load_u16(disk, t) != cb) report("trailer cb differs from the block tree entry");
  if (load_u16(disk, t + 2) != ComputeSignature(ib, bid)) report("trailer signature wrong");
  if (load_u32(disk, t + 4) != ComputeCrc(disk.first(cb))) report("trailer CRC wrong");
  if ((load_u64(disk, t + 8) & ~std::uint64_t{1}) != (bid & ~std::uint64_t{1})) report("trailer bid differs from the block tree key");
  std::vector<std::uint8_t> data(disk.begin(), disk.begin() + cb);
  if (!IsInternalBid(bid)) decode_block_bytes(data, crypt, bid);
  return data;
}

std::vector<std::uint8_t> XBlock::Serialize() const {
  ByteWriter w(8 + bids.size() * 8);
  w.u8(1);
  w.u8(level);
  w.u16(static_cast<std::uint16_t>(bids.size()));
  w.u32(total);
  for (auto b : bids) w.u64(b);
  return w.take();
}

std::optional<XBlock> XBlock::Parse(Bytes payload) {
  ByteReader r(payload);
  XBlock x;
  if (r.u8() != 1) return std::nullopt;
  x.level = r.u8();
  const std::size_t n = r.u16();
  x.total = r.u32();
  if (!r.ok() || (x.level != 1 && x.level != 2) || n > r.remaining() / 8) return std::nullopt;
  x.bids.resize(n);
  for (auto& b : x.bids) b = r.u64();
  return x;
}

std::vector<std::uint8_t> SubnodeBlock::Serialize() const {
  ByteWriter w(8 + entries.size() * 24);
  w.u8(2);
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

std::optional<SubnodeBlock> SubnodeBlock::Parse(Bytes payload) {
  ByteReader r(payload);
  SubnodeBlock s;
  if (r.u8() != 2) return std::nullopt;
  s.level = r.u8();
  const std::size_t n = r.u16();
  r.skip(4);
  const std::size_t size = s.level == 0 ? 24 : 16;
  if (!r.ok() || s.level > 1 || n > r.remaining() / size) return std::nullopt;
  s.entries.resize(n);
  for (auto& e : s.entries) {
    e.nid = static_cast<std::uint32_t>(r.u64());
    e.bid_data = r.u64();
    if (s.level == 0) e.bid_sub = r.u64();
  }
  return s;
}

}  // namespace salvora::pst
