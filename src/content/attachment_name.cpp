#include "content/attachment_name.h"

namespace salvora {

std::string attachment_display_name(const AttachmentNode& a, std::size_t number) {
  for (const auto* name : {&a.long_file_name, &a.file_name, &a.display_name}) {
    if (*name && !(*name)->empty()) return **name;
  }
  return "Attachment " + std::to_string(number);
}

}  // namespace salvora
