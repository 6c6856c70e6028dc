// Name-to-id map records: the string flag and GUID index share one word, and a stream is read
// in whole records.
#include <gtest/gtest.h>

#include "format/name_id.h"

namespace salvora {
namespace {

TEST(NameIdRecord, WordSplitsAndPartialRecordsAreLeftOut) {
  const NameIdRecord numeric{0x8501, false, 3, 0};
  const NameIdRecord string{0x40, true, 1, 0x7FFE};
  ByteWriter w;
  numeric.Serialize(w);
  string.Serialize(w);
  w.u16(0xFFFF);  // a partial record
  const auto bytes = w.take();
  EXPECT_EQ(load_u16(bytes, 4), 6);
  EXPECT_EQ(load_u16(bytes, 12), 3);
  EXPECT_EQ(parse_name_id_records(bytes), (std::vector<NameIdRecord>{numeric, string}));
  EXPECT_TRUE(parse_name_id_records(Bytes(bytes).first(7)).empty());
}

// A name's length past the stream leaves the part the stream holds, and says it is not whole.
TEST(NameIdString, WholeCutOffAndOutside) {
  ByteWriter w;
  w.u32(4);
  w.u16('a');
  w.u16('b');
  w.u32(6);  // a second name that claims more than the stream holds
  w.u16('c');
  const auto strings = w.take();
  const auto first = parse_name_id_string(strings, 0);
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->whole());
  EXPECT_EQ(first->text.size(), 4u);
  const auto second = parse_name_id_string(strings, 8);
  ASSERT_TRUE(second);
  EXPECT_FALSE(second->whole());
  EXPECT_EQ(second->text.size(), 2u);
  EXPECT_FALSE(parse_name_id_string(strings, 11));  // the length itself is cut off
  EXPECT_FALSE(parse_name_id_string(strings, 14));
}

}  // namespace
}  // namespace salvora
