// The commands of the screens' menu bars: the log (view, clear, move), the report, help, About,
// the web page and Exit.

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "platform/activity_log.h"
#include "platform/product_globals.h"
#include "platform/settings.h"
#include "ui/about_dialog.h"
#include "ui/change_log_dialog.h"
#include "ui/help_window.h"
#include "ui/screen_commands.h"
#include "ui/support/wizard_test_env.h"
#include "ui/ui_services.h"

using namespace salvora;
using namespace salvora::ui;
using wizard_test::ScriptedUser;

namespace {

SettingsStore settings() { return SettingsStore(SettingsStore::DefaultFile()); }

QString setting(std::string_view name) { return QString::fromStdString(settings().Read(name)); }

void set_setting(std::string_view name, const QString& value) {
  const QByteArray utf8 = value.toUtf8();
  QVERIFY(settings().Write(name, std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size()))));
}

// A screen with the commands of one kind, as a screen installs them.
struct Screen {
  explicit Screen(ScreenCommandSet which) {
    bar = new QMenuBar(&widget);
    commands = install_screen_commands(&widget, bar, which);
  }
  QWidget widget;
  QMenuBar* bar;
  ScreenCommands* commands;
};

}  // namespace

class CommandsTest : public QObject {
  Q_OBJECT

 private:
  QString area_;
  QString initial_log_folder_;

 private slots:
  void initTestCase() {
    initial_log_folder_ = QString::fromStdString(product_globals().log_folder);
    QVERIFY(!initial_log_folder_.isEmpty());
  }

  void init() {
    static int n = 0;
    area_ = wizard_test::private_home() + QStringLiteral("/commands%1").arg(++n);
    QDir().mkpath(area_);
    set_setting(kLogPathValue, initial_log_folder_);
    set_setting(kReportFileValue, QString());
  }

  void change_log_path_refuses_a_folder_that_does_not_exist_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("missing folder") << "missing/folder";
    QTest::newRow("empty") << "";
    QTest::newRow("a file, not a folder") << "file.txt";
  }
  void change_log_path_refuses_a_folder_that_does_not_exist() {
    QFETCH(QString, typed);
    wizard_test::write_file(area_ + "/file.txt", "x");
    ScriptedUser user;
    Cchangelog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Change Log Path"));
    QCOMPARE(dialog.folder_field()->text(), initial_log_folder_);  // where lines go now
    dialog.folder_field()->setText(typed.isEmpty() ? typed : area_ + "/" + typed);
    dialog.show();
    dialog.apply_button()->click();

    QCOMPARE(user.informed.size(), 1);
    QCOMPARE(user.informed[0].text, QStringLiteral("Path doesn't exist"));
    QCOMPARE(user.informed[0].caption, QStringLiteral("Salvora for OST - PST"));
    QCOMPARE(user.informed[0].icon, QMessageBox::Critical);
    QVERIFY(dialog.isVisible());
    QCOMPARE(setting(kLogPathValue), initial_log_folder_);
  }

  void change_log_path_moves_the_next_lines() {
    ScriptedUser user;
    const QString folder = area_ + "/new logs";
    QDir().mkpath(folder);
    Cchangelog dialog;
    user.folders_to_choose.append(folder);
    dialog.browse_button()->click();
    QCOMPARE(user.dialog_captions, QStringList{QStringLiteral("Select Folder:")});
    QCOMPARE(dialog.folder_field()->text(), folder);
    dialog.show();
    dialog.apply_button()->click();

    QVERIFY(user.informed.isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(setting(kLogPathValue), folder);
    QCOMPARE(activity_log_path(), folder + "/Activity Log.txt");
    log_line(QStringLiteral("after the move"));
    QCOMPARE(wizard_test::read_file(folder + "/Activity Log.txt"), wizard_test::log_text({"after the move"}));
  }

  void clear_log_deletes_the_log_in_use() {
    const QString folder = area_ + "/elsewhere";
    QDir().mkpath(folder);
    set_setting(kLogPathValue, folder);
    log_line(QStringLiteral("a line"));
    const QString log = folder + "/Activity Log.txt";
    QVERIFY(QFile::exists(log));
    ScriptedUser user;
    Screen screen(ScreenCommandSet::kSourceSelection);

    screen.commands->clear_log()->trigger();  // answered No
    QCOMPARE(user.asked.size(), 1);
    QCOMPARE(user.asked[0].text, QStringLiteral("Are you sure you want to clean log."));
    QCOMPARE(user.asked[0].caption, product_title());
    QVERIFY(QFile::exists(log));

    user.answer = [](const wizard_test::Shown&) { return true; };
    screen.commands->clear_log()->trigger();
    QVERIFY(!QFile::exists(log));
    QVERIFY(user.informed.isEmpty());
    screen.commands->clear_log()->trigger();  // no log at all is no error
    QVERIFY(user.informed.isEmpty());
  }

  void view_log_opens_the_log_in_use() {
    const QString folder = area_ + "/elsewhere";
    QDir().mkpath(folder);
    set_setting(kLogPathValue, folder);
    ScriptedUser user;
    Screen screen(ScreenCommandSet::kRecovery);
    screen.commands->view_log()->trigger();  // nothing written yet
    QVERIFY(user.opened_files.isEmpty());
    QCOMPARE(user.informed.size(), 1);

    log_line(QStringLiteral("a line"));
    user.viewer_available = false;
    screen.commands->view_log()->trigger();
    screen.commands->view_log()->trigger();
    QCOMPARE(user.opened_files, (QStringList{folder + "/Activity Log.txt", folder + "/Activity Log.txt"}));
    // Without a viewer the user is told once where the file is.
    QCOMPARE(user.informed.size(), 2);
    QVERIFY(user.informed[1].text.contains(folder + "/Activity Log.txt"));
  }

  void view_report_follows_the_report_file_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("names no file") << "missing.txt" << false;
    QTest::newRow("names a folder") << "." << false;
    QTest::newRow("names a file") << "report.txt" << true;
  }
  void view_report_follows_the_report_file() {
    QFETCH(QString, value);
    QFETCH(bool, enabled);
    wizard_test::write_file(area_ + "/report.txt", "report");
    set_setting(kReportFileValue, value.isEmpty() ? value : QDir::cleanPath(area_ + "/" + value));
    ScriptedUser user;
    Screen screen(ScreenCommandSet::kSearch);
    QCOMPARE(screen.commands->view_report()->isEnabled(), enabled);
    screen.commands->view_report()->trigger();
    QCOMPARE(user.opened_files, enabled ? QStringList{area_ + "/report.txt"} : QStringList{});
  }

  void help_opens_one_window_at_the_screens_page_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("page");
    QTest::newRow("first screen") << int(ScreenCommandSet::kSourceSelection) << "source-selection.html";
    QTest::newRow("search screen") << int(ScreenCommandSet::kSearch) << "search.html";
    QTest::newRow("recovery screen") << int(ScreenCommandSet::kRecovery) << "recovery.html";
  }
  void help_opens_one_window_at_the_screens_page() {
    QFETCH(int, which);
    QFETCH(QString, page);
    ScriptedUser user;
    Screen screen(static_cast<ScreenCommandSet>(which));
    screen.commands->help()->trigger();
    HelpWindow* window = open_help_window();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->current_page().fileName(), page);
    QVERIFY(!window->browser()->toPlainText().isEmpty());

    screen.commands->help()->trigger();
    QCOMPARE(open_help_window(), window);
    QCOMPARE(QApplication::topLevelWidgets().count(QPointer<QWidget>(window).data()), 1);
    window->close();
    QTRY_VERIFY(open_help_window() == nullptr);
  }

  void help_links_stay_local_and_external_ones_go_to_the_browser() {
    ScriptedUser user;
    HelpWindow* window = show_help(QStringLiteral("index.html"));
    emit window->browser()->anchorClicked(QUrl(QStringLiteral("search.html")));
    QCOMPARE(window->current_page().fileName(), QStringLiteral("search.html"));

    emit window->browser()->anchorClicked(QUrl(QStringLiteral("https://example.org/page")));
    QCOMPARE(user.opened_urls, QStringList{QStringLiteral("https://example.org/page")});
    QCOMPARE(window->current_page().fileName(), QStringLiteral("search.html"));

    emit window->browser()->anchorClicked(QUrl::fromLocalFile(QStringLiteral("/etc/hostname")));
    QCOMPARE(window->current_page().fileName(), QStringLiteral("search.html"));
    QVERIFY(window->browser()->loadResource(QTextDocument::ImageResource, QUrl("https://example.org/x.png")).isNull());
    window->close();
  }

  void web_page_and_about_link_open_the_browser() {
    ScriptedUser user;
    Screen screen(ScreenCommandSet::kSourceSelection);
    screen.commands->web_page()->trigger();
    CAboutDlg about;
    emit about.web_link()->linkActivated(QString::fromLatin1(kWebPageUrl));
    QCOMPARE(user.opened_urls, QStringList(2, QString::fromLatin1(kWebPageUrl)));
  }

  void exit_asks_and_ends_only_on_yes() {
    ScriptedUser user;
    Screen screen(ScreenCommandSet::kRecovery);
    screen.commands->exit()->trigger();
    QCOMPARE(user.asked.size(), 1);
    QCOMPARE(user.asked[0].text, QStringLiteral("Do you want to exit ?"));
    QVERIFY(user.ended.isEmpty());
    user.answer = [](const wizard_test::Shown&) { return true; };
    screen.commands->exit()->trigger();
    QCOMPARE(user.ended, QList<int>{0});
  }
};

WIZARD_TEST_MAIN(CommandsTest)
#include "wizard_commands_test.moc"
