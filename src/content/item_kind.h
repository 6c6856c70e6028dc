#pragma once
// The kind of an item from its message class (0x001A) or a folder's container class (0x3613).

#include <string_view>

#include "content/item_record.h"

namespace salvora {

// Message classes compare without regard to case, and a class that is a prefix of a listed
// class (the empty class included) agrees with it: "IPM.Note", "ipm.note.smime" and "" are
// mail, "IPM.Contac" is a contact, "IPM.Task" is other.
ItemKind kind_for_message_class(std::string_view message_class);

// Container classes compare with case over a fixed length: "IPF.Note.OutlookHomepage" is a
// mail folder, "IPF.Task" a task folder, anything unlisted other.
ItemKind kind_for_container_class(std::string_view container_class);

}  // namespace salvora
