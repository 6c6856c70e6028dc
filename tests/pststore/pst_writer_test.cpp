// The writer end to end: files it writes pass the verifier, read back with our own reader,
// open in the peer readers with the content we put in, and survive a kill at any moment.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "format/ids.h"
#include "format/prop_types.h"
#include "pststore/pst/pst_file_reader.h"
#include "pststore/pst/pst_verifier.h"
#include "pststore/sample_mailbox.h"

namespace salvora::pst {
namespace {

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size() && i < 20; ++i) out += lines[i] + "\n";
  return out;
}

// A folder's contents table as our own reader reads it from the file at path.
std::optional<TableContents> ReadContentsTable(PstFileReader& reader, const std::string& path, FolderId folder) {
  if (!reader.Open(path)) return std::nullopt;
  reader.LoadTrees();
  const auto node = reader.Node(table_nid(Nid(folder), kNidTypeContentsTable));
  if (!node) return std::nullopt;
  return reader.ReadTc(*node);
}

TEST(PstWriter, SampleMailboxIsCleanInEveryEncoding) {
  for (CryptMethod crypt : {CryptMethod::kNone, CryptMethod::kPermute, CryptMethod::kCyclic}) {
    const std::string path = testing::TempPath("clean.pst");
    testing::SampleOptions o;
    o.crypt = crypt;
    const auto expected = testing::WriteSampleMailbox(path, o);
    const VerifyResult r = PstVerifier::Verify(path);
    ASSERT_TRUE(r.opened);
    EXPECT_TRUE(r.violations.empty()) << crypt_method_name(crypt) << "\n" << Join(r.violations);
    EXPECT_EQ(r.messages, expected.size() + 1);  // plus the associated message
    EXPECT_EQ(r.folders, 8u);                    // root, IPM subtree, Search Root, Deleted Items and four
  }
}

// Many messages in one folder with frequent checkpoints: B-trees with intermediate levels, a
// contents table whose rows live in a sub-node, and space freed and reused between commits.
TEST(PstWriter, LargeFolderAcrossManyCheckpoints) {
  auto write = [](const std::string& path, std::uint64_t checkpoint_bytes) {
    PstOptions options;
    options.checkpoint_bytes = checkpoint_bytes;
    auto w = PstWriter::Create(path, options);
    const FolderId inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
    for (int i = 0; i < 1500; ++i) {
      MessageSpec m;
      m.props = {Property::String(kPidSubject, "message " + std::to_string(i)),
                 Property::String(kPidBody, std::string(static_cast<std::size_t>(i % 50) * 100, 'b'))};
      w->AddMessage(i % 10 == 9 ? w->AddFolder(inbox, "sub " + std::to_string(i), "IPF.Note") : inbox, m);
    }
    w->Close();
    return std::make_pair(inbox, w->stats());
  };
  const std::string path = testing::TempPath("large.pst");
  const auto [inbox, stats] = write(path, 64 * 1024);
  EXPECT_GT(stats.commits, 10u);
  // Space freed by each checkpoint's rewritten tables and tree pages is used again: the file
  // stays close to the size of the same mailbox written in one go.
  const auto once = write(testing::TempPath("once.pst"), 1ull << 40).second;
  EXPECT_EQ(once.commits, 2u);
  EXPECT_LT(stats.file_size, once.file_size * 3 / 2) << stats.file_size << " vs " << once.file_size;
  const VerifyResult r = PstVerifier::Verify(path);
  EXPECT_TRUE(r.violations.empty()) << Join(r.violations);
  EXPECT_EQ(r.messages, 1500u);

  std::vector<std::string> problems;
  PstFileReader reader([&](const std::string& s) { problems.push_back(s); });
  const auto contents = ReadContentsTable(reader, path, inbox);
  ASSERT_TRUE(contents);
  EXPECT_EQ(contents->rows.size(), 1350u);
  EXPECT_GT(reader.pages().size(), 100u);
  EXPECT_TRUE(problems.empty()) << Join(problems);
}

// A folder whose contents table has hundreds of heap blocks, rewritten at every checkpoint
// with its full blocks streamed to the file: the file verifies, and every row reads back.
TEST(PstWriter, FolderTableOfManyHeapBlocksAcrossCheckpoints) {
  const std::string path = testing::TempPath("long-subjects.pst");
  PstOptions options;
  // The table's unchanged heap blocks are shared between its versions, so a commit comes
  // after fewer bytes than the table's size.
  options.checkpoint_bytes = 1 << 19;
  auto w = PstWriter::Create(path, options);
  const FolderId inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
  const std::size_t count = 3000;
  auto subject = [](std::size_t i) { return std::to_string(i) + std::string(250 + i % 100, static_cast<char>('a' + i % 26)); };
  for (std::size_t i = 0; i < count; ++i) {
    MessageSpec m;
    m.props = {Property::String(kPidSubject, subject(i)), Property::String(kPidSenderName, "Sender " + std::to_string(i))};
    w->AddMessage(inbox, m);
  }
  w->Close();
  EXPECT_GE(w->stats().commits, 5u);
  const VerifyResult r = PstVerifier::Verify(path);
  EXPECT_TRUE(r.violations.empty()) << Join(r.violations);
  EXPECT_EQ(r.messages, count);

  std::vector<std::string> problems;
  PstFileReader reader([&](const std::string& s) { problems.push_back(s); });
  const auto contents = ReadContentsTable(reader, path, inbox);
  ASSERT_TRUE(contents);
  ASSERT_EQ(contents->rows.size(), count);
  for (std::size_t i = 0; i < count; ++i) {
    const Property* p = find_prop(contents->rows[i].cells, kPidSubject);
    ASSERT_TRUE(p) << "row " << i;
    EXPECT_EQ(p->AsString(), subject(i)) << "row " << i;
  }
  EXPECT_TRUE(problems.empty()) << Join(problems);
  std::filesystem::remove(path);
}

// A message with more sub-nodes than one SLBLOCK holds (an SIBLOCK above them), embedded
// messages inside embedded messages, and a recipient with columns the template lacks.
TEST(PstWriter, ManyAttachmentsAndNestedMessages) {
  const std::string path = testing::TempPath("nested.pst");
  auto w = PstWriter::Create(path, PstOptions{});
  MessageSpec m;
  m.props = {Property::String(kPidSubject, "many")};
  for (int i = 0; i < 400; ++i)
    m.attachments.push_back(AttachmentSpec{{Property::String(kPidAttachLongFilename, "a" + std::to_string(i))},
                                           std::vector<std::uint8_t>(static_cast<std::size_t>(i), 'a'), {}, nullptr, nullptr});
  auto inner = std::make_shared<MessageSpec>();
  inner->props = {Property::String(kPidSubject, "level 2")};
  for (int depth = 0; depth < 3; ++depth) {
    auto outer = std::make_shared<MessageSpec>();
    outer->props = {Property::String(kPidSubject, "level " + std::to_string(depth))};
    outer->attachments.push_back(AttachmentSpec{{}, {}, {}, nullptr, inner});
    inner = outer;
  }
  m.attachments.push_back(AttachmentSpec{{}, {}, {}, nullptr, inner});
  m.recipients.push_back({{Property::String(kPidDisplayName, "X"), Property::Int32(kPidRecipientType, 1),
                           Property::Int64(0x5FF7, 42), Property::Bool(0x5FFD, true)}});
  const std::uint32_t nid = w->AddMessage(w->ipm_subtree(), m);
  w->Close();
  const VerifyResult r = PstVerifier::Verify(path);
  EXPECT_TRUE(r.violations.empty()) << Join(r.violations);

  PstFileReader reader([](const std::string&) {});
  ASSERT_TRUE(reader.Open(path));
  reader.LoadTrees();
  auto node = reader.Node(Nid(nid));
  ASSERT_TRUE(node);
  auto first = reader.ReadBlock(node->bid_sub);
  ASSERT_TRUE(first);
  EXPECT_EQ((*first)[1], 1) << "expected an SIBLOCK";
  auto subs = reader.ReadSubnodes(node->bid_sub);
  ASSERT_TRUE(subs);
  std::size_t attachments = 0;
  for (const auto& e : *subs) attachments += Nid(e.nid).type() == kNidTypeAttachment;
  EXPECT_EQ(attachments, 401u);
  for (const auto& e : *subs) {
    if (Nid(e.nid) != kNidMessageRecipientTable) continue;
    auto t = reader.ReadTc(NodeRef::Of(e));
    ASSERT_TRUE(t);
    ASSERT_EQ(t->rows.size(), 1u);
    EXPECT_EQ(find_prop(t->rows[0].cells, 0x5FF7)->AsInt(), 42);
  }
}

// ---- peers ---------------------------------------------------------------------------------

std::string ToolsDir() {
  const char* d = std::getenv("SALVORA_TOOLS_DIR");
  return d ? d : "../shared/tools";
}

// The dump harness runs under the system python3, where Debian installs pypff.
bool HavePeers() {
  return std::system("command -v pffexport >/dev/null 2>&1 && command -v readpst >/dev/null 2>&1 && "
                     "/usr/bin/python3 -c 'import pypff' >/dev/null 2>&1") == 0 &&
         std::filesystem::exists(ToolsDir() + "/peer-dump-pypff");
}

int RunShell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// The value of "key" in one compact JSON line: a string (only the escapes the dumps use), a
// number or null (returned as "null").
std::string JsonField(const std::string& line, const std::string& key, std::size_t from = 0) {
  const std::string tag = "\"" + key + "\":";
  const std::size_t at = line.find(tag, from);
  if (at == std::string::npos) return "<missing>";
  std::size_t i = at + tag.size();
  if (line[i] != '"') {
    const std::size_t end = line.find_first_of(",}]", i);
    return line.substr(i, end - i);
  }
  std::string out;
  for (++i; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    out += line[i];
  }
  return out;
}

void ExpectDumpMatches(const std::string& dump_path, const std::vector<testing::ExpectedMessage>& expected,
                       const std::string& peer) {
  std::istringstream dump(ReadFile(dump_path));
  std::vector<std::string> lines;
  for (std::string l; std::getline(dump, l);) lines.push_back(l);
  EXPECT_EQ(lines.size(), expected.size()) << peer;
  for (const auto& e : expected) {
    const std::string* line = nullptr;
    for (const auto& l : lines)
      if (JsonField(l, "subject") == e.subject) line = &l;
    ASSERT_TRUE(line) << peer << ": no message with subject " << e.subject;
    EXPECT_EQ(JsonField(*line, "folder"), e.folder) << peer;
    EXPECT_EQ(JsonField(*line, "sender_name"), e.sender_name) << peer;
    EXPECT_EQ(JsonField(*line, "body_len"), e.body_len ? std::to_string(e.body_len) : "0") << peer << " " << e.subject;
    for (const auto& [name, size] : e.attachments) {
      const std::size_t at = line->find("\"filename\":\"" + name + "\"");
      ASSERT_NE(at, std::string::npos) << peer << ": attachment " << name;
      EXPECT_EQ(JsonField(*line, "size", at), size ? std::to_string(size) : "null") << peer << ": " << name;
    }
  }
}

TEST(PstWriter, PeerReadersSeeWhatWasWritten) {
  if (!HavePeers()) GTEST_SKIP() << "peer readers not installed (../shared/tools/install-peers); skipped";
  const std::string tools = ToolsDir();
  for (CryptMethod crypt : {CryptMethod::kPermute, CryptMethod::kNone, CryptMethod::kCyclic}) {
    const std::string path = testing::TempPath(std::string("peers-") + crypt_method_name(crypt) + ".pst");
    testing::SampleOptions o;
    o.crypt = crypt;
    o.big_attachment = 9'000'000;  // a data tree deeper than one XBLOCK
    const auto expected = testing::WriteSampleMailbox(path, o);
    const std::string a = path + ".pypff.jsonl", b = path + ".node.jsonl";
    EXPECT_EQ(RunShell("timeout 300 " + tools + "/peer-dump-pypff '" + path + "' > '" + a + "'"), 0) << "pypff";
    ExpectDumpMatches(a, expected, "pypff");
    EXPECT_EQ(RunShell("timeout 300 pffinfo '" + path + "' > /dev/null"), 0) << "pffinfo";
    const std::string out = path + ".export";
    EXPECT_EQ(RunShell("timeout 300 pffexport -q -t '" + out + "' '" + path + "' > /dev/null 2>&1"), 0) << "pffexport";
    std::filesystem::create_directories(path + ".readpst");
    EXPECT_EQ(RunShell("timeout 300 readpst -q -D -o '" + path + ".readpst' '" + path + "' > /dev/null 2>&1"), 0) << "readpst";
    // pst-extractor refuses cyclic encoding outright (a known limit of that reader).
    if (crypt != CryptMethod::kCyclic && RunShell("test -d \"${PEERS_DIR:-$HOME/.cache/salvora-peers}/node_modules/pst-extractor\"") == 0) {
      EXPECT_EQ(RunShell("timeout 300 " + tools + "/peer-dump-node '" + path + "' > '" + b + "'"), 0) << "pst-extractor";
      ExpectDumpMatches(b, expected, "pst-extractor");
      EXPECT_EQ(RunShell(tools + "/compare-dumps '" + a + "' '" + b + "' > /dev/null"), 0);
    }
  }
}

// ---- durability ----------------------------------------------------------------------------

// A child writes messages and reports each checkpoint on a pipe; the parent kills it as soon as
// it has heard of a given number of checkpoints, a different one each round, while the child
// goes on writing. The file must verify clean and hold at least every reported message.
TEST(PstWriter, KilledWriterLeavesTheLastCheckpoint) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 6; ++round) {
    const std::string path = testing::TempPath("killed-" + std::to_string(round) + ".pst");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      try {
        PstOptions options;
        auto w = PstWriter::Create(path, options);
        FolderId f = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
        for (int i = 0;; ++i) {
          MessageSpec m;
          m.props = {Property::String(kPidSubject, "m" + std::to_string(i)), Property::String(kPidBody, std::string(5000, 'k'))};
          if (i % 7 == 0) m.attachments.push_back(AttachmentSpec{{}, std::vector<std::uint8_t>(20000, 1), {}, nullptr, nullptr});
          w->AddMessage(f, m);
          if (i % 100 == 99) f = w->AddFolder(f, "level " + std::to_string(i), "IPF.Note");
          if (i % 25 == 24) {
            w->Commit();
            const std::uint32_t n = static_cast<std::uint32_t>(i + 1);
            if (write(fds[1], &n, sizeof n) != sizeof n) _exit(3);
          }
        }
      } catch (...) {
        _exit(2);
      }
    }
    close(fds[1]);
    const int checkpoints_before_kill = 1 + static_cast<int>(rng() % 8);
    std::uint32_t committed = 0, n = 0;
    for (int heard = 0; heard < checkpoints_before_kill && read(fds[0], &n, sizeof n) == sizeof n; ++heard) committed = n;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    while (read(fds[0], &n, sizeof n) == sizeof n) committed = n;
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended before the kill";
    const VerifyResult r = PstVerifier::Verify(path);
    ASSERT_TRUE(r.opened) << "round " << round;
    EXPECT_TRUE(r.violations.empty()) << "round " << round << "\n" << Join(r.violations);
    EXPECT_GE(r.messages, committed) << "round " << round;
  }
}

// Runs body in a child process whose files cannot grow past limit bytes (the same error as a
// full disk) and returns the child's exit status.
int ExitStatusWithFileLimit(rlim_t limit, const std::function<int()>& body) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A write that fails is reported with the file name, and the file keeps its last committed
// state.
TEST(PstWriter, FailedWriteKeepsLastCommit) {
  const std::string path = testing::TempPath("limited.pst");
  const int status = ExitStatusWithFileLimit(4 << 20, [&] {
    int committed = 0;
    try {
      auto w = PstWriter::Create(path, PstOptions{});
      for (int i = 0;; ++i) {
        MessageSpec m;
        m.props = {Property::String(kPidSubject, "m" + std::to_string(i))};
        // Distinct data each time: equal blocks would be stored once and never fill the disk.
        std::vector<std::uint8_t> data(50000);
        std::mt19937 random(static_cast<std::uint32_t>(i));
        for (auto& b : data) b = static_cast<std::uint8_t>(random());
        m.attachments.push_back(AttachmentSpec{{}, std::move(data), {}, nullptr, nullptr});
        w->AddMessage(w->ipm_subtree(), m);
        if (i % 10 == 9) {
          w->Commit();
          committed = i + 1;
        }
      }
    } catch (const CFileException& e) {
      const bool named = e.message().find(path) != std::string::npos;
      return named && committed > 0 ? 10 + committed / 10 : 1;
    } catch (...) {
      return 2;
    }
  });
  ASSERT_GE(status, 10) << "no CFileException naming the file";
  const VerifyResult r = PstVerifier::Verify(path);
  EXPECT_TRUE(r.violations.empty()) << Join(r.violations);
  EXPECT_EQ(r.messages, static_cast<std::size_t>(status - 10) * 10);
}

// A store that cannot even be created whole (the disk fills during the first commit) leaves
// nothing at its path: neither a file that is not a PST nor the scratch file it was made in.
TEST(PstWriter, FailedCreationLeavesNoFile) {
  const std::string path = testing::TempPath("never.pst");
  std::filesystem::remove(path);
  const int status = ExitStatusWithFileLimit(64 << 10, [&] {
    try {
      PstWriter::Create(path, PstOptions{});
      return 1;
    } catch (const CFileException& e) {
      const bool named = e.message().find(path) != std::string::npos && e.message().find(".partial") == std::string::npos;
      return named && e.cause() == CFileException::diskFull ? 0 : 3;
    } catch (...) {
      return 2;
    }
  });
  EXPECT_EQ(status, 0) << "expected a full-disk error naming the PST";
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
  // With room, the same path is created and is a valid store.
  PstWriter::Create(path, PstOptions{})->Close();
  EXPECT_TRUE(PstVerifier::Verify(path).violations.empty());
  EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
}

}  // namespace
}  // namespace salvora::pst
