// The size an attachment object reports: the bytes it takes, its data and its properties, stored
// as a 32-bit integer on the object and in its attachment table row, for every way the data
// reaches the writer.

#include <gtest/gtest.h>

#include <fstream>

#include "format/prop_types.h"
#include "pststore/pst/pst_verifier.h"
#include "pststore/pst/pst_writer.h"
#include "pststore/sample_mailbox.h"
#include "pststore/store_readback.h"

namespace salvora::pst {
namespace {

std::int64_t AttachSize(const store::testing::ReadAttachment& a) {
  const Property* p = find_prop(a.props, kPidAttachSize);
  if (p == nullptr) {
    ADD_FAILURE() << "no attachment size";
    return -1;
  }
  EXPECT_EQ(p->type(), kPtypInteger32);
  return p->AsInt();
}

TEST(AttachmentSize, CountsTheDataAndTheProperties) {
  const std::string path = testing::TempPath("attach-size.pst");
  const std::string streamed = testing::TempPath("attach-size.bin");
  {
    std::ofstream f(streamed, std::ios::binary);
    for (int i = 0; i < 70000; ++i) f.put(static_cast<char>(i * 31));
  }
  // The same name on each, so that only the data differs between them; the name alone is
  // 18 bytes of UTF-16.
  const auto named = [] { return PropertyList{Property::String(kPidAttachLongFilename, "notes.txt")}; };
  constexpr std::int64_t kNameBytes = 18;
  auto embedded = std::make_shared<MessageSpec>();
  embedded->props = {Property::String(kPidSubject, "inner"), Property::String(kPidBody, std::string(3000, 'e'))};
  {
    auto w = PstWriter::Create(path, PstOptions{});
    MessageSpec m;
    m.props = {Property::String(kPidSubject, "sizes")};
    m.attachments.push_back(AttachmentSpec{named(), std::vector<std::uint8_t>(100, 'a'), {}, nullptr, nullptr});
    m.attachments.push_back(AttachmentSpec{named(), std::vector<std::uint8_t>(5000, 'b'), {}, nullptr, nullptr});
    m.attachments.push_back(AttachmentSpec{named(), {}, streamed, nullptr, nullptr});
    m.attachments.push_back(AttachmentSpec{{}, {}, {}, nullptr, embedded});
    w->AddMessage(w->ipm_subtree(), m);
    w->Close();
  }
  // The verifier holds the attachment table's rows to the objects' own values.
  const VerifyResult v = PstVerifier::Verify(path);
  EXPECT_TRUE(v.violations.empty()) << v.violations.front();

  const auto store = store::testing::ReadBack(path);
  ASSERT_TRUE(store.opened);
  const auto* m = store.subtree.Message("sizes");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->attachments.size(), 4u);
  const auto& small = m->attachments[0];
  const auto& large = m->attachments[1];
  const auto& from_file = m->attachments[2];
  const auto& message = m->attachments[3];
  ASSERT_EQ(small.data.size(), 100u);
  ASSERT_EQ(from_file.data.size(), 70000u);

  EXPECT_GE(AttachSize(small), 100 + kNameBytes);
  EXPECT_GE(AttachSize(large), 5000 + kNameBytes);
  EXPECT_GE(AttachSize(from_file), 70000 + kNameBytes);
  // With the same properties, the sizes differ by the data, byte for byte, whether the data came
  // from memory or was streamed.
  EXPECT_EQ(AttachSize(large) - AttachSize(small), 4900);
  EXPECT_EQ(AttachSize(from_file) - AttachSize(small), 69900);

  // An embedded message takes at least what the message itself reports.
  ASSERT_NE(message.embedded, nullptr);
  const auto inner = message.embedded->Int(kPidMessageSize);
  ASSERT_TRUE(inner.has_value());
  EXPECT_GE(*inner, 3000);
  EXPECT_GE(AttachSize(message), *inner);
}

}  // namespace
}  // namespace salvora::pst
