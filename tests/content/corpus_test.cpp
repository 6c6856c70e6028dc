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

namespace salvora {
namespace {

struct LoadedStore {
  OstContext ctx;
  std::optional<NamedPropertyMap> names;
};

std::unique_ptr<LoadedStore> OpenSample(const std::string& path, std::uint32_t codepage) {
  auto s = std::make_unique<LoadedStore>();
  if (OpenStore(s->ctx, path) != 0 || LoadBlockIndex(s->ctx) != 0 || LoadNodeIndex(s->ctx) != 0) return nullptr;
  s->ctx.default_codepage = codepage;
  s->names = LoadNames(s->ctx);
  return s;
}

// The records of every message of one class, in NID order.
std::vector<ItemRecord> RecordsOfClass(const LoadedStore& s, const std::string& cls) {
  std::vector<ItemRecord> out;
  for (const auto& n : s.ctx.nodes->nodes()) {
    if (n.nid.type() != kNidTypeNormalMessage) continue;
    std::optional<std::vector<SubnodeEntry>> subs;
    if (!n.sub_bid.is_null()) subs = ReadSubnodes(s.ctx, n.sub_bid);
    auto r = decode_properties(s.ctx, n.data_bid, subs ? &*subs : nullptr, s.names ? &*s.names : nullptr);
    if (!r) continue;
    ItemRecord rec;
    apply_properties(r.list->blocks, &rec, apply_options_for(s.ctx));
    if (rec.item_class == cls) out.push_back(std::move(rec));
  }
  return out;
}

std::vector<std::string> ContactTexts(const ItemRecord& r) {
  std::vector<std::string> out;
  auto add = [&](const std::optional<std::string>& s) { out.push_back(s.value_or("<absent>")); };
  add(r.display_name);
  if (r.message && r.message->subject) out.push_back(r.message->subject->text);
  if (r.message) {
    add(r.message->sender_name);
    add(r.message->plain_body);
    add(r.message->conversation_topic);
  }
  if (r.contact) {
    const ContactFields& c = *r.contact;
    for (const auto* f : {&c.company, &c.email_address, &c.surname, &c.given_name, &c.job_title,
                          &c.department, &c.business_phone, &c.mobile_phone, &c.business_street,
                          &c.business_city, &c.business_postal_code, &c.nickname}) {
      add(*f);
    }
  }
  return out;
}

// The Japanese ANSI sample names no code page; read with 932 it must say what its Unicode twin
// says, and read with the default 1252 it must not.
TEST(ContentCorpus, JapaneseAnsiContactMatchesItsUnicodeTwin) {
  const std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "sample corpus not found (set SALVORA_CORPUS_DIR); skipped";
  auto ansi = OpenSample(dir + "/hht-contacts97-2002.pst", 932);
  auto uni = OpenSample(dir + "/hht-contacts.pst", 1252);
  ASSERT_TRUE(ansi && uni);
  ASSERT_TRUE(ansi->ctx.is_ansi());
  const auto a = RecordsOfClass(*ansi, "IPM.Contact");
  const auto u = RecordsOfClass(*uni, "IPM.Contact");
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(u.size(), 1u);
  EXPECT_EQ(a[0].kind, ItemKind::kContact);
  ASSERT_TRUE(a[0].contact && a[0].contact->given_name);
  ASSERT_TRUE(a[0].message && a[0].message->subject);
  EXPECT_EQ(a[0].message->subject->text,
            "\xE3\x82\xB3\xE3\x83\xA0 \xE3\x83\x89\xE3\x83\x83\xE3\x83\x88 "
            "\xE3\x82\xA4\xE3\x82\xB0\xE3\x82\xB6\xE3\x83\xB3\xE3\x83\x97\xE3\x83\xAB \xE6\xAE\xBF");
  EXPECT_EQ(ContactTexts(a[0]), ContactTexts(u[0]));

  ansi.reset();  // the store is opened exclusively
  auto western = OpenSample(dir + "/hht-contacts97-2002.pst", 1252);
  ASSERT_TRUE(western);
  const auto w = RecordsOfClass(*western, "IPM.Contact");
  ASSERT_EQ(w.size(), 1u);
  EXPECT_NE(ContactTexts(w[0]), ContactTexts(u[0]));
  std::printf("[ corpus ] Japanese ANSI contact read with 932 matches its Unicode twin\n");
}

}  // namespace
}  // namespace salvora
