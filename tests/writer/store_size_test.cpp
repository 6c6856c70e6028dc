// Sizes as users write them for a split: read exactly, refused when they are anything else.
#include <gtest/gtest.h>

#include "writer/store_size.h"

namespace salvora {
namespace {

TEST(StoreSize, ReadsWhatUsersWriteAndRefusesTheRest) {
  const struct {
    const char* text;
    std::optional<std::uint64_t> bytes;
  } cases[] = {
      {"45G", 45ull << 30}, {"500M", 500ull << 20}, {"2000K", 2000ull << 10}, {"1048576", 1048576},
      {"45g", 45ull << 30}, {"45GB", 45ull << 30}, {"45GiB", 45ull << 30},   {"500mb", 500ull << 20},
      {"", std::nullopt},   {"0", std::nullopt},   {"0G", std::nullopt},     {"-5M", std::nullopt},
      {"1.5G", std::nullopt}, {"G", std::nullopt}, {"12X", std::nullopt},    {"45GBx", std::nullopt},
      {" 45G", std::nullopt}, {"45 G", std::nullopt}, {"9999999999G", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_store_size(c.text), c.bytes) << '"' << c.text << '"';
  for (std::uint64_t bytes : {45ull << 30, 500ull << 20, 2000ull << 10, 1000001ull})
    EXPECT_EQ(parse_store_size(store_size_text(bytes)), bytes) << store_size_text(bytes);
  EXPECT_EQ(store_size_text(45ull << 30), "45G");
  EXPECT_EQ(store_size_text(1536ull << 20), "1536M");
}

}  // namespace
}  // namespace salvora
