#include "pststore/sample_mailbox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "format/prop_types.h"

namespace salvora::pst::testing {

namespace {

const char* const kTexts[] = {
    "Hello world",
    "Grüße aus München — ça va?",
    "Привет, как дела?",
    "こんにちは世界、テスト",
    "你好，世界",
    "مرحبا بالعالم",
    "שלום עולם",
    "Γειά σου Κόσμε",
    "नमस्ते दुनिया",
    "emoji 😀🎉 and 𝄞",
};

PropertyList Recipient(const std::string& name, const std::string& email, int type) {
  return {Property::Int32(kPidRecipientType, type), Property::String(kPidDisplayName, name),
          Property::String(kPidAddressType, "SMTP"), Property::String(kPidEmailAddress, email),
          Property::Int32(kPidObjectType, 6), Property::Int32(kPidDisplayType, 0),
          Property::String(kPidSmtpAddress, email)};
}

std::filesystem::path ScratchDir(pid_t pid) {
  return std::filesystem::temp_directory_path() / ("salvora-pst-" + std::to_string(pid));
}

// Removes the test's scratch folder when the test program ends.
class ScratchCleanup : public ::testing::Environment {
 public:
  void TearDown() override { RemoveScratchOf(::getpid()); }
};
[[maybe_unused]] const auto* const kCleanup = ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

}  // namespace

std::string TempPath(const std::string& name) {
  const auto dir = ScratchDir(::getpid());
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

void RemoveScratchOf(pid_t pid) {
  std::error_code ec;
  std::filesystem::remove_all(ScratchDir(pid), ec);
}

std::vector<ExpectedMessage> WriteSampleMailbox(const std::string& path, const SampleOptions& o) {
  PstOptions options;
  options.display_name = "Salvora sample";
  options.crypt = o.crypt;
  options.now = 133000000000000000ull;
  options.checkpoint_bytes = o.checkpoint_bytes;
  auto w = PstWriter::Create(path, options);
  std::vector<ExpectedMessage> expected;

  const FolderId inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
  const FolderId sub = w->AddFolder(inbox, "Projekte – 2024", "IPF.Note");
  const FolderId deep = w->AddFolder(sub, "深い フォルダ", "IPF.Note");
  w->SetReceiveFolder(inbox);
  const FolderId contacts = w->AddFolder(w->ipm_subtree(), "Contacts", "IPF.Contact");
  const std::vector<std::pair<FolderId, std::string>> targets = {
      {inbox, "Top of Personal Folders/Inbox"},
      {sub, "Top of Personal Folders/Inbox/Projekte – 2024"},
      {deep, "Top of Personal Folders/Inbox/Projekte – 2024/深い フォルダ"},
      {w->deleted_items(), "Top of Personal Folders/Deleted Items"},
  };
  const std::uint16_t keywords = w->RegisterName(PropertyName{kPsPublicStrings, std::nullopt, "Keywords"});
  const std::uint16_t numeric = w->RegisterName(PropertyName{{0x03, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}, 0x8205, ""});

  const std::string big_path = TempPath("attachment.bin");
  {
    std::ofstream f(big_path, std::ios::binary);
    for (std::size_t i = 0; i < o.big_attachment; ++i) f.put(static_cast<char>((i * 7919) >> 3));
  }

  int n = 0;
  for (const auto& [folder, folder_path] : targets) {
    for (int i = 0; i < o.messages_per_folder; ++i, ++n) {
      MessageSpec m;
      const std::string subject = std::string(kTexts[n % 10]) + " #" + std::to_string(n);
      const std::string sender = kTexts[(n + 3) % 10];
      std::string body;
      // Every few messages a body long enough for a sub-node and a data tree.
      const std::size_t repeat = n % 4 == 0 ? 3000 : 3;
      for (std::size_t r = 0; r < repeat; ++r) body += std::string(kTexts[(n + r) % 10]) + "\r\n";
      m.props = {Property::String(kPidSubject, subject), Property::String(kPidSenderName, sender),
                 Property::String(kPidSenderEmailAddress, "sender" + std::to_string(n) + "@example.org"),
                 Property::String(kPidBody, body),
                 Property::Time(kPidClientSubmitTime, 133000000000000000ull + static_cast<std::uint64_t>(n) * 10000000ull),
                 Property::Time(kPidMessageDeliveryTime, 133000000000000000ull + static_cast<std::uint64_t>(n) * 10000000ull),
                 Property::Int32(kPidMessageFlags, n % 2 ? static_cast<std::int32_t>(kMsgFlagRead) : 0),
                 Property::MultiString(keywords, {"alpha", kTexts[n % 10], ""}),
                 Property::Int32(numeric, n)};
      if (n % 3 == 0) {
        const std::string html = "<html><body><p>" + std::string(kTexts[n % 10]) + "</p></body></html>";
        m.props.push_back(Property::Binary(kPidHtml, Bytes(reinterpret_cast<const std::uint8_t*>(html.data()), html.size())));
      }
      m.recipients.push_back({Recipient("Alice Ångström", "alice@example.org", 1)});
      m.recipients.push_back({Recipient(kTexts[(n + 5) % 10], "bob@example.org", 2)});
      ExpectedMessage e{folder_path, subject, sender, body.size(), {}};
      if (n % 2 == 0) {
        AttachmentSpec a;
        const std::string name = "note-" + std::to_string(n) + ".txt";
        a.props = {Property::String(kPidAttachLongFilename, name), Property::String(kPidAttachFilename, name),
                   Property::String(kPidAttachMimeTag, "text/plain")};
        a.data.assign(static_cast<std::size_t>(100 + n * 37), static_cast<std::uint8_t>('a' + n % 26));
        e.attachments.emplace_back(name, a.data.size());
        m.attachments.push_back(std::move(a));
      }
      if (n % 5 == 1) {
        AttachmentSpec a;
        a.props = {Property::String(kPidAttachLongFilename, "large.bin")};
        a.data_path = big_path;
        e.attachments.emplace_back("large.bin", o.big_attachment);
        m.attachments.push_back(std::move(a));
      }
      if (n % 7 == 3) {
        AttachmentSpec a;
        a.props = {Property::String(kPidDisplayName, "Forwarded message")};
        a.embedded = std::make_shared<MessageSpec>();
        a.embedded->props = {Property::String(kPidSubject, "inner " + std::string(kTexts[n % 10])),
                             Property::String(kPidBody, "inner body")};
        AttachmentSpec inner;
        inner.props = {Property::String(kPidAttachLongFilename, "inner.txt")};
        inner.data = {'x', 'y', 'z'};
        a.embedded->attachments.push_back(std::move(inner));
        e.attachments.emplace_back("Forwarded message", 0);
        m.attachments.push_back(std::move(a));
      }
      w->AddMessage(folder, m);
      expected.push_back(std::move(e));
    }
  }
  MessageSpec contact;
  contact.props = {Property::String(kPidMessageClass, "IPM.Contact"), Property::String(kPidSubject, "Zoë Example"),
                   Property::String(kPidDisplayName, "Zoë Example")};
  w->AddMessage(contacts, contact);
  expected.push_back({"Top of Personal Folders/Contacts", "Zoë Example", "", 0, {}});
  MessageSpec hidden;
  hidden.associated = true;
  hidden.props = {Property::String(kPidMessageClass, "IPM.Configuration.Test"), Property::String(kPidSubject, "config")};
  w->AddMessage(inbox, hidden);
  w->Close();
  std::remove(big_path.c_str());
  return expected;
}

}  // namespace salvora::pst::testing
