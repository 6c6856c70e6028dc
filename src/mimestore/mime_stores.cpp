#include "mimestore/mime_stores.h"

#include <cerrno>
#include <filesystem>

#include "mimestore/fan_out_writer.h"
#include "mimestore/mime_message.h"
#include "mimestore/mime_writer.h"
#include "platform/file_exception.h"
#include "pststore/store_file.h"

namespace salvora::mime {

std::vector<std::string> form_paths(const std::string& store_path) {
  if (!store_path.ends_with(kAllSuffix)) return {store_path};
  const std::string base = store_path.substr(0, store_path.size() - kAllSuffix.size());
  return {base + ".pst", base + std::string(kMboxSuffix), base + std::string(kEmlSuffix)};
}

void register_mime_stores() {
  init_mime_library();
  store::register_store_writer(std::string(kMboxSuffix), [](const std::string& path, const store::RecordKey&) {
    return std::make_unique<MimeWriter>(path, MailLayout::kMbox);
  });
  store::register_store_writer(std::string(kEmlSuffix), [](const std::string& path, const store::RecordKey&) {
    return std::make_unique<MimeWriter>(path, MailLayout::kEml);
  });
  store::register_store_writer(std::string(kAllSuffix), [](const std::string& path, const store::RecordKey& key) {
    // All the forms are new, or the name is taken: a second run never adds its mail files to
    // an earlier run's beside a PST of its own.
    const std::vector<std::string> paths = form_paths(path);
    for (const auto& form : paths) {
      std::error_code ec;
      if (std::filesystem::symlink_status(form, ec).type() != std::filesystem::file_type::not_found)
        throw CFileException::FromErrno(EEXIST, form);
    }
    std::vector<std::unique_ptr<pst::StoreWriter>> forms;
    for (const auto& form : paths) forms.push_back(store::make_store_writer(form, key));
    return std::make_unique<FanOutWriter>(std::move(forms));
  });
}

}  // namespace salvora::mime
