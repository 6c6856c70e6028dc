#pragma once
// MAPI property types and the property ids that reader and writer both name.
//
// A property tag is (id << 16) | type. The constants here are the 16-bit halves; build a tag
// with make_tag. Only what the program uses is listed.

#include <cstdint>

namespace salvora {

// Property types (MS-OXCDATA 2.11.1).
enum PropType : std::uint16_t {
  kPtUnspecified = 0x0000,
  kPtNull = 0x0001,
  kPtShort = 0x0002,
  kPtLong = 0x0003,
  kPtFloat = 0x0004,
  kPtDouble = 0x0005,
  kPtCurrency = 0x0006,
  kPtAppTime = 0x0007,
  kPtError = 0x000A,
  kPtBoolean = 0x000B,
  kPtObject = 0x000D,
  kPtLongLong = 0x0014,
  kPtString8 = 0x001E,
  kPtUnicode = 0x001F,
  kPtSysTime = 0x0040,
  kPtGuid = 0x0048,
  kPtServerId = 0x00FB,
  kPtRestriction = 0x00FD,
  kPtRuleAction = 0x00FE,
  kPtBinary = 0x0102,
  kPtMultiValue = 0x1000,  // flag bit: a multi-valued form of the base type
  kPtMvShort = 0x1002,
  kPtMvLong = 0x1003,
  kPtMvLongLong = 0x1014,
  kPtMvString8 = 0x101E,
  kPtMvUnicode = 0x101F,
  kPtMvSysTime = 0x1040,
  kPtMvGuid = 0x1048,
  kPtMvBinary = 0x1102,
};

constexpr std::uint32_t make_tag(std::uint16_t id, std::uint16_t type) {
  return (std::uint32_t{id} << 16) | type;
}
constexpr std::uint16_t tag_id(std::uint32_t tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr std::uint16_t tag_type(std::uint32_t tag) { return static_cast<std::uint16_t>(tag & 0xFFFF); }

// Property ids (MS-OXPROPS).
enum PropId : std::uint16_t {
  kPidMessageClass = 0x001A,
  kPidSubject = 0x0037,
  kPidClientSubmitTime = 0x0039,
  kPidSentRepresentingName = 0x0042,
  kPidReplyRecipientNames = 0x0050,
  kPidSentRepresentingAddrType = 0x0064,
  kPidSentRepresentingEmailAddress = 0x0065,
  kPidConversationTopic = 0x0070,
  kPidReceivedByAddrType = 0x0075,
  kPidReceivedByEmailAddress = 0x0076,
  kPidSenderName = 0x0C1A,
  kPidSenderEmailAddress = 0x0C1F,
  kPidDisplayCc = 0x0E03,
  kPidDisplayTo = 0x0E04,
  kPidMessageDeliveryTime = 0x0E06,
  kPidMessageFlags = 0x0E07,
  kPidMessageSize = 0x0E08,
  kPidAttachSize = 0x0E20,
  kPidRecordKey = 0x0FF9,
  kPidBody = 0x1000,
  kPidRtfCompressed = 0x1009,
  kPidHtml = 0x1013,
  kPidInReplyToId = 0x1042,
  kPidDisplayName = 0x3001,
  kPidEmailAddress = 0x3003,
  kPidIpmSubtreeEntryId = 0x35E0,
  kPidValidFolderMask = 0x35DF,
  kPidIpmWastebasketEntryId = 0x35E3,
  kPidFinderEntryId = 0x35E7,
  kPidContentCount = 0x3602,
  kPidContentUnreadCount = 0x3603,
  kPidSubfolders = 0x360A,
  kPidContainerClass = 0x3613,
  kPidAttachDataBinary = 0x3701,
  kPidAttachFilename = 0x3704,
  kPidAttachMethod = 0x3705,
  kPidAttachLongFilename = 0x3707,
  kPidMhsCommonName = 0x3A0F,
  kPidInternetCodepage = 0x3FDE,
  kPidMessageCodepage = 0x3FFD,
  kPidLtpRowId = 0x67F2,
  kPidLtpRowVer = 0x67F3,
  // The entry, string and GUID streams of the named-property map (node 0x61).
  kPidNameidStreamGuid = 0x0002,
  kPidNameidStreamEntry = 0x0003,
  kPidNameidStreamString = 0x0004,
};

}  // namespace salvora
