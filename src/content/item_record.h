#pragma once
// ItemRecord: one decoded object of the store (a message of any class, a folder, the message
// store, or a message with its attachments) in the fields the program uses.
//
// A record is a value: every string is UTF-8 and owned, binary values are byte vectors, a
// sub-record exists only once a property for it was found, and an absent property is an empty
// optional. The engine creates an empty record and apply_properties fills it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "content/property_block.h"
#include "format/ids.h"

namespace salvora {

enum class ItemKind : std::int32_t {
  kNone = 0,  // no message or container class seen
  kMail = 1,
  kAppointment = 8,
  kContact = 9,
  kJournal = 10,
  kStickyNote = 11,
  kTask = 12,
  kOther = 13,
  kReport = 14,
};

struct SubjectFields {
  std::int32_t prefix_marker = 0;  // 0 for a plain subject, else the marker character (1)
  std::int32_t prefix_length = 0;  // the character after the marker; 0 for a plain subject
  std::string text;                // the subject without the marker characters
};

struct MessageFields {
  std::optional<std::uint64_t> delivery_time;        // 0x0E06, FILETIME
  std::optional<std::int32_t> message_flags;         // 0x0E07
  std::optional<std::string> text_a;                 // 0x6619
  std::optional<std::string> display_cc;             // 0x0E03
  std::optional<ByteVector> html_body;               // 0x1013: the bytes of a binary value,
                                                     // UTF-8 of a string-typed one
  std::optional<std::string> common_name;            // 0x3A0F
  std::optional<std::string> sender_name;            // 0x0042
  std::optional<std::string> sender_address;         // 0x0064 or 0x0065, the later wins
  std::optional<std::string> conversation_topic;     // 0x0070
  std::optional<std::string> reply_recipient_names;  // 0x0050
  std::optional<std::string> in_reply_to_id;         // 0x1042
  std::int32_t rtf_available = 0;                    // 1 once 0x1009 decompressed cleanly
  std::optional<std::string> received_by_address;    // 0x0075 or 0x0076, the later wins
  std::optional<ByteVector> named_text_1;            // first string-named property, raw
  std::optional<ByteVector> named_text_2;            // second string-named property, raw
  std::optional<std::string> plain_body;             // 0x1000
  std::optional<std::uint64_t> submit_time;          // 0x0039, FILETIME
  std::optional<std::string> display_to;             // 0x0E04
  std::optional<SubjectFields> subject;              // 0x0037
  std::optional<ByteVector> rtf_body;                // 0x1009 decompressed (the RTF text)
};

// A contact's fields; tags of 0x8000 and up are the numeric names the named-property map gives.
struct ContactFields {
  std::optional<std::string> company;                 // 0x3A16
  std::optional<std::string> generation;              // 0x3A05
  std::optional<std::string> email_address;           // 0x3003, 0x8048 or 0x8084, with an "@"
  std::optional<std::string> postal_address;          // 0x3A15
  std::optional<std::string> job_title;               // 0x3A17
  std::optional<std::string> file_under;              // 0x8005
  std::optional<std::string> customer_id;             // 0x3A4A
  std::optional<std::string> mobile_phone;            // 0x3A1C
  std::optional<std::string> hobbies;                 // 0x3A43
  std::optional<std::int16_t> gender;                 // 0x3A4D
  std::optional<std::string> surname;                 // 0x3A11
  std::optional<std::string> given_name;              // 0x3A06
  std::optional<std::string> middle_name;             // 0x3A44
  std::optional<std::string> home_phone;              // 0x3A09
  std::optional<std::string> business_phone;          // 0x3A08
  std::optional<std::string> business_fax;            // 0x3A24
  std::optional<std::string> home_fax;                // 0x3A25
  std::optional<std::string> language;                // 0x3A0C
  std::optional<std::string> office_location;         // 0x3A19
  std::optional<std::string> pager;                   // 0x3A21
  std::optional<std::string> isdn_number;             // 0x3A2D
  std::optional<std::string> assistant_phone;         // 0x3A2E
  std::optional<std::string> assistant;               // 0x3A30
  std::optional<std::string> profession;              // 0x3A46
  std::optional<std::string> spouse;                  // 0x3A48
  std::optional<std::string> company_main_phone;      // 0x3A57
  std::optional<std::string> home_city;               // 0x3A59
  std::optional<std::uint64_t> wedding_anniversary;   // 0x3A41, FILETIME
  std::optional<std::uint64_t> birthday;              // 0x3A42, FILETIME
  std::optional<std::string> manager;                 // 0x3A4E
  std::optional<std::string> nickname;                // 0x3A4F
  std::optional<std::string> personal_home_page;      // 0x3A50
  std::optional<std::string> business_home_page;      // 0x3A51
  std::optional<std::string> home_country;            // 0x3A5A
  std::optional<std::string> home_postal_code;        // 0x3A5B
  std::optional<std::string> home_state;              // 0x3A5C
  std::optional<std::string> home_street;             // 0x3A5D
  std::optional<std::string> other_city;              // 0x3A5F
  std::optional<std::string> other_country;           // 0x3A60
  std::optional<std::string> other_state;             // 0x3A62
  std::optional<std::string> other_street;            // 0x3A63
  std::optional<std::string> other_phone;             // 0x3A1F
  std::optional<std::string> other_address;           // 0x801C
  std::optional<std::string> other_postal_code;       // 0x3A61
  std::optional<std::string> callback_phone;          // 0x3A02
  std::optional<std::string> business_city;           // 0x3A27
  std::optional<std::string> business_country;        // 0x3A26
  std::optional<std::string> business_state;          // 0x3A28
  std::optional<std::string> business_street;         // 0x3A29
  std::optional<std::string> business_postal_code;    // 0x3A2A
  std::optional<std::string> business_address;        // 0x801B
  std::optional<std::string> car_phone;               // 0x3A1E
  std::optional<std::string> department;              // 0x3A18
  std::optional<std::string> account;                 // 0x3A00
  std::optional<std::string> home_phone_2;            // 0x3A2F
  std::optional<std::string> mileage;                 // 0x8534
  std::optional<std::string> telex;                   // 0x3A2C
  std::optional<std::string> radio_phone;             // 0x3A1D
  std::optional<std::string> business_phone_2;        // 0x3A1B
  std::optional<std::string> ttytdd_phone;            // 0x3A4B
  std::optional<std::string> government_id;           // 0x3A07
  std::optional<std::string> organizational_id;       // 0x3A10
  std::optional<std::string> text_80d8;               // 0x80D8
  std::optional<std::string> display_name_prefix;     // 0x3A45

  bool operator==(const ContactFields&) const = default;
};

struct FolderCounts {
  std::int32_t content_count = 0;   // 0x3602
  std::int32_t unread_count = 0;    // 0x3603
  std::uint8_t has_subfolders = 0;  // 1 when 0x360A is non-zero
};

struct StoreFields {
  std::optional<ByteVector> wastebasket_entry_id;  // 0x35E3
  std::optional<ByteVector> finder_entry_id;       // 0x35E7
  std::optional<ByteVector> ipm_subtree_entry_id;  // 0x35E0
  std::array<std::uint8_t, 24> value_7c07{};       // 0x7C07, zero-filled when shorter
  std::uint32_t valid_folder_mask = 0;             // 0x35DF
};

struct JournalFields {
  std::optional<std::string> entry_type;  // 0x8700 or 0x8712, the later wins
};

struct AppointmentFields {
  std::optional<std::uint64_t> end;        // 0x8236, FILETIME
  std::optional<std::string> location;     // 0x8208
  std::optional<std::uint64_t> start;      // 0x8235, FILETIME
};

struct AttachmentNode {
  std::optional<std::string> file_name;       // 0x3704
  std::optional<std::string> long_file_name;  // 0x3707
  std::optional<ByteVector> data;             // 0x3701 when its value could be read
  std::int32_t data_size = 0;                 // bytes in data
  // 0x67F2, the NID of the attachment object's sub-node; replaced by the sub-node that holds
  // 0x3701 when that value could not be read, so that it can be streamed later.
  std::uint32_t subnode_id = 0;
  std::uint32_t data_block_id = 0;            // set by the engine after decoding the object
  Bid data_bid;                               // the same block id at full width, for streaming
  std::optional<std::int32_t> method;         // 0x3705 PR_ATTACH_METHOD
  std::uint32_t object_nid = 0;               // 0x3701 as PT_OBJECT: the embedded object's NID
  std::optional<std::string> display_name;    // 0x3001 of the attachment object
  std::optional<std::string> mime_tag;        // 0x370E of the attachment object
  std::optional<std::string> content_id;      // 0x3712: how an HTML body names the attachment
  // The attachment's own object is missing or could not be read: only its table row's
  // properties are known, so whatever is written of it is partial and must be named.
  bool object_unreadable = false;
};

struct ItemRecord {
  std::optional<MessageFields> message;
  std::optional<FolderCounts> folder_counts;
  std::optional<ContactFields> contact;
  std::vector<AttachmentNode> attachments;
  // The attachment node that attachment properties go to while a list is applied.
  std::size_t attachment_cursor = 0;
  std::optional<StoreFields> store;
  std::optional<JournalFields> journal;
  std::optional<AppointmentFields> appointment;
  ItemKind kind = ItemKind::kNone;
  std::optional<std::string> item_class;    // 0x001A or 0x3613
  std::optional<std::string> display_name;  // 0x3001
  std::optional<ByteVector> record_key;     // 0x0FF9
  // The code page the object's 8-bit strings were read with (0x3FFD, else the default); kept
  // so that the attachment table and objects applied later read with the message's.
  std::uint32_t codepage = 0;
};

// Frees everything the record holds and leaves it empty. Returns 0 (null is accepted).
int release_item(ItemRecord* record);

}  // namespace salvora
