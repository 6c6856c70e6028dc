// The array whose elements never move: it must keep every element where it was while it
// grows step by step, and refuse to grow past its reservation instead of writing beyond it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/reserved_array.h"

namespace salvora {
namespace {

struct Record {
  std::uint64_t a = 0;
  std::uint32_t b = 0;
  std::uint32_t c = 0;
};

TEST(ReservedArray, GrowsInPlaceAndStopsAtItsReservation) {
  constexpr std::size_t kCount = 300000;  // several commit steps of 1 MB
  ReservedArray<Record> array(kCount);
  ASSERT_GE(array.max_size(), kCount);
  std::vector<const Record*> addresses;
  for (std::size_t i = 0; i < kCount; ++i) {
    Record& r = array.emplace_back();
    EXPECT_EQ(r.a, 0u);  // value-initialised, even on pages committed earlier
    r.a = i * 3;
    r.b = static_cast<std::uint32_t>(i);
    if (i % 1000 == 0) addresses.push_back(&r);
  }
  for (std::size_t k = 0; k < addresses.size(); ++k) {
    EXPECT_EQ(addresses[k], &array[k * 1000]);
    EXPECT_EQ(addresses[k]->a, k * 1000 * 3);
  }
  EXPECT_EQ(array.size(), kCount);
  EXPECT_GE(array.memory_bytes(), kCount * sizeof(Record));
  while (array.size() < array.max_size()) array.emplace_back();
  EXPECT_THROW(array.emplace_back(), std::bad_alloc);
  EXPECT_EQ(array.back().a, 0u);
}

// The process's resident pages of mapped files, in kB.
std::size_t resident_file_kb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("RssFile:", 0) == 0) return std::stoul(line.substr(8));
  }
  return 0;
}

// Backed by a temporary file, the array keeps every element through releases of its pages,
// made from another thread while it is written and read, and holds no more than the memory
// budget: four million node records must not all stay in memory.
TEST(ReservedArray, FileBackedKeepsItsElementsWhileItsPagesAreReleased) {
  constexpr std::size_t kCount = std::size_t{4} << 20;  // 64 MB of records
  constexpr std::size_t kMostKb = kResidentMemoryBudget / 1024 + 4 * 1024;
  ReservedArray<Record> array(kCount, Backing::kTemporaryFile);
  const std::size_t resident_before = resident_file_kb();
  std::atomic<bool> done{false};
  std::thread releaser([&] {
    while (!done.load()) release_file_backed_pages();
  });
  for (std::size_t i = 0; i < kCount; ++i) {
    Record& r = array.emplace_back();
    ASSERT_EQ(r.a, 0u);
    r.a = i * 7;
    r.c = static_cast<std::uint32_t>(~i);
  }
  for (std::size_t i = 0; i < kCount; i += 997) {
    ASSERT_EQ(array[i].a, i * 7) << i;
    array[i].b = 1;  // written again after a release
  }
  done = true;
  releaser.join();
  ASSERT_GT(array.file_bytes(), 0u) << "no temporary file could be made";
  EXPECT_EQ(array.memory_bytes(), 0u);
  array.ReleaseResidentPages();
  EXPECT_LT(resident_file_kb(), resident_before + kMostKb);
  for (std::size_t i = 0; i < kCount; ++i) {
    ASSERT_EQ(array[i].a, i * 7) << i;
    ASSERT_EQ(array[i].b, i % 997 == 0 ? 1u : 0u) << i;
    ASSERT_EQ(array[i].c, static_cast<std::uint32_t>(~i)) << i;
    if (i % 65536 == 0) array.ReleaseResidentPages();
  }
  EXPECT_LT(resident_file_kb(), resident_before + kMostKb);
}

// An insert or a removal moves every element after it by one place, a step at a time: the
// order comes out as a vector's at the edges of every step, and a file-backed array never maps
// the whole tail it moves (32 MB here, where the directory of a large B-tree moves on a split).
TEST(ReservedArray, InsertAndEraseMoveTheTailAStepAtATime) {
  ReservedArray<Record> array(40000);
  std::vector<std::uint64_t> expected;
  for (std::uint64_t i = 0; i < 20000; ++i) {
    array.emplace_back().a = i;
    expected.push_back(i);
  }
  std::uint64_t next = 100000;
  for (std::size_t pos : {0u, 1u, 4095u, 4096u, 4097u, 8192u, 19999u, 20003u}) {
    array.insert(pos).a = next;
    expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(pos), next++);
  }
  for (std::size_t pos : {0u, 4095u, 4096u, 12289u, 20000u, 20002u}) {
    array.erase(pos);
    expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(pos));
  }
  ASSERT_EQ(array.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(array[i].a, expected[i]) << i;

  constexpr std::size_t kCount = std::size_t{2} << 20;
  ReservedArray<Record> large(kCount + 1, Backing::kTemporaryFile);
  for (std::size_t i = 0; i < kCount; ++i) large.emplace_back().a = i;
  ASSERT_GT(large.file_bytes(), 0u) << "no temporary file could be made";
  large.ReleaseResidentPages();
  const std::size_t resident_before = resident_file_kb();
  large.insert(1).a = kCount;
  EXPECT_LT(resident_file_kb(), resident_before + 2 * 1024);
  large.ReleaseResidentPages();
  large.erase(0);
  EXPECT_LT(resident_file_kb(), resident_before + 2 * 1024);
  ASSERT_EQ(large.size(), kCount);
  EXPECT_EQ(large[0].a, kCount);
  for (std::size_t i = 1; i < kCount; ++i) {
    ASSERT_EQ(large[i].a, i) << i;
    if (i % 65536 == 0) large.ReleaseResidentPages();
  }
}

// Under a limit on address space the reservation shrinks to what fits instead of failing: a
// mailbox opened under `ulimit -v` still has room for its records. (A sanitizer's own mappings
// do not survive such a limit, so it is tried only without one.)
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
[[noreturn]] void reserve_under_a_limit() {
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = std::size_t{2} << 30;
  if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
  constexpr std::size_t kWanted = (std::size_t{64} << 30) / sizeof(Record);  // 64 GB
  ReservedArray<Record> array(kWanted);
  if (array.max_size() >= kWanted || array.max_size() < 1000) _exit(3);
  for (int i = 0; i < 1000; ++i) array.emplace_back().b = static_cast<std::uint32_t>(i);
  _exit(array[999].b == 999 ? 0 : 4);
}

TEST(ReservedArrayDeathTest, ShrinksItsReservationUnderAnAddressSpaceLimit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(reserve_under_a_limit(), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace salvora
