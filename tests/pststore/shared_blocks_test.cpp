// Equal data is stored once: repeated bodies and attachments, and whole repeated messages,
// share their blocks through reference counts, and the file stays valid when it is reopened
// and written to again.

#include <gtest/gtest.h>

#include <filesystem>

#include "format/prop_types.h"
#include "pststore/pst/pst_verifier.h"
#include "pststore/pst/pst_writer.h"
#include "pststore/sample_mailbox.h"
#include "pststore/store_readback.h"

namespace salvora::pst {
namespace {

MessageSpec Repeated(const std::string& subject) {
  MessageSpec m;
  m.props = {Property::String(kPidSubject, subject), Property::String(kPidBody, std::string(20000, 'b'))};
  std::vector<std::uint8_t> data(100000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
  m.attachments.push_back(AttachmentSpec{{Property::String(kPidAttachLongFilename, "same.bin")}, data, {}, nullptr, nullptr});
  // Blocks equal to each other inside one value: each is stored, since a tree that names one
  // block twice is refused by readers; the next message's equal value shares them all.
  m.attachments.push_back(AttachmentSpec{{Property::String(kPidAttachLongFilename, "zeros.bin")},
                                         std::vector<std::uint8_t>(60000, 0), {}, nullptr, nullptr});
  return m;
}

TEST(SharedBlocks, RepeatsAreStoredOnceAndReadBackWhole) {
  const std::string path = testing::TempPath("shared.pst");
  {
    auto w = PstWriter::Create(path, PstOptions{});
    for (int i = 0; i < 30; ++i) {
      w->AddMessage(w->ipm_subtree(), Repeated(i % 2 ? "odd" : "even"));
      if (i % 7 == 0) w->Commit();
    }
    w->Close();
  }
  const auto size_after_30 = std::filesystem::file_size(path);
  // 30 copies of 180 KB of data: far less than one copy each.
  EXPECT_LT(size_after_30, 1'000'000u);
  {
    // Reopened, more of the same, then a folder's worth of it: the old references stay counted.
    auto w = PstWriter::Open(path, PstOptions{});
    ASSERT_NE(w, nullptr);
    const FolderId f = w->AddFolder(w->ipm_subtree(), "More", "IPF.Note");
    for (int i = 0; i < 5; ++i) w->AddMessage(f, Repeated("more"));
    w->Close();
  }
  const VerifyResult v = PstVerifier::Verify(path);
  EXPECT_TRUE(v.violations.empty()) << v.violations.front();
  EXPECT_EQ(v.messages, 35u);

  const auto store = store::testing::ReadBack(path);
  ASSERT_TRUE(store.opened);
  const auto* m = store.subtree.Message("odd");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->attachments.size(), 2u);
  EXPECT_EQ(m->attachments[0].data, Repeated("").attachments[0].data);
  EXPECT_EQ(m->attachments[1].data, std::vector<std::uint8_t>(60000, 0));
}

}  // namespace
}  // namespace salvora::pst
