#pragma once
// The file header of a PST or OST, in its three layouts, reduced to the values the reader uses.
// The ANSI (versions 14 and 15), Unicode (23) and Unicode with 4 KB pages (36) layouts all become
// one shape here, so nothing above the node database asks which layout it reads.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "format/block_crypt.h"
#include "format/byte_reader.h"

namespace salvora {

enum class FileLayout { kUnknown, kAnsi, kUnicode, kUnicode4k };

const char* layout_name(FileLayout layout);  // "ansi", "unicode", "unicode-4k", "unknown"

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

struct StoreHeader {
  static constexpr std::size_t kReadSize = 564;  // the largest header, Unicode
  static constexpr std::uint32_t kMagic = 0x4E444221;  // "!BDN"

  bool magic_ok = false;             // dwMagic is "!BDN"
  std::uint16_t client_magic = 0;    // wMagicClient: "SM" PST, "SO" OST, "AB" address book
  std::uint16_t version = 0;         // wVer
  std::uint16_t client_version = 0;  // wVerClient
  FileLayout layout = FileLayout::kUnknown;
  std::uint8_t crypt_byte = 0;       // bCryptMethod as stored
  std::optional<CryptMethod> crypt;  // empty when the byte names no known encoding
  std::uint64_t file_eof = 0;        // ibFileEof
  std::uint64_t next_bid = 0;        // bidNextB
  std::uint64_t nbt_root_bid = 0;
  std::uint64_t nbt_root_ib = 0;
  std::uint64_t bbt_root_bid = 0;
  std::uint64_t bbt_root_ib = 0;
  bool crc_partial_ok = false;       // dwCRCPartial matches
  bool crc_full_ok = false;          // dwCRCFull matches (Unicode layouts; ANSI has none)

  bool is_ost() const { return client_magic == 0x4F53; }  // "SO"
  bool is_pst() const { return client_magic == 0x4D53; }  // "SM"

  // Parses whatever part of the header the file holds; missing bytes read as zero.
  static StoreHeader Parse(Bytes data);
};

FileLayout layout_for_version(std::uint16_t version);

}  // namespace salvora
