#include "pststore/store_servers.h"

#include <memory>

#include "automation/member_ids.h"
#include "automation/object_factory.h"
#include "pststore/application_server.h"
#include "pststore/mail_import_server.h"
#include "pststore/store_file.h"

namespace salvora::store {

void register_store_servers() {
  register_server(kOutlookApplication, [] { return std::make_shared<ApplicationServer>(); });
  register_server(kSafeMailItem, [] { return std::make_shared<MailImportServer>(); });
}

void shutdown_store_servers() { close_store_files(); }

}  // namespace salvora::store
