// salvora-cli synth: a synthetic mailbox written with the PST writer, for tests and benchmarks
// of both the writer and the reader. Everything in it, times included, follows from the seed:
// the same arguments give the same messages. With --dump it prints, in the canonical dump form,
// what it put in, so that a reader's dump of the file can be compared with it.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/json.h"
#include "format/crc.h"
#include "format/filetime.h"
#include "format/prop_types.h"
#include "platform/sha256.h"
#include "pststore/item_properties.h"
#include "pststore/pst/pst_writer.h"
#include "cli/synth_items.h"
#include "content/compressed_rtf.h"

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

// Tags the mix uses that the format layer does not name.
constexpr std::uint16_t kPidRtfInSync = 0x0E1F;
constexpr std::uint16_t kPidInternetMessageId = 0x1035;
constexpr std::uint16_t kPidAttachFlags = 0x3714;
constexpr std::uint16_t kPidAttachmentHidden = 0x7FFE;
constexpr std::int32_t kAttachFlagRenderedInBody = 0x4;
constexpr std::uint32_t kLidAppointmentRecur = 0x8216;

// Attachment bytes made on the fly from a seed and hashed as the writer reads them: noise, as
// pictures and archives are, or text, which compresses as documents do.
class SyntheticSource : public pst::ByteSource {
 public:
  SyntheticSource(std::uint64_t seed, std::uint64_t size, bool text)
      : state_(seed | 1), left_(size), size_(size), text_(text) {}
  std::uint64_t size() const { return size_; }
  std::size_t Read(std::span<std::uint8_t> buffer) override {
    static constexpr char kText[] = "etaoin shrdlu,.\r\n";
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left_));
    for (std::size_t i = 0; i < n; ++i) {
      state_ ^= state_ << 13;
      state_ ^= state_ >> 7;
      state_ ^= state_ << 17;
      buffer[i] = text_ ? static_cast<std::uint8_t>(kText[(state_ >> 24) % (sizeof kText - 1)])
                        : static_cast<std::uint8_t>(state_ >> 24);
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
  bool text_;
  Sha256 sha_;
};

std::string Sha(const std::string& s) {
  return sha256_hex(Bytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}
Bytes AsBytes(const std::string& s) { return Bytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }

// Ids of the named properties appointments carry, registered once per file.
struct AppointmentNames {
  std::uint16_t start = 0, end = 0, location = 0, recurring = 0, recurrence = 0;
};

struct Synth {
  std::mt19937_64 rng;
  std::unique_ptr<pst::PstWriter> writer;
  bool keep_dump = false;
  std::vector<std::string> dump;  // only with --dump: it is printed sorted, after the last message
  AppointmentNames appointment;

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
  std::string Address() { return "user" + std::to_string(Pick(1000)) + "@example.org"; }
  // A long tail, as in real mailboxes: a Pareto law with a 1.5 KB floor, so that half the
  // attachments are under 3 KB, one in a hundred over 100 KB and a few over a megabyte.
  std::uint64_t AttachmentSize() {
    const double u = static_cast<double>(Pick(1u << 30) + 1) / static_cast<double>(1u << 30);
    const double size = 1500.0 / std::pow(u, 1.0 / 1.1);
    return static_cast<std::uint64_t>(std::min(size, 24e6));
  }
};

struct FolderInfo {
  pst::FolderId id;
  std::string path;  // below the IPM subtree
  const char* kind;  // message class written into it
};

// One attachment as the dumps print it: the sort key (keys in name order) and the entry.
std::pair<std::string, std::string> DumpedAttachment(const std::string& name, std::int64_t method,
                                                     std::optional<std::int64_t> size, const std::string& sha) {
  JsonObject e, key;
  e.add("filename", name).add("method", method);
  key.add("filename", name).add("method", method);
  if (size) {
    e.add("size", *size).add("sha256", sha);
    key.add("sha256", sha).add("size", *size);
  } else {
    e.add_null("size").add_null("sha256");
    key.add_null("sha256").add_null("size");
  }
  return {key.str(), e.str()};
}

// A message that travels inside another as an attachment.
std::shared_ptr<pst::MessageSpec> EmbeddedMessage(Synth& s, const std::string& subject) {
  auto m = std::make_shared<pst::MessageSpec>();
  m->props = {Property::String(kPidMessageClass, "IPM.Note"), Property::String(kPidSubject, subject),
              Property::String(kPidBody, s.Body(10 + s.Pick(60))), Property::String(kPidSenderName, s.Words(2)),
              Property::String(kPidSenderEmailAddress, s.Address())};
  m->recipients.push_back({{Property::Int32(kPidRecipientType, 1), Property::String(kPidDisplayName, s.Words(2)),
                            Property::String(kPidAddressType, "SMTP"), Property::String(kPidEmailAddress, s.Address())}});
  return m;
}

void AddAppointmentProps(Synth& s, pst::MessageSpec& m, std::uint64_t when) {
  const AppointmentNames& n = s.appointment;
  const std::uint32_t minutes = 30 * static_cast<std::uint32_t>(1 + s.Pick(4));
  const std::uint64_t end = when + minutes * 60ull * kFiletimeTicksPerSecond;
  m.props.push_back(Property::Time(n.start, when));
  m.props.push_back(Property::Time(n.end, end));
  m.props.push_back(Property::String(n.location, s.Words(1)));
  const bool recurring = s.Pick(10) < 3;
  m.props.push_back(Property::Bool(n.recurring, recurring));
  if (!recurring) return;
  WeeklySeries series;
  series.start = when;
  series.duration_minutes = minutes;
  series.days = 1u << (1 + s.Pick(5));
  series.period_weeks = static_cast<std::uint32_t>(1 + s.Pick(2));
  series.occurrences = static_cast<std::uint32_t>(2 + s.Pick(20));
  m.props.push_back(Property::Binary(n.recurrence, appointment_recurrence(series)));
}

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
  if (cls == "IPM.Appointment") AddAppointmentProps(s, m, when);
  std::string html, sender, email, to, cc;
  std::vector<std::unique_ptr<SyntheticSource>> sources;
  std::vector<std::pair<std::string, std::string>> entries;  // as dumped
  if (mail) {
    sender = s.Words(2);
    email = s.Address();
    m.props.push_back(Property::String(kPidSenderName, sender));
    m.props.push_back(Property::String(kPidSenderEmailAddress, email));
    m.props.push_back(Property::Time(kPidClientSubmitTime, when));
    m.props.push_back(Property::Time(kPidMessageDeliveryTime, when + 30 * kFiletimeTicksPerSecond));
    std::string first_to;
    for (std::int32_t type : {1, 2}) {
      std::string& list = type == 1 ? to : cc;
      const std::uint64_t count = type == 1 ? 1 + s.Pick(3) : (s.Pick(2) ? s.Pick(3) : 0);
      for (std::uint64_t i = 0; i < count; ++i) {
        const std::string name = s.Words(2), address = s.Address();
        if (first_to.empty()) first_to = address;
        list += (list.empty() ? "" : "; ") + name;
        m.recipients.push_back({{Property::Int32(kPidRecipientType, type), Property::String(kPidDisplayName, name),
                                 Property::String(kPidAddressType, "SMTP"), Property::String(kPidEmailAddress, address),
                                 Property::String(kPidSmtpAddress, address)}});
      }
    }
    const std::string message_id = std::to_string(s.rng()) + "@example.org";
    m.props.push_back(Property::String(kPidInternetMessageId, "<" + message_id + ">"));
    if (f.path != "Sent Items")
      m.props.push_back(Property::String(kPidTransportMessageHeaders, internet_headers(email, first_to, subject, when, message_id)));
    // Bodies as mail clients store them: plain text alone, HTML (some with a picture shown
    // inline), or RTF beside the text.
    const std::uint64_t kind = s.Pick(10);
    if (kind >= 7) {
      m.props.push_back(Property::Binary(kPidRtfCompressed, compress_rtf(AsBytes(rtf_document(body)))));
      m.props.push_back(Property::Bool(kPidRtfInSync, true));
    } else if (kind >= 3) {
      const bool picture = s.Pick(2) == 0;
      const std::string cid = "image001.png@" + std::to_string(s.rng() % 100000000);
      html = "<html><body><p>" + subject + "</p><pre>" + body + "</pre>" +
             (picture ? "<img src=\"cid:" + cid + "\">" : "") + "</body></html>";
      m.props.push_back(Property::Binary(kPidHtml, AsBytes(html)));
      if (picture) {
        pst::AttachmentSpec a;
        a.data = inline_picture();
        a.props = {Property::String(kPidAttachLongFilename, "image001.png"), Property::String(kPidAttachMimeTag, "image/png"),
                   Property::String(kPidAttachContentId, cid), Property::Int32(kPidAttachFlags, kAttachFlagRenderedInBody),
                   Property::Bool(kPidAttachmentHidden, true)};
        entries.push_back(DumpedAttachment("image001.png", 1, static_cast<std::int64_t>(a.data.size()),
                                           sha256_hex(a.data)));
        m.attachments.push_back(std::move(a));
      }
    }
  }
  for (int i = 0; mail && i < attachments; ++i) {
    pst::AttachmentSpec a;
    const bool text = s.Pick(10) < 3;
    const std::string name = s.Words(1 + s.Pick(2)) + "-" + std::to_string(i) + (text ? ".txt" : ".bin");
    a.props = {Property::String(kPidAttachLongFilename, name),
               Property::String(kPidAttachMimeTag, text ? "text/plain" : "application/octet-stream")};
    const std::uint64_t size = s.AttachmentSize();
    sources.push_back(std::make_unique<SyntheticSource>(s.rng(), size, text));
    a.source = sources.back().get();
    m.attachments.push_back(std::move(a));
  }
  std::string embedded_subject;
  if (mail && s.Pick(10) == 0) {
    embedded_subject = s.Words(2 + s.Pick(3));
    pst::AttachmentSpec a;
    a.props = {Property::String(kPidDisplayName, embedded_subject)};
    a.embedded = EmbeddedMessage(s, embedded_subject);
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
  std::size_t source = 0;
  for (const auto& a : m.attachments) {
    if (!a.source) continue;
    const std::string name = pst::find_prop(a.props, kPidAttachLongFilename)->AsString();
    entries.push_back(DumpedAttachment(name, 1, static_cast<std::int64_t>(sources[source]->size()), sources[source]->hex()));
    ++source;
  }
  if (!embedded_subject.empty()) entries.push_back(DumpedAttachment(embedded_subject, 5, std::nullopt, ""));
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

// A distribution list in Contacts whose members are two contacts of a folder made after it (a
// walk of the folders meets the list first) and an address of its own, and a mail in the Inbox
// that names Sent Items as the folder its sent copy goes to: links a copy must carry over.
void AddLinkedItems(Synth& s, const std::vector<FolderInfo>& folders, const std::array<std::uint8_t, 16>& key) {
  constexpr std::uint16_t kPidSentMailEntryId = 0x0E0A;
  constexpr std::uint32_t kLidListName = 0x8053, kLidOneOffMembers = 0x8054, kLidMembers = 0x8055,
                          kLidChecksum = 0x804C;
  pst::PstWriter& w = *s.writer;
  const auto address_name = [&](std::uint32_t lid) { return w.RegisterName(store::named(kPsetidAddress, lid)); };
  const pst::FolderId club = w.AddFolder(w.ipm_subtree(), "Club", "IPF.Contact");
  std::vector<std::vector<std::uint8_t>> members, addresses;
  for (const char* name : {"Member one", "Member two"}) {
    const std::string address = s.Address();
    pst::MessageSpec contact;
    contact.props = {Property::String(kPidMessageClass, "IPM.Contact"), Property::String(kPidSubject, name),
                     Property::String(kPidDisplayName, name)};
    const std::uint32_t nid = w.AddMessage(club, contact);
    members.push_back(wrapped_entry_id(pst::make_entry_id(key, nid)));
    addresses.push_back(one_off_entry_id(name, address));
  }
  addresses.push_back(one_off_entry_id("Outsider", "outsider@example.org"));
  members.push_back(addresses.back());
  std::vector<std::uint8_t> all;
  for (const auto& m : members) all.insert(all.end(), m.begin(), m.end());
  pst::MessageSpec list;
  list.props = {Property::String(kPidMessageClass, "IPM.DistList"), Property::String(kPidSubject, "Linked list"),
                Property::String(address_name(kLidListName), "Linked list"),
                Property::MultiBinary(address_name(kLidMembers), members),
                Property::MultiBinary(address_name(kLidOneOffMembers), addresses),
                Property::Int32(address_name(kLidChecksum), static_cast<std::int32_t>(ComputeCrc(all)))};
  w.AddMessage(folders[2].id, list);
  pst::MessageSpec mail;
  mail.props = {Property::String(kPidMessageClass, "IPM.Note"), Property::String(kPidSubject, "Sent copy linked"),
                Property::Binary(kPidSentMailEntryId, pst::make_entry_id(key, folders[1].id))};
  w.AddMessage(folders[0].id, mail);
}

}  // namespace

int RunSynth(const ParsedCommand& args) {
  const std::string out = args.file();
  const long messages = static_cast<long>(args.number("messages").value_or(200));
  const long folders = static_cast<long>(args.number("folders").value_or(5));
  const long attachments = static_cast<long>(args.number("attachments-per-message").value_or(1));
  const auto seed = static_cast<std::uint64_t>(args.number("seed").value_or(1));
  const bool dump = args.flag("dump");
  const bool links = args.flag("links");
  if (links && dump) {
    PrintError("--links: the linked items are not in the dump; use one of --links and --dump");
    return kExitUsage;
  }
  const std::string client = args.value("client").value_or("pst");
  if (client != "pst" && client != "ost") {
    PrintError("--client: '%s' is neither pst nor ost", client.c_str());
    return kExitUsage;
  }
  const bool ost = client == "ost";
  const std::int64_t format = args.number("format").value_or(23);
  if (format != 23 && format != 36) {
    PrintError("--format: %lld is not a format synth writes; use 23 (512-byte pages) or 36 (4 KB pages)",
               static_cast<long long>(format));
    return kExitUsage;
  }
  Synth s{std::mt19937_64(seed), nullptr, dump, {}, {}};
  pst::PstOptions options;
  if (format == 36) {
    options.layout = FileLayout::kUnicode4k;
    // As in the offline stores of this layout: blocks are compressed, not encoded.
    options.crypt = CryptMethod::kNone;
  }
  options.display_name = "Synthetic mailbox " + std::to_string(seed);
  options.offline_client = ost;
  options.now = kBaseTime;
  options.random_seed = seed + 1;
  for (auto& b : options.record_key) b = static_cast<std::uint8_t>(s.rng());
  s.writer = pst::PstWriter::Create(out, options);
  const auto appointment_name = [&](std::uint32_t lid) { return s.writer->RegisterName(store::named(kPsetidAppointment, lid)); };
  s.appointment = {appointment_name(store::lid::kAppointmentStartWhole), appointment_name(store::lid::kAppointmentEndWhole),
                   appointment_name(store::lid::kLocation), appointment_name(store::lid::kRecurring),
                   appointment_name(kLidAppointmentRecur)};
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
  if (links) AddLinkedItems(s, all, options.record_key);
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
