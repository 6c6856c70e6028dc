// The losses of a store in the user's words: node numbers become folder paths and subjects,
// the page says whether the store was read whole, and the tree marks the folders with losses.

#include <QtTest>
#include <QtWidgets>

#include "ui/folder_tree.h"
#include "ui/loss_report.h"

using namespace salvora;
using namespace salvora::ui;

class LossReportTest : public QObject {
  Q_OBJECT

 private:
  static void fill(AnalysisResult& r) {
    r.folders = {{"Personal Folders\\Inbox\\", "IPF.Note", Nid(8578), true},
                 {"Personal Folders\\Inbox\\Archive\\", "IPF.Note", Nid(8610), true}};
    r.mail_folders.Add("Personal Folders\\Inbox\\", Nid(8578)).items.push_back(
        MailSummary{Nid(2097188), Nid(8578), "Alice", std::string("Minutes"), {}, {}});
    r.contacts.push_back(ContactSummary{Nid(2097220), Nid(8610), std::string("Erika"), {}});
  }

 private slots:
  void lines_are_named_by_folder_and_subject_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("text");
    QTest::newRow("row without its message")
        << "folder 8578: message 2108196 is listed in its contents table but is not in the file's index"
        << "Personal Folders\\Inbox\\" << "A message is listed in its contents table but is not in the file's index";
    QTest::newRow("walk's own line, known subject")
        << "Personal Folders\\Inbox\\: item 2097188: part of its data is damaged" << "Personal Folders\\Inbox\\"
        << "Item \"Minutes\": part of its data is damaged";
    QTest::newRow("contact by its name")
        << "Personal Folders\\Inbox\\Archive\\: item 2097220 could not be read" << "Personal Folders\\Inbox\\Archive\\"
        << "Item \"Erika\" could not be read";
    QTest::newRow("subfolder by its path")
        << "folder 8578: subfolder 8610 is listed in its hierarchy table but is not in the file's index"
        << "Personal Folders\\Inbox\\" << "Subfolder \"Personal Folders\\Inbox\\Archive\" is listed in its hierarchy table but is not in the file's index";
    QTest::newRow("unknown folder, no node tree") << "folder 9999: its data block is not in the file's index" << ""
                                                  << "A folder: its data block is not in the file's index";
    QTest::newRow("no folder at all") << "the file is cut short: 40 bytes are missing" << ""
                                      << "The file is cut short: 40 bytes are missing";
  }
  void lines_are_named_by_folder_and_subject() {
    QFETCH(QString, line);
    QFETCH(QString, folder);
    QFETCH(QString, text);
    AnalysisResult r;
    fill(r);
    const NamedLoss named = LossNamer(r).Name(line.toStdString());
    QCOMPARE(named.folder_path, folder);
    QCOMPARE(named.text, text);
  }

  void page_says_whole_or_counts_the_losses() {
    const QString whole = completion_page_html({}, 0);
    QVERIFY(whole.contains(QStringLiteral("read whole")));
    QVERIFY(!whole.contains(QStringLiteral("lost")));
    QVERIFY(completion_page_html({}, 2).contains(QStringLiteral("2 damaged part(s)")));
    const QString lossy = completion_page_html({{"Personal Folders\\Inbox\\", "Item \"<b>\" could not be read"},
                                                {"", "The file is cut short"}},
                                               0);
    QVERIFY(lossy.contains(QStringLiteral("could not be read whole: 2 object(s)")));
    QVERIFY(lossy.contains(QStringLiteral("<b>Personal Folders\\Inbox</b>")));
    QVERIFY(lossy.contains(QStringLiteral("&quot;&lt;b&gt;&quot;")));  // texts from the file are escaped
    QVERIFY(lossy.contains(QStringLiteral("Elsewhere in the file")));
  }

  void tree_marks_folders_with_losses_without_checking_them() {
    CFolderTreeCtrl1 tree;
    QTreeWidgetItem* inbox = tree.AddFolder(QStringLiteral("Personal Folders\\Inbox\\"), 8578);
    QTreeWidgetItem* child = tree.AddFolder(QStringLiteral("Personal Folders\\Inbox\\Archive\\"), 8610);
    QTreeWidgetItem* sent = tree.AddFolder(QStringLiteral("Personal Folders\\Sent Items\\"), 8642);
    tree.SetChecked(child, true);
    mark_loss_folders(tree, {{"Personal Folders\\Inbox\\", "A message could not be read"},
                             {"Personal Folders\\Gone\\", "Elsewhere"}});
    QVERIFY(inbox->toolTip(0).contains(QStringLiteral("A message could not be read")));
    QVERIFY(inbox->data(0, Qt::AccessibleDescriptionRole).toString().startsWith(QStringLiteral("1 object(s) lost")));
    QVERIFY(tree.topLevelItem(0)->toolTip(0).contains(QStringLiteral("Elsewhere")));
    QVERIFY(sent->toolTip(0).isEmpty());
    QCOMPARE(child->checkState(0), Qt::Checked);  // the Inbox's unchecked box was not pressed
  }
};

QTEST_MAIN(LossReportTest)
#include "loss_report_test.moc"
