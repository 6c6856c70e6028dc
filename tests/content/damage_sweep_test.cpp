// Every byte of a property context, a table context and a compressed RTF value set to each of
// a few values in turn: decoding may fail or lose values, never read outside its buffers (the
// sanitizer build runs this too) or hang.
#include <gtest/gtest.h>

#include "content/apply_properties.h"
#include "content/compressed_rtf.h"
#include "content/heap_builder.h"
#include "content/property_decoder.h"

namespace salvora {
namespace {

using namespace salvora::testing;

std::size_t Sweep(const std::vector<Bv>& good, const SubnodeSource* subs) {
  std::size_t decoded = 0;
  for (std::size_t b = 0; b < good.size(); ++b) {
    for (std::size_t i = 0; i < good[b].size(); ++i) {
      for (int v : {0x00, 0x01, 0x1F, 0x7F, 0xFF}) {
        auto blocks = good;
        blocks[b][i] = static_cast<std::uint8_t>(v);
        const auto r = decode_heap_properties(blocks, subs, {});
        if (!r) continue;
        ++decoded;
        ItemRecord rec;
        rec.attachments.resize(2);
        apply_properties(r.list->blocks, &rec, {});
      }
    }
  }
  return decoded;
}

TEST(DamageSweep, PropertyContext) {
  PcBuilder pc;
  pc.Add(0x001A, 0x001F, utf16(u"IPM.Note"));
  pc.Add(0x0037, 0x001E, bytes("\x01\x01subject"));
  pc.Add(0x0E06, 0x0040, le64(1));
  pc.Add(0x0E07, 0x0003, le32(1));
  pc.heap().NewBlock();
  pc.Add(0x1000, 0x001F, utf16(u"body"));
  pc.AddRef(0x1013, 0x0102, 0x8001F);
  MemorySubnodes subs;
  subs.Add(Nid(0x8001F), {bytes("<html/>")});
  EXPECT_GT(Sweep(pc.Build(2), &subs), 0u);
}

TEST(DamageSweep, TableContext) {
  TcBuilder tc({{0x0E06, 0x0040, 8}, {0x3704, 0x001F, 4}, {0x0017, 0x0002, 2}, {0x7FFE, 0x000B, 1}});
  const std::uint32_t name = tc.heap().Add(utf16(u"a.txt"));
  tc.AddRow(0x8025, {{0x3704, name}, {0x0017, 3}, {0x7FFE, 1}});
  tc.AddRow(0x8045, {{0x0E06, 5}});
  EXPECT_GT(Sweep(tc.Build(), nullptr), 0u);
  std::vector<Bv> matrix;
  TcBuilder sub({{0x0E20, 0x0003, 4}});
  sub.AddRow(1, {{0x0E20, 1}});
  sub.AddRow(2, {});
  const auto heap = sub.BuildWithSubnodeMatrix(0x2A1F, {1, 1}, {0, 0}, matrix);
  MemorySubnodes subs;
  subs.Add(Nid(0x2A1F), matrix);
  EXPECT_GT(Sweep(heap, &subs), 0u);
}

TEST(DamageSweep, CompressedRtf) {
  const Bv good = {0x2D, 0, 0, 0, 0x2B, 0, 0, 0, 'L', 'Z', 'F', 'u', 0xF1, 0xC5, 0xC7, 0xA7,
                   0x03, 0x00, 0x0A, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32, 0x35, 0x42, 0x32,
                   0x0A, 0xF3, 0x20, 0x68, 0x65, 0x6C, 0x09, 0x00, 0x20, 0x62, 0x77, 0x05, 0xB0,
                   0x6C, 0x64, 0x7D, 0x0A, 0x80, 0x0F, 0xA0};
  std::size_t usable = 0;
  for (std::size_t i = 0; i < good.size(); ++i) {
    for (int v : {0x00, 0x55, 0xFF}) {
      Bv value = good;
      value[i] = static_cast<std::uint8_t>(v);
      const RtfResult r = decompress_rtf(value);
      if (r.usable()) ++usable;
      // Output is bounded by what the input can describe: 17 bytes per 2 input bytes.
      EXPECT_LE(r.rtf.size(), value.size() * 9);
    }
  }
  EXPECT_GT(usable, 0u);
}

}  // namespace
}  // namespace salvora
