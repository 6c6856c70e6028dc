// A new store never takes another file's place: not through a link at its scratch name, not
// over a file at its own name; it is private to its owner; and when the disk fills, the cause
// reaches every later caller and the messages a failed commit lost are counted.
#include <gtest/gtest.h>

#include <random>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "format/prop_types.h"
#include "platform/file_exception.h"
#include "pststore/pst/pst_verifier.h"
#include "pststore/sample_mailbox.h"
#include "pststore/store_file.h"

namespace salvora::store {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class StoreFileSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = pst::testing::TempPath("store-safety");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    close_store_files();
    fs::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(StoreFileSafety, RefusesALinkAtTheScratchNameAndAFileAtItsName) {
  const std::string target = dir_ + "/victim.txt";
  std::ofstream(target) << "keep";
  const std::string linked = dir_ + "/linked.pst";
  fs::create_symlink(target, linked + ".partial");
  try {
    StoreFile::Create(linked);
    ADD_FAILURE() << "a link at the scratch name was followed";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.os_error(), EEXIST);
    EXPECT_NE(e.message().find(linked + ".partial"), std::string::npos) << e.message();
  }
  EXPECT_EQ(Slurp(target), "keep");
  EXPECT_TRUE(fs::is_symlink(linked + ".partial"));
  EXPECT_FALSE(fs::exists(linked));

  const std::string taken = dir_ + "/taken.pst";
  std::ofstream(taken) << "another run's store";
  EXPECT_THROW(StoreFile::Create(taken), CFileException);
  EXPECT_EQ(Slurp(taken), "another run's store");
  EXPECT_FALSE(fs::exists(taken + ".partial")) << "the scratch file goes when the name is taken";
}

TEST_F(StoreFileSafety, NewStoreIsReadableByItsOwnerOnly) {
  const std::string path = dir_ + "/private.pst";
  StoreFile::Create(path)->Close();
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(pst::PstVerifier::Verify(path).violations.empty());
}

// In a child whose files cannot grow past a limit (the error a full disk gives), messages are
// added until the store refuses one. The child reports how many it was told were stored, how
// many the store counts as lost, and whether a later refusal still names the cause.
TEST_F(StoreFileSafety, FullDiskKeepsItsCauseAndCountsWhatTheLastCheckpointLacks) {
  const std::string path = dir_ + "/full.pst";
  const std::string report = dir_ + "/report.txt";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{3 << 20, 3 << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::uint64_t accepted = 0, lost = 0;
    std::string later_error;
    try {
      auto store = StoreFile::Create(path);
      store->set_checkpoint_rule(CheckpointRule{7, std::chrono::hours(1)});
      for (int i = 0; i < 1000; ++i) {
        pst::MessageSpec m;
        m.props = {pst::Property::String(kPidSubject, "m" + std::to_string(i))};
        // Distinct data each time: equal blocks would be stored once and never fill the disk.
        std::vector<std::uint8_t> data(40000);
        std::mt19937 random(static_cast<std::uint32_t>(i));
        for (auto& b : data) b = static_cast<std::uint8_t>(random());
        m.attachments.push_back(pst::AttachmentSpec{{}, std::move(data), {}, nullptr, nullptr});
        try {
          store->AddMessage(store->root(), m);
          ++accepted;
        } catch (const std::exception&) {
          break;
        }
      }
      try {
        store->AddFolder(store->root(), "After", "IPF.Note");
        store->Commit();
      } catch (const std::exception& e) {
        later_error = e.what();
      }
      lost = store->lost_messages();
    } catch (const std::exception& e) {
      later_error = std::string("creation failed: ") + e.what();
    }
    std::ofstream(report) << accepted << ' ' << lost << '\n' << later_error;
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  std::istringstream in(Slurp(report));
  std::uint64_t accepted = 0, lost = 0;
  in >> accepted >> lost;
  std::string later_error;
  std::getline(in >> std::ws, later_error);
  EXPECT_GT(accepted, 7u) << "the limit should come after the first checkpoint";
  EXPECT_NE(later_error.find("disk is full"), std::string::npos) << later_error;
  const auto verified = pst::PstVerifier::Verify(path);
  EXPECT_TRUE(verified.violations.empty());
  EXPECT_EQ(verified.messages + lost, accepted) << "every message the file lacks is counted once";
}

}  // namespace
}  // namespace salvora::store

namespace salvora::store {
namespace {

// Checkpoints come by count or by time, but a slow one (a folder's large table rewritten) is
// followed by at least four times its own length of work before the next.
TEST(CheckpointRule, SlowCheckpointsAreSpacedByWhatTheyCost) {
  using std::chrono::milliseconds;
  const CheckpointRule rule{2000, std::chrono::seconds(5)};
  EXPECT_FALSE(checkpoint_due(rule, 1999, milliseconds(4999), milliseconds(0)));
  EXPECT_TRUE(checkpoint_due(rule, 2000, milliseconds(1), milliseconds(0)));
  EXPECT_TRUE(checkpoint_due(rule, 3, milliseconds(5000), milliseconds(0)));
  // Quick ones never hold the next back, however little time went by.
  EXPECT_TRUE(checkpoint_due(rule, 2000, milliseconds(1), milliseconds(99)));
  // A checkpoint of 2 s: the next waits 8 s, whatever the count says.
  EXPECT_FALSE(checkpoint_due(rule, 50000, milliseconds(7999), milliseconds(2000)));
  EXPECT_TRUE(checkpoint_due(rule, 2000, milliseconds(8000), milliseconds(2000)));
  EXPECT_FALSE(checkpoint_due(rule, 10, milliseconds(4000), milliseconds(2000)));  // nor does the rule
}

}  // namespace
}  // namespace salvora::store
