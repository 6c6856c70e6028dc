#include "ndb/store_header.h"

#include <array>
#include <cstring>

#include "format/crc.h"

namespace salvora {

const char* layout_name(FileLayout layout) {
  switch (layout) {
    case FileLayout::kAnsi: return "ansi";
    case FileLayout::kUnicode: return "unicode";
    case FileLayout::kUnicode4k: return "unicode-4k";
    case FileLayout::kUnknown: break;
  }
  return "unknown";
}

PageGeometry geometry_for(FileLayout layout) {
  switch (layout) {
    case FileLayout::kAnsi:
      return {512, 496, 12, 12, 16, 4, 12, 64};
    case FileLayout::kUnicode:
      return {512, 488, 24, 24, 32, 8, 16, 64};
    case FileLayout::kUnicode4k:
      return {4096, 4056, 24, 24, 32, 8, 24, 512};
    case FileLayout::kUnknown:
      break;
  }
  return {};
}

FileLayout layout_for_version(std::uint16_t version) {
  switch (version) {
    case 14: case 15: return FileLayout::kAnsi;
    case 23: return FileLayout::kUnicode;
    case 36: return FileLayout::kUnicode4k;
    default: return FileLayout::kUnknown;
  }
}

StoreHeader StoreHeader::Parse(Bytes data) {
  // Work on a zero-filled copy of the header area so that a short file reads as zeros.
  std::array<std::uint8_t, kReadSize> h{};
  std::memcpy(h.data(), data.data(), std::min(data.size(), h.size()));
  const Bytes b(h.data(), h.size());

  StoreHeader out;
  out.magic_ok = load_u32(b, 0) == kMagic;
  out.client_magic = load_u16(b, 8);
  out.version = load_u16(b, 10);
  out.client_version = load_u16(b, 12);
  out.layout = layout_for_version(out.version);
  const std::uint32_t crc_partial = ComputeCrc(b.subspan(8, 471));
  out.crc_partial_ok = load_u32(b, 4) == crc_partial;

  // Version 37 files use the Unicode layout; accept them when the header checks out.
  if (out.layout == FileLayout::kUnknown && out.version == 37 && out.crc_partial_ok) {
    out.layout = FileLayout::kUnicode;
  }

  switch (out.layout) {
    case FileLayout::kUnicode:
    case FileLayout::kUnicode4k:
      out.file_eof = load_u64(b, 184);
      out.nbt_root_bid = load_u64(b, 216);
      out.nbt_root_ib = load_u64(b, 224);
      out.bbt_root_bid = load_u64(b, 232);
      out.bbt_root_ib = load_u64(b, 240);
      out.crypt_byte = h[513];
      out.next_bid = load_u64(b, 516);
      out.crc_full_ok = load_u32(b, 524) == ComputeCrc(b.subspan(8, 516));
      break;
    case FileLayout::kAnsi:
      out.file_eof = load_u32(b, 168);
      out.nbt_root_bid = load_u32(b, 184);
      out.nbt_root_ib = load_u32(b, 188);
      out.bbt_root_bid = load_u32(b, 192);
      out.bbt_root_ib = load_u32(b, 196);
      out.crypt_byte = h[461];
      out.next_bid = load_u32(b, 24);
      out.crc_full_ok = out.crc_partial_ok;
      break;
    case FileLayout::kUnknown:
      break;
  }
  out.crypt = crypt_method_from_byte(out.crypt_byte);
  return out;
}

}  // namespace salvora
