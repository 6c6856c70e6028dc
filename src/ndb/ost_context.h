#pragma once
// One open source file with its header values and, once loaded, its block index and node tree.
//
// A context belongs to one pass and is used by one thread at a time. The indexes are held by
// shared_ptr so that a later read-only context for the same file can reuse them instead of
// walking the B-trees again. Destroying the context closes the file; the indexes live on
// while anything shares them.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "ndb/block_index.h"
#include "ndb/index_findings.h"
#include "ndb/node_tree.h"
#include "ndb/store_header.h"
#include "platform/file64.h"

namespace salvora {

// Built by the engine from node 0x61 and kept with the context like the indexes; the node
// database itself never looks inside it.
class NamedPropertyMap;
// The pieces of the indexes a scan of the whole file found (ndb/index_scan.h).
struct IndexScan;

class OstContext {
 public:
  OstContext() = default;
  OstContext(const OstContext&) = delete;
  OstContext& operator=(const OstContext&) = delete;

  CFile64 file;
  StoreHeader header;
  PageGeometry geometry;
  std::uint64_t file_size = 0;

  std::shared_ptr<BlockIndex> blocks = std::make_shared<BlockIndex>();
  std::shared_ptr<NodeTree> nodes = std::make_shared<NodeTree>();
  std::shared_ptr<const NamedPropertyMap> named_properties;

  // Learned by the B-tree walks: the depth of the leaf pages, 0xFF until known.
  std::uint8_t bbt_leaf_depth = 0xFF;
  std::uint8_t nbt_leaf_depth = 0xFF;
  bool bbt_leaf_seen = false;
  bool nbt_leaf_seen = false;

  // Polled by every long loop; a set flag ends the work quietly. Null: never stops.
  const std::atomic<bool>* stop_flag = nullptr;

  // Code page for 8-bit strings of objects that name none (ANSI files).
  std::uint32_t default_codepage = 1252;

  // Blocks read whose trailer does not vouch for them (checksum, size or id wrong, or cut off by
  // the end of the file). Their bytes are still used: damaged data is better than none, but
  // the user must hear of it. A pass that reads on one thread compares this count before and
  // after an object; one that reads on two compares damaged_blocks_read_here().
  mutable std::atomic<std::uint64_t> damaged_blocks{0};

  // What the index loads found damaged, rebuilt and lost.
  IndexFindings findings;
  // The pieces of the indexes found by scanning the file, once a load needed them.
  std::shared_ptr<const IndexScan> scan;

  // Why the last OpenStore failed, for the message the user sees.
  CFileException open_error;

  bool stopped() const { return stop_flag != nullptr && stop_flag->load(std::memory_order_relaxed); }
  CryptMethod crypt() const { return header.crypt.value_or(CryptMethod::kNone); }
  bool is_ansi() const { return header.layout == FileLayout::kAnsi; }
};

// Opens the source read-only with an exclusive advisory lock and reads its header. 0 on success;
// -1 when the file cannot be opened (missing, no access, locked by another process: see
// context.open_error). Header content never makes it fail; an unknown layout leaves the
// indexes empty.
int OpenStore(OstContext& context, const std::string& path);

// Walks the block B-tree into the block index. Where the walk loses a subtree (or the header's
// root is unusable), the missing entries are taken from the pages and blocks a scan of the file
// finds, and context.findings says what was rebuilt and what stayed lost. 0 on success, 2 when
// nothing of the index could be read or rebuilt, 0 also when the stop flag ended the walk.
int LoadBlockIndex(OstContext& context);
// The same for the node B-tree into the node tree. Node entries taken from the scan are kept
// only when their data block is in the block index: an old copy of a page also holds nodes
// deleted since, whose blocks were freed.
int LoadNodeIndex(OstContext& context);


std::optional<BlockEntry> FindBlock(const OstContext& context, Bid bid);

// The damaged blocks the calling thread has read, from any context: the share of
// damaged_blocks that the objects read on this thread met.
std::uint64_t damaged_blocks_read_here();
NodeRecord* FindNode(const OstContext& context, Nid nid);

}  // namespace salvora
