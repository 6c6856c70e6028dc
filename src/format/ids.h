#pragma once
// Node, block and heap identifiers. Distinct types keep a NID from being passed where a BID is
// expected. Values are held at full width: 64-bit BIDs and file offsets, so that files past
// 4 GB are addressed correctly.

#include <compare>
#include <cstdint>

namespace salvora {

// Node types: the low five bits of a NID.
enum NidType : std::uint8_t {
  kNidTypeHid = 0x00,
  kNidTypeInternal = 0x01,
  kNidTypeNormalFolder = 0x02,
  kNidTypeSearchFolder = 0x03,
  kNidTypeNormalMessage = 0x04,
  kNidTypeAttachment = 0x05,
  kNidTypeSearchUpdateQueue = 0x06,
  kNidTypeSearchCriteriaObject = 0x07,
  kNidTypeAssocMessage = 0x08,
  kNidTypeContentsTableIndex = 0x0A,
  kNidTypeReceiveFolderTable = 0x0B,
  kNidTypeOutgoingQueueTable = 0x0C,
  kNidTypeHierarchyTable = 0x0D,
  kNidTypeContentsTable = 0x0E,
  kNidTypeAssocContentsTable = 0x0F,
  kNidTypeSearchContentsTable = 0x10,
  kNidTypeAttachmentTable = 0x11,
  kNidTypeRecipientTable = 0x12,
  kNidTypeSearchTableIndex = 0x13,
  kNidTypeLtp = 0x1F,
};

struct Nid {
  std::uint32_t value = 0;

  constexpr Nid() = default;
  constexpr explicit Nid(std::uint32_t v) : value(v) {}
  constexpr static Nid make(std::uint8_t type, std::uint32_t index) { return Nid((index << 5) | (type & 0x1F)); }

  constexpr std::uint8_t type() const { return static_cast<std::uint8_t>(value & 0x1F); }
  constexpr std::uint32_t index() const { return value >> 5; }
  constexpr bool is_null() const { return value == 0; }
  constexpr auto operator<=>(const Nid&) const = default;
};

// Special nodes every store has.
inline constexpr Nid kNidMessageStore{0x21};
inline constexpr Nid kNidNameToIdMap{0x61};
inline constexpr Nid kNidRootFolder{0x122};
inline constexpr Nid kNidSearchManagementQueue{0x1E1};
inline constexpr Nid kNidSearchActivityList{0x201};
inline constexpr Nid kNidSearchDomainObject{0x261};
inline constexpr Nid kNidHierarchyTemplate{0x60D};
inline constexpr Nid kNidContentsTemplate{0x60E};
inline constexpr Nid kNidAssocTemplate{0x60F};
inline constexpr Nid kNidSearchContentsTemplate{0x610};
inline constexpr Nid kNidReceiveFolderTable{0x62B};
inline constexpr Nid kNidAttachmentTemplate{0x671};
inline constexpr Nid kNidRecipientTemplate{0x692};
inline constexpr Nid kNidSpamSearchFolder{0x2223};

// The sub-nodes of a message (and of an attachment's embedded message) that hold its recipient
// and attachment tables: the NIDs of the store's templates of those tables.
inline constexpr Nid kNidMessageRecipientTable = kNidRecipientTemplate;
inline constexpr Nid kNidMessageAttachmentTable = kNidAttachmentTemplate;

// NID indexes below this one are the store's own: the special nodes above and their kin. The
// header's rgnid counters hand out indexes from here up.
inline constexpr std::uint32_t kFirstUserNidIndex = 0x400;

// The NID of one of a folder's tables (hierarchy, contents, associated contents): the folder's
// index with the table's node type.
constexpr Nid table_nid(Nid folder, std::uint8_t type) { return Nid::make(type, folder.index()); }

struct Bid {
  std::uint64_t value = 0;

  constexpr Bid() = default;
  constexpr explicit Bid(std::uint64_t v) : value(v) {}

  // Bit 0 is reserved for the writer's own use; lookups ignore it.
  constexpr Bid key() const { return Bid(value & ~std::uint64_t{1}); }
  // Bit 1 marks an internal block: a data tree or a sub-node block.
  constexpr bool is_internal() const { return (value & 2) != 0; }
  constexpr bool is_null() const { return value == 0; }
  constexpr auto operator<=>(const Bid&) const = default;
};

// A heap id inside a heap-on-node: type 0 (HID) in the low five bits, then the 1-based index
// into a heap block's allocation table, then the heap block index.
struct Hid {
  std::uint32_t value = 0;

  constexpr Hid() = default;
  constexpr explicit Hid(std::uint32_t v) : value(v) {}
  // kNidTypeHid for a heap id; a property or table cell that holds another type names a node.
  constexpr std::uint8_t type() const { return static_cast<std::uint8_t>(value & 0x1F); }
  constexpr auto operator<=>(const Hid&) const = default;
};

// An HNID, as property and table values store it: a heap id when its type is kNidTypeHid,
// else the NID of a sub-node of the object.
constexpr bool hnid_is_heap(std::uint32_t hnid) { return Hid(hnid).type() == kNidTypeHid; }

}  // namespace salvora
