// salvora-cli synth: a synthetic mailbox written with the PST writer, for tests and benchmarks
// of both the writer and the reader. Everything in it, times included, follows from the seed:
// the same arguments give the same messages. With --dump it prints, in the canonical dump form,
// what it put in, so that a reader's dump of the file can be compared with it.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/json.h"
#include "format/filetime.h"
#include "format/prop_types.h"
#include "platform/sha256.h"
#include "pststore/pst/pst_writer.h"

namespace salvora::cli {

namespace {

using pst::Property;

const char* const kWords[][8] = {
    {"meeting", "report", "budget", "project", "review", "quarterly", "update", "schedule"},
    {"Besprechung", "Übersicht", "Größe", "Straße", "Prüfung", "Änderung", "schön", "für"},
    {"встреча", "отчёт", "бюджет", "проект", "обзор", "план", "письмо", "привет"},
    {"会議", "報告書", "予算", "プロジェクト", "確認", "予定", "こんにちは", "ありがとう"},
    {"会议", "报告", "预算", "项目", "审查", "计划", "你好", "谢谢"},
    {"اجتماع", "تقرير", "ميزانية", "مشروع", "مراجعة", "خطة", "مرحبا", "شكرا"},
    {"פגישה", "דוח", "תקציב", "פרויקט", "סקירה", "תוכנית", "שלום", "תודה"},
    {"συνάντηση", "έκθεση", "προϋπολογισμός", "έργο", "έλεγχος", "σχέδιο", "γεια", "ευχαριστώ"},
    {"बैठक", "रिपोर्ट", "बजट", "परियोजना", "समीक्षा", "योजना", "नमस्ते", "धन्यवाद"},
    {"🎉", "📎", "✅", "🚀", "😀", "🌍", "☕", "𝄞"},
};
constexpr std::uint64_t kBaseTime = 132223104000000000ull;  // 2020-01-01T00:00:00Z

// Attachment bytes made on the fly from a seed and hashed as the writer reads them.
class SyntheticSource : public pst::ByteSource {
 public:
  SyntheticSource(std::uint64_t seed, std::uint64_t size) : state_(seed | 1), left_(size), size_(size) {}
  std::uint64_t size() const { return size_; }
  std::size_t Read(std::span<std::uint8_t> buffer) override {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left_));
    for (std::size_t i = 0; i < n; ++i) {
      state_ ^= state_ << 13;
      state_ ^= state_ >> 7;
      state_ ^= state_ << 17;
      buffer[i] = static_cast<std::uint8_t>(state_ >> 24);
    }
    left_ -= n;
    sha_.Update(buffer.first(n));
    return n;
  }
  std::string hex() { return sha_.HexDigest(); }

 private:
  std::uint64_t state_;
  std::uint64_t left_;
  std::uint64_t size_;
  Sha256 sha_;
};

std::string Sha(const std::string& s) {
  return sha256_hex(Bytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

struct Synth {
  std::mt19937_64 rng;
  std::unique_ptr<pst::PstWriter> writer;
  bool keep_dump = false;
  std::vector<std::string> dump;  // only with --dump: it is printed sorted, after the last message

  std::uint64_t Pick(std::uint64_t n) { return rng() % n; }
  std::string Words(std::size_t count) {
    std::string out;
    const std::size_t script = Pick(std::size(kWords));
    for (std::size_t i = 0; i < count; ++i) {
      if (i) out += ' ';
      out += kWords[Pick(4) == 0 ? Pick(std::size(kWords)) : script][Pick(8)];
    }
    return out;
  }
  std::string Body(std::size_t words) {
    std::string out;
    for (std::size_t i = 0; i < words; i += 12) out += Words(std::min<std::size_t>(12, words - i)) + ".\r\n";
    return out;
  }
  std::uint64_t AttachmentSize() {
    const std::uint64_t r = Pick(100);
    if (r < 70) return 1 + Pick(20000);
    if (r < 95) return 20000 + Pick(1000000);
    return 1000000 + Pick(7000000);
  }
};

struct FolderInfo {
  pst::FolderId id;
  std::string path;  // below the IPM subtree
  const char* kind;  // message class written into it
};

void AddMessage(Synth& s, const FolderInfo& f, int attachments) {
  pst::MessageSpec m;
  const std::string cls = f.kind;
  const bool mail = cls == "IPM.Note";
  const std::string subject = s.Words(2 + s.Pick(5));
  const std::string body = s.Pick(10) == 0 ? s.Body(3000) : s.Body(20 + s.Pick(300));
  const std::uint64_t when = kBaseTime + s.Pick(4ull * 365 * 86400) * kFiletimeTicksPerSecond + s.Pick(1000) * 10000;
  m.props = {Property::String(kPidMessageClass, cls), Property::String(kPidSubject, subject),
             Property::String(kPidBody, body), Property::Time(kPidCreationTime, when),
             Property::Time(kPidLastModificationTime, when),
             Property::Int32(kPidMessageFlags, s.Pick(3) ? static_cast<std::int32_t>(kMsgFlagRead) : 0)};
  std::string html, sender, email, to, cc;
  if (mail) {
    sender = s.Words(2);
    email = "user" + std::to_string(s.Pick(1000)) + "@example.org";
    to = s.Words(2);
    cc = s.Pick(2) ? s.Words(2) : "";
    m.props.push_back(Property::String(kPidSenderName, sender));
    m.props.push_back(Property::String(kPidSenderEmailAddress, email));
    m.props.push_back(Property::Time(kPidClientSubmitTime, when));
    m.props.push_back(Property::Time(kPidMessageDeliveryTime, when + 30 * kFiletimeTicksPerSecond));
    m.recipients.push_back({{Property::Int32(kPidRecipientType, 1), Property::String(kPidDisplayName, to),
                             Property::String(kPidAddressType, "SMTP"), Property::String(kPidEmailAddress, "to@example.org")}});
    if (!cc.empty())
      m.recipients.push_back({{Property::Int32(kPidRecipientType, 2), Property::String(kPidDisplayName, cc),
                               Property::String(kPidAddressType, "SMTP"), Property::String(kPidEmailAddress, "cc@example.org")}});
    if (s.Pick(2)) {
      html = "<html><body><p>" + subject + "</p><pre>" + body + "</pre></body></html>";
      m.props.push_back(Property::Binary(kPidHtml, Bytes(reinterpret_cast<const std::uint8_t*>(html.data()), html.size())));
    }
  }
  std::vector<std::unique_ptr<SyntheticSource>> sources;
  std::vector<std::string> names;
  for (int i = 0; mail && i < attachments; ++i) {
    pst::AttachmentSpec a;
    names.push_back(s.Words(1 + s.Pick(2)) + "-" + std::to_string(i) + ".bin");
    a.props = {Property::String(kPidAttachLongFilename, names.back()), Property::String(kPidAttachMimeTag, "application/octet-stream")};
    sources.push_back(std::make_unique<SyntheticSource>(s.rng(), s.AttachmentSize()));
    a.source = sources.back().get();
    m.attachments.push_back(std::move(a));
  }
  s.writer->AddMessage(f.id, m);
  if (!s.keep_dump) return;

  JsonObject o;
  o.add("folder", "Top of Personal Folders/" + f.path).add("ipm_folder", f.path).add("class", cls).add("subject", subject);
  o.add("sender_name", sender).add("sender_email", email).add("to", to).add("cc", cc);
  if (mail) o.add("submit_time", *iso8601_text(when)).add("delivery_time", *iso8601_text(when + 30 * kFiletimeTicksPerSecond));
  else o.add_null("submit_time").add_null("delivery_time");
  o.add("body_len", static_cast<std::int64_t>(body.size())).add("body_sha256", Sha(body));
  o.add("html_len", static_cast<std::int64_t>(html.size()));
  if (html.empty()) o.add_null("html_sha256");
  else o.add("html_sha256", Sha(html));
  // Sorted by the UTF-8 bytes of each entry with its keys in name order, as the dumps sort.
  std::vector<std::pair<std::string, std::string>> entries;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string sha = sources[i]->hex();
    const auto size = static_cast<std::int64_t>(sources[i]->size());
    JsonObject e, key;
    e.add("filename", names[i]).add("method", std::int64_t{1}).add("size", size).add("sha256", sha);
    key.add("filename", names[i]).add("method", std::int64_t{1}).add("sha256", sha).add("size", size);
    entries.emplace_back(key.str(), e.str());
  }
  std::sort(entries.begin(), entries.end());
  std::string list = "[";
  for (std::size_t i = 0; i < entries.size(); ++i) list += (i ? "," : "") + entries[i].second;
  o.add_raw("attachments", list + "]");
  s.dump.push_back(o.str());
}

std::vector<FolderInfo> MakeFolders(Synth& s, int extra) {
  pst::PstWriter& w = *s.writer;
  std::vector<FolderInfo> folders = {
      {w.AddFolder(w.ipm_subtree(), "Inbox", "IPF.Note"), "Inbox", "IPM.Note"},
      {w.AddFolder(w.ipm_subtree(), "Sent Items", "IPF.Note"), "Sent Items", "IPM.Note"},
      {w.AddFolder(w.ipm_subtree(), "Contacts", "IPF.Contact"), "Contacts", "IPM.Contact"},
      {w.AddFolder(w.ipm_subtree(), "Calendar", "IPF.Appointment"), "Calendar", "IPM.Appointment"},
      {w.AddFolder(w.ipm_subtree(), "Tasks", "IPF.Task"), "Tasks", "IPM.Task"},
      {w.AddFolder(w.ipm_subtree(), "Notes", "IPF.StickyNote"), "Notes", "IPM.StickyNote"},
  };
  w.SetReceiveFolder(folders[0].id);
  std::map<std::string, int> used;
  for (int i = 0; i < extra; ++i) {
    const FolderInfo& parent = folders[s.Pick(3) == 0 ? 0 : s.Pick(folders.size())];
    if (std::string(parent.kind) != "IPM.Note") continue;
    std::string name = s.Words(1 + s.Pick(2));
    if (used[parent.path + "/" + name]++) name += " " + std::to_string(i);
    // A path component escapes "\" and "/" in the dumps; the words never contain them.
    folders.push_back({w.AddFolder(parent.id, name, "IPF.Note"), parent.path + "/" + name, "IPM.Note"});
  }
  return folders;
}

}  // namespace

int RunSynth(const ParsedCommand& args) {
  const std::string out = args.file();
  const long messages = static_cast<long>(args.number("messages").value_or(200));
  const long folders = static_cast<long>(args.number("folders").value_or(5));
  const long attachments = static_cast<long>(args.number("attachments-per-message").value_or(1));
  const auto seed = static_cast<std::uint64_t>(args.number("seed").value_or(1));
  const bool dump = args.flag("dump");
  const std::string client = args.value("client").value_or("pst");
  if (client != "pst" && client != "ost") {
    PrintError("--client: '%s' is neither pst nor ost", client.c_str());
    return kExitUsage;
  }
  const bool ost = client == "ost";
  Synth s{std::mt19937_64(seed), nullptr, dump, {}};
  pst::PstOptions options;
  options.display_name = "Synthetic mailbox " + std::to_string(seed);
  options.offline_client = ost;
  options.now = kBaseTime;
  options.random_seed = seed + 1;
  for (auto& b : options.record_key) b = static_cast<std::uint8_t>(s.rng());
  s.writer = pst::PstWriter::Create(out, options);
  const auto all = MakeFolders(s, static_cast<int>(folders));
  std::vector<const FolderInfo*> mail;
  for (const auto& f : all)
    if (std::string(f.kind) == "IPM.Note") mail.push_back(&f);
  for (long i = 0; i < messages; ++i) {
    // Mostly mail, some of every other kind.
    const std::uint64_t r = s.Pick(100);
    const FolderInfo& f = r < 70 ? *mail[s.Pick(mail.size())] : all[2 + r % 4];
    AddMessage(s, f, static_cast<int>(attachments));
  }
  s.writer->Close();
  if (dump) {
    std::sort(s.dump.begin(), s.dump.end());
    for (const auto& line : s.dump) std::printf("%s\n", line.c_str());
  }
  const auto st = s.writer->stats();
  std::fprintf(stderr, "%s: %llu messages, %llu folders, %.1f MB\n", out.c_str(), static_cast<unsigned long long>(st.messages),
               static_cast<unsigned long long>(st.folders), static_cast<double>(st.file_size) / 1e6);
  return kExitOk;
}

}  // namespace salvora::cli
