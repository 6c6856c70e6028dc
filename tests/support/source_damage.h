#pragma once
// Copies a source store and makes two of its objects unreadable, for tests of what the user is
// told about them: one message, and one folder that holds messages (and no folders).

#include <cstddef>
#include <string>

#include "format/ids.h"

namespace salvora::testing {

struct DamagedSource {
  Nid message;               // its object's data is overwritten
  Nid folder;                // likewise; its messages can no longer be reached
  std::size_t folder_items = 0;
};

// Writes the damaged copy of source to dest; fails the calling test when the source has no
// such message and folder.
DamagedSource DamageMessageAndFolder(const std::string& source, const std::string& dest);

// Writes a copy of source to dest in which one message's data block keeps its bytes but its
// trailer's checksum is wrong; returns that message.
Nid BreakChecksumOfOneMessage(const std::string& source, const std::string& dest);

}  // namespace salvora::testing
