#include <gtest/gtest.h>

#include "pststore/sample_mailbox.h"

namespace salvora::pst {
namespace {

TEST(PstWriter, WritesSampleMailbox) {
  const std::string path = testing::TempPath("sample.pst");
  const auto expected = testing::WriteSampleMailbox(path);
  EXPECT_GT(expected.size(), 10u);
}

}  // namespace
}  // namespace salvora::pst
