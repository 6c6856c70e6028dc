#pragma once
// Registers the store server with the object factory of the process, under the names the save
// pass creates its servers by: "Outlook.Application" (ApplicationServer) and
// "Redemption.SafeMailItem" (MailImportServer). A program calls this once at start-up, before
// its first save; calling it again is harmless.

namespace salvora::store {

void register_store_servers();

// Commits and closes every store the servers opened, for a program's orderly end (the end of
// the process does the same for stores left open).
void shutdown_store_servers();

}  // namespace salvora::store
