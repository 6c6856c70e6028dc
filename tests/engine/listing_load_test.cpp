// The analysis walk loads items for its lists without their bodies. What it shows must not
// change for that: the folders, counters, every summary and the list of what was lost or read
// from damaged blocks are held to those of a full load, on the bundled sample, on a synthetic
// offline store with RTF and HTML bodies, and on copies damaged inside those bodies.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <map>

#include "content/property_decoder.h"
#include "engine/analysis_pass.h"
#include "engine/object_loader.h"
#include "pststore/pst/pst_writer.h"
#include "support/run_program.h"
#include "support/store_damage.h"

namespace salvora {
namespace {

struct Analysed {
  AnalysisStatus status = AnalysisStatus::kCompleted;
  AnalysisResult result;
};

std::unique_ptr<Analysed> analyse(const std::string& path, AttachmentLoad load, bool keep_lists = true) {
  auto run = std::make_unique<Analysed>();
  PassControl control;
  AnalysisObserver quiet;
  AnalysisOptions options;
  options.source_path = path;
  options.write_log = false;
  options.item_load = load;
  options.keep_lists = keep_lists;
  run->status = RunAnalysis(options, control, quiet, run->result);
  return run;
}

// Analyses the file both ways and expects the same of everything the screens show, and the same
// counts from a run that keeps no lists; returns the listing's run.
std::unique_ptr<Analysed> ExpectListingAsFull(const std::string& path) {
  const auto full = analyse(path, AttachmentLoad::kTableOnly);
  auto listed = analyse(path, AttachmentLoad::kListing);
  const AnalysisResult& f = full->result;
  const AnalysisResult& l = listed->result;
  EXPECT_EQ(listed->status, full->status);
  EXPECT_EQ(l.counters, f.counters);
  EXPECT_EQ(l.nodes_decoded, f.nodes_decoded);
  EXPECT_EQ(l.folders, f.folders);
  const auto& lf = l.mail_folders.entries();
  const auto& ff = f.mail_folders.entries();
  EXPECT_EQ(lf.size(), ff.size());
  for (std::size_t i = 0; i < std::min(lf.size(), ff.size()); ++i) {
    EXPECT_EQ(lf[i].path, ff[i].path);
    EXPECT_EQ(lf[i].folder_nid, ff[i].folder_nid) << lf[i].path;
    EXPECT_TRUE(lf[i].items == ff[i].items) << lf[i].path;
  }
  EXPECT_TRUE(l.tasks == f.tasks);
  EXPECT_TRUE(l.notes == f.notes);
  EXPECT_TRUE(l.journal == f.journal);
  EXPECT_TRUE(l.calendar == f.calendar);
  EXPECT_TRUE(l.contacts == f.contacts);
  EXPECT_EQ(l.calendar_folder_path, f.calendar_folder_path);
  // The listing reads each attachment's object as well, which the table alone does not: it
  // names everything the table-only load names, and the damage of attachment objects besides.
  for (const auto& line : f.lost) EXPECT_NE(std::find(l.lost.begin(), l.lost.end(), line), l.lost.end()) << line;
  EXPECT_EQ(l.rebuilt, f.rebuilt);

  // Without the lists (the command line's analyze), the counts are those of the lists.
  std::map<std::uint32_t, std::size_t> by_folder;
  for (const auto& e : lf)
    for (const auto& item : e.items) ++by_folder[item.folder_nid.value];
  EXPECT_EQ(l.mail_items_by_folder, by_folder);
  const auto counted = analyse(path, AttachmentLoad::kListing, false);
  const AnalysisResult& c = counted->result;
  EXPECT_EQ(counted->status, full->status);
  EXPECT_EQ(c.mail_items_by_folder, by_folder);
  EXPECT_EQ(c.counters, f.counters);
  EXPECT_EQ(c.folders, f.folders);
  EXPECT_EQ(c.lost, l.lost);
  for (const auto& e : c.mail_folders.entries()) EXPECT_TRUE(e.items.empty()) << e.path;
  EXPECT_TRUE(c.tasks.empty() && c.notes.empty() && c.journal.empty() && c.calendar.empty() && c.contacts.empty());
  return listed;
}

std::size_t mail_items(const AnalysisResult& r) {
  std::size_t n = 0;
  for (const auto& e : r.mail_folders.entries()) n += e.items.size();
  return n;
}

TEST(ListingLoad, SampleListsAsAFullLoadDoes) {
  const auto listed = ExpectListingAsFull(testing::SourceDir() + "/samples/sample.ost");
  EXPECT_EQ(listed->status, AnalysisStatus::kCompleted);
  EXPECT_GT(mail_items(listed->result), 0u);
}

// The damage campaign's kinds of harm, a few seeds of each round of them, on the sample.
TEST(ListingLoad, DamagedSamplesListAsAFullLoadDoes) {
  const auto original = testing::ReadBytes(testing::SourceDir() + "/samples/sample.ost");
  const std::string path = ::testing::TempDir() + "/listing-damaged-sample.ost";
  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    const auto damage = testing::DamageStore(original, seed);
    testing::WriteBytes(path, damage.bytes);
    SCOPED_TRACE(damage.name);
    ExpectListingAsFull(path);
  }
  std::filesystem::remove(path);
}

// A sticky note's column shows the start of its text A, which a listing still reads; its body
// is left for the preview.
TEST(ListingLoad, NoteKeepsItsText) {
  const std::string path = ::testing::TempDir() + "/listing-notes.pst";
  {
    auto w = pst::PstWriter::Create(path, {});
    const auto notes = w->AddFolder(w->ipm_subtree(), "Notes", "IPF.StickyNote");
    pst::MessageSpec m;
    m.props.push_back(pst::Property::String(kPidMessageClass, "IPM.StickyNote"));
    m.props.push_back(pst::Property::String(kPidSubject, "shopping"));
    m.props.push_back(pst::Property::String(0x6619, "milk, bread and " + std::string(2000, 'e')));
    m.props.push_back(pst::Property::String(kPidBody, std::string(50000, 'b')));
    w->AddMessage(notes, m);
    w->Close();
  }
  const auto listed = ExpectListingAsFull(path);
  ASSERT_EQ(listed->result.notes.size(), 1u);
  const NoteSummary& note = listed->result.notes[0];
  EXPECT_EQ(note.subject, "shopping");
  ASSERT_TRUE(note.text.has_value());
  EXPECT_EQ(note.text->substr(0, 16), "milk, bread and ");
  EXPECT_EQ(note.text->size(), 512u);  // the column's share, not the whole text
  std::filesystem::remove(path);
}

// Asks for nothing but records which sub-nodes a listing decode left unread.
class SkippedSubnodes : public SubnodeSource {
 public:
  SkippedSubnodes(const OstContext& ctx, const std::vector<SubnodeEntry>& list) : inner_(ctx, list) {}
  std::optional<ByteVector> Value(Nid nid) const override { return inner_.Value(nid); }
  std::optional<std::vector<ByteVector>> Blocks(Nid nid) const override { return inner_.Blocks(nid); }
  bool Readable(Nid nid) const override {
    skipped.push_back(nid);
    return inner_.Readable(nid);
  }
  mutable std::vector<Nid> skipped;

 private:
  OstSubnodes inner_;
};

// A message and the data blocks (or data trees) of the bodies a listing leaves in sub-nodes.
struct BodyNodes {
  Nid message;
  std::vector<Bid> values;
};

class SyntheticOst : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = ::testing::TempDir() + "/listing-synthetic-36.ost";
    const auto r = testing::RunProgram(testing::ProgramPath("salvora-cli"),
                                       {"synth", "--client", "ost", "--format", "36", "--messages", "300",
                                        "--attachments-per-message", "1", "--seed", "5", path_});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  static void TearDownTestSuite() { std::filesystem::remove(path_); }

  // Every message whose bodies a listing leaves in sub-nodes, and how many values of each id
  // it left unread in the whole store.
  static std::vector<BodyNodes> Bodies(std::map<std::uint32_t, int>& skipped_ids) {
    OstContext ctx;
    EXPECT_EQ(OpenStore(ctx, path_), 0);
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
    DecodeOptions options;
    options.hid_layout = hid_layout_for(ctx);
    options.listing = true;
    std::vector<BodyNodes> out;
    for (const NodeRecord& n : ctx.nodes->nodes()) {
      if (n.nid.type() != kNidTypeNormalMessage || !n.data_block) continue;
      auto subnodes = ReadSubnodes(ctx, n.sub_bid);
      auto blocks = ReadNodeBlocks(ctx, n.data_bid);
      if (!subnodes || !blocks) continue;
      SkippedSubnodes source(ctx, *subnodes);
      const auto decoded = decode_heap_properties(std::move(*blocks), &source, options);
      if (!decoded) continue;
      for (const auto& e : decoded.list->blocks[0].entries) skipped_ids[e.id] += e.value_skipped ? 1 : 0;
      BodyNodes body{n.nid, {}};
      for (const Nid nid : source.skipped) body.values.push_back(FindSubnode(*subnodes, nid)->data_bid);
      if (!body.values.empty()) out.push_back(std::move(body));
    }
    return out;
  }

  static std::string path_;
};

std::string SyntheticOst::path_;

TEST_F(SyntheticOst, ListsAsAFullLoadDoes) {
  std::map<std::uint32_t, int> skipped;
  const auto bodies = Bodies(skipped);
  // The store must hold what the listing leaves unread, in the heap and in sub-nodes, or this
  // compares nothing.
  EXPECT_GT(skipped[kPidRtfCompressed], 0);
  EXPECT_GT(skipped[kPidHtml], 0);
  EXPECT_GT(skipped[kPidBody], 0);
  EXPECT_FALSE(bodies.empty());
  const auto listed = ExpectListingAsFull(path_);
  EXPECT_GT(mail_items(listed->result), 100u);
  EXPECT_TRUE(listed->result.lost.empty()) << ::testing::PrintToString(listed->result.lost);
}

// The save pass leaves the plain body and the compressed RTF as stored: nothing else of a record
// may change for it.
TEST_F(SyntheticOst, BodiesLeftAsStoredChangeNothingElse) {
  OstContext ctx;
  ASSERT_EQ(OpenStore(ctx, path_), 0);
  LoadBlockIndex(ctx);
  LoadNodeIndex(ctx);
  int with_rtf = 0, with_body = 0;
  for (const NodeRecord& n : ctx.nodes->nodes()) {
    if (n.nid.type() != kNidTypeNormalMessage || !n.data_block) continue;
    const auto text = LoadItem(ctx, &n);
    const auto compressed = LoadItem(ctx, &n, AttachmentLoad::kObjects, nullptr, BodyLoad::kAsStored);
    ASSERT_EQ(!text, !compressed);
    if (!text || !text->message) continue;
    ASSERT_TRUE(compressed->message);
    const MessageFields& t = *text->message;
    const MessageFields& c = *compressed->message;
    if (t.rtf_body) ++with_rtf;
    if (t.plain_body) ++with_body;
    EXPECT_FALSE(c.rtf_body);
    EXPECT_EQ(c.rtf_available, 0);
    EXPECT_FALSE(c.plain_body);
    EXPECT_EQ(c.subject.has_value(), t.subject.has_value());
    EXPECT_EQ(c.html_body, t.html_body);
    EXPECT_EQ(c.text_a, t.text_a);
    EXPECT_EQ(compressed->item_class, text->item_class);
    EXPECT_EQ(compressed->attachments.size(), text->attachments.size());
  }
  EXPECT_GT(with_rtf, 0);  // or this compares nothing
  EXPECT_GT(with_body, 0);
}

// Damage inside a body the listing leaves unread is still reported for its message, as a full
// load reports it: a data block whose checksum is wrong but whose bytes are whole, a data block
// overwritten (it no longer inflates), and a data tree's own block with a wrong checksum.
TEST_F(SyntheticOst, DamageInsideABodyIsStillReported) {
  std::map<std::uint32_t, int> skipped;
  const auto bodies = Bodies(skipped);
  const std::string damaged = ::testing::TempDir() + "/listing-damaged-body.ost";
  auto bytes = testing::ReadBytes(path_);
  std::vector<Nid> expected;
  {
    OstContext ctx;
    ASSERT_EQ(OpenStore(ctx, path_), 0);
    LoadBlockIndex(ctx);
    const PageGeometry& g = ctx.geometry;
    const auto crc_at = [&](const BlockEntry& e) {
      const std::uint64_t padded = (e.cb + g.block_trailer_size + g.block_alignment - 1) / g.block_alignment * g.block_alignment;
      return e.ib + padded - g.block_trailer_size + 4;
    };
    bool leaf_crc = false, leaf_bytes = false, tree_crc = false;
    for (const BodyNodes& body : bodies) {
      for (const Bid bid : body.values) {
        const auto e = FindBlock(ctx, bid);
        if (!e) continue;
        const bool tree = bid.is_internal();
        if (tree && !tree_crc) {
          bytes.at(crc_at(*e)) ^= 0x5A;
          tree_crc = true;
        } else if (!tree && !leaf_crc) {
          bytes.at(crc_at(*e)) ^= 0x5A;
          leaf_crc = true;
        } else if (!tree && !leaf_bytes) {
          std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(e->ib), e->cb, 0xFF);
          leaf_bytes = true;
        } else {
          continue;
        }
        expected.push_back(body.message);
        break;
      }
    }
    EXPECT_TRUE(leaf_crc && leaf_bytes && tree_crc) << "bodies in the synthetic store: " << bodies.size();
  }
  testing::WriteBytes(damaged, bytes);
  const auto listed = ExpectListingAsFull(damaged);
  for (const Nid nid : expected) {
    const std::string line = "item " + std::to_string(nid.value) + ": part of its data is damaged";
    const auto& lost = listed->result.lost;
    EXPECT_TRUE(std::any_of(lost.begin(), lost.end(), [&](const std::string& s) { return s.find(line) != std::string::npos; }))
        << line << " in " << ::testing::PrintToString(lost);
  }
  std::filesystem::remove(damaged);
}

}  // namespace
}  // namespace salvora
