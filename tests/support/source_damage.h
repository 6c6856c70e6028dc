#pragma once
// Copies a source store and makes two of its objects unreadable, for tests of what the user is
// told about them: one message, and one folder that holds messages (and no folders).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// Writes a copy of source to dest in which the object of one attachment (a message's sub-node
// of the attachment type) is overwritten; returns the message that holds it.
Nid DamageOneAttachmentObject(const std::string& source, const std::string& dest);

// Damaged copies of source in dir, named from prefix: one with a message's checksum broken,
// one with a message and a folder unreadable, and one for each seed of the damage campaign.
// Returns their paths.
std::vector<std::string> DamagedCopies(const std::string& source, const std::string& dir, const std::string& prefix,
                                       std::uint32_t first_seed, std::uint32_t last_seed);

}  // namespace salvora::testing
