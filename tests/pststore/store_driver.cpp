#include "pststore/store_driver.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "automation/byte_stream.h"
#include "automation/member_ids.h"
#include "automation/object_factory.h"
#include "pststore/sample_mailbox.h"
#include "pststore/store_servers.h"

namespace salvora::store::testing {

namespace {

using K = InvokeKind;

DispatchPtr object_of(const Variant& v) {
  auto d = v.dispatch_value();
  if (!d) throw std::runtime_error("the call returned no object");
  return d;
}

}  // namespace

std::uint64_t filetime_of(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  const std::int64_t unix_secs = timegm(&tm);
  return static_cast<std::uint64_t>(unix_secs + 11644473600LL) * 10000000ull;
}

std::string header_time(std::uint64_t filetime) {
  const std::time_t t = static_cast<std::time_t>(filetime / 10000000ull) - 11644473600LL;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  // The asctime layout: the day padded with a blank.
  std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y", &tm);
  return buf;
}

SaveDriver::SaveDriver(const std::string& path, const std::string& display_name) {
  register_store_servers();
  app = create_object(kOutlookApplication);
  ns = object_of(invoke(app, dispid::kGetNamespace, K::kMethod, {"MAPI"}));
  invoke(ns, dispid::kLogon, K::kMethod, {Variant(), Variant(), Variant(), Variant()});
  version = *get(app, dispid::kVersion).string_value();
  invoke(ns, dispid::kAddStore, K::kMethod, {path});
  const DispatchPtr ns_folders = object_of(get(ns, dispid::kFolders));
  root = object_of(invoke(ns_folders, dispid::kGetLast, K::kMethod));
  put(root, dispid::kName, display_name);
  put(root, dispid::kDescription, display_name);
  root_folders = object_of(get(root, dispid::kFolders));
  safe = create_object(kSafeMailItem);
  temp_dir = std::filesystem::path(pst::testing::TempPath("driver")).parent_path().string() + "/";
}

DispatchPtr SaveDriver::Folder(const std::vector<std::pair<std::string, std::string>>& path) {
  for (;;) {
    DispatchPtr collection = root_folders;
    DispatchPtr found;
    bool created = false;
    for (const auto& [name, folder_class] : path) {
      const std::int32_t n = *get(collection, dispid::kCount).int32_value();
      found.reset();
      for (std::int32_t i = 1; i <= n && !found; ++i) {
        DispatchPtr f = object_of(invoke(collection, dispid::kItem, K::kMethod, {i}));
        if (*get(f, dispid::kName).string_value() == name) found = f;
      }
      if (!found) {
        DispatchPtr added = object_of(invoke(collection, dispid::kAddFolder, K::kMethod, {name, folder_class}));
        // The save pass takes the folder just added as the collection's last item.
        DispatchPtr last = object_of(invoke(collection, dispid::kItem, K::kMethod, {n + 1}));
        EXPECT_EQ(*get(last, dispid::kName).string_value(), name);
        EXPECT_EQ(*get(added, dispid::kName).string_value(), name);
        created = true;
        break;
      }
      collection = object_of(get(found, dispid::kFolders));
    }
    if (!created) return found;
  }
}

DispatchPtr SaveDriver::CreateItem(std::int32_t type) {
  return object_of(invoke(app, dispid::kCreateItem, K::kMethod, {type}));
}

void SaveDriver::SaveAndMove(const DispatchPtr& item, const DispatchPtr& folder) {
  invoke(item, dispid::kSave, K::kMethod);
  invoke(item, dispid::kMove, K::kMethod, {folder});
}

void SaveDriver::BuildTemplate() {
  template_ = CreateItem(kItemNote);
  invoke(template_, dispid::kSave, K::kMethod);
  const std::string entry_id = *get(template_, dispid::kEntryID).string_value();
  template_ = object_of(invoke(ns, dispid::kGetItemFromID, K::kMethod, {entry_id, Variant()}));
  put(template_, dispid::kMessageClass, "IPM.Note");
  DispatchPtr current = object_of(invoke(template_, dispid::kCopy, K::kMethod));
  put(safe, dispid::kSafeItem, current);
}

std::string SaveDriver::MailHeader(const MailInput& m) {
  std::string from = m.sender_name;
  if (!m.sender_address.empty()) {
    if (m.sender_address.find('@') != std::string::npos) from = m.sender_name + "<" + m.sender_address + ">";
    else if (!m.sender_name.empty()) from = "<" + m.sender_name + ">";
  }
  std::string to = m.display_to;
  if (!m.received_by.empty()) to += "<" + m.received_by + ">";
  std::string h = "From:" + (from.empty() ? std::string("UnKnown") : from) + "\r\n";
  h += "To:" + (to.empty() ? std::string("UnKnown") : to) + "\r\n";
  if (m.submit || m.delivery) {
    const std::uint64_t submit = m.submit ? *m.submit : *m.delivery;
    const std::uint64_t delivery = m.delivery ? *m.delivery : *m.submit;
    h += "Date: " + header_time(submit) + "\r\n";
    h += "Received: " + header_time(delivery) + "\r\n";
    h += "Delivery-date: " + header_time(delivery) + "\r\n";
  }
  return h;
}

DispatchPtr SaveDriver::WriteMail(const MailInput& m, const DispatchPtr& folder) {
  const std::string eml = temp_dir + "Temp.eml";
  {
    std::ofstream out(eml, std::ios::binary | std::ios::trunc);
    out << MailHeader(m);
  }
  if (version.rfind("9", 0) != 0 && mail_counter_ % 800 == 0) {
    ++mail_counter_;
    BuildTemplate();
  }
  ++mail_counter_;
  DispatchPtr current = object_of(invoke(template_, dispid::kCopy, K::kMethod));
  put(safe, dispid::kSafeItem, current);
  if (m.streams) {
    invoke(safe, dispid::kImport, K::kMethod, {DispatchPtr(std::make_shared<MemoryStream>(MailHeader(m))), kImportRfc822});
  } else {
    invoke(safe, dispid::kImport, K::kMethod, {eml, kImportRfc822});
  }
  put(current, dispid::kSubject, m.subject);
  if (m.html) put(current, dispid::kHTMLBody, *m.html);
  else if (m.body) put(current, dispid::kBody, *m.body);
  invoke(safe, dispid::kSafeFields, K::kPut, {kIconIndexTag, Variant()});
  put(current, dispid::kUnRead, true);
  if (!m.display_cc.empty()) put(current, dispid::kCC, m.display_cc);
  if (!m.display_to.empty()) put(current, dispid::kTo, m.display_to);
  const DispatchPtr attachments = object_of(get(current, dispid::kAttachments));
  for (const auto& [name, bytes] : m.files) {
    if (m.streams) {
      const DispatchPtr stream = std::make_shared<MemoryStream>(std::string(bytes.begin(), bytes.end()));
      invoke(attachments, dispid::kAddAttachment, K::kMethod, {stream, Variant::Missing(), Variant::Missing(), name});
      continue;
    }
    const std::string path = temp_dir + name;
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    invoke(attachments, dispid::kAddAttachment, K::kMethod, {path, Variant::Missing(), Variant::Missing(), Variant::Missing()});
    std::filesystem::remove(path);  // the writer deletes its file right after adding it
  }
  if (m.embedded) {
    invoke(attachments, dispid::kAddAttachment, K::kMethod,
           {m.embedded, kAttachEmbeddedItem, Variant::Missing(), m.embedded_name});
  }
  invoke(current, dispid::kSave, K::kMethod);
  invoke(current, dispid::kMove, K::kMethod, {folder});
  return current;
}

}  // namespace salvora::store::testing
