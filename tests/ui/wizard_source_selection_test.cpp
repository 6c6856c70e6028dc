// The first screen: choosing the OST file and the destination, the log banner, Next, Search and
// the exit question, driven through the real widgets.

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <unistd.h>

#include "platform/product_globals.h"
#include "ui/exit_confirmation.h"
#include "ui/ost_search_screen.h"
#include "ui/source_selection_screen.h"
#include "support/run_program.h"
#include "ui/support/wizard_test_env.h"
#include "ui/ui_services.h"

using namespace salvora::ui;
using wizard_test::ScriptedUser;

class SourceSelectionTest : public QObject {
  Q_OBJECT

 private:
  QString area_;  // a fresh folder per test

  QString make_file(const QString& relative) {
    const QString path = area_ + QLatin1Char('/') + relative;
    wizard_test::write_file(path, "not really a store");
    return path;
  }

  static void browse_source(DiskSelection& screen, ScriptedUser& user, const QString& path) {
    user.files_to_open.append(path);
    screen.browse_source_button()->click();
  }

  static QByteArray activity_log() { return wizard_test::read_file(activity_log_path()); }

 private slots:
  void initTestCase() { salvora::product_globals(); }

  void init() {
    static int n = 0;
    area_ = wizard_test::private_home() + QStringLiteral("/case%1").arg(++n);
    QDir().mkpath(area_);
    QFile::remove(activity_log_path());
  }

  void chosen_file_sets_source_and_derived_destination_data() {
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("folder");
    QTest::newRow("lower case") << "mail/outlook.ost" << "mail";
    QTest::newRow("case kept") << "Mail/Outlook.OST" << "Mail";
    QTest::newRow("dot in a folder") << ".hidden/Box.v2/inbox.ost" << ".hidden/Box.v2";
    QTest::newRow("blank in names") << "My Mail/My Box.ost" << "My Mail";
  }
  void chosen_file_sets_source_and_derived_destination() {
    QFETCH(QString, relative);
    QFETCH(QString, folder);
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    const QString path = make_file(relative);
    browse_source(screen, user, path);

    QCOMPARE(user.dialog_filters, QStringList{QStringLiteral("OST (*.ost);;All Files (*)")});
    QCOMPARE(screen.source_field()->text(), path);
    QCOMPARE(state.source_path, path);
    QCOMPARE(state.output_folder, area_ + QLatin1Char('/') + folder + QStringLiteral("/Repair/"));
    QCOMPARE(screen.destination_field()->text(), area_ + QLatin1Char('/') + folder + QStringLiteral("/Repair"));
    QVERIFY(state.chosen_destination.isEmpty());
    QVERIFY(user.informed.isEmpty());
  }

  void browse_writes_the_banner_to_the_log() {
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    const QString path = make_file(QStringLiteral("box.ost"));
    const QString before = banner_time_text(QDateTime::currentDateTime());
    browse_source(screen, user, path);
    const QString after = banner_time_text(QDateTime::currentDateTime());

    QStringList lines = {QStringLiteral("*******************************START LOG FILE *******************************"),
                         QStringLiteral("Salvora for OST to PST"),
                         QStringLiteral("Version 1.0"),
                         before,
                         QStringLiteral("\r\n"),
                         QStringLiteral("Step1:"),
                         QStringLiteral("Select Source Path:"),
                         path,
                         QStringLiteral("\r\n"),
                         QStringLiteral("Select Destination Path:"),
                         area_ + QStringLiteral("/Repair")};
    const QByteArray log = activity_log();
    if (log != wizard_test::log_text(lines)) {  // the minute may have turned while browsing
      lines[3] = after;
      QCOMPARE(log, wizard_test::log_text(lines));
    }
  }

  void banner_time_is_local_without_leading_zeros() {
    const QDateTime t(QDate(2008, 1, 6), QTime(9, 5), Qt::LocalTime);
    QCOMPARE(banner_time_text(t), QStringLiteral("6-1-2008 9-5"));
    QCOMPARE(banner_time_text(QDateTime(QDate(2024, 12, 31), QTime(23, 59), Qt::LocalTime)),
             QStringLiteral("31-12-2024 23-59"));
  }

  void name_without_a_dot_is_refused_with_next_disabled_meanwhile() {
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    bool next_enabled_during_message = true;
    user.on_inform = [&](const wizard_test::Shown&) { next_enabled_during_message = screen.next_button()->isEnabled(); };
    const QString path = make_file(QStringLiteral("some.folder/outlook"));
    browse_source(screen, user, path);

    QCOMPARE(user.informed_texts(), QStringList{QStringLiteral("Invalid OST file path")});
    QCOMPARE(user.informed[0].caption, product_title());
    QVERIFY(!next_enabled_during_message);
    QVERIFY(screen.next_button()->isEnabled());
    QCOMPARE(state.source_path, path);
    QVERIFY(!activity_log().contains("Select Destination Path:"));
  }

  void next_without_an_existing_source_data() {
    QTest::addColumn<bool>("browse_first");
    QTest::newRow("before any Browse") << false;
    QTest::newRow("file deleted after Browse") << true;
  }
  void next_without_an_existing_source() {
    QFETCH(bool, browse_first);
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    screen.show();
    if (browse_first) {
      const QString path = make_file(QStringLiteral("gone.ost"));
      browse_source(screen, user, path);
      QVERIFY(QFile::remove(path));
    }
    QSignalSpy requested(&screen, &DiskSelection::recovery_requested);
    screen.next_button()->click();

    QCOMPARE(user.informed_texts(), QStringList{QStringLiteral("Source path doesn't exist")});
    QCOMPARE(user.informed[0].icon, QMessageBox::Information);
    QCOMPARE(requested.count(), 0);
    QVERIFY(screen.isVisible());
  }

  QString make_store(const QString& relative) {
    const QString path = area_ + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::copy(QString::fromStdString(salvora::testing::SourceDir() + "/samples/sample.ost"), path);
    return path;
  }

  void next_with_the_file_hides_the_screen_and_asks_for_recovery() {
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    screen.show();
    browse_source(screen, user, make_store(QStringLiteral("box.ost")));
    QSignalSpy requested(&screen, &DiskSelection::recovery_requested);
    screen.next_button()->click();
    QCOMPARE(requested.count(), 1);
    QVERIFY(!screen.isVisible());
    QVERIFY(user.informed.isEmpty());
  }

  // What would stop the recovery is told on this screen, which stays up for another choice.
  void next_refuses_what_cannot_be_recovered_data() {
    QTest::addColumn<QString>("source");       // relative; "*" the sample store
    QTest::addColumn<QByteArray>("bytes");     // the source's content
    QTest::addColumn<QString>("destination");  // chosen with Browse, relative; empty for none
    QTest::addColumn<QString>("said");         // the end of the message
    QTest::newRow("random bytes") << "noise.ost" << QByteArray(8192, '\x5A') << "" << ": not an Outlook data file (PST or OST)";
    QTest::newRow("empty file") << "empty.ost" << QByteArray() << "" << ": not an Outlook data file (PST or OST)";
    QTest::newRow("a folder") << "folder.ost/" << QByteArray() << "" << ": is a folder, not an Outlook data file";
    QTest::newRow("destination below a file") << "*" << QByteArray() << "blocker/sub"
                                              << "is not a folder)";
  }
  void next_refuses_what_cannot_be_recovered() {
    QFETCH(QString, source);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, destination);
    QFETCH(QString, said);
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    screen.show();
    QString path;
    if (source == QLatin1String("*")) {
      path = make_store(QStringLiteral("good.ost"));
    } else if (source.endsWith(QLatin1Char('/'))) {
      path = area_ + QLatin1Char('/') + source.chopped(1);
      QDir().mkpath(path);
    } else {
      path = area_ + QLatin1Char('/') + source;
      QVERIFY(wizard_test::write_file(path, bytes));
    }
    state.source_path = path;  // as Browse leaves it; a folder cannot be browsed to, but can be typed
    state.output_folder = area_ + QStringLiteral("/Repair/");
    if (!destination.isEmpty()) {
      QVERIFY(wizard_test::write_file(area_ + QStringLiteral("/blocker"), "x"));
      state.chosen_destination = area_ + QLatin1Char('/') + destination;
    }
    QSignalSpy requested(&screen, &DiskSelection::recovery_requested);
    screen.next_button()->click();
    QCOMPARE(user.informed.size(), 1);
    QVERIFY2(user.informed[0].text.endsWith(said), qPrintable(user.informed[0].text));
    QCOMPARE(requested.count(), 0);
    QVERIFY(screen.isVisible());
    QVERIFY(user.ended.isEmpty());
  }

  void unreadable_source_is_refused() {
    if (::geteuid() == 0) QSKIP("run as root: every file can be read");
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    state.source_path = make_store(QStringLiteral("locked.ost"));
    QVERIFY(QFile::setPermissions(state.source_path, QFileDevice::WriteOwner));
    screen.next_button()->click();
    QCOMPARE(user.informed.size(), 1);
    QVERIFY2(user.informed[0].text.contains(QStringLiteral("ermission")), qPrintable(user.informed[0].text));
  }

  void destination_chosen_after_the_file_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("stored");
    QTest::newRow("plain") << "/srv/backup" << "/srv/backup/Repair";
    QTest::newRow("closing slash") << "/srv/backup/" << "/srv/backup/Repair";
    QTest::newRow("root") << "/" << "/Repair";
  }
  void destination_chosen_after_the_file() {
    QFETCH(QString, chosen);
    QFETCH(QString, stored);
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    browse_source(screen, user, make_file(QStringLiteral("box.ost")));
    const QString output = state.output_folder;
    QFile::remove(activity_log_path());
    user.folders_to_choose.append(chosen);
    screen.browse_destination_button()->click();

    QCOMPARE(user.dialog_captions.last(), QStringLiteral("Please select the Destination Path"));
    QCOMPARE(state.output_folder, output);
    QCOMPARE(state.chosen_destination, stored);
    QCOMPARE(screen.destination_field()->text(), stored);
    QCOMPARE(activity_log(), wizard_test::log_text({QStringLiteral("\r\n"), QStringLiteral("Select Destination Path"), chosen}));

    // A later file keeps the destination the user chose, and the field still says where the PST goes.
    browse_source(screen, user, make_file(QStringLiteral("other/box2.ost")));
    QCOMPARE(state.chosen_destination, stored);
    QCOMPARE(state.output_folder, area_ + QStringLiteral("/other/Repair/"));
    QCOMPARE(screen.destination_field()->text(), stored);
  }

  void destination_cancel_or_empty_changes_nothing() {
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    browse_source(screen, user, make_file(QStringLiteral("box.ost")));
    const QString field = screen.destination_field()->text();
    const QByteArray log = activity_log();

    user.folders_to_choose.append(std::nullopt);
    screen.browse_destination_button()->click();
    QCOMPARE(activity_log(), log);
    QVERIFY(user.informed.isEmpty());

    user.folders_to_choose.append(QString());
    screen.browse_destination_button()->click();
    QCOMPARE(user.informed_texts(), QStringList{QStringLiteral("Please select the valid path")});
    QVERIFY(state.chosen_destination.isEmpty());
    QCOMPARE(screen.destination_field()->text(), field);
  }

  void search_hides_the_screen_until_the_search_screen_goes_back() {
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    screen.show();
    screen.search_button()->click();
    QVERIFY(activity_log().endsWith(wizard_test::log_text({QStringLiteral("\r\n"), QStringLiteral("Click The Search Button")})));
    QVERIFY(!screen.isVisible());
    QPointer<Settings> search = screen.search_screen();
    QVERIFY(search && search->isVisible());

    user.answer = [](const wizard_test::Shown& q) { return q.text == QStringLiteral("Do you want to go back ?"); };
    search->close_button()->click();
    QVERIFY(screen.isVisible());
    QTRY_VERIFY(search.isNull());
  }

  void exit_question_no_keeps_focus_and_ignores_a_second_close() {
    ScriptedUser user;
    WizardState state;
    DiskSelection screen(state);
    screen.show();
    screen.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&screen));
    screen.search_button()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), screen.search_button());

    bool navigation_disabled = false;
    user.answer = [&](const wizard_test::Shown&) {
      navigation_disabled = !screen.next_button()->isEnabled() && !screen.browse_source_button()->isEnabled();
      screen.close();  // a second request while the question is up
      return false;
    };
    screen.close();

    QCOMPARE(user.asked.size(), 1);
    QCOMPARE(user.asked[0].text, QStringLiteral("Do you want to exit ?"));
    QVERIFY(navigation_disabled);
    QVERIFY(screen.isVisible());
    QVERIFY(screen.next_button()->isEnabled());
    QTRY_COMPARE(QApplication::focusWidget(), screen.search_button());
    QVERIFY(user.ended.isEmpty());
    QVERIFY(!exit_question_open());

    user.answer = [](const wizard_test::Shown&) { return true; };
    screen.close();
    QCOMPARE(user.ended, QList<int>{0});
  }

  void fresh_screen_shows_the_choices_of_the_state() {
    WizardState state;
    state.source_path = QStringLiteral("/data/Box.ost");
    state.output_folder = QStringLiteral("/data/Repair/");
    DiskSelection screen(state);
    QCOMPARE(screen.source_field()->text(), state.source_path);
    QCOMPARE(screen.destination_field()->text(), QStringLiteral("/data/Repair"));
  }

  // "Split the PST at": off by default; a size chosen reaches the save through the state and
  // comes back on a fresh screen from the settings; off again, it is gone from both.
  void split_choice_is_kept_for_the_save_and_the_next_start() {
    {
      WizardState state;
      DiskSelection screen(state);
      QVERIFY(!screen.split_check()->isChecked());
      QVERIFY(!screen.split_size_field()->isEnabled());
      QCOMPARE(state.max_pst_size, std::uint64_t{0});
      for (QWidget* w : {static_cast<QWidget*>(screen.split_check()), static_cast<QWidget*>(screen.split_size_field()),
                         static_cast<QWidget*>(screen.split_unit_field())})
        QVERIFY(!w->accessibleName().isEmpty());
      screen.split_check()->setChecked(true);
      screen.split_unit_field()->setCurrentIndex(0);
      screen.split_size_field()->setValue(500);
      QCOMPARE(state.max_pst_size, std::uint64_t{500} << 20);
    }
    WizardState state;
    DiskSelection screen(state);
    QVERIFY(screen.split_check()->isChecked());
    QCOMPARE(screen.split_size_field()->value(), 500);
    QCOMPARE(screen.split_unit_field()->currentText(), QStringLiteral("MB"));
    QCOMPARE(state.max_pst_size, std::uint64_t{500} << 20);
    screen.split_check()->setChecked(false);
    QCOMPARE(state.max_pst_size, std::uint64_t{0});
    WizardState again;
    DiskSelection fresh(again);
    QVERIFY(!fresh.split_check()->isChecked());
  }
};

WIZARD_TEST_MAIN(SourceSelectionTest)
#include "wizard_source_selection_test.moc"
