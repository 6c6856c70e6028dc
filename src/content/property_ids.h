#pragma once
// Property ids the content layer reads that the shared list in format/prop_types.h does not
// name. Kept in their own namespace so that the shared list can grow without a clash.

#include <cstdint>

#include "format/prop_types.h"

namespace salvora::content_pid {

inline constexpr std::uint16_t kMessageCodepage = 0x3FFD;  // PR_MESSAGE_CODEPAGE
inline constexpr std::uint16_t kTextA = 0x6619;
inline constexpr std::uint16_t kMhsCommonName = 0x3A0F;
inline constexpr std::uint16_t kReplyRecipientNames = 0x0050;
inline constexpr std::uint16_t kSentRepresentingAddrType = 0x0064;
inline constexpr std::uint16_t kReceivedByAddrType = 0x0075;
inline constexpr std::uint16_t kReceivedByEmailAddress = 0x0076;
inline constexpr std::uint16_t kInReplyToId = 0x1042;
inline constexpr std::uint16_t kStore7C07 = 0x7C07;

}  // namespace salvora::content_pid
