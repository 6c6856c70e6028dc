#pragma once
// How a member put on an item becomes a MAPI property: the item kinds, the named-property sets
// Outlook keeps its item fields in, and the property ids the store server fills in itself.
//
// A member number below 0x8000 is a property id of its own; 0x8000 and above is the LID of a
// named property, whose set follows from the LID's range the way Outlook allocates them
// (0x80xx contact, 0x81xx task, 0x82xx appointment, 0x85xx common to all items).

#include <cstdint>
#include <optional>
#include <string_view>

#include "automation/dispatch.h"
#include "pststore/pst/name_map.h"

namespace salvora::store {

enum class ItemKind { kMail, kAppointment, kContact, kTask, kJournal, kNote };

// The kind of an item type of CreateItem (0 mail, 1 appointment, 2 contact, 3 task, 4 journal,
// 5 note); empty for any other number.
std::optional<ItemKind> item_kind_of_type(std::int32_t type);
// The message class a new item of this kind carries.
std::string_view message_class_of(ItemKind kind);
// The kind a message class stands for; mail for IPM.Note and every class not known here.
ItemKind item_kind_of_class(std::string_view message_class);

pst::PropertyName named(const pst::Guid& set, std::uint32_t lid);

// Named properties the server writes (MS-OXPROPS long ids).
namespace lid {
inline constexpr std::uint32_t kFileUnder = 0x8005;
inline constexpr std::uint32_t kAddressBookProviderEmailList = 0x8028;
inline constexpr std::uint32_t kAddressBookProviderArrayType = 0x8029;
inline constexpr std::uint32_t kEmail1DisplayName = 0x8080;
inline constexpr std::uint32_t kEmail1AddressType = 0x8082;
inline constexpr std::uint32_t kEmail1EmailAddress = 0x8083;
inline constexpr std::uint32_t kEmail1OriginalDisplayName = 0x8084;
inline constexpr std::uint32_t kTaskStatus = 0x8101;
inline constexpr std::uint32_t kPercentComplete = 0x8102;
inline constexpr std::uint32_t kTaskDateCompleted = 0x810F;
inline constexpr std::uint32_t kTaskComplete = 0x811C;
inline constexpr std::uint32_t kBusyStatus = 0x8205;
inline constexpr std::uint32_t kLocation = 0x8208;
inline constexpr std::uint32_t kAppointmentStartWhole = 0x820D;
inline constexpr std::uint32_t kAppointmentEndWhole = 0x820E;
inline constexpr std::uint32_t kAppointmentDuration = 0x8213;
inline constexpr std::uint32_t kAppointmentSubType = 0x8215;
inline constexpr std::uint32_t kAppointmentStateFlags = 0x8217;
inline constexpr std::uint32_t kRecurring = 0x8223;
inline constexpr std::uint32_t kReminderDelta = 0x8501;
inline constexpr std::uint32_t kReminderSet = 0x8503;
inline constexpr std::uint32_t kCommonStart = 0x8516;
inline constexpr std::uint32_t kCommonEnd = 0x8517;
inline constexpr std::uint32_t kContacts = 0x853C;
inline constexpr std::uint32_t kLogType = 0x8700;
inline constexpr std::uint32_t kLogStart = 0x8706;
inline constexpr std::uint32_t kLogDuration = 0x8707;
inline constexpr std::uint32_t kLogEnd = 0x8708;
inline constexpr std::uint32_t kLogTypeDesc = 0x8712;
inline constexpr std::uint32_t kNoteColor = 0x8B00;
inline constexpr std::uint32_t kNoteWidth = 0x8B02;
inline constexpr std::uint32_t kNoteHeight = 0x8B03;
}  // namespace lid

// Tagged properties the server writes that the format layer does not name.
namespace pid {
inline constexpr std::uint16_t kSubjectPrefix = 0x003D;
inline constexpr std::uint16_t kSentRepresentingSearchKey = 0x003B;
inline constexpr std::uint16_t kSentRepresentingEntryId = 0x0041;
inline constexpr std::uint16_t kStartDate = 0x0060;
inline constexpr std::uint16_t kEndDate = 0x0061;
inline constexpr std::uint16_t kSentRepresentingAddressType = 0x0064;
inline constexpr std::uint16_t kSenderEntryId = 0x0C19;
inline constexpr std::uint16_t kSenderSearchKey = 0x0C1D;
inline constexpr std::uint16_t kSenderAddressType = 0x0C1E;
inline constexpr std::uint16_t kNormalizedSubject = 0x0E1D;
inline constexpr std::uint16_t kNativeBody = 0x1016;
inline constexpr std::uint16_t kIconIndex = 0x1080;
inline constexpr std::uint16_t kInternetCodepage = 0x3FDE;
inline constexpr std::uint16_t kGender = 0x3A4D;
inline constexpr std::uint16_t kAttachExtension = 0x3703;
}  // namespace pid

// Where a put member lands: a tagged property or a named one, with the stored type.
struct PropertyTarget {
  std::uint16_t id = 0;                 // the property id, when not named
  std::optional<pst::PropertyName> name;  // the named property
  std::uint16_t type = 0;               // the stored type; 0: follow the value given
};

// The property a member put on an item of this kind writes; empty when the item kind has no
// such member. The generic members (subject, bodies, class, display lists, read state) are
// handled by the item itself and are not listed here.
std::optional<PropertyTarget> field_target(ItemKind kind, MemberId member);

}  // namespace salvora::store
