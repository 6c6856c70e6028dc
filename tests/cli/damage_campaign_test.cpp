// The damage campaign: seeded damaged copies of the bundled sample, of stores written in code and
// (labelled slow) of the corpus, each converted. Whatever the damage, a run that lost anything
// says so and does not exit 0, no run exits 0 with fewer messages than the undamaged store gave,
// every PST made verifies, and the PST holds at least the messages libpff reads from the copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>

#include "ndb/ost_context.h"
#include "support/ndb_builder.h"
#include "support/run_program.h"
#include "support/store_damage.h"

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

}  // namespace
}  // namespace salvora
