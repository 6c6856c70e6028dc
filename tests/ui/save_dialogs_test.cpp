// The dialogs around a save: how often the status is refreshed, what Stop does before and after
// the question, and what the completion says when part of the source could not be read.

#include <QtTest>
#include <QtWidgets>

#include "ui/save_dialogs.h"
#include "ui/support/ui_test_support.h"
#include "ui/support/wizard_test_env.h"

using namespace salvora::ui;

// Only a bound against a hang: no result depends on how long anything takes.
constexpr int kLongWaitMs = 60000;

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
    // Counted in the timer's rounds rather than in time waited: the first comes after 100 ms,
    // each later one a second after the one before, and nothing changes in between.
    auto* timer = dialog.findChild<QTimer*>();
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->interval(), ListPSTFile::kFirstRefreshMs);
    QSignalSpy rounds(timer, &QTimer::timeout);
    QVERIFY(rounds.wait(kLongWaitMs));
    QCOMPARE(dialog.refreshes(), 1);
    QCOMPARE(dialog.folder_label()->text(), QStringLiteral("Personal Folders\\Inbox\\"));
    QCOMPARE(dialog.progress_bar()->maximum(), 100);
    QCOMPARE(dialog.progress_bar()->value(), 50);  // the saved share, not an activity sweep
    progress.set_count_text("13");
    QCOMPARE(timer->interval(), ListPSTFile::kRefreshMs);
    QCoreApplication::processEvents();
    QCOMPARE(dialog.count_label()->text(), QStringLiteral("12"));  // not before the next round
    QVERIFY(rounds.wait(kLongWaitMs));
    QCOMPARE(dialog.refreshes(), 2);
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
    QVERIFY(ok.message_label()->text().startsWith(QStringLiteral("Saving Completed Successfully")));
    QVERIFY(ok.message_label()->text().contains(QStringLiteral("/home/user/Repair/Salvora.pst")));
    QVERIFY(!ok.view_log());

    salvora::SaveProgress partial;
    partial.set_store_path("/home/user/Repair/Salvora.pst");
    partial.add_unreadable("Personal Folders\\Inbox\\: item 2097188 could not be read");
    partial.add_unreadable("Personal Folders\\Inbox\\: item 2097220 could not be read");
    Last_Saving_Dialog lossy(partial);
    QVERIFY(!lossy.message_label()->text().contains(QStringLiteral("Successfully")));
    QVERIFY(lossy.message_label()->text().contains(QStringLiteral("2 object(s)")));
    auto* list = lossy.findChild<QPlainTextEdit*>(QStringLiteral("unreadableList"));
    QVERIFY(list && list->toPlainText().contains(QStringLiteral("item 2097220")));

    // Items the store could not take (a full disk) are not in the PST either, and say why.
    Last_Saving_Dialog full(whole, nullptr, 7, QStringLiteral("the disk is full"));
    QVERIFY(!full.message_label()->text().contains(QStringLiteral("Successfully")));
    QVERIFY(full.message_label()->text().contains(QStringLiteral("7 item(s) could not be written into the PST: the disk is full")));
  }
};

QTEST_MAIN(SaveDialogsTest)
#include "save_dialogs_test.moc"
