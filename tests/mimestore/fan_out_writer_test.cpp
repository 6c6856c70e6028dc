// One store written in several forms: every form gets every call in its own ids, and a form
// that fails does not keep the others from their work.

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "mimestore/fan_out_writer.h"

namespace salvora::mime {
namespace {

using pst::Property;

// A form that keeps what it is given; its folder and name ids start where it is told.
struct RecordingForm : pst::StoreWriter {
  RecordingForm(pst::FolderId first_folder, std::uint16_t first_name, bool refuse_mail = false)
      : next_folder(first_folder), next_name(first_name), refuse_mail(refuse_mail) {}
  pst::FolderId root_folder() const override { return 1; }
  pst::FolderId ipm_subtree() const override { return 2; }
  pst::FolderId deleted_items() const override { return 3; }
  pst::FolderId AddFolder(pst::FolderId parent, std::string_view, std::string_view) override {
    parents.push_back(parent);
    return next_folder++;
  }
  void SetFolderProperties(pst::FolderId, const pst::PropertyList&) override {}
  void SetStoreProperties(const pst::PropertyList&) override {}
  void SetReceiveFolder(pst::FolderId) override {}
  std::uint16_t RegisterName(const pst::PropertyName&) override { return next_name++; }
  std::uint32_t AddMessage(pst::FolderId folder, pst::MessageSpec message) override {
    if (refuse_mail) {
      broken = true;
      throw std::runtime_error("disk full");
    }
    messages.emplace_back(folder, std::move(message));
    return 0x200024;
  }
  void Commit() override {}
  void Close() override {}
  bool failed() const override { return broken; }

  pst::FolderId next_folder;
  std::uint16_t next_name;
  bool refuse_mail;
  bool broken = false;
  std::vector<pst::FolderId> parents;
  std::vector<std::pair<pst::FolderId, pst::MessageSpec>> messages;
};

// Hands out its bytes once, as a stream from the reader does.
struct OnceSource : pst::ByteSource {
  std::string bytes = "picture bytes";
  std::size_t Read(std::span<std::uint8_t> buffer) override {
    const std::size_t n = std::min(buffer.size(), bytes.size());
    std::memcpy(buffer.data(), bytes.data(), n);
    bytes.erase(0, n);
    return n;
  }
};

TEST(FanOutWriter, EveryFormGetsTheMessageInItsOwnIdsAndStreamedDataOnce) {
  std::vector<std::unique_ptr<pst::StoreWriter>> forms;
  forms.push_back(std::make_unique<RecordingForm>(100, 0x8000));
  forms.push_back(std::make_unique<RecordingForm>(16, 0x8005));
  auto* lead = static_cast<RecordingForm*>(forms[0].get());
  auto* other = static_cast<RecordingForm*>(forms[1].get());
  FanOutWriter writer(std::move(forms));

  const pst::FolderId inbox = writer.AddFolder(writer.ipm_subtree(), "Inbox", "IPF.Note");
  const pst::FolderId below = writer.AddFolder(inbox, "Projects", "IPF.Note");
  EXPECT_EQ(inbox, 100u);
  EXPECT_EQ(other->parents, (std::vector<pst::FolderId>{2, 16}));
  const std::uint16_t named = writer.RegisterName({});
  EXPECT_EQ(named, 0x8000);

  OnceSource source;
  pst::MessageSpec message;
  message.props = {Property::Int32(named, 7), Property::String(0x0037, "subject")};
  message.attachments.resize(1);
  message.attachments[0].source = &source;
  message.attachments[0].embedded = std::make_shared<pst::MessageSpec>();
  message.attachments[0].embedded->props = {Property::Int32(named, 8)};
  writer.AddMessage(below, std::move(message));

  ASSERT_EQ(lead->messages.size(), 1u);
  ASSERT_EQ(other->messages.size(), 1u);
  EXPECT_EQ(lead->messages[0].first, 101u);
  EXPECT_EQ(other->messages[0].first, 17u);
  EXPECT_EQ(lead->messages[0].second.props[0].id(), 0x8000);
  EXPECT_EQ(other->messages[0].second.props[0].id(), 0x8005);
  EXPECT_EQ(other->messages[0].second.props[1].id(), 0x0037);
  EXPECT_EQ(other->messages[0].second.attachments[0].embedded->props[0].id(), 0x8005);
  EXPECT_EQ(lead->messages[0].second.attachments[0].embedded->props[0].id(), 0x8000);
  for (auto* form : {lead, other}) {
    const auto& a = form->messages[0].second.attachments[0];
    EXPECT_EQ(std::string(a.data.begin(), a.data.end()), "picture bytes");
    EXPECT_EQ(a.source, nullptr);
  }
}

TEST(FanOutWriter, AFormThatFailsLeavesTheOthersTheirWorkAndIsTold) {
  std::vector<std::unique_ptr<pst::StoreWriter>> forms;
  forms.push_back(std::make_unique<RecordingForm>(100, 0x8000, true));
  forms.push_back(std::make_unique<RecordingForm>(16, 0x8000));
  auto* other = static_cast<RecordingForm*>(forms[1].get());
  FanOutWriter writer(std::move(forms));
  EXPECT_FALSE(writer.failed());
  EXPECT_THROW(writer.AddMessage(writer.ipm_subtree(), {}), std::runtime_error);
  EXPECT_EQ(other->messages.size(), 1u);
  EXPECT_TRUE(writer.failed());
  // A folder id the leader never gave fails in the other form too, with a reason.
  EXPECT_THROW(writer.SetReceiveFolder(999), std::runtime_error);
}

}  // namespace
}  // namespace salvora::mime
