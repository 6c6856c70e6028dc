#include "support/test_folder.h"

#include <filesystem>

#include "support/ndb_builder.h"

namespace salvora::testing {

std::string FreshTestDir(const std::string& name) {
  const std::string dir = TestTempDir() + "/" + name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

void TestFolder::SetUp() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "-" + test->name();
  for (char& c : name)
    if (c == '/') c = '-';  // a parameterised test's name has one
  dir_ = FreshTestDir(name);
}

void TestFolder::TearDown() {
  std::error_code ignored;  // a file a test left open must not fail the next test
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace salvora::testing
