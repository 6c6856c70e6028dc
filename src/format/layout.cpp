#include "format/layout.h"

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

std::uint64_t read_id(ByteReader& r, FileLayout layout) { return layout == FileLayout::kAnsi ? r.u32() : r.u64(); }
std::size_t id_width(FileLayout layout) { return layout == FileLayout::kAnsi ? 4 : 8; }

CrcAndId read_crc_and_id(ByteReader& r, FileLayout layout) {
  CrcAndId out;
  if (layout == FileLayout::kAnsi) {
    out.id = r.u32();
    out.crc = r.u32();
  } else {
    out.crc = r.u32();
    out.id = r.u64();
  }
  return out;
}

}  // namespace salvora
