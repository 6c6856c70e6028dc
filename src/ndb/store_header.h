#pragma once
// The file header of a PST or OST, in its three layouts, reduced to the values the source reader
// uses. The parsing is format/header's; this is the source reader's view of it.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "format/block_crypt.h"
#include "format/byte_reader.h"
#include "format/header.h"
#include "format/ids.h"
#include "format/layout.h"

namespace salvora {

struct StoreHeader {
  static constexpr std::size_t kReadSize = 564;  // the largest header, Unicode
  static constexpr std::uint32_t kMagic = kHeaderMagic;

  bool magic_ok = false;             // dwMagic is "!BDN"
  std::uint16_t client_magic = 0;    // wMagicClient: "SM" PST, "SO" OST, "AB" address book
  std::uint16_t version = 0;         // wVer
  std::uint16_t client_version = 0;  // wVerClient
  FileLayout layout = FileLayout::kUnknown;
  std::uint8_t crypt_byte = 0;       // bCryptMethod as stored
  std::optional<CryptMethod> crypt;  // empty when the byte names no known encoding
  std::uint64_t file_eof = 0;        // ibFileEof
  Bid next_bid;                      // bidNextB
  Bid nbt_root_bid;
  std::uint64_t nbt_root_ib = 0;
  Bid bbt_root_bid;
  std::uint64_t bbt_root_ib = 0;
  bool crc_partial_ok = false;       // dwCRCPartial matches
  bool crc_full_ok = false;          // dwCRCFull matches (Unicode layouts; ANSI has none)

  bool is_ost() const { return client_magic == kClientMagicOst; }
  bool is_pst() const { return client_magic == kClientMagicPst; }

  // Parses whatever part of the header the file holds; missing bytes read as zero.
  static StoreHeader Parse(Bytes data);
};

}  // namespace salvora
