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

}  // namespace
}  // namespace salvora
