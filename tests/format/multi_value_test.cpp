// Variable-size multi-values: the writer's form read back, and the damage that refuses one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/byte_writer.h"
#include "format/multi_value.h"

namespace salvora {
namespace {

TEST(VariableMulti, RoundTripAndEveryBrokenOffsetRefused) {
  const std::vector<ByteVector> items = {{1, 2, 3}, {}, {9}};
  const ByteVector stored = serialize_variable_multi(items);
  ASSERT_EQ(stored.size(), 4u + 3 * 4 + 4);
  const auto back = parse_variable_multi(stored);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), items.size());
  for (std::size_t i = 0; i < items.size(); ++i)
    EXPECT_EQ(ByteVector((*back)[i].begin(), (*back)[i].end()), items[i]) << i;
  EXPECT_TRUE(parse_variable_multi(serialize_variable_multi({})).value().empty());

  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
  } cases[] = {{"a count past the offsets", 0, 5}, {"an offset past the value", 12, 40},
               {"an offset running backwards", 8, 2}};
  for (const auto& c : cases) {
    ByteVector damaged = stored;
    store_u32(damaged, c.at, c.value);
    EXPECT_FALSE(parse_variable_multi(damaged)) << c.what;
  }
  EXPECT_FALSE(parse_variable_multi(Bytes(stored).first(3)));
}

}  // namespace
}  // namespace salvora
