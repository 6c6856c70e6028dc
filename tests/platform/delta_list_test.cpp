// The list kept as steps between numbers: it must give back exactly what went in, in order and
// from the back, whatever the steps (down, zero, across the whole 64-bit range), and cost about
// a byte a number when they rise by small steps.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "platform/delta_list.h"

namespace salvora {
namespace {

std::vector<std::uint64_t> read_all(const DeltaList& list) {
  std::vector<std::uint64_t> out;
  for (const std::uint64_t v : list) out.push_back(v);
  return out;
}

TEST(DeltaList, GivesBackEveryNumberInOrderAndFromTheBack) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const std::vector<std::uint64_t> numbers = {4, 8, 8, 6, 0, kMax, 0, kMax - 1, 1, 0x7F, 0x80, 0x3FFF, 0x4000,
                                              1u << 31, kMax / 2, kMax / 2 + 1, 12, 16};
  DeltaList list;
  std::vector<std::uint64_t> expected;
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.begin(), list.end());
  for (const std::uint64_t v : numbers) {
    list.push_back(v);
    expected.push_back(v);
    ASSERT_EQ(list.back(), v);
  }
  EXPECT_EQ(list.size(), numbers.size());
  EXPECT_EQ(read_all(list), expected);

  // Taken from the back as a stack, with pushes between: the last number is always the one
  // pushed last and not yet taken.
  for (int round = 0; round < 3; ++round) {
    for (int k = 0; k < 4; ++k) {
      ASSERT_EQ(list.back(), expected.back());
      list.pop_back();
      expected.pop_back();
    }
    list.push_back(kMax - static_cast<std::uint64_t>(round));
    expected.push_back(kMax - static_cast<std::uint64_t>(round));
    ASSERT_EQ(read_all(list), expected);
  }
  while (!expected.empty()) {
    ASSERT_EQ(list.back(), expected.back());
    list.pop_back();
    expected.pop_back();
  }
  EXPECT_TRUE(list.empty());
  // Emptied by pops, it starts again from nothing, as after clear.
  list.push_back(20);
  EXPECT_EQ(read_all(list), std::vector<std::uint64_t>{20});
  list.clear();
  list.push_back(7);
  EXPECT_EQ(read_all(list), std::vector<std::uint64_t>{7});
}

TEST(DeltaList, IdsRisingBySmallStepsCostAboutAByteEach) {
  DeltaList list;
  std::uint64_t id = 0x100000;
  for (int i = 0; i < 100000; ++i) {
    id += (i % 7 == 0) ? 6 : 4;  // block ids: a step of 4, internal ones 2 further
    list.push_back(id);
  }
  EXPECT_EQ(list.back(), id);
  EXPECT_LT(list.memory_bytes(), 100000u * 2);  // a vector holds 8 bytes each
  std::uint64_t previous = 0x100000;
  std::size_t count = 0;
  for (const std::uint64_t v : list) {
    ASSERT_GT(v, previous);
    previous = v;
    ++count;
  }
  EXPECT_EQ(count, 100000u);
  EXPECT_EQ(previous, id);
}

}  // namespace
}  // namespace salvora
