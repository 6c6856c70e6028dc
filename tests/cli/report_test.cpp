// The recovery report beside each PST: its totals are the counts convert prints, and folder by
// folder they add up to them, on the sample and on damaged copies of it; the page is private
// and inert; --report moves the JSON; "RPTFile" names the last page.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/settings.h"
#include "support/ndb_builder.h"
#include "support/run_program.h"
#include "support/store_damage.h"
#include "support/test_folder.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using testing::ProgramPath;
using testing::RunProgram;

using Values = std::map<std::string, std::string>;

Values KeyValues(const std::string& text) {
  Values out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos && eq > 0) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

// The report's totals, and its folders' columns summed, as key=value.
Values ReportFigures(const std::string& json) {
  static const char* kScript =
      "import json,sys\n"
      "r=json.load(open(sys.argv[1]))\n"
      "for k,v in r['totals'].items(): print(f'{k}={v}')\n"
      "f=r['folders']\n"
      "for k in ('saved','lost','properties_dropped','deleted_recovered'): print(f'sum_{k}=%d'%sum(x[k] for x in f))\n"
      "print('listed_all=%d'%all(len(x['losses'])==min(x['lost'],1000) for x in f))\n"
      "print('outcome='+r['outcome'])\n"
      "print('pst='+r['destination'])\n";
  const auto r = RunProgram("/usr/bin/python3", {"-c", kScript, json});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return KeyValues(r.out);
}

long long Num(const Values& v, const std::string& key) {
  const auto it = v.find(key);
  return it == v.end() ? -1 : std::stoll(it->second);
}

// Checks one convert's report against what it printed.
void ExpectReportAgrees(const testing::ProgramResult& c, const std::string& label) {
  const Values printed = KeyValues(c.out);
  ASSERT_TRUE(printed.count("report_json")) << label << ": " << c.out << c.err;
  const Values report = ReportFigures(printed.at("report_json"));
  for (const char* key : {"inbox", "drafts", "outbox", "sent_items", "sync_issues", "deleted_items", "junk_email",
                          "mails", "calendar", "contacts", "tasks", "journal", "notes", "objects",
                          "deleted_recovered", "unreadable", "properties_dropped"}) {
    EXPECT_EQ(Num(report, key), Num(printed, key)) << label << ": " << key;
  }
  long long written = 0;
  for (const char* key : {"mails", "calendar", "contacts", "tasks", "journal", "notes"}) written += Num(printed, key);
  EXPECT_EQ(Num(report, "sum_saved"), written) << label;
  EXPECT_EQ(Num(report, "sum_lost"), Num(printed, "unreadable")) << label;
  EXPECT_EQ(Num(report, "sum_properties_dropped"), Num(printed, "properties_dropped")) << label;
  EXPECT_EQ(Num(report, "sum_deleted_recovered"), Num(printed, "deleted_recovered")) << label;
  EXPECT_EQ(Num(report, "listed_all"), 1) << label;
  EXPECT_EQ(report.at("pst"), printed.at("pst")) << label;
  EXPECT_EQ(report.at("outcome"), c.exit_code == 0 ? "completed" : "completed with losses") << label;
}

class Report : public testing::TestFolder {};

TEST_F(Report, SampleReportIsConvertsCountsAndIsAPrivateInertPage) {
  const std::string sample = testing::SourceDir() + "/samples/sample.ost";
  const auto c = RunProgram(ProgramPath("salvora-cli"), {"convert", sample, "--dest", dir_ + "/out"});
  ASSERT_EQ(c.exit_code, 0) << c.err;
  ExpectReportAgrees(c, "sample");
  const Values printed = KeyValues(c.out);
  const std::string page = printed.at("report");
  EXPECT_EQ(fs::path(page).parent_path(), fs::path(printed.at("pst")).parent_path());
  struct stat st {};
  ASSERT_EQ(::stat(page.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::ifstream in(page);
  const std::string html((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(html.find("Personal Folders\\Inbox</td>"), std::string::npos);
  for (const char* never : {"<script", "src=", "http:", "https:", "@import"}) EXPECT_EQ(html.find(never), std::string::npos) << never;
  EXPECT_EQ(SettingsStore(SettingsStore::DefaultFile()).Read(kReportFileValue), page);

  // --report puts the JSON where it is asked for, making its folder; the page stays beside the PST.
  const std::string json = dir_ + "/reports/one.json";
  const auto moved = RunProgram(ProgramPath("salvora-cli"), {"convert", sample, "--dest", dir_ + "/out2", "--report", json});
  ASSERT_EQ(moved.exit_code, 0) << moved.err;
  EXPECT_EQ(KeyValues(moved.out).at("report_json"), json);
  // Several files would each overwrite one --report: refused before anything is converted.
  const auto batch = RunProgram(ProgramPath("salvora-cli"), {"convert", sample, sample, "--report", json});
  EXPECT_EQ(batch.exit_code, 2) << batch.err;
  EXPECT_NE(batch.err.find("--report"), std::string::npos) << batch.err;
}

// Damaged copies that lose something: the report still counts exactly what convert printed,
// every loss in a folder or under the store as a whole.
TEST_F(Report, DamagedCopiesReportTheirLossesAsConvertCountsThem) {
  const auto original = testing::ReadBytes(testing::SourceDir() + "/samples/sample.ost");
  int lossy = 0;
  for (std::uint32_t seed = 1; seed <= 60 && lossy < 2; ++seed) {
    const auto damage = testing::DamageStore(original, seed);
    const std::string copy = dir_ + "/copy.ost";
    testing::WriteBytes(copy, damage.bytes);
    fs::remove_all(dir_ + "/out");
    const auto c = RunProgram(ProgramPath("salvora-cli"), {"convert", copy, "--dest", dir_ + "/out", "--recover-deleted"});
    if (c.exit_code != 3 || Num(KeyValues(c.out), "unreadable") <= 0) continue;
    ++lossy;
    ExpectReportAgrees(c, damage.name);
  }
  EXPECT_GT(lossy, 0) << "no seed damaged the sample so that something was lost";
}

}  // namespace
}  // namespace salvora
