#include "ndb/index_scan.h"

#include <algorithm>

#include "format/byte_reader.h"
#include "format/crc.h"
#include "format/signature.h"
#include "ndb/block_reader.h"
#include "ndb/bt_page.h"

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

std::uint64_t load_id(Bytes b, std::size_t off, std::size_t width) {
  return width == 4 ? load_u32(b, off) : load_u64(b, off);
}

class Scanner {
 public:
  Scanner(const OstContext& ctx, IndexScan& out) : ctx_(ctx), g_(ctx.geometry), out_(out) {}

  // Looks at the page that ends at `end` (a file offset), given the bytes of the window.
  void Page(Bytes window, std::uint64_t base, std::uint64_t end) {
    if (end < base + g_.page_size) return;
    const std::uint64_t start = end - g_.page_size;
    const Bytes page = window.subspan(start - base, g_.page_size);
    const auto trailer = VerifiedBtPage(page, ctx_.header.layout);
    if (!trailer) return;
    out_.pages.push_back({start, trailer->bid, trailer->ptype, trailer->level});
    if (trailer->level != 0) return;
    const std::size_t size = bt_entry_size(g_, trailer->ptype, 0);
    const std::size_t capacity = g_.entry_area / size;
    for (std::size_t i = 0; i < capacity; ++i) {
      const std::size_t off = i * size;
      const std::uint64_t key = load_id(page, off, g_.id_size);
      if (key == 0) {
        if (i >= trailer->count) break;
        continue;
      }
      if (trailer->ptype == kPageTypeNodeIndex) AddNode(page, off, *trailer, start, i >= trailer->count);
      else AddBlock(page, off, *trailer, i >= trailer->count);
    }
  }

  // Looks at the block whose trailer ends at `end`.
  void Block(Bytes window, std::uint64_t base, std::uint64_t end) {
    const std::size_t t = g_.block_trailer_size;
    if (end < base + t) return;
    const BlockTrailer trailer = ParseBlockTrailer(window.subspan(end - t - base, t), ctx_.header.layout);
    const std::size_t align = g_.block_alignment;
    const std::uint64_t total = (trailer.cb + t + align - 1) / align * align;
    if (end < base + total) return;
    const std::uint64_t start = end - total;
    if (trailer.bid == 0 || trailer.signature != ComputeSignature(start, trailer.bid)) return;
    if (trailer.crc != ComputeCrc(window.subspan(start - base, trailer.cb))) return;
    ScannedBlockEntry e;
    e.entry.bid = Bid(trailer.bid);
    e.entry.ib = start;
    e.entry.cb = trailer.cb;
    e.entry.cb_inflated = trailer.cb_inflated == 0 ? trailer.cb : trailer.cb_inflated;
    out_.block_entries.push_back(e);
  }

 private:
  void AddNode(Bytes page, std::size_t off, const BtPageTrailer& trailer, std::uint64_t start, bool behind) {
    ScannedNodeEntry e;
    e.nid = Nid(static_cast<std::uint32_t>(load_id(page, off, g_.id_size)));
    e.data = Bid(load_id(page, off + g_.id_size, g_.id_size));
    e.sub = Bid(load_id(page, off + 2 * g_.id_size, g_.id_size));
    e.parent = Nid(load_u32(page, off + 3 * g_.id_size));
    e.page_bid = trailer.bid;
    e.page_offset = start;
    e.behind_count = behind;
    out_.node_entries.push_back(e);
  }

  void AddBlock(Bytes page, std::size_t off, const BtPageTrailer& trailer, bool behind) {
    ScannedBlockEntry e;
    e.entry.bid = Bid(load_id(page, off, g_.id_size));
    e.entry.ib = load_id(page, off + g_.id_size, g_.id_size);
    e.entry.cb = load_u16(page, off + 2 * g_.id_size);
    if (ctx_.header.layout == FileLayout::kUnicode4k) {
      e.entry.cb_inflated = load_u16(page, off + 18);
      e.entry.ref_count = static_cast<std::int16_t>(load_u16(page, off + 20));
    } else {
      e.entry.cb_inflated = e.entry.cb;
      e.entry.ref_count = static_cast<std::int16_t>(load_u16(page, off + 2 * g_.id_size + 2));
    }
    e.page_bid = trailer.bid;
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
