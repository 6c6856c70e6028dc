// The folder tree: adding paths, check propagation, bold, and the folders Save collects.

#include <QtTest>

#include "ui/folder_tree.h"
#include "ui/icons.h"
#include "ui/support/ui_test_support.h"

using salvora::ui::CFolderTreeCtrl1;

class FolderTreeTest : public QObject {
  Q_OBJECT

 private:
  static bool bold(QTreeWidgetItem* item) { return item->font(0).bold(); }
  static void fill(CFolderTreeCtrl1& tree) {
    tree.AddFolder(QStringLiteral("Personal Folders\\Inbox\\"), 0x8022);
    tree.AddFolder(QStringLiteral("Personal Folders\\Inbox\\A\\"), 0x8042);
    tree.AddFolder(QStringLiteral("Personal Folders\\Inbox\\B\\"), 0x8062);
    tree.AddFolder(QStringLiteral("Personal Folders\\Inbox\\B\\Deep\\"), 0x8082);
    tree.AddFolder(QStringLiteral("Personal Folders\\Sent Items\\"), 0x80A2);
  }

 private slots:
  void initTestCase() { salvora::ui::testing::MakePrivateHome(); }

  void adding_a_path_twice_leaves_one_item() {
    CFolderTreeCtrl1 tree;
    tree.AddFolder(QStringLiteral("Personal Folders\\Inbox\\Archive\\"), 0x8022, QStringLiteral("IPF.Note"));
    tree.AddFolder(QStringLiteral("Personal Folders\\Inbox\\Archive\\"), 0x8042, QStringLiteral("IPF.Note"));
    QCOMPARE(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* inbox = tree.topLevelItem(0)->child(0);
    QCOMPARE(inbox->childCount(), 1);
    // The first folder of the path keeps its node.
    QCOMPARE(inbox->child(0)->data(0, CFolderTreeCtrl1::kNidRole).toUInt(), 0x8022u);
    QCOMPARE(CFolderTreeCtrl1::FolderPath(inbox->child(0)), QStringLiteral("Personal Folders\\Inbox\\Archive\\"));
  }

  void checking_propagates_down_and_up_with_bold() {
    CFolderTreeCtrl1 tree;
    fill(tree);
    QTreeWidgetItem* inbox = tree.FindPath(QStringLiteral("Personal Folders\\Inbox\\"));
    QTreeWidgetItem* a = tree.FindPath(QStringLiteral("Personal Folders\\Inbox\\A\\"));
    QTreeWidgetItem* b = tree.FindPath(QStringLiteral("Personal Folders\\Inbox\\B\\"));
    QTreeWidgetItem* deep = tree.FindPath(QStringLiteral("Personal Folders\\Inbox\\B\\Deep\\"));
    QTreeWidgetItem* top = tree.topLevelItem(0);

    tree.SetChecked(inbox, true);
    QCOMPARE(deep->checkState(0), Qt::Checked);
    QVERIFY(bold(inbox) && bold(a) && bold(deep));
    QCOMPARE(top->checkState(0), Qt::Unchecked);  // Sent Items is not checked
    QVERIFY(bold(top));                           // but a child of it is bold

    tree.SetChecked(deep, false);  // unchecking one subfolder unchecks its ancestors
    QCOMPARE(b->checkState(0), Qt::Unchecked);
    QCOMPARE(inbox->checkState(0), Qt::Unchecked);
    QVERIFY(!bold(deep) && !bold(b));
    QVERIFY(bold(inbox));  // A is still checked
    QVERIFY(bold(top));

    tree.SetChecked(deep, true);  // the last unchecked one checks its ancestors again
    QCOMPARE(inbox->checkState(0), Qt::Checked);

    tree.SetChecked(a, false);
    tree.SetChecked(deep, false);
    QVERIFY(!bold(inbox) && !bold(top));
  }

  void collect_lists_checked_folders_in_tree_order_never_the_top() {
    CFolderTreeCtrl1 tree;
    fill(tree);
    tree.SetChecked(tree.topLevelItem(0), true);
    QCOMPARE(tree.CollectCheckedFolders(),
             QStringList({QStringLiteral("Personal Folders\\Inbox\\"), QStringLiteral("Personal Folders\\Inbox\\A\\"),
                          QStringLiteral("Personal Folders\\Inbox\\B\\"),
                          QStringLiteral("Personal Folders\\Inbox\\B\\Deep\\"),
                          QStringLiteral("Personal Folders\\Sent Items\\")}));

    CFolderTreeCtrl1 lonely;
    lonely.AddFolder(QStringLiteral("Personal Folders\\"));
    lonely.SetChecked(lonely.topLevelItem(0), true);
    QVERIFY(lonely.CollectCheckedFolders().isEmpty());
  }

  // The analysis still finds folders after the user checked a branch: a folder found below a
  // checked one is saved with it, one below an unchecked folder is not.
  void a_folder_added_under_a_checked_one_is_checked() {
    CFolderTreeCtrl1 tree;
    fill(tree);
    tree.SetChecked(tree.FindPath(QStringLiteral("Personal Folders\\Inbox\\")), true);
    QTreeWidgetItem* late = tree.AddFolder(QStringLiteral("Personal Folders\\Inbox\\B\\Late\\"), 0x80C2);
    QTreeWidgetItem* other = tree.AddFolder(QStringLiteral("Personal Folders\\Sent Items\\Late\\"), 0x80E2);
    QCOMPARE(late->checkState(0), Qt::Checked);
    QCOMPARE(other->checkState(0), Qt::Unchecked);
    QVERIFY(tree.CollectCheckedFolders().contains(QStringLiteral("Personal Folders\\Inbox\\B\\Late\\")));
    QVERIFY(bold(late) && !bold(other));
  }

  void icons_follow_name_and_class_the_later_rule_winning_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container_class");
    QTest::addColumn<QString>("icon");
    QTest::newRow("plain") << "Projects" << "IPF.Note" << "folder.png";
    QTest::newRow("inbox any case") << "inBox" << "" << "inbox.png";
    QTest::newRow("contacts by class") << "Kontakte" << "ipf.contact" << "contacts.png";
    QTest::newRow("calendar by class") << "Kalender" << "IPF.Appointment" << "calendar.png";
    QTest::newRow("name contacts, class task") << "Contacts" << "IPF.Task" << "tasks.png";
    QTest::newRow("sync issues") << "Sync Issues" << "" << "sync-issues.png";
    QTest::newRow("top") << "Personal Folders" << "" << "personal-folders.png";
  }
  void icons_follow_name_and_class_the_later_rule_winning() {
    QFETCH(QString, name);
    QFETCH(QString, container_class);
    QFETCH(QString, icon);
    QCOMPARE(salvora::ui::folder_icon_name(name, container_class), icon);
  }
};

QTEST_MAIN(FolderTreeTest)
#include "folder_tree_test.moc"
