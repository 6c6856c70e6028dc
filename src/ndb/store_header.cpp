#include "ndb/store_header.h"

#include "format/header.h"

namespace salvora {

StoreHeader StoreHeader::Parse(Bytes data) {
  // The source reader salvages: what the header's checks find does not stop it, so the findings
  // are not kept; the CRC verdicts are, for the messages the user sees.
  Findings findings(Tolerance::kSalvage);
  const ParsedHeader p = parse_header(data, findings);
  const PstHeader& h = p.header;
  StoreHeader out;
  out.magic_ok = p.magic_ok;
  out.client_magic = h.magic_client;
  out.version = h.version;
  out.client_version = h.version_client;
  out.layout = p.layout;
  out.crc_partial_ok = p.crc_partial_ok;
  if (out.layout != FileLayout::kUnknown) {
    out.file_eof = h.file_eof;
    out.nbt_root_bid = Bid(h.nbt.bid);
    out.nbt_root_ib = h.nbt.ib;
    out.bbt_root_bid = Bid(h.bbt.bid);
    out.bbt_root_ib = h.bbt.ib;
    out.crypt_byte = h.crypt_method;
    out.next_bid = Bid(h.bid_next_b);
    out.crc_full_ok = p.crc_full_ok;
  }
  out.crypt = crypt_method_from_byte(out.crypt_byte);
  return out;
}

}  // namespace salvora
