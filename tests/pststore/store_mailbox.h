#pragma once
// One mailbox written through the store server with the save pass's call sequences: every
// item kind, a mail through the template, import and attachments road, folders at two levels.
// The values below are what the tests expect to read back.

#include <cstdint>
#include <string>
#include <vector>

namespace salvora::store::testing {

struct StandardValues {
  std::string display_name = "Salvora_Tools_Personal_Folder7-12-2026 21-5";
  std::uint64_t submit = 0, delivery = 0;            // mail 1
  std::uint64_t start = 0, end = 0, completed = 0;  // appointment, task
  std::string html = "<html><body><p>Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x94 report</p></body></html>";
  std::vector<std::uint8_t> small_file, big_file;  // report.txt, big.bin
};

// Writes the mailbox into a new store at path and releases every server (which commits it).
StandardValues WriteStandardMailbox(const std::string& path);

}  // namespace salvora::store::testing
