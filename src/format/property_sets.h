#pragma once
// The property sets of named properties that this program knows by heart, as the 16 bytes a
// GUID is stored in (its first three fields little-endian): PS_MAPI and PS_PUBLIC_STRINGS,
// which the name-to-id map refers to by index, and the sets Outlook keeps its item fields in.

#include <array>
#include <cstdint>

namespace salvora {

using PropertySetGuid = std::array<std::uint8_t, 16>;

namespace detail {
// {000620xx-0000-0000-C000-000000000046} and {000203xx-...}: the sets differ in one byte.
constexpr PropertySetGuid outlook_set(std::uint8_t first, std::uint8_t second, std::uint8_t third) {
  return {first, second, third, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
}
}  // namespace detail

inline constexpr PropertySetGuid kPsMapi = detail::outlook_set(0x28, 0x03, 0x02);
inline constexpr PropertySetGuid kPsPublicStrings = detail::outlook_set(0x29, 0x03, 0x02);
inline constexpr PropertySetGuid kPsetidAppointment = detail::outlook_set(0x02, 0x20, 0x06);
inline constexpr PropertySetGuid kPsetidTask = detail::outlook_set(0x03, 0x20, 0x06);
inline constexpr PropertySetGuid kPsetidAddress = detail::outlook_set(0x04, 0x20, 0x06);
inline constexpr PropertySetGuid kPsetidCommon = detail::outlook_set(0x08, 0x20, 0x06);
inline constexpr PropertySetGuid kPsetidLog = detail::outlook_set(0x0A, 0x20, 0x06);
inline constexpr PropertySetGuid kPsetidNote = detail::outlook_set(0x0E, 0x20, 0x06);

}  // namespace salvora
