// The damage campaign: seeded damaged copies of the bundled sample, of stores written in code and
// (labelled slow) of the corpus, each converted. Whatever the damage, a run that lost anything
// says so and does not exit 0, no run exits 0 with fewer messages than the undamaged store gave,
// every PST made verifies, and the PST holds at least the messages libpff reads from the copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>

#include "ndb/block_reader.h"
#include "format/byte_writer.h"
#include "format/crc.h"
#include "ndb/ost_context.h"
#include "support/ndb_builder.h"
#include "support/run_program.h"
#include "support/store_damage.h"
#include "support/test_folder.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using testing::ByteVector;
using testing::ProgramPath;
using testing::RunProgram;

using testing::HavePypff;
using testing::ToolsDir;

// The messages a PST holds, as our verifier counts them; -1 when it finds violations.
int PstMessages(const std::string& pst, std::string* problems) {
  auto v = RunProgram(ProgramPath("salvora-cli"), {"verify", pst});
  const std::string said = v.out + v.err;
  std::smatch m;
  static const std::regex kCount(R"((\d+) messages)");
  if (v.exit_code != 0 || !std::regex_search(said, m, kCount)) {
    *problems = said;
    return -1;
  }
  return std::stoi(m[1]);
}

// The messages libpff reads from a file; 0 when it cannot open it.
int PeerMessages(const std::string& file) {
  auto r = RunProgram("/usr/bin/timeout", {"120", ToolsDir() + "/peer-dump-pypff", file, "--summary"});
  std::smatch m;
  static const std::regex kCount(R"("messages": (\d+))");
  return std::regex_search(r.out, m, kCount) ? std::stoi(m[1]) : 0;
}

struct Campaign {
  std::string dir;
  int baseline = 0;  // messages in the PST of the undamaged store
  bool with_peer = false;
  // Messages libpff reads from the undamaged store beyond what its PST holds (items of kinds
  // the PST keeps as no message): a damaged copy may show as many more.
  int peer_surplus = 0;

  // Converts one damaged copy; empty when every rule holds, else what broke.
  std::string Run(const testing::StoreDamage& damage) const {
    const std::string copy = dir + "/copy.ost", out = dir + "/out";
    fs::remove_all(out);
    testing::WriteBytes(copy, damage.bytes);
    auto c = RunProgram(ProgramPath("salvora-cli"), {"convert", copy, "--dest", out});
    const std::string pst = [&] {
      const std::string tag = "pst=";
      const auto at = c.out.find(tag);
      return at == std::string::npos ? std::string() : c.out.substr(at + tag.size(), c.out.find('\n', at) - at - tag.size());
    }();
    const std::string seen = damage.name + ": exit " + std::to_string(c.exit_code) + "\n" + c.err;
    if (c.exit_code == 1) {
      if (std::count(c.err.begin(), c.err.end(), '\n') != 1) return "a failure of more than one line; " + seen;
      return {};
    }
    if (c.exit_code != 0 && c.exit_code != 3) return "an unexpected exit status; " + seen;
    if (c.exit_code == 3 && c.err.find("were lost or damaged") == std::string::npos)
      return "exit 3 without the count of what was lost; " + seen;
    std::string problems;
    const int messages = PstMessages(pst, &problems);
    if (messages < 0) return "the PST does not verify: " + problems + "; " + seen;
    if (c.exit_code == 0 && messages < baseline)
      return "exit 0 with " + std::to_string(messages) + " of " + std::to_string(baseline) + " messages; " + seen;
    if (with_peer) {
      const int peer = PeerMessages(copy);
      if (peer > messages + peer_surplus)
        return "libpff reads " + std::to_string(peer) + " messages, the PST holds " + std::to_string(messages) + "; " + seen;
    }
    return {};
  }
};

// Under the sanitizers every program run takes several times as long: a quarter of the seeds
// (the same ones every time) still puts each kind of damage through them.
#ifdef SALVORA_SANITIZED
constexpr int kCopyShare = 4;
#else
constexpr int kCopyShare = 1;
#endif

// Runs `copies` seeded damages of one store; every broken rule is one failure line.
void RunCampaign(const std::string& name, const ByteVector& store, std::uint32_t first_seed, int copies) {
  copies = std::max(1, copies / kCopyShare);
  Campaign campaign;
  campaign.dir = testing::TestTempDir() + "/campaign-" + name;
  fs::remove_all(campaign.dir);
  fs::create_directories(campaign.dir);
  campaign.with_peer = HavePypff();
  {
    testing::WriteBytes(campaign.dir + "/original.ost", store);
    auto c = RunProgram(ProgramPath("salvora-cli"), {"convert", campaign.dir + "/original.ost", "--dest", campaign.dir + "/base"});
    ASSERT_EQ(c.exit_code, 0) << name << ": the undamaged store does not convert cleanly: " << c.err;
    std::string problems;
    campaign.baseline = PstMessages(c.out.substr(4, c.out.find('\n') - 4), &problems);
    ASSERT_GE(campaign.baseline, 0) << problems;
    if (campaign.with_peer)
      campaign.peer_surplus = std::max(0, PeerMessages(campaign.dir + "/original.ost") - campaign.baseline);
  }
  int failures = 0;
  for (int i = 0; i < copies && failures < 10; ++i) {
    const std::string broken = campaign.Run(testing::DamageStore(store, first_seed + static_cast<std::uint32_t>(i)));
    if (!broken.empty()) {
      ADD_FAILURE() << name << ": " << broken;
      ++failures;
    }
  }
  fs::remove_all(campaign.dir);
}

// A synthetic store; its attachments are large, so the store with them holds fewer messages.
ByteVector Synthesized(const std::string& client, const std::string& messages, const std::string& attachments,
                       const std::string& seed) {
  const std::string path = testing::TestTempDir() + "/campaign-synth-" + client + ".pst";
  auto r = RunProgram(ProgramPath("salvora-cli"), {"synth", path, "--client", client, "--messages", messages, "--folders",
                                                   "4", "--attachments-per-message", attachments, "--seed", seed});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  ByteVector bytes = testing::ReadBytes(path);
  fs::remove(path);
  return bytes;
}

// 110 seeds of the bundled sample, in four parts that the test shards run side by side.
constexpr int kSampleSeeds = 110;
constexpr int kSampleParts = 4;

class DamageCampaignOfTheSample : public ::testing::TestWithParam<int> {};

TEST_P(DamageCampaignOfTheSample, BundledSample) {
  const int part = GetParam();
  const int per_part = (kSampleSeeds + kSampleParts - 1) / kSampleParts;
  const int first = part * per_part;
  const int copies = std::min(per_part, kSampleSeeds - first);
  RunCampaign("sample-" + std::to_string(part), testing::ReadBytes(testing::SourceDir() + "/samples/sample.ost"),
              1000 + static_cast<std::uint32_t>(first), copies);
}
INSTANTIATE_TEST_SUITE_P(Parts, DamageCampaignOfTheSample, ::testing::Range(0, kSampleParts));

TEST(DamageCampaign, PstWrittenInCode) {
  RunCampaign("synth-pst", Synthesized("pst", "120", "0", "11"), 2000, 70);
}

TEST(DamageCampaign, OstWrittenInCode) {
  RunCampaign("synth-ost", Synthesized("ost", "30", "1", "12"), 3000, 70);
}

// Ten copies of every corpus file.
TEST(DamageCampaign, CorpusStores) {
  const std::string corpus = testing::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus folder: the corpus campaign is skipped";
  std::uint32_t seed = 5000;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    const auto ext = entry.path().extension();
    if (ext != ".pst" && ext != ".ost") continue;
    RunCampaign(entry.path().filename().string(), testing::ReadBytes(entry.path().string()), seed, 10);
    seed += 100;
  }
}

// Messages of a store whose data block lies wholly within its first `keep` bytes.
int MessagesWithin(const std::string& path, std::uint64_t keep) {
  OstContext ctx;
  if (OpenStore(ctx, path) != 0) return -1;
  LoadBlockIndex(ctx);
  LoadNodeIndex(ctx);
  int n = 0;
  for (const NodeRecord& node : ctx.nodes->nodes()) {
    const auto b = node.data_block ? FindBlock(ctx, node.data_bid) : std::nullopt;
    n += node.nid.type() == kNidTypeNormalMessage && b && !b->bid.is_internal() && b->ib + b->cb <= keep ? 1 : 0;
  }
  return n;
}

// The damaged copies that once gave partial PSTs without a word: each now recovers every
// message still on disk, and the three commands agree that something was damaged or not.
TEST(DamageCampaign, DamageThatOnceWentUnnoticed) {
  const std::string corpus = testing::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus folder: the damaged corpus copies are skipped";
  const std::string dir = testing::TestTempDir() + "/unnoticed";
  fs::create_directories(dir);
  struct Case {
    const char* name;
    const char* file;
    std::function<void(ByteVector&)> damage;
    int expected = -1;  // messages the PST must hold; -1: as many as the undamaged store gives
  };
  const std::string quick = corpus + "/p2j-2003-none-quickquick.pst";
  const Case cases[] = {
      {"two node leaf pages swapped", "hughbe-hughbe-outlook.pst",
       [](ByteVector& b) {
         const auto leaves = testing::RootChildren(b, 0x81);
         ASSERT_GE(leaves.size(), 2u);
         std::swap_ranges(b.begin() + static_cast<std::ptrdiff_t>(leaves[0]),
                          b.begin() + static_cast<std::ptrdiff_t>(leaves[0] + 512),
                          b.begin() + static_cast<std::ptrdiff_t>(leaves[1]));
       }},
      {"a live block index page zeroed", "p2j-97-pass12345.pst",
       [](ByteVector& b) {
         const auto leaves = testing::RootChildren(b, 0x80);
         ASSERT_FALSE(leaves.empty());
         std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(leaves.back()), 512, 0);
       }},
      {"cut to its first 1,000,000 bytes", "p2j-2003-none-quickquick.pst", [](ByteVector& b) { b.resize(1000000); },
       MessagesWithin(quick, 1000000)},
      {"end of file past the end", "p2j-2003-none-quickquick.pst",
       [](ByteVector& b) { testing::SetEndOfFile(b, b.size() + 65536); }},
  };
  for (const auto& c : cases) {
    const std::string source = corpus + "/" + c.file;
    ByteVector bytes = testing::ReadBytes(source);
    c.damage(bytes);
    const std::string copy = dir + "/copy.pst";
    testing::WriteBytes(copy, bytes);
    fs::remove_all(dir + "/out");
    fs::remove_all(dir + "/base");
    auto base = RunProgram(ProgramPath("salvora-cli"), {"convert", source, "--dest", dir + "/base"});
    auto run = RunProgram(ProgramPath("salvora-cli"), {"convert", copy, "--dest", dir + "/out"});
    std::string problems;
    const int expected = c.expected >= 0 ? c.expected : PstMessages(base.out.substr(4, base.out.find('\n') - 4), &problems);
    ASSERT_NE(run.out.find("pst="), std::string::npos) << c.name << ": " << run.err;
    const int got = PstMessages(run.out.substr(4, run.out.find('\n') - 4), &problems);
    EXPECT_GE(got, expected) << c.name << ": " << problems << run.err;
    EXPECT_GT(expected, 0) << c.name;
    const bool lost = run.exit_code == 3;
    EXPECT_TRUE(run.exit_code == 0 || lost) << c.name << ": " << run.err;
    EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"analyze", copy}).exit_code, run.exit_code) << c.name;
    EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"dump", copy}).exit_code, run.exit_code) << c.name;
  }
  fs::remove_all(dir);
}

// ---- Issue 34: every loss named alike by every command ---------------------------------------

// What the damage kinds below need to know of a store: its layout's page and where things are.
struct StoreMap {
  bool wide4k = false;              // 4 KB pages
  std::uint64_t message_with_sub = 0;  // a message whose node names a sub-node block
  std::uint64_t folder_block = 0;   // the data block of a folder other than the root: offset
  std::uint64_t tree_block = 0;     // the data tree of an attachment: offset, stored size
  std::uint16_t tree_cb = 0;
  std::string tree_attachment;      // that attachment's name as every command names it
};

// dump: the source's dump, where an attachment is found by its size.
StoreMap MapStore(const std::string& path, const std::string& dump) {
  StoreMap m;
  OstContext ctx;
  if (OpenStore(ctx, path) != 0) return m;
  LoadBlockIndex(ctx);
  LoadNodeIndex(ctx);
  m.wide4k = ctx.geometry.page_size == 4096;
  std::uint32_t last_folder = 0;
  for (const NodeRecord& node : ctx.nodes->nodes()) {
    const auto type = node.nid.type();
    const auto block = node.data_block ? FindBlock(ctx, node.data_bid) : std::nullopt;
    // The folder made last: one of the user's, never one the store keeps for itself.
    if (type == kNidTypeNormalFolder && block && !block->bid.is_internal() && node.nid.value > last_folder) {
      m.folder_block = block->ib;
      last_folder = node.nid.value;
    }
    if (type == kNidTypeNormalMessage && !node.sub_bid.is_null() && m.message_with_sub == 0)
      m.message_with_sub = node.nid.value;
  }
  // A data tree over data blocks whose size is that of one attachment alone.
  ctx.blocks->ForEach(ctx.file, [&](const BlockEntry& e) {
    const auto b = e.bid.is_internal() ? ReadBlockDecoded(ctx, e.bid) : std::nullopt;
    if (!b || b->size() < 8 || (*b)[0] != 1 || (*b)[1] != 1) return true;
    const std::regex one("\"filename\":\"([^\"]*)\",\"method\":1,\"size\":" + std::to_string(load_u32(*b, 4)) + ",");
    std::smatch found;
    if (!std::regex_search(dump, found, one)) return true;
    m.tree_block = e.ib;
    m.tree_cb = e.cb;
    m.tree_attachment = found[1];
    return false;
  });
  return m;
}

// The block trailer's checksum made right again after a change to a block of a 512-byte-page
// store: cb bytes of data, then its trailer at the next 64-byte boundary but 16.
void FixBlockCrc(ByteVector& b, std::uint64_t ib, std::uint16_t cb) {
  const std::uint64_t trailer = ib + ((cb + 16 + 63) / 64) * 64 - 16;
  store_u32(b, trailer + 4, ComputeCrc(Bytes(b).subspan(ib, cb)));
}

// The offset of the live node index entry for nid in a leaf page; 0 when none.
std::uint64_t NodeEntry(const ByteVector& b, std::uint64_t nid) {
  for (const std::uint64_t page : testing::IndexPages(b, 0x81, 0)) {
    const std::size_t count = b[page + 488];
    for (std::size_t i = 0; i < count; ++i) {
      if (load_u64(b, page + i * 32) == nid) return page + i * 32;
    }
  }
  return 0;
}

struct CommandRuns {
  int analyze = -1, dump = -1, convert = -1;
  std::string analyze_err, dump_err, convert_err, pst;
};

CommandRuns RunCommands(const std::string& copy, const std::string& dest) {
  CommandRuns r;
  auto a = RunProgram(ProgramPath("salvora-cli"), {"analyze", copy});
  auto d = RunProgram(ProgramPath("salvora-cli"), {"dump", copy});
  fs::remove_all(dest);
  auto c = RunProgram(ProgramPath("salvora-cli"), {"convert", copy, "--dest", dest});
  r.analyze = a.exit_code, r.dump = d.exit_code, r.convert = c.exit_code;
  r.analyze_err = a.err, r.dump_err = d.err, r.convert_err = c.err;
  const auto at = c.out.find("pst=");
  if (at != std::string::npos) r.pst = c.out.substr(at + 4, c.out.find('\n', at) - at - 4);
  return r;
}

// Attachments with data in the first dump that the second shows empty.
int AttachmentsEmptied(const std::string& source_dump, const std::string& pst_dump) {
  static const std::regex kEmpty(R"("size":0\b)");
  const auto count = [](const std::string& s) {
    return static_cast<int>(std::distance(std::sregex_iterator(s.begin(), s.end(), kEmpty), std::sregex_iterator()));
  };
  return count(pst_dump) - count(source_dump);
}

TEST(DamageCampaign, EveryCommandNamesTheSameLossesOfEachKind) {
  const std::string dir = testing::FreshTestDir("issue34");
  const std::string original = dir + "/original.pst";
  const ByteVector store = Synthesized("pst", "60", "2", "34");
  testing::WriteBytes(original, store);
  const std::string source_dump = RunProgram(ProgramPath("salvora-cli"), {"dump", original}).out;
  const StoreMap map = MapStore(original, source_dump);
  ASSERT_FALSE(map.wide4k);
  ASSERT_NE(map.message_with_sub, 0u);
  ASSERT_NE(map.folder_block, 0u);
  ASSERT_NE(map.tree_block, 0u) << "no attachment of the synthesized store is held in a data tree";
  const auto baseline = RunCommands(original, dir + "/base");
  ASSERT_EQ(baseline.convert, 0) << baseline.convert_err;
  const std::string quoted = "attachment \"" + map.tree_attachment + "\" could not be read whole";

  struct Case {
    const char* name;
    std::function<void(ByteVector&)> damage;
    std::string words;  // named by all three commands; empty: nothing is lost, all three exit 0
  };
  const Case cases[] = {
      // Its checksum fails: the entry is confirmed or named, never taken on trust.
      {"a node index page's entry bent to a sub-node block that is not there",
       [&](ByteVector& b) {
         const std::uint64_t at = NodeEntry(b, map.message_with_sub);
         ASSERT_NE(at, 0u);
         store_u64(b, at + 16, load_u64(b, at + 16) ^ 0x7F000000);
       },
       "that is not in the file: what the node keeps there"},
      {"a block index page's entry bent to a wrong offset",
       [&](ByteVector& b) {
         const auto pages = testing::IndexPages(b, 0x80, 0);
         ASSERT_FALSE(pages.empty());
         store_u64(b, pages.front() + 8, load_u64(b, pages.front() + 8) + 64);
       },
       ""},
      {"a data tree whose count was lowered, its checksum made right",
       [&](ByteVector& b) {
         store_u16(b, map.tree_block + 2, static_cast<std::uint16_t>(load_u16(b, map.tree_block + 2) - 1));
         FixBlockCrc(b, map.tree_block, map.tree_cb);
       },
       quoted},
      {"a data tree whose count is impossible, its checksum made right",
       [&](ByteVector& b) {
         store_u16(b, map.tree_block + 2, 0x7FFF);
         FixBlockCrc(b, map.tree_block, map.tree_cb);
       },
       quoted},
      {"a block checksum failure in a folder's name",
       [&](ByteVector& b) { b[map.folder_block + 20] ^= 0x01; },
       "part of its data is damaged (block checksums do not match)"},
      // Read by its lower half: nothing is lost.
      {"a node id with its upper half set, the page's checksum made right",
       [&](ByteVector& b) {
         const std::uint64_t at = NodeEntry(b, map.message_with_sub);
         ASSERT_NE(at, 0u);
         b[at + 5] = 0x01;
         const std::uint64_t page = at - (at % 512);
         store_u32(b, page + 500, ComputeCrc(Bytes(b).subspan(page, 496)));
       },
       ""},
  };
  for (const auto& c : cases) {
    ByteVector bytes = store;
    c.damage(bytes);
    const std::string copy = dir + "/copy.pst";
    testing::WriteBytes(copy, bytes);
    const auto r = RunCommands(copy, dir + "/out");
    const std::string said = std::string(c.name) + "\nanalyze: " + r.analyze_err + "\ndump: " + r.dump_err +
                             "\nconvert: " + r.convert_err;
    const int expected = c.words.empty() ? 0 : 3;
    EXPECT_EQ(r.analyze, expected) << said;
    EXPECT_EQ(r.dump, expected) << said;
    EXPECT_EQ(r.convert, expected) << said;
    if (!c.words.empty()) {
      for (const std::string* err : {&r.analyze_err, &r.dump_err, &r.convert_err})
        EXPECT_NE(err->find(c.words), std::string::npos) << said;
    }
    ASSERT_FALSE(r.pst.empty()) << said;
    std::string problems;
    if (expected == 0) EXPECT_EQ(PstMessages(r.pst, &problems), PstMessages(baseline.pst, &problems)) << said << problems;
    // An attachment the source had with data is in the PST with data, or named.
    const std::string pst_dump = RunProgram(ProgramPath("salvora-cli"), {"dump", r.pst}).out;
    if (r.convert_err.find("attachment \"") == std::string::npos)
      EXPECT_LE(AttachmentsEmptied(source_dump, pst_dump), 0) << said;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace salvora
