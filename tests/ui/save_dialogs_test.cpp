// The dialogs around a save: how often the status is refreshed, what Stop does before and after
// the question, and what the completion says when part of the source could not be read.

#include <QtTest>
#include <QtWidgets>

#include "ui/save_dialogs.h"
#include "ui/support/ui_test_support.h"
#include "ui/support/wizard_test_env.h"

using namespace salvora::ui;

class SaveDialogsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<wizard_test::ScriptedUser> user_;

 private slots:
  void initTestCase() {
    testing::MakePrivateHome();
  }
  void init() { user_ = std::make_unique<wizard_test::ScriptedUser>(); }
  void cleanup() { user_.reset(); }

  void status_texts_are_refreshed_at_most_once_a_second() {
    salvora::SaveProgress progress;
    progress.set_folder_name("Personal Folders\\Inbox\\");
    progress.set_count_text("12");
    progress.items_to_save.store(97);
    progress.items_saved.store(50);
    ListPSTFile dialog(progress);
    dialog.show();
    QCOMPARE(dialog.refreshes(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.refreshes(), 1, 1000);  // first after 100 ms
    QCOMPARE(dialog.folder_label()->text(), QStringLiteral("Personal Folders\\Inbox\\"));
    QCOMPARE(dialog.progress_bar()->maximum(), 100);
    QCOMPARE(dialog.progress_bar()->value(), 50);  // the saved share, not an activity sweep
    progress.set_count_text("13");
    QTest::qWait(500);
    QCOMPARE(dialog.count_label()->text(), QStringLiteral("12"));  // not before a second has passed
    QTest::qWait(1700);
    QVERIFY(dialog.refreshes() >= 2 && dialog.refreshes() <= 3);
    QCOMPARE(dialog.count_label()->text(), QStringLiteral("13"));
  }

  void stop_acts_only_on_yes_and_only_once() {
    salvora::SaveProgress progress;
    ListPSTFile dialog(progress);
    QSignalSpy stopped(&dialog, &ListPSTFile::stop_confirmed);
    user_->answers = {false};
    QTest::mouseClick(dialog.stop_button(), Qt::LeftButton);
    QCOMPARE(user_->asked_texts(), QStringList{QStringLiteral("Do you want to stop this search ?")});
    QCOMPARE(stopped.count(), 0);
    user_->answers = {true};
    QTest::mouseClick(dialog.stop_button(), Qt::LeftButton);
    QCOMPARE(stopped.count(), 1);
    QVERIFY(!dialog.stop_button()->isEnabled());  // the pass is finishing its commit
  }

  void completion_names_the_pst_and_what_could_not_be_read() {
    salvora::SaveProgress whole;
    whole.set_store_path("/home/user/Repair/Salvora.pst");
    Last_Saving_Dialog ok(whole);
    QVERIFY(ok.message_label()->text().startsWith(QStringLiteral("Saving Completed Sucessfully")));
    QVERIFY(ok.message_label()->text().contains(QStringLiteral("/home/user/Repair/Salvora.pst")));
    QVERIFY(!ok.view_log());

    salvora::SaveProgress partial;
    partial.set_store_path("/home/user/Repair/Salvora.pst");
    partial.add_unreadable("Personal Folders\\Inbox\\: item 2097188 could not be read");
    partial.add_unreadable("Personal Folders\\Inbox\\: item 2097220 could not be read");
    Last_Saving_Dialog lossy(partial);
    QVERIFY(!lossy.message_label()->text().contains(QStringLiteral("Sucessfully")));
    QVERIFY(lossy.message_label()->text().contains(QStringLiteral("2 object(s)")));
    auto* list = lossy.findChild<QPlainTextEdit*>(QStringLiteral("unreadableList"));
    QVERIFY(list && list->toPlainText().contains(QStringLiteral("item 2097220")));

    // Items the store could not take (a full disk) are not in the PST either, and say why.
    Last_Saving_Dialog full(whole, nullptr, 7, QStringLiteral("the disk is full"));
    QVERIFY(!full.message_label()->text().contains(QStringLiteral("Sucessfully")));
    QVERIFY(full.message_label()->text().contains(QStringLiteral("7 item(s) could not be written into the PST: the disk is full")));
  }
};

QTEST_MAIN(SaveDialogsTest)
#include "save_dialogs_test.moc"
