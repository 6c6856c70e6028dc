// The recovery screen driven through its real widgets: the analysis with Pause, Resume and
// Stop, the folder tree and the lists by folder kind, the preview, and saving with its status
// and completion dialogs, down to the PST on disk.

#include <QtTest>
#include <QtWidgets>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/ndb_builder.h"
#include "ui/folder_tree.h"
#include "ui/item_list_model.h"
#include "ui/preview_browser.h"
#include "ui/recovery_screen.h"
#include "ui/save_dialogs.h"
#include "ui/screen_commands.h"
#include "ui/ui_services.h"
#include "ui/support/ui_test_support.h"
#include "ui/support/wizard_test_env.h"

using namespace salvora::ui;
using salvora::AnalysisCounter;

namespace {

constexpr int kLongWaitMs = 60000;

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace

class RecoveryScreenTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<wizard_test::ScriptedUser> user_;
  QString home_;
  std::string fixture_;
  std::string synthetic_;
  WizardState state_;

  std::unique_ptr<Repair_Recover> open(const std::string& source, bool wait = true) {
    state_ = WizardState();
    state_.source_path = QString::fromStdString(source);
    auto screen = std::make_unique<Repair_Recover>(state_);
    screen->show();
    QSignalSpy finished(screen.get(), &Repair_Recover::analysis_finished);
    screen->StartAnalysis();
    if (wait) {
      if (!finished.wait(kLongWaitMs)) qWarning("the analysis did not finish");
    }
    return screen;
  }

  static void choose(Repair_Recover& screen, const QString& path) {
    QTreeWidgetItem* item = screen.tree()->FindPath(path);
    QVERIFY2(item, qPrintable(path));
    screen.tree()->setCurrentItem(item);
  }

  static QString cell(Repair_Recover& screen, int row, int column) {
    return screen.item_model()->data(screen.item_model()->index(row, column), Qt::DisplayRole).toString();
  }

  static QString only_pst_in(const QString& folder) {
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.pst")}, QDir::Files);
    return files.size() == 1 ? QDir(folder).filePath(files.front()) : QString();
  }

 private slots:
  void initTestCase() {
    home_ = testing::MakePrivateHome();
    fixture_ = testing::WriteFixtureMailbox(home_);
    synthetic_ = testing::WriteSyntheticStore(home_, 20000);
    QVERIFY(!synthetic_.empty());
  }
  void init() { user_ = std::make_unique<wizard_test::ScriptedUser>(); }
  void cleanup() { user_.reset(); }

  void lists_follow_the_folder_kind_and_hide_folder_machinery() {
    auto screen = open(fixture_);
    QCOMPARE(screen->state(), Repair_Recover::State::kCompleted);
    QVERIFY(screen->save_button()->isEnabled());
    // The hidden configuration message is neither listed nor counted.
    QCOMPARE(screen->counter_label(AnalysisCounter::kInbox)->text(), QStringLiteral("2"));
    QCOMPARE(screen->counter_label(AnalysisCounter::kContacts)->text(), QStringLiteral("3"));
    choose(*screen, QStringLiteral("Personal Folders\\Inbox\\"));
    QCOMPARE(screen->item_model()->layout(), ListLayout::kMail);
    QCOMPARE(screen->item_model()->rowCount(), 2);
    QCOMPARE(screen->item_model()->headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Received"));
    QCOMPARE(cell(*screen, 0, 1), QString::fromUtf8(testing::kJapaneseSubject));
    QCOMPARE(cell(*screen, 0, 0), QStringLiteral("山田 太郎"));
    QCOMPARE(cell(*screen, 0, 2), QStringLiteral("佐藤 花子"));

    // A contacts folder under another name lists its own contacts, and only those.
    choose(*screen, QStringLiteral("Personal Folders\\Kontakte\\"));
    QCOMPARE(screen->item_model()->layout(), ListLayout::kContacts);
    QCOMPARE(screen->item_model()->rowCount(), 2);
    QCOMPARE(cell(*screen, 0, 0), QStringLiteral("Erika Mustermann"));
    QCOMPARE(cell(*screen, 0, 1), QStringLiteral("erika@example.de"));
    choose(*screen, QStringLiteral("Personal Folders\\Vereine\\"));
    QCOMPARE(screen->item_model()->rowCount(), 1);
    QCOMPARE(cell(*screen, 0, 0), QStringLiteral("Sportverein"));
    // The selection look of the list is the same for every layout.
    QCOMPARE(screen->item_list()->selectionBehavior(), QAbstractItemView::SelectRows);
  }

  void preview_shows_cid_pictures_and_never_fetches_remote_ones() {
    auto screen = open(fixture_);
    choose(*screen, QStringLiteral("Personal Folders\\Inbox\\"));
    screen->item_list()->setCurrentIndex(screen->item_model()->index(1, 0));
    QCOMPARE(screen->preview_header(0)->text(), QStringLiteral("Alice"));
    QCOMPARE(screen->preview_header(1)->text(), QStringLiteral("Bob"));
    QCOMPARE(screen->preview_header(2)->text(), QStringLiteral("Pictures"));
    QVERIFY(screen->preview()->toPlainText().contains(QStringLiteral("Logo:")));
    const QVariant picture = screen->preview()->document()->resource(
        QTextDocument::ImageResource, QUrl(QStringLiteral("cid:") + QLatin1String(testing::kPictureContentId)));
    QVERIFY(picture.canConvert<QImage>() && !picture.value<QImage>().isNull());
    QCOMPARE(picture.value<QImage>().width(), 24);
    QVERIFY(screen->preview()->refused().contains(QUrl(QLatin1String(testing::kRemotePicture))));
    QVERIFY(user_->opened_urls.isEmpty());

    // The Japanese mail previews in its own script.
    screen->item_list()->setCurrentIndex(screen->item_model()->index(0, 0));
    QCOMPARE(screen->preview_header(2)->text(), QString::fromUtf8(testing::kJapaneseSubject));
  }

  void list_ends_on_the_folder_chosen_last() {
    auto screen = open(synthetic_, false);
    QTRY_VERIFY_WITH_TIMEOUT(screen->tree()->topLevelItemCount() > 0 && screen->tree()->topLevelItem(0)->childCount() >= 3,
                             kLongWaitMs);
    QTreeWidgetItem* top = screen->tree()->topLevelItem(0);
    screen->tree()->setCurrentItem(top->child(0));
    screen->tree()->setCurrentItem(top->child(1));
    screen->tree()->setCurrentItem(top->child(2));
    QCOMPARE(screen->item_model()->folder().value, top->child(2)->data(0, CFolderTreeCtrl1::kNidRole).toUInt());
    QSignalSpy finished(screen.get(), &Repair_Recover::analysis_finished);
    QVERIFY(finished.wait(kLongWaitMs));
    QCOMPARE(screen->item_model()->folder().value, top->child(2)->data(0, CFolderTreeCtrl1::kNidRole).toUInt());
  }

  void pause_holds_counters_and_progress_until_resume() {
    auto screen = open(synthetic_, false);
    QTest::mouseClick(screen->pause_button(), Qt::LeftButton);
    QCOMPARE(screen->pause_button()->text(), QStringLiteral("Resume"));
    QCOMPARE(screen->state(), Repair_Recover::State::kPaused);
    // Once the worker is held, what it posted before is shown; then two redraws change nothing.
    QVERIFY(screen->analysis_control().WaitUntilHeld());
    QCoreApplication::processEvents();
    const QString inbox = screen->counter_label(AnalysisCounter::kInbox)->text();
    const int progress = screen->progress_bar()->value();
    QSignalSpy redraws(screen->refresh_timer(), &QTimer::timeout);
    QVERIFY(redraws.wait(kLongWaitMs) && redraws.wait(kLongWaitMs));
    QCOMPARE(screen->counter_label(AnalysisCounter::kInbox)->text(), inbox);
    QCOMPARE(screen->progress_bar()->value(), progress);
    QVERIFY(!screen->save_button()->isEnabled());

    QSignalSpy finished(screen.get(), &Repair_Recover::analysis_finished);
    QTest::mouseClick(screen->pause_button(), Qt::LeftButton);
    QCOMPARE(screen->pause_button()->text(), QStringLiteral("Pause"));
    QVERIFY(finished.wait(kLongWaitMs));
    QCOMPARE(screen->state(), Repair_Recover::State::kCompleted);
    QVERIFY(screen->counter_label(AnalysisCounter::kInbox)->text().toInt() > 0);
  }

  void stop_asks_first_and_leaves_the_tree_browsable() {
    auto screen = open(synthetic_, false);
    QTest::mouseClick(screen->pause_button(), Qt::LeftButton);  // hold it while we ask
    user_->answers = {false};
    QTest::mouseClick(screen->stop_button(), Qt::LeftButton);
    QCOMPARE(user_->asked_texts(), QStringList{QStringLiteral("Do you want to stop this search ?")});
    QCOMPARE(screen->state(), Repair_Recover::State::kPaused);

    QSignalSpy finished(screen.get(), &Repair_Recover::analysis_finished);
    user_->answers = {true};
    QTest::mouseClick(screen->stop_button(), Qt::LeftButton);
    QCOMPARE(screen->state(), Repair_Recover::State::kStopped);
    QVERIFY(finished.wait(kLongWaitMs));  // a paused pass ends on Stop too
    QVERIFY(screen->save_button()->isHidden());
    QVERIFY(!screen->progress_bar()->isVisible());
    if (screen->tree()->topLevelItemCount() > 0) {
      screen->tree()->setCurrentItem(screen->tree()->topLevelItem(0));  // browsing still works
    }
    QVERIFY(screen->save_button()->isHidden());
  }

  void damaged_store_tells_its_losses_where_folders_are_chosen() {
    auto whole = open(fixture_);
    QVERIFY(whole->preview()->toPlainText().contains(QStringLiteral("read whole")));
    QVERIFY(whole->tree()->FindPath(QStringLiteral("Personal Folders\\Inbox\\"))->toolTip(0).isEmpty());

    const std::string damaged = testing::WriteDamagedMailbox(home_);
    QVERIFY(!damaged.empty());
    auto screen = open(damaged);
    QCOMPARE(screen->state(), Repair_Recover::State::kCompleted);
    QVERIFY(!screen->analysis().lost.empty());
    // The same findings the command line names, by folder and subject rather than node number.
    const QString page = screen->preview()->toPlainText();
    QVERIFY2(page.contains(QStringLiteral("could not be read whole: %1 object(s)").arg(screen->analysis().lost.size())),
             qPrintable(page));
    QVERIFY2(page.contains(QStringLiteral("Personal Folders\\Inbox")), qPrintable(page));
    QVERIFY2(page.contains(QString::fromLatin1(testing::kDamagedSubject)), qPrintable(page));
    const auto cli = testing::RunCli({"analyze", damaged});
    QCOMPARE(cli.exit_code, 3);
    QTreeWidgetItem* inbox = screen->tree()->FindPath(QStringLiteral("Personal Folders\\Inbox\\"));
    QVERIFY(inbox->toolTip(0).contains(QString::fromLatin1(testing::kDamagedSubject)));
    QVERIFY(!inbox->data(0, Qt::AccessibleDescriptionRole).toString().isEmpty());
    // Marking a folder is not a click on its box.
    QCOMPARE(inbox->checkState(0), screen->tree()->topLevelItem(0)->checkState(0));
    // The window names the file read.
    QVERIFY(screen->windowTitle().startsWith(QString::fromStdString(damaged) + QStringLiteral(" (")));
  }

  void every_item_listed_and_counted_by_its_folder() {
    auto screen = open(testing::WriteMixedContactsMailbox(home_));
    // A mail and a card without contact fields in a contacts folder are contacts' items there.
    QCOMPARE(screen->counter_label(AnalysisCounter::kContacts)->text(), QStringLiteral("3"));
    for (auto c : {AnalysisCounter::kInbox, AnalysisCounter::kSentItems}) QCOMPARE(screen->counter_label(c)->text(), QStringLiteral("0"));
    choose(*screen, QStringLiteral("Personal Folders\\Kontakte\\"));
    QCOMPARE(screen->item_model()->layout(), ListLayout::kContacts);
    QCOMPARE(screen->item_model()->rowCount(), 3);
    QStringList names;
    for (int row = 0; row < 3; ++row) names << cell(*screen, row, 0);
    names.sort();
    QCOMPARE(names, (QStringList{"Erika Mustermann", "Filed among the contacts", "Nameless card"}));
  }

  void failed_save_leaves_save_for_another_try() {
    auto screen = open(fixture_);
    // A destination below a file can never be made.
    const QString blocker = home_ + QStringLiteral("/plain-file");
    QVERIFY(wizard_test::write_file(blocker, "x"));
    state_.chosen_destination = blocker + QStringLiteral("/Repair");
    screen->tree()->SetChecked(screen->tree()->topLevelItem(0), true);
    QSignalSpy saved(screen.get(), &Repair_Recover::save_finished);
    QTest::mouseClick(screen->save_button(), Qt::LeftButton);
    QVERIFY(saved.wait(kLongWaitMs));
    QCOMPARE(user_->informed.size(), 1);
    QVERIFY(!screen->save_button()->isHidden() && screen->save_button()->isEnabled());

    state_.chosen_destination = home_ + QStringLiteral("/second-try");
    QTest::mouseClick(screen->save_button(), Qt::LeftButton);
    QVERIFY(saved.wait(kLongWaitMs));
    QCOMPARE(screen->save_status(), salvora::SaveStatus::kCompleted);
    QVERIFY(!only_pst_in(state_.chosen_destination).isEmpty());
  }

  void unreadable_source_returns_to_the_first_screen() {
    const QString path = home_ + QStringLiteral("/random.ost");
    QByteArray noise(64 * 1024, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 131 + 7) % 251);
    QVERIFY(wizard_test::write_file(path, noise));
    auto screen = open(path.toStdString(), false);
    QSignalSpy back(screen.get(), &Repair_Recover::back_confirmed);
    QVERIFY(back.count() > 0 || back.wait(kLongWaitMs));
    QVERIFY(user_->ended.isEmpty());
    QVERIFY(!user_->informed.isEmpty());
  }

  void save_with_nothing_checked_asks_for_a_folder() {
    auto screen = open(fixture_);
    screen->tree()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    QTest::mouseClick(screen->save_button(), Qt::LeftButton);
    QCOMPARE(user_->informed_texts(), QStringList{QStringLiteral("Please Select Any Folder")});
    QCOMPARE(screen->state(), Repair_Recover::State::kCompleted);
  }

  void nothing_recoverable_says_why() {
    // The sample's header over nothing but zeros: no index page or block is left to rebuild from.
    std::ifstream in(salvora::testing::SourceDir() + "/samples/sample.ost", std::ios::binary);
    std::string bytes(4096, '\0');
    in.read(bytes.data(), 4096);
    bytes.resize(1 << 20, '\0');
    const std::string path = (home_ + QStringLiteral("/zeroed.ost")).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    auto screen = open(path);
    const QString said = user_->informed_texts().join(QLatin1Char('\n'));
    QVERIFY2(said.startsWith(QStringLiteral("Cannot Save File\n\n")), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("could not be read or rebuilt")), qPrintable(said));
  }

  void recover_deleted_is_off_until_checked() {
    auto screen = open(fixture_);
    QCheckBox* box = screen->recover_deleted_check();
    QVERIFY(box && box->isVisible());
    QVERIFY(!box->isChecked());
    QCOMPARE(box->accessibleName(), QStringLiteral("Also recover deleted items"));
    const std::string corpus = salvora::testing::CorpusDir();
    if (corpus.empty()) QSKIP("no corpus folder: the save with deleted items is not tried");
    // A store whose old index pages still list messages deleted since.
    screen = open(corpus + "/aranetic-four-nesting-levels.pst");
    state_.chosen_destination = home_ + QStringLiteral("/deleted");
    screen->recover_deleted_check()->setChecked(true);
    screen->tree()->SetChecked(screen->tree()->topLevelItem(0), true);
    QSignalSpy saved(screen.get(), &Repair_Recover::save_finished);
    QTest::mouseClick(screen->save_button(), Qt::LeftButton);
    QVERIFY(saved.wait(kLongWaitMs));
    QCOMPARE(screen->save_status(), salvora::SaveStatus::kCompleted);
    QVERIFY(screen->save_progress().deleted_recovered.load() > 0);
  }

  void stop_during_a_save_leaves_a_pst_that_verifies() {
    auto screen = open(synthetic_);
    const QString dest = home_ + QStringLiteral("/stopped");
    state_.chosen_destination = dest;
    screen->tree()->SetChecked(screen->tree()->topLevelItem(0), true);
    QSignalSpy saved(screen.get(), &Repair_Recover::save_finished);
    QTest::mouseClick(screen->save_button(), Qt::LeftButton);
    QCOMPARE(screen->state(), Repair_Recover::State::kSaving);
    QVERIFY(!screen->back_button()->isEnabled());
    ListPSTFile* status = screen->status_dialog();
    QVERIFY(status && status->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(screen->save_progress().items_saved.load() > 100, kLongWaitMs);

    user_->answers = {false};
    QTest::mouseClick(status->stop_button(), Qt::LeftButton);
    QCOMPARE(screen->state(), Repair_Recover::State::kSaving);
    QVERIFY(status->stop_button()->isEnabled());

    user_->answers = {true};
    QTest::mouseClick(status->stop_button(), Qt::LeftButton);
    QVERIFY(saved.wait(kLongWaitMs));
    QCOMPARE(screen->save_status(), salvora::SaveStatus::kStopped);
    QVERIFY(screen->save_button()->isHidden());
    QVERIFY(user_->ended.isEmpty());  // no completion after a stop
    const QString pst = only_pst_in(dest);
    QVERIFY2(!pst.isEmpty(), qPrintable(dest));
    QVERIFY(user_->informed_texts().join(QLatin1Char('\n')).contains(pst));
    const auto verify = testing::RunCli({"verify", pst.toStdString()});
    QVERIFY2(verify.exit_code == 0, verify.out.c_str());
  }

  void whole_recovery_matches_the_command_line_data() {
    QTest::addColumn<bool>("view_log");
    QTest::newRow("log not viewed") << false;
    QTest::newRow("log viewed") << true;
  }
  void whole_recovery_matches_the_command_line() {
    QFETCH(bool, view_log);
    const std::string sample = salvora::testing::SourceDir() + "/samples/sample.ost";
    auto screen = open(sample);
    const QString dest = home_ + (view_log ? QStringLiteral("/viewed") : QStringLiteral("/whole"));
    state_.chosen_destination = dest;
    screen->tree()->SetChecked(screen->tree()->topLevelItem(0), true);
    QSignalSpy saved(screen.get(), &Repair_Recover::save_finished);
    QTest::mouseClick(screen->save_button(), Qt::LeftButton);
    QVERIFY(saved.wait(kLongWaitMs));
    QCOMPARE(screen->save_status(), salvora::SaveStatus::kCompleted);
    auto* done = screen->findChild<Last_Saving_Dialog*>();
    QVERIFY(done && done->isVisible());
    const QString pst = only_pst_in(dest);
    QVERIFY2(!pst.isEmpty(), qPrintable(QString::fromStdString(screen->save_progress().store_path())));
    QVERIFY(done->message_label()->text().contains(pst));
    // The save's report lies beside the PST, the dialog offers it, and File > View Report opens it.
    const QString report = QString(pst).replace(QStringLiteral(".pst"), QStringLiteral(".report.html"));
    QVERIFY(QFile::exists(report));
    QVERIFY(done->view_report_button() != nullptr);
    QCOMPARE(report_file(), report);
    done->view_log_box()->setChecked(view_log);
    QVERIFY(user_->ended.isEmpty());
    done->accept();
    QCOMPARE(user_->ended, QList<int>{0});
    QCOMPARE(user_->opened_files.size(), view_log ? 1 : 0);
    if (view_log) QCOMPARE(user_->opened_files.front(), activity_log_path());
    if (view_log) return;  // one comparison with the command line is enough

    std::vector<std::string> args = {"convert", sample, "--dest", (home_ + QStringLiteral("/cli")).toStdString()};
    for (const QString& f : state_.selected_folders) {
      args.push_back("--folder");
      args.push_back(f.toStdString());
    }
    const auto converted = testing::RunCli(args);
    QVERIFY2(converted.exit_code == 0, converted.err.c_str());
    const QString cli_pst = only_pst_in(home_ + QStringLiteral("/cli"));
    const auto ours = testing::RunCli({"dump", pst.toStdString()});
    const auto theirs = testing::RunCli({"dump", cli_pst.toStdString()});
    QCOMPARE(ours.exit_code, 0);
    QVERIFY(!ours.out.empty());
    QVERIFY(sorted_lines(ours.out) == sorted_lines(theirs.out));
  }
};

QTEST_MAIN(RecoveryScreenTest)
#include "recovery_screen_test.moc"
