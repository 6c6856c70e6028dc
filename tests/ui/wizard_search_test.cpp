// The search screen and its finder: what matches, in which order, how sizes and times read, Stop,
// link loops, and Convert.

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <cstdlib>

#include "platform/product_globals.h"
#include "ui/ost_file_finder.h"
#include "ui/ost_search_screen.h"
#include "ui/source_selection_screen.h"
#include "support/run_program.h"
#include "ui/support/wizard_test_env.h"
#include "ui/ui_services.h"

using namespace salvora::ui;
using wizard_test::ScriptedUser;

namespace {

constexpr int kInFolder = 1;
constexpr int kSize = 2;
constexpr int kModified = 3;

QStringList column(const QTableWidget* list, int col) {
  QStringList texts;
  for (int row = 0; row < list->rowCount(); ++row) texts.append(list->item(row, col)->text());
  return texts;
}

bool make_sized_file(const QString& path, qint64 size) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(size);
}

}  // namespace

class SearchTest : public QObject {
  Q_OBJECT

 private:
  QString area_;

  QString touch(const QString& relative) {
    const QString path = area_ + QLatin1Char('/') + relative;
    make_sized_file(path, 100);
    return path;
  }

  // Browse to the folder and search it, as the user would; returns when the search has ended.
  static bool search(Settings& screen, ScriptedUser& user, const QString& folder, bool subfolders) {
    user.folders_to_choose.append(folder);
    screen.browse_button()->click();
    screen.subfolders_box()->setChecked(subfolders);
    QSignalSpy finished(&screen, &Settings::search_finished);
    screen.search_button()->click();
    return finished.count() > 0 || finished.wait(20000);
  }

 private slots:
  void initTestCase() { salvora::product_globals(); }

  void init() {
    static int n = 0;
    area_ = wizard_test::private_home() + QStringLiteral("/search%1").arg(++n);
    QDir().mkpath(area_);
  }

  void names_containing_ost_in_any_case_are_listed() {
    touch(QStringLiteral("a.ost"));
    touch(QStringLiteral("b.OST"));
    touch(QStringLiteral("c.ost.old"));
    touch(QStringLiteral("notes.txt"));
    touch(QStringLiteral("ost"));
    QDir(area_).mkpath(QStringLiteral("x.ost"));
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    QVERIFY(search(screen, user, area_, false));

    QCOMPARE(column(screen.result_list(), kInFolder),
             (QStringList{area_ + "/a.ost", area_ + "/b.OST", area_ + "/c.ost.old", area_ + "/x.ost/"}));
    QCOMPARE(column(screen.result_list(), 0), (QStringList{"a.ost", "b.OST", "c.ost.old", "x.ost"}));
    QCOMPARE(screen.status_label()->text(), QStringLiteral("4 items found"));
    QCOMPARE(screen.search_button()->text(), QStringLiteral("Search"));
  }

  void files_of_a_subfolder_come_before_their_parents() {
    touch(QStringLiteral("a.ost"));
    touch(QStringLiteral("sub/deep/d.ost"));
    touch(QStringLiteral("sub/s.ost"));
    touch(QStringLiteral("x.ost/inner.ost"));
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    QVERIFY(search(screen, user, area_, true));
    QCOMPARE(column(screen.result_list(), kInFolder),
             (QStringList{area_ + "/sub/deep/d.ost", area_ + "/sub/s.ost", area_ + "/x.ost/inner.ost", area_ + "/a.ost",
                          area_ + "/x.ost/"}));

    // Without subfolders only the folder's own entries.
    QVERIFY(search(screen, user, area_, false));
    QCOMPARE(column(screen.result_list(), kInFolder), (QStringList{area_ + "/a.ost", area_ + "/x.ost/"}));
  }

  void typed_folder_is_searched_on_enter() {
    touch(QStringLiteral("typed.ost"));
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    QSignalSpy finished(&screen, &Settings::search_finished);
    QTest::keyClicks(screen.folder_field(), area_);
    QTest::keyClick(screen.folder_field(), Qt::Key_Return);
    QVERIFY(finished.count() > 0 || finished.wait(20000));
    QCOMPARE(column(screen.result_list(), kInFolder), QStringList{area_ + "/typed.ost"});
    QVERIFY(state.chosen_destination.isEmpty());  // only a folder chosen with Browse is kept as destination
  }

  void size_column_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("empty") << qint64(0) << "0 B";
    QTest::newRow("one byte under 10 KB") << qint64(10239) << "10239 B";
    QTest::newRow("10 KB") << qint64(10240) << "10 KB";
    QTest::newRow("2 GB and more") << qint64(5) * 1024 * 1024 * 1024 + 1 << "5242880 KB";
  }
  void size_column() {
    QFETCH(qint64, bytes);
    QFETCH(QString, shown);
    QVERIFY(make_sized_file(area_ + "/sized.ost", bytes));  // sparse: takes no room
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    QVERIFY(search(screen, user, area_, false));
    QCOMPARE(column(screen.result_list(), kSize), QStringList{shown});
  }

  void modified_column_is_in_local_time() {
    const QByteArray old_tz = qgetenv("TZ");
    qputenv("TZ", "IST-5:30");  // half an hour apart from any whole-hour zone
    tzset();
    const QString path = touch(QStringLiteral("timed.ost"));
    utimbuf times{};
    times.modtime = 1199646300;  // 2008-01-06 19:05 UTC
    times.actime = times.modtime;
    QCOMPARE(utime(QFile::encodeName(path).constData(), &times), 0);
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    const bool searched = search(screen, user, area_, false);
    const QStringList shown = column(screen.result_list(), kModified);
    qputenv("TZ", old_tz);
    tzset();
    QVERIFY(searched);
    QCOMPARE(shown, QStringList{QStringLiteral("07-01-2008 12:35 AM")});
  }

  void stop_ends_the_search_with_the_count_found_data() {
    QTest::addColumn<bool>("wait_for_rows");
    QTest::newRow("at once") << false;
    QTest::newRow("after the first rows") << true;
  }
  void stop_ends_the_search_with_the_count_found() {
    QFETCH(bool, wait_for_rows);
    // Enough folders that the walk is still going when Stop follows Search at once.
    constexpr int kFolders = 3000;
    for (int i = 0; i < kFolders; ++i) touch(QStringLiteral("many/f%1/m.ost").arg(i));
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    user.folders_to_choose.append(area_);
    screen.browse_button()->click();
    QSignalSpy finished(&screen, &Settings::search_finished);
    screen.search_button()->click();
    QVERIFY(screen.searching());
    QCOMPARE(screen.search_button()->text(), QStringLiteral("Stop"));
    if (wait_for_rows) QTRY_VERIFY(screen.result_list()->rowCount() > 0);
    // A walk that has already ended leaves the button at Search, and a click would search again.
    if (screen.searching()) screen.search_button()->click();
    QVERIFY(finished.count() > 0 || finished.wait(20000));
    const int found = screen.result_list()->rowCount();
    QCOMPARE(finished.at(0).at(0).toInt(), found);
    // Stopped at once, the walk cannot have gone far; stopped later, it may even have ended.
    if (!wait_for_rows) QVERIFY2(found < kFolders, qPrintable(QString::number(found)));
    QCOMPARE(screen.status_label()->text(),
             found == 1 ? QStringLiteral("1 item found") : QStringLiteral("%1 items found").arg(found));
    QCOMPARE(screen.search_button()->text(), QStringLiteral("Search"));
    QVERIFY(!screen.searching());
  }

  void finder_stops_at_the_next_entry() {
    for (int i = 0; i < 10; ++i) touch(QStringLiteral("f%1.ost").arg(i));
    int reported = 0;
    OstFileFinder* self = nullptr;
    FinderCallbacks callbacks;
    callbacks.entry_found = [&](const FoundEntry&, int) {
      if (++reported == 3) self->RequestStop();
    };
    OstFileFinder finder(callbacks);
    self = &finder;
    QCOMPARE(finder.Search(QFile::encodeName(area_).toStdString(), true), 3);
    QCOMPARE(reported, 3);
  }

  void link_loops_end_and_linked_folders_are_not_entered() {
    touch(QStringLiteral("a.ost"));
    touch(QStringLiteral("inner/b.ost"));
    touch(QStringLiteral("../outside/hidden.ost"));
    QVERIFY(QFile::link(area_, area_ + "/loop"));
    QVERIFY(QFile::link(area_ + "/inner", area_ + "/inner/up.ost"));
    QVERIFY(QFile::link(area_ + "/../outside", area_ + "/into.ost"));
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    QVERIFY(search(screen, user, area_, true));
    QCOMPARE(column(screen.result_list(), kInFolder),
             (QStringList{area_ + "/inner/b.ost", area_ + "/inner/up.ost/", area_ + "/a.ost", area_ + "/into.ost/"}));
  }

  void unreadable_folders_contribute_nothing() {
    if (geteuid() == 0) QSKIP("run as root: every folder can be read");
    touch(QStringLiteral("a.ost"));
    touch(QStringLiteral("locked/secret.ost"));
    QVERIFY(QFile::setPermissions(area_ + "/locked", QFileDevice::Permissions()));
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    const bool searched = search(screen, user, area_, true);
    QFile::setPermissions(area_ + "/locked", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(searched);
    QCOMPARE(column(screen.result_list(), kInFolder), QStringList{area_ + "/a.ost"});
  }

  void search_logs_its_folder() {
    touch(QStringLiteral("a.ost"));
    QFile::remove(activity_log_path());
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    QVERIFY(search(screen, user, area_, true));
    QCOMPARE(wizard_test::read_file(activity_log_path()),
             wizard_test::log_text({"\r\n", "Select Path for Searching Files", area_, "\r\n",
                                    "Click the Search button for the Searching *.OST file", "\r\n", area_}));
  }

  void search_without_a_folder_asks_for_one_data() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("none chosen") << QString();
    QTest::newRow("folder gone") << "gone";
  }
  void search_without_a_folder_asks_for_one() {
    QFETCH(QString, folder);
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    if (!folder.isEmpty()) {
      QDir(area_).mkpath(folder);
      user.folders_to_choose.append(area_ + "/" + folder);
      screen.browse_button()->click();
      QVERIFY(QDir(area_).rmdir(folder));
    }
    screen.search_button()->click();
    QCOMPARE(user.asked.size(), 1);
    QCOMPARE(user.asked[0].text, QStringLiteral("Please Select search path  ? "));
    QVERIFY(user.asked[0].ok_cancel);
    QCOMPARE(user.asked[0].caption, product_title());
    QVERIFY(!screen.searching());
  }

  void convert_needs_a_file_data() {
    QTest::addColumn<int>("row");
    QTest::newRow("a folder named x.ost") << 1;
    QTest::newRow("file deleted after the click") << 0;
  }
  void convert_needs_a_file() {
    QFETCH(int, row);
    const QString file = touch(QStringLiteral("a.ost"));
    QDir(area_).mkpath(QStringLiteral("x.ost"));
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    QVERIFY(search(screen, user, area_, false));
    QVERIFY(!screen.convert_button()->isEnabled());  // until a row is clicked
    screen.result_list()->setCurrentCell(row, 0);
    QVERIFY(screen.convert_button()->isEnabled());
    if (row == 0) QVERIFY(QFile::remove(file));
    QSignalSpy convert(&screen, &Settings::convert_requested);
    screen.convert_button()->click();
    QCOMPARE(user.informed_texts(), QStringList{QStringLiteral("Please Select the File First")});
    QCOMPARE(convert.count(), 0);
  }

  // The row the user chose is read, not the file browsed to before.
  void convert_recovers_the_selected_row() {
    const QString first = touch(QStringLiteral("chosen/first.ost"));
    const QString second = area_ + QStringLiteral("/found/second.ost");
    QDir().mkpath(area_ + QStringLiteral("/found"));
    QVERIFY(QFile::copy(QString::fromStdString(salvora::testing::SourceDir() + "/samples/sample.ost"), second));
    ScriptedUser user;
    WizardState state;
    DiskSelection source(state);
    source.show();
    user.files_to_open.append(first);
    source.browse_source_button()->click();
    source.search_button()->click();
    Settings* screen = source.search_screen();
    QVERIFY(screen);
    QVERIFY(search(*screen, user, area_ + "/found", true));
    QCOMPARE(screen->result_list()->rowCount(), 1);
    QCOMPARE(screen->status_label()->text(), QStringLiteral("1 item found"));
    screen->result_list()->setCurrentCell(0, 0);
    QSignalSpy requested(&source, &DiskSelection::recovery_requested);
    screen->convert_button()->click();

    QCOMPARE(requested.count(), 1);
    QCOMPARE(state.search_selection, second);
    QCOMPARE(state.AnalysisSource(), second);
    QCOMPARE(source.source_field()->text(), second);
    QCOMPARE(state.output_folder, area_ + "/found/Repair/");
    QVERIFY(wizard_test::read_file(activity_log_path())
                .endsWith(wizard_test::log_text({"\r\n", "Click OK Button for Repairng the PST file"})));
  }

  void convert_without_a_first_file_saves_beside_the_found_one() {
    const QString found = touch(QStringLiteral("found/only.ost"));
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    QVERIFY(search(screen, user, area_, true));
    screen.result_list()->setCurrentCell(0, 0);
    QSignalSpy convert(&screen, &Settings::convert_requested);
    screen.convert_button()->click();
    QCOMPARE(convert.count(), 1);
    QCOMPARE(state.AnalysisSource(), found);
    QCOMPARE(state.output_folder, area_ + "/found/Repair/");
    QCOMPARE(state.chosen_destination, area_);  // the folder searched, as the user chose it
  }

  void close_asks_before_going_back() {
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    screen.show();
    QSignalSpy back(&screen, &Settings::back_requested);
    screen.close_button()->click();
    QCOMPARE(user.asked.size(), 1);
    QCOMPARE(user.asked[0].text, QStringLiteral("Do you want to go back ?"));
    QCOMPARE(back.count(), 0);
    QVERIFY(screen.isVisible());

    user.answer = [](const wizard_test::Shown&) { return true; };
    screen.close_button()->click();
    QCOMPARE(back.count(), 1);
    QVERIFY(!screen.isVisible());
  }

  void escape_and_the_close_box_ask_the_exit_question() {
    ScriptedUser user;
    WizardState state;
    Settings screen(state);
    screen.show();
    QTest::keyClick(&screen, Qt::Key_Escape);
    screen.close();
    QCOMPARE(user.asked.size(), 2);
    QCOMPARE(user.asked[0].text, QStringLiteral("Do you want to exit ?"));
    QVERIFY(screen.isVisible());
    QVERIFY(user.ended.isEmpty());
  }
};

WIZARD_TEST_MAIN(SearchTest)
#include "wizard_search_test.moc"
