// The strict reader over damaged table contexts: a column description that places its cell or
// its existence bit outside the row is reported, and its cell is never read.
#include <gtest/gtest.h>

#include <algorithm>

#include "pststore/pst/table_context.h"

namespace salvora::pst {
namespace {

std::optional<HeapOnNode> parse_heap(std::vector<std::vector<std::uint8_t>> blocks) {
  Findings findings(Tolerance::kStrict);
  return HeapOnNode::Parse(std::move(blocks), HidLayout::kStandard, findings);
}

class NoSubnodes : public SubnodeSink {
 public:
  std::uint32_t AddValue(Bytes) override { return 0; }
  std::uint32_t AddBlocks(const std::vector<std::vector<std::uint8_t>>&) override { return 0; }
};

constexpr std::uint32_t kFlagsTag = 0x0E070003;    // PT_LONG
constexpr std::uint32_t kSubjectTag = 0x0037001F;  // PT_UNICODE

struct ColumnDamage {
  const char* what;
  int ib;   // -1: as written; -2: one byte before the existence bitmap, so the cell overlaps it
  int bit;  // -1: as written
};

TEST(TableContextDamage, ColumnOutsideTheRowIsReportedAndLeftUnread) {
  const ColumnDamage cases[] = {{"existence bit past the row", -1, 0xFF},
                                {"cell past the row", 0xFFF0, -1},
                                {"cell over the existence bitmap", -2, -1}};
  for (const ColumnDamage& damage : cases) {
    SCOPED_TRACE(damage.what);
    const TableSchema schema = TableSchema::Layout({kFlagsTag, kSubjectTag});
    TableRow row{0x200024, 1, {Property::Int32(0x0E07, 5), Property::String(0x0037, "hello")}};
    NoSubnodes sink;
    auto blocks = build_table_context(schema, {row}, sink);
    ASSERT_EQ(blocks.size(), 1u);

    // Find TCINFO in the heap block and rewrite the flags column's description.
    auto intact = parse_heap(blocks);
    ASSERT_TRUE(intact);
    const auto info = intact->Lookup(intact->user_root());
    ASSERT_TRUE(info);
    const auto at = std::search(blocks[0].begin(), blocks[0].end(), info->begin(), info->end());
    ASSERT_NE(at, blocks[0].end());
    const auto column = std::find_if(schema.columns.begin(), schema.columns.end(),
                                     [](const TcColumn& c) { return c.tag == kFlagsTag; });
    ASSERT_NE(column, schema.columns.end());
    const std::size_t desc = static_cast<std::size_t>(at - blocks[0].begin()) + 22 +
                             8 * static_cast<std::size_t>(column - schema.columns.begin());
    const int ib = damage.ib == -2 ? schema.rgib[2] - 1 : damage.ib;
    if (ib >= 0) {
      blocks[0][desc + 4] = static_cast<std::uint8_t>(ib);
      blocks[0][desc + 5] = static_cast<std::uint8_t>(ib >> 8);
    }
    if (damage.bit >= 0) blocks[0][desc + 7] = static_cast<std::uint8_t>(damage.bit);

    auto heap = parse_heap(blocks);
    ASSERT_TRUE(heap);
    Findings findings(Tolerance::kStrict);
    const auto t = read_table_context(*heap, SubnodeResolver{}, findings);
    const std::vector<std::string> problems = findings.items();
    ASSERT_TRUE(t);
    EXPECT_NE(std::find(problems.begin(), problems.end(), "table context: column outside the row"), problems.end());
    ASSERT_EQ(t->rows.size(), 1u);
    const PropertyList& cells = t->rows[0].cells;
    EXPECT_EQ(find_prop(cells, 0x0E07), nullptr);
    const Property* subject = find_prop(cells, 0x0037);
    ASSERT_NE(subject, nullptr);
    EXPECT_EQ(subject->AsString(), "hello");
  }
}

}  // namespace
}  // namespace salvora::pst
