#include "ndb/index_scan.h"

#include <algorithm>

#include "format/block.h"
#include "format/page.h"
#include "ndb/block_reader.h"

namespace salvora {

namespace {

// Every candidate position is the end of a block or page; a window keeps this much of the
// previous one so that the largest block ending in it is still whole. Blocks of 4 KB files may
// be larger than 8 KB; 64 KB covers every size a 16-bit cb can give.
constexpr std::size_t kLookBack = 65536 + 4096;
constexpr std::size_t kWindow = 4u << 20;
// Pages sit on 512-byte boundaries in every layout seen (4 KB pages included), blocks on the
// layout's alignment.
constexpr std::size_t kPageStep = 512;

class Scanner {
 public:
  Scanner(const OstContext& ctx, IndexScan& out) : ctx_(ctx), g_(ctx.geometry), out_(out) {}

  // Looks at the page that ends at `end` (a file offset), given the bytes of the window.
  void Page(Bytes window, std::uint64_t base, std::uint64_t end) {
    if (end < base + g_.page_size) return;
    const std::uint64_t start = end - g_.page_size;
    const Bytes page = window.subspan(start - base, g_.page_size);
    const auto trailer = verify_bt_page(page, layout());
    if (!trailer) return;
    out_.pages.push_back({start, Bid(trailer->bid), trailer->ptype, trailer->level});
    if (trailer->level != 0) return;
    const std::size_t size = bt_entry_size(g_, trailer->ptype, 0);
    const std::size_t capacity = g_.entry_area / size;
    for (std::size_t i = 0; i < capacity; ++i) {
      const bool behind = i >= trailer->count;
      if (trailer->ptype == kPtypeNbt) {
        const auto e = parse_bt_entry<NbtEntry>(page, i, size, layout());
        if (e.nid != 0) AddNode(e, *trailer, start, behind);
        else if (behind) break;
      } else {
        const auto e = parse_bt_entry<BbtEntry>(page, i, size, layout());
        if (e.bid != 0) AddBlock(e, *trailer, behind);
        else if (behind) break;
      }
    }
  }

  // Looks at the block whose trailer ends at `end`.
  void Block(Bytes window, std::uint64_t base, std::uint64_t end) {
    const std::size_t t = g_.block_trailer_size;
    if (end < base + t) return;
    const auto trailer = read_block_trailer(window.subspan(end - t - base, t), layout());
    if (!trailer) return;
    const std::uint64_t total = block_disk_size(trailer->cb, layout());
    if (end < base + total) return;
    const std::uint64_t start = end - total;
    if (trailer->bid == 0) return;
    const Bytes stored = window.subspan(start - base, trailer->cb);
    const TrailerVerdict v = judge_block_trailer(*trailer, stored, trailer->bid, trailer->cb, start);
    if (!v.sig_ok || !v.crc_ok) return;
    ScannedBlockEntry e;
    e.entry.bid = Bid(trailer->bid);
    e.entry.ib = start;
    e.entry.cb = trailer->cb;
    e.entry.cb_inflated = trailer->cb_inflated == 0 ? trailer->cb : trailer->cb_inflated;
    out_.block_entries.push_back(e);
  }

 private:
  FileLayout layout() const { return ctx_.header.layout; }

  void AddNode(const NbtEntry& entry, const VerifiedBtPage& trailer, std::uint64_t start, bool behind) {
    ScannedNodeEntry e;
    e.nid = Nid(entry.nid);
    e.data = Bid(entry.bid_data);
    e.sub = Bid(entry.bid_sub);
    e.parent = Nid(entry.nid_parent);
    e.page_bid = Bid(trailer.bid);
    e.page_offset = start;
    e.behind_count = behind;
    out_.node_entries.push_back(e);
  }

  void AddBlock(const BbtEntry& entry, const VerifiedBtPage& trailer, bool behind) {
    ScannedBlockEntry e;
    e.entry = BlockEntry::From(entry, layout());
    e.page_bid = Bid(trailer.bid);
    e.behind_count = behind;
    out_.block_entries.push_back(e);
  }

  const OstContext& ctx_;
  const PageGeometry& g_;
  IndexScan& out_;
};

}  // namespace

std::shared_ptr<const IndexScan> ScanIndexPieces(const OstContext& context) {
  auto out = std::make_shared<IndexScan>();
  const PageGeometry& g = context.geometry;
  if (g.page_size == 0 || g.block_alignment == 0) return out;
  Scanner scanner(context, *out);
  const std::size_t step = std::min<std::size_t>(g.block_alignment, kPageStep);
  // Window w holds [base, base + size); it looks at the positions past the previous window's
  // last, so each position is looked at once, with up to kLookBack bytes before it in hand.
  std::uint64_t next_end = step;
  try {
    for (std::uint64_t base = 0; next_end <= context.file_size && !context.stopped();) {
      const ByteVector bytes = ReadAt(context, base, kWindow);
      if (bytes.empty()) break;
      const Bytes window(bytes);
      const std::uint64_t window_end = base + bytes.size();
      for (; next_end <= window_end; next_end += step) {
        if (next_end % g.block_alignment == 0) scanner.Block(window, base, next_end);
        if (next_end % kPageStep == 0) scanner.Page(window, base, next_end);
      }
      if (window_end >= context.file_size || bytes.size() < kWindow) break;
      base = window_end - kLookBack;
    }
  } catch (const CFileException&) {
    // What was found before the file failed is kept.
  }
  return out;
}

}  // namespace salvora
