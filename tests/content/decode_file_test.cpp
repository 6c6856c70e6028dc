// decode_properties over files built in code, in all three layouts: a message whose property
// context spans a data tree, a body in a sub-node, sub-nodes behind an SIBLOCK, an attachment
// table whose row matrix sits in its own sub-node, and an attachment object.
#include <gtest/gtest.h>

#include "content/apply_properties.h"
#include "content/heap_builder.h"
#include "content/property_decoder.h"
#include "ndb/block_reader.h"
#include "support/layouts.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

using namespace salvora::testing;

class DecodeFile : public ::testing::TestWithParam<FileLayout> {};

INSTANTIATE_TEST_SUITE_P(Layouts, DecodeFile, AllLayouts(), LayoutTestName());

TEST_P(DecodeFile, MessageWithSubnodesAndAttachments) {
  const FileLayout layout = GetParam();
  const bool ansi = layout == FileLayout::kAnsi;
  // Only the large body blocks are stored compressed: the builder keeps the zlib form even when
  // it is no smaller, and a small block whose zlib form has its exact size would then read as
  // stored plain, which no writer produces.
  const bool compress = layout == FileLayout::kUnicode4k;
  const HidLayout hids = layout == FileLayout::kUnicode4k ? HidLayout::kWide : HidLayout::kStandard;
  NdbBuilder b(layout, CryptMethod::kPermute);

  // The message: its property context over two heap blocks, the body in sub-node 0x8001F.
  PcBuilder pc(hids);
  pc.Add(0x001A, 0x001F, utf16(u"IPM.Note"));
  pc.heap().NewBlock();
  pc.Add(0x0037, 0x001F, utf16(u"\x01\x01\u0417\u0434\u0440\u0430\u0432\u0441\u0442\u0432\u0443\u0439"));
  pc.AddRef(0x1000, 0x001F, 0x8001F);
  const auto heap = pc.Build();
  std::vector<Bid> heap_bids;
  std::uint32_t total = 0;
  for (const auto& blk : heap) {
    heap_bids.push_back(b.AddBlock(blk));
    total += static_cast<std::uint32_t>(blk.size());
  }
  const Bid message_data = b.AddDataTree(heap_bids, 1, total);
  const Bv body_a(5000, 'a'), body_b = utf16(u"\u00E9nd");
  const Bid body = b.AddDataTree({b.AddBlock(body_a, compress), b.AddBlock(body_b, compress)}, 1,
                                 static_cast<std::uint32_t>(body_a.size() + body_b.size()), compress);

  // The attachment table, its row matrix in sub-node 0x2A1F of the table.
  TcBuilder tc({{0x3704, 0x001F, 4}, {0x0E20, 0x0003, 4}}, ansi);
  const std::uint32_t name = tc.heap().Add(utf16(u"a.txt"));
  tc.AddRow(0x8025, {{0x3704, name}, {0x0E20, 4}});
  tc.AddRow(0x8045, {{0x0E20, 9}});
  std::vector<Bv> matrix;
  const auto table_heap = tc.BuildWithSubnodeMatrix(0x2A1F, {1, 1}, {3, 0}, matrix);
  std::vector<Bid> matrix_bids;
  std::uint32_t matrix_total = 0;
  for (const auto& blk : matrix) {
    matrix_bids.push_back(b.AddBlock(blk));
    matrix_total += static_cast<std::uint32_t>(blk.size());
  }
  const Bid table_subs = b.AddSubnodeLeaf({{Nid(0x2A1F), b.AddDataTree(matrix_bids, 1, matrix_total), Bid()}});
  const Bid table = b.AddBlock(table_heap[0]);

  PcBuilder att(hids);
  att.Add(0x3701, 0x0102, bytes("DATA"));
  att.Add(0x3705, 0x0003, le32(1));
  const Bid attachment = b.AddBlock(att.Build()[0]);

  // Sub-nodes behind an SIBLOCK of two SLBLOCKs.
  const Bid leaf1 = b.AddSubnodeLeaf({{Nid(0x671), table, table_subs}, {Nid(0x8025), attachment, Bid()}});
  const Bid leaf2 = b.AddSubnodeLeaf({{Nid(0x8001F), body, Bid()}});
  const Bid subs_bid = b.AddSubnodeIndex({{Nid(0x671), leaf1}, {Nid(0x8001F), leaf2}});
  const Nid message = Nid::make(kNidTypeNormalMessage, 0x100);
  b.AddNode(kNidMessageStore, b.AddBlock(Bv(16, 0)), Bid(), Nid());
  b.AddNode(kNidRootFolder, b.AddBlock(Bv(16, 0)), Bid(), kNidRootFolder);
  b.AddNode(message, message_data, subs_bid, kNidRootFolder);

  OstContext ctx;
  ASSERT_EQ(OpenStore(ctx, b.WriteTemp("decode.pst")), 0);
  ASSERT_EQ(LoadBlockIndex(ctx), 0);
  ASSERT_EQ(LoadNodeIndex(ctx), 0);
  const NodeRecord* node = FindNode(ctx, message);
  ASSERT_NE(node, nullptr);
  auto subs = ReadSubnodes(ctx, node->sub_bid);
  ASSERT_TRUE(subs.has_value());
  ASSERT_EQ(subs->size(), 3u);

  ASSERT_EQ(ctx.header.layout, layout);
  const auto r = decode_properties(ctx, node->data_bid, &*subs, nullptr);
  ASSERT_TRUE(r) << decode_error_name(r.failure.code);
  ItemRecord rec;
  ASSERT_EQ(apply_properties(r.list->blocks, &rec, apply_options_for(ctx)), 0);
  EXPECT_EQ(rec.kind, ItemKind::kMail);
  ASSERT_TRUE(rec.message && rec.message->subject && rec.message->plain_body);
  EXPECT_EQ(rec.message->subject->text, "\xD0\x97\xD0\xB4\xD1\x80\xD0\xB0\xD0\xB2\xD1\x81\xD1\x82\xD0\xB2\xD1\x83\xD0\xB9");
  EXPECT_EQ(rec.message->plain_body->size(), 2500u * 3 + 4u);  // 2500 units U+6161, then "énd"

  const SubnodeEntry* t = FindSubnode(*subs, Nid(0x671));
  ASSERT_NE(t, nullptr);
  auto table_list = ReadSubnodes(ctx, t->sub_bid);
  ASSERT_TRUE(table_list.has_value());
  const auto rows = decode_properties(ctx, t->data_bid, &*table_list, nullptr);
  ASSERT_TRUE(rows) << decode_error_name(rows.failure.code);
  ASSERT_EQ(rows.list->blocks.size(), 2u);
  rec.attachments.resize(2);
  apply_properties(rows.list->blocks, &rec, apply_options_for(ctx));
  EXPECT_EQ(rec.attachments[0].subnode_id, 0x8025u);
  EXPECT_EQ(rec.attachments[0].file_name, "a.txt");
  EXPECT_EQ(rec.attachments[1].subnode_id, 0x8045u);

  const SubnodeEntry* a = FindSubnode(*subs, Nid(rec.attachments[0].subnode_id));
  ASSERT_NE(a, nullptr);
  const auto obj = decode_properties(ctx, a->data_bid, nullptr, nullptr);
  ASSERT_TRUE(obj);
  rec.attachment_cursor = 0;
  apply_properties(obj.list->blocks, &rec, apply_options_for(ctx));
  EXPECT_EQ(rec.attachments[0].data, bytes("DATA"));
  EXPECT_EQ(rec.attachments[0].method, 1);

  // A node value that cannot be read fails the object, quietly.
  EXPECT_EQ(decode_properties(ctx, Bid(0x7FF0), nullptr, nullptr).failure.code, DecodeError::kUnreadable);
}

}  // namespace
}  // namespace salvora
