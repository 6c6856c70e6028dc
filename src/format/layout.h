#pragma once
// The three layouts of the file format and the sizes of their on-disk structures. The ANSI
// (versions 14 and 15), Unicode (23) and Unicode with 4 KB pages (36) layouts differ only in
// field widths, page and block sizes and a few offsets; the parsers take the layout and give
// one shape back, so nothing above them asks which layout it reads.
//
// The writer produces the two Unicode layouts; the k* constants below are the 512-byte one's,
// and the writer takes the 4 KB one's from geometry_for.

#include <cstddef>
#include <cstdint>

#include "format/byte_reader.h"

namespace salvora {

enum class FileLayout { kUnknown, kAnsi, kUnicode, kUnicode4k };

const char* layout_name(FileLayout layout);  // "ansi", "unicode", "unicode-4k", "unknown"
FileLayout layout_for_version(std::uint16_t version);

// Sizes of the on-disk structures of one layout.
struct PageGeometry {
  std::size_t page_size = 0;           // 512 or 4096
  std::size_t entry_area = 0;          // bytes of B-tree entries at the start of a page
  std::size_t bt_entry_size = 0;       // intermediate entry: key + child reference
  std::size_t bbt_leaf_entry_size = 0; // block index leaf entry
  std::size_t nbt_leaf_entry_size = 0; // node index leaf entry
  std::size_t id_size = 0;             // width of NIDs, BIDs and offsets in entries: 4 or 8
  std::size_t block_trailer_size = 0;  // 12, 16 or 24
  std::size_t block_alignment = 0;     // 64 or 512
};

PageGeometry geometry_for(FileLayout layout);

// Ids, keys and offsets in entries and internal blocks: 32 bits in the ANSI layout, 64 in the
// Unicode ones.
std::uint64_t read_id(ByteReader& r, FileLayout layout);
std::size_t id_width(FileLayout layout);

// The end of a page or block trailer: a CRC and an id, the ANSI layout storing its 32-bit id
// first and the Unicode ones the CRC first.
struct CrcAndId {
  std::uint32_t crc = 0;
  std::uint64_t id = 0;
};
CrcAndId read_crc_and_id(ByteReader& r, FileLayout layout);

// The 512-byte Unicode layout.
inline constexpr std::uint64_t kPageSize = 512;
inline constexpr std::uint32_t kMaxBlockData = 8176;        // 8192 minus the trailer
inline constexpr std::uint32_t kMaxBlockSize = 8192;
inline constexpr std::uint32_t kBlockTrailerSize = 16;
inline constexpr std::uint32_t kMaxHeapAlloc = 3580;        // largest heap allocation
inline constexpr std::uint64_t kHeaderSize = 564;

// Page types, in the trailer of every page.
inline constexpr std::uint8_t kPtypeBbt = 0x80;
inline constexpr std::uint8_t kPtypeNbt = 0x81;
inline constexpr std::uint8_t kPtypeFMap = 0x82;
inline constexpr std::uint8_t kPtypePMap = 0x83;
inline constexpr std::uint8_t kPtypeAMap = 0x84;
inline constexpr std::uint8_t kPtypeFPMap = 0x85;
inline constexpr std::uint8_t kPtypeDList = 0x86;

constexpr std::uint64_t Align64(std::uint64_t v) { return (v + 63) & ~std::uint64_t{63}; }
// Bytes a block with cb data bytes occupies on disk: data, padding and trailer.
constexpr std::uint64_t BlockDiskSize(std::uint64_t cb) { return Align64(cb + kBlockTrailerSize); }

}  // namespace salvora
