// The recovery report's ledger places each loss line of a pass in its folder (the walk's lines
// by their path, the audit's by the folder they name), and the page and JSON carry what the user
// must read without letting a subject's text become markup.
#include <gtest/gtest.h>

#include "writer/recovery_report.h"

namespace salvora {
namespace {

const ReportFolder* Find(const std::vector<ReportFolder>& folders, const std::string& path) {
  for (const auto& f : folders) {
    if (f.path == path) return &f;
  }
  return nullptr;
}

TEST(RecoveryLedger, PlacesEachLossInItsFolder) {
  RecoveryLedger ledger;
  ledger.EnterFolder("Personal Folders\\Inbox\\", 8354, 3);
  ledger.ItemSaved("Personal Folders\\Inbox\\");
  ledger.Loss("Personal Folders\\Inbox\\: item 2097188 could not be read");
  ledger.Loss("Personal Folders\\Inbox\\: item 2097220: attachment \"a.pdf\" was not written: refused");
  // An audit line of the Inbox's contents table: a loss there, and an item its index lacks.
  ledger.Loss("folder 8354: message 2097252 is listed in its contents table but is not in the file's index");
  ledger.Loss("block index: 2 pages could not be read");
  ledger.DroppedProperty("Personal Folders\\Inbox\\: item 2097220: property 0x3007 was not copied: no room");
  ledger.DroppedProperty("store: property 0x35E0 was not copied: no folder");
  ledger.ItemSaved("Personal Folders\\Recovered Items\\Deleted\\");
  ledger.DeletedRecovered("Personal Folders\\Recovered Items\\Deleted\\");

  const auto folders = ledger.folders();
  const ReportFolder* inbox = Find(folders, "Personal Folders\\Inbox\\");
  ASSERT_NE(inbox, nullptr);
  EXPECT_EQ(inbox->source_items, 4);
  EXPECT_EQ(inbox->saved, 1);
  EXPECT_EQ(inbox->lost, 3);
  ASSERT_EQ(inbox->losses.size(), 3u);
  EXPECT_EQ(inbox->losses[0].nid, 2097188u);
  EXPECT_EQ(inbox->losses[0].reason, "could not be read");
  EXPECT_EQ(inbox->losses[1].reason, "attachment \"a.pdf\" was not written: refused");
  EXPECT_EQ(inbox->losses[2].nid, 2097252u);
  EXPECT_EQ(inbox->properties_dropped, 1);
  EXPECT_EQ(inbox->dropped[0], "item 2097220: property 0x3007 was not copied: no room");
  const ReportFolder* deleted = Find(folders, "Personal Folders\\Recovered Items\\Deleted\\");
  ASSERT_NE(deleted, nullptr);
  EXPECT_EQ(deleted->deleted_recovered, 1);
  // What belongs to no folder comes last, counted like the rest.
  ASSERT_TRUE(folders.back().path.empty());
  EXPECT_EQ(folders.back().lost, 1);
  EXPECT_EQ(folders.back().properties_dropped, 1);
}

TEST(RecoveryReport, SubjectsStayTextOnThePageAndInTheJson) {
  RecoveryReport r;
  r.source_path = "/home/u/<mail>.ost";
  r.destination = "/home/u/Repair/x.pst";
  r.started = 1'000'000;
  r.ended = 1'065'000;
  r.outcome = "completed with losses";
  r.totals = {{"mails", 5}, {"unreadable", 1}};
  ReportFolder f{"Personal Folders\\Inbox\\", 6, 5, 1};
  f.losses.push_back({42, "<script>alert(\"x\")</script>", "could not be read"});
  r.folders.push_back(f);

  const std::string html = report_html(r);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(html.find("&lt;mail&gt;.ost"), std::string::npos);
  EXPECT_NE(html.find("1 min 5 s"), std::string::npos);

  const std::string json = report_json(r);
  EXPECT_NE(json.find("\"subject\":\"<script>alert(\\\"x\\\")</script>\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"totals\":{\"mails\":5,\"unreadable\":1}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"seconds\":65"), std::string::npos) << json;
  EXPECT_EQ(report_page_path("/d/Salvora 1-2-2026.pst"), "/d/Salvora 1-2-2026.report.html");
}

}  // namespace
}  // namespace salvora
