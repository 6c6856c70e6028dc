// Every object of every public sample file decodes: property contexts, tables (hierarchy,
// contents, attachment and recipient tables), attachment objects and embedded messages, and
// the named-property map.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "content/apply_properties.h"
#include "content/property_decoder.h"
#include "ndb/block_reader.h"
#include "ndb/ost_context.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

bool is_heap_nid(Nid nid) {
  if (nid == kNidMessageStore || nid == kNidNameToIdMap) return true;
  switch (nid.type()) {
    case kNidTypeNormalFolder: case kNidTypeSearchFolder: case kNidTypeNormalMessage:
    case kNidTypeAttachment: case kNidTypeAssocMessage: case kNidTypeHierarchyTable:
    case kNidTypeContentsTable: case kNidTypeAssocContentsTable:
    case kNidTypeAttachmentTable: case kNidTypeRecipientTable:
      return true;
    default:
      return false;
  }
}

struct Tally {
  std::size_t objects = 0;
  std::size_t failed = 0;
  std::size_t dropped = 0;
  std::size_t rows = 0;
  std::size_t multi_block = 0;
  std::map<std::string, std::size_t> failures;
};

void DecodeTree(const OstContext& ctx, Nid nid, Bid data, Bid sub, const NamedPropertyMap* names,
                Tally& t, int depth) {
  std::optional<std::vector<SubnodeEntry>> subs;
  if (!sub.is_null()) subs = ReadSubnodes(ctx, sub);
  if (is_heap_nid(nid) && !data.is_null()) {
    ++t.objects;
    if (data.is_internal()) ++t.multi_block;
    auto r = decode_properties(ctx, data, subs ? &*subs : nullptr, names);
    if (!r) {
      ++t.failed;
      char buf[96];
      std::snprintf(buf, sizeof buf, "nid 0x%x: %s", nid.value, decode_error_name(r.failure.code));
      ++t.failures[buf];
    } else {
      t.dropped += static_cast<std::size_t>(r.dropped_entries);
      if (r.list->table) t.rows += r.list->blocks.size();
      ItemRecord record;
      record.attachments.resize(r.list->table ? r.list->blocks.size() : 0);
      EXPECT_EQ(apply_properties(r.list->blocks, &record, apply_options_for(ctx)), 0);
    }
  }
  if (subs && depth < 4) {
    for (const auto& s : *subs) DecodeTree(ctx, s.nid, s.data_bid, s.sub_bid, names, t, depth + 1);
  }
}

std::optional<NamedPropertyMap> LoadNames(const OstContext& ctx) {
  const NodeRecord* n = FindNode(ctx, kNidNameToIdMap);
  if (n == nullptr) return std::nullopt;
  std::optional<std::vector<SubnodeEntry>> subs;
  if (!n->sub_bid.is_null()) subs = ReadSubnodes(ctx, n->sub_bid);
  auto r = decode_properties(ctx, n->data_bid, subs ? &*subs : nullptr, nullptr);
  if (!r || r.list->blocks.empty()) return std::nullopt;
  return NamedPropertyMap::FromPropertyBlock(r.list->blocks[0]);
}

TEST(ContentCorpus, EveryObjectOfEverySampleDecodes) {
  const std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "sample corpus not found (set SALVORA_CORPUS_DIR); skipped";
  std::size_t files = 0, objects = 0, rows = 0;
  for (const auto& de : std::filesystem::directory_iterator(dir)) {
    const auto ext = de.path().extension().string();
    if (ext != ".pst" && ext != ".ost") continue;
    const std::string name = de.path().filename().string();
    SCOPED_TRACE(name);
    OstContext ctx;
    ASSERT_EQ(OpenStore(ctx, de.path().string()), 0);
    ASSERT_EQ(LoadBlockIndex(ctx), 0);
    ASSERT_EQ(LoadNodeIndex(ctx), 0);
    auto names = LoadNames(ctx);
    ASSERT_TRUE(names.has_value());
    EXPECT_FALSE(names->empty());
    Tally t;
    for (const auto& n : ctx.nodes->nodes()) {
      DecodeTree(ctx, n.nid, n.data_bid, n.sub_bid, &*names, t, 0);
    }
    for (const auto& [what, count] : t.failures) ADD_FAILURE() << what << " x" << count;
    EXPECT_EQ(t.failed, 0u);
    EXPECT_EQ(t.dropped, 0u);
    std::printf("[ corpus ] %-40s objects %zu (data trees %zu), table rows %zu, failed %zu, dropped %zu\n",
                name.c_str(), t.objects, t.multi_block, t.rows, t.failed, t.dropped);
    ++files;
    objects += t.objects;
    rows += t.rows;
  }
  std::printf("[ corpus ] %zu files, %zu objects, %zu table rows decoded from %s\n", files, objects,
              rows, dir.c_str());
}

}  // namespace
}  // namespace salvora
