#pragma once
// The name an attachment keeps in the target store. Any name is kept as it is (characters
// beyond ASCII, names a file system would refuse, device names): the bytes travel through a
// temporary file of our own naming, and the name goes to the store as the attachment's name.

#include <cstddef>
#include <string>

#include "content/item_record.h"

namespace salvora {

// The long file name, else the short one, else the attachment object's display name, else
// "Attachment N" (N counted from 1).
std::string attachment_display_name(const AttachmentNode& attachment, std::size_t number);

}  // namespace salvora
