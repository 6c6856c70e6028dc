#pragma once
// Folders of a test's own under the program's test folder (TestTempDir), made empty, so that a
// test never meets what an earlier test or run left there. The whole test folder goes when
// the program exits.

#include <gtest/gtest.h>

#include <string>

namespace salvora::testing {

// TestTempDir()/name, emptied and made.
std::string FreshTestDir(const std::string& name);

// Each test starts in an empty folder of its own, named after its suite and itself.
class TestFolder : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string dir_;
};

}  // namespace salvora::testing
