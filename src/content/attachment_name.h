#pragma once
// The name an attachment goes by, wherever it is named: in the target store, and in the lines
// that tell the user which attachment of an item could not be read or written.

#include <cstddef>
#include <string>

#include "content/item_record.h"

namespace salvora {

// The long file name, else the short one, else the attachment object's display name, else
// "Attachment N" (N counted from 1).
std::string attachment_display_name(const AttachmentNode& attachment, std::size_t number);

}  // namespace salvora
