#pragma once
// Property types and the property tags that the PST writer and the content decoder both need.
// A tag is (id << 16) | type; ids 0x8000..0xFFFE are named properties resolved through the
// store's name-to-id map.

#include <cstdint>

namespace salvora {

// Property types ([MS-OXCDATA] 2.11.1).
enum PropType : std::uint16_t {
  kPtypUnspecified = 0x0000,
  kPtypNull = 0x0001,
  kPtypInteger16 = 0x0002,
  kPtypInteger32 = 0x0003,
  kPtypFloating32 = 0x0004,
  kPtypFloating64 = 0x0005,
  kPtypCurrency = 0x0006,
  kPtypFloatingTime = 0x0007,
  kPtypErrorCode = 0x000A,
  kPtypBoolean = 0x000B,
  kPtypObject = 0x000D,
  kPtypInteger64 = 0x0014,
  kPtypString8 = 0x001E,
  kPtypString = 0x001F,
  kPtypTime = 0x0040,
  kPtypGuid = 0x0048,
  kPtypServerId = 0x00FB,
  kPtypRestriction = 0x00FD,
  kPtypRuleAction = 0x00FE,
  kPtypBinary = 0x0102,
  kPtypMultipleFlag = 0x1000,
  kPtypMultipleInteger16 = 0x1002,
  kPtypMultipleInteger32 = 0x1003,
  kPtypMultipleFloating32 = 0x1004,
  kPtypMultipleFloating64 = 0x1005,
  kPtypMultipleCurrency = 0x1006,
  kPtypMultipleFloatingTime = 0x1007,
  kPtypMultipleInteger64 = 0x1014,
  kPtypMultipleString8 = 0x101E,
  kPtypMultipleString = 0x101F,
  kPtypMultipleTime = 0x1040,
  kPtypMultipleGuid = 0x1048,
  kPtypMultipleBinary = 0x1102,
};

constexpr std::uint32_t PropTag(std::uint16_t id, std::uint16_t type) { return (std::uint32_t{id} << 16) | type; }
constexpr std::uint16_t PropIdOf(std::uint32_t tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr std::uint16_t PropTypeOf(std::uint32_t tag) { return static_cast<std::uint16_t>(tag & 0xFFFF); }

// Size of one value of a fixed-size type (of one element for a fixed multi-valued type);
// 0 for variable-size types.
constexpr std::uint32_t FixedPropSize(std::uint16_t type) {
  switch (type & ~kPtypMultipleFlag) {
    case kPtypInteger16: return 2;
    case kPtypInteger32: case kPtypFloating32: case kPtypErrorCode: return 4;
    case kPtypBoolean: return (type & kPtypMultipleFlag) ? 0 : 1;
    case kPtypFloating64: case kPtypCurrency: case kPtypFloatingTime:
    case kPtypInteger64: case kPtypTime: return 8;
    case kPtypGuid: return 16;
    default: return 0;
  }
}
constexpr bool IsMultiValued(std::uint16_t type) { return (type & kPtypMultipleFlag) != 0; }

// Property ids used by the store, folder, message, recipient and attachment objects.
enum PropId : std::uint16_t {
  kPidNameidBucketCount = 0x0001,
  kPidNameidStreamGuid = 0x0002,
  kPidNameidStreamEntry = 0x0003,
  kPidNameidStreamString = 0x0004,
  kPidImportance = 0x0017,
  kPidMessageClass = 0x001A,
  kPidSensitivity = 0x0036,
  kPidSubject = 0x0037,
  kPidClientSubmitTime = 0x0039,
  kPidSentRepresentingName = 0x0042,
  kPidSentRepresentingEmail = 0x0065,
  kPidConversationTopic = 0x0070,
  kPidConversationIndex = 0x0071,
  kPidTransportMessageHeaders = 0x007D,
  kPidRecipientType = 0x0C15,
  kPidSenderName = 0x0C1A,
  kPidSenderEmailAddress = 0x0C1F,
  kPidDisplayBcc = 0x0E02,
  kPidDisplayCc = 0x0E03,
  kPidDisplayTo = 0x0E04,
  kPidMessageDeliveryTime = 0x0E06,
  kPidMessageFlags = 0x0E07,
  kPidMessageSize = 0x0E08,
  kPidResponsibility = 0x0E0F,
  kPidMessageStatus = 0x0E17,
  kPidReplItemId = 0x0E30,
  kPidReplChangeNum = 0x0E33,
  kPidReplVersionHistory = 0x0E34,
  kPidAttachSize = 0x0E20,
  kPidRecordKey = 0x0FF9,
  kPidObjectType = 0x0FFE,
  kPidEntryId = 0x0FFF,
  kPidBody = 0x1000,
  kPidRtfCompressed = 0x1009,
  kPidHtml = 0x1013,
  kPidDisplayName = 0x3001,
  kPidAddressType = 0x3002,
  kPidEmailAddress = 0x3003,
  kPidComment = 0x3004,
  kPidCreationTime = 0x3007,
  kPidLastModificationTime = 0x3008,
  kPidSearchKey = 0x300B,
  kPidChangeKey = 0x3013,
  kPidValidFolderMask = 0x35DF,
  kPidIpmSubTreeEntryId = 0x35E0,
  kPidIpmWastebasketEntryId = 0x35E3,
  kPidFinderEntryId = 0x35E7,
  kPidContentCount = 0x3602,
  kPidContentUnreadCount = 0x3603,
  kPidSubfolders = 0x360A,
  kPidContainerClass = 0x3613,
  kPidAttachDataBinary = 0x3701,  // also PidTagAttachDataObject with type Object
  kPidAttachFilename = 0x3704,
  kPidAttachMethod = 0x3705,
  kPidAttachLongFilename = 0x3707,
  kPidRenderingPosition = 0x370B,
  kPidAttachMimeTag = 0x370E,
  kPidAttachContentId = 0x3712,
  kPidDisplayType = 0x3900,
  kPidSmtpAddress = 0x39FE,
  kPidSendRichInfo = 0x3A40,
  kPidReceiveFolderNid = 0x6605,  // a row of the receive-folder table: the folder
  kPidSearchFolderStatus = 0x660B,
  kPidPstHiddenCount = 0x6635,
  kPidPstHiddenUnread = 0x6636,
  kPidLtpParentNid = 0x67F1,
  kPidLtpRowId = 0x67F2,
  kPidLtpRowVer = 0x67F3,
  kPidPstPassword = 0x67FF,
};

// Message flags ([MS-OXCMSG] 2.2.1.6).
inline constexpr std::uint32_t kMsgFlagRead = 0x0001;
inline constexpr std::uint32_t kMsgFlagUnsent = 0x0008;
inline constexpr std::uint32_t kMsgFlagHasAttach = 0x0010;
inline constexpr std::uint32_t kMsgFlagAssociated = 0x0040;

// Attachment methods ([MS-OXCMSG] 2.2.2.9).
inline constexpr std::uint32_t kAttachByValue = 1;
inline constexpr std::uint32_t kAttachEmbeddedMessage = 5;

}  // namespace salvora
