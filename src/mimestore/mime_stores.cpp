#include "mimestore/mime_stores.h"

#include "mimestore/mime_message.h"
#include "mimestore/mime_writer.h"
#include "pststore/store_file.h"

namespace salvora::mime {

void register_mime_stores() {
  init_mime_library();
  store::register_store_writer(std::string(kMboxSuffix), [](const std::string& path) {
    return std::make_unique<MimeWriter>(path, MailLayout::kMbox);
  });
  store::register_store_writer(std::string(kEmlSuffix), [](const std::string& path) {
    return std::make_unique<MimeWriter>(path, MailLayout::kEml);
  });
}

}  // namespace salvora::mime
