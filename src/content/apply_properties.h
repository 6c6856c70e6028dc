#pragma once
// apply_properties: copies the properties the program knows from decoded blocks into an
// ItemRecord, converting text to UTF-8 and deciding the item's kind from its class.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "content/item_record.h"
#include "content/property_block.h"
#include "ndb/ost_context.h"

namespace salvora {

struct ApplyOptions {
  // 8-bit strings of a version 14/15 file: values of types other than PT_UNICODE and
  // PT_STRING8 are read as the file's own string form.
  bool ansi_file = false;
  // For 8-bit strings of objects without PR_MESSAGE_CODEPAGE.
  std::uint32_t default_codepage = 1252;
  // When set, a PR_RTF_COMPRESSED body is also written to this file.
  std::optional<std::string> rtf_path;
  // Whether the plain body and the compressed RTF become text (plain_body, rtf_body). A caller
  // that copies the stored values as they are and never shows them leaves them as stored.
  bool body_text = true;
  // The blocks are an attachment object's: its display name belongs to the attachment node at
  // the cursor, not to the message it is applied to.
  bool attachment_object = false;
};

ApplyOptions apply_options_for(const OstContext& context);

// Applies the blocks in order. Attachment properties go to record->attachments, starting at
// record->attachment_cursor for the first block; each later block that carries attachment
// properties moves to the next node. Returns 0, or -1 for a null record.
int apply_properties(const std::vector<PropertyBlock>& blocks, ItemRecord* record,
                     const ApplyOptions& options);

// The subject rule: only a first character U+0001 marks a prefix (marker, prefix length, text).
// Anything else, accented or CJK first letters included, is plain text.
SubjectFields parse_subject(const PropertyEntry& entry, std::uint32_t codepage, bool ansi_file);

}  // namespace salvora
