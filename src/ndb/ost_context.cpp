#include "ndb/ost_context.h"

#include <cerrno>

#include "ndb/block_reader.h"

namespace salvora {

namespace {

void read_header(OstContext& context) {
  ByteVector h = ReadAt(context, 0, StoreHeader::kReadSize);
  context.header = StoreHeader::Parse(h);
  context.geometry = geometry_for(context.header.layout);
  context.bbt_leaf_depth = 0xFF;
  context.nbt_leaf_depth = 0xFF;
  context.bbt_leaf_seen = false;
  context.nbt_leaf_seen = false;
}

}  // namespace

int OpenStore(OstContext& context, const std::string& path) {
  // The source is never created or modified: read-only, under a shared advisory lock. Readers
  // (an analysis beside a save, two commands on one file) do not stand in each other's way,
  // while a file another program holds locked for writing is reported as in use instead of
  // read half-written.
  if (!context.file.Open(path, CFile64::Access::kReadOnly, CFile64::Lock::kShared, &context.open_error)) {
    return -1;
  }
  try {
    context.file_size = context.file.GetLength();
    read_header(context);
  } catch (const CFileException& e) {
    context.open_error = e;
    context.file.Close();
    return -1;
  }
  return 0;
}

std::optional<BlockEntry> FindBlock(const OstContext& context, Bid bid) { return context.blocks->Find(bid, context.file); }

NodeRecord* FindNode(const OstContext& context, Nid nid) {
  if (nid.is_null()) return nullptr;
  return context.nodes->Find(nid);
}

}  // namespace salvora
