// The preview as a mail program shows it (fields by kind, attachments to open or save, cleared
// when another folder is chosen) and the desktop habits: a dropped file, Open Recent, Open
// Folder, time left, a window that fits the screen, Escape in Help, unique mnemonics.

#include <QtTest>
#include <QtWidgets>

#include "format/prop_types.h"
#include "pststore/item_properties.h"
#include "pststore/pst/pst_writer.h"
#include "ui/desktop_habits.h"
#include "ui/folder_tree.h"
#include "ui/help_window.h"
#include "ui/item_details.h"
#include "ui/item_list_model.h"
#include "ui/ost_search_screen.h"
#include "ui/preview_browser.h"
#include "ui/recovery_screen.h"
#include "ui/save_dialogs.h"
#include "ui/source_selection_screen.h"
#include "ui/file_choosers.h"
#include "ui/support/ui_test_support.h"
#include "ui/support/wizard_test_env.h"

using namespace salvora;
using namespace salvora::ui;
using pst::AttachmentSpec;
using pst::MessageSpec;
using pst::Property;

namespace {

constexpr std::uint64_t kJan2024 = 133486272000000000ULL;  // 2024-01-01 00:00 UTC
constexpr std::uint64_t kHour = 36000000000ULL;

// A mailbox with one item of every kind, the fields each preview shows, and a mail with two
// attachments. Named properties are registered as a client would.
std::string write_kinds_mailbox(const QString& folder) {
  const std::string path = QDir(folder).filePath(QStringLiteral("kinds.pst")).toStdString();
  pst::PstOptions options;
  options.display_name = "Kinds";
  auto w = pst::PstWriter::Create(path, options);
  const auto name = [&](const pst::Guid& set, std::uint32_t lid) { return w->RegisterName(store::named(set, lid)); };

  MessageSpec mail;
  mail.props = {Property::String(kPidMessageClass, "IPM.Note"), Property::String(kPidSubject, "Quarterly <figures>"),
                Property::String(kPidSenderName, "Alice"), Property::String(0x0042, "Alice"),
                Property::String(kPidDisplayTo, "Bob"), Property::String(kPidDisplayCc, "Carol & Dave"),
                Property::String(kPidBody, "See attached."), Property::Time(kPidMessageDeliveryTime, kJan2024)};
  AttachmentSpec pdf;
  pdf.props = {Property::String(0x3707, "report.pdf"), Property::String(0x3704, "report.pdf")};
  pdf.data.assign(3000, 0x25);
  AttachmentSpec photo;
  photo.props = {Property::String(0x3707, "../photo.jpg")};
  photo.data.assign(81000, 0xFF);
  mail.attachments = {pdf, photo};
  w->AddMessage(w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note"), mail);

  MessageSpec meeting;
  meeting.props = {Property::String(kPidMessageClass, "IPM.Appointment"), Property::String(kPidSubject, "Planning"),
                   Property::String(name(kPsetidAppointment, 0x8208), "Room 4"),
                   Property::Time(name(kPsetidAppointment, 0x820D), kJan2024 + 9 * kHour),
                   Property::Time(name(kPsetidAppointment, 0x820E), kJan2024 + 10 * kHour),
                   Property::String(name(kPsetidAppointment, 0x8232), "every Monday from 09:00 to 10:00"),
                   Property::String(name(kPsetidAppointment, 0x823B), "Bob; Carol")};
  w->AddMessage(w->AddFolder(w->ipm_subtree(), "Calendar", "IPF.Appointment"), meeting);

  MessageSpec person;
  person.props = {Property::String(kPidMessageClass, "IPM.Contact"), Property::String(kPidSubject, "Erika Muster"),
                  Property::String(kPidDisplayName, "Erika Muster"), Property::String(0x3A08, "+49 30 1234"),
                  Property::String(0x3A1C, "+49 170 5555"),
                  Property::String(name(kPsetidAddress, 0x8083), "erika@example.de"),
                  Property::String(name(kPsetidAddress, 0x801B), "Hauptstr. 1\r\n10115 Berlin")};
  w->AddMessage(w->AddFolder(w->ipm_subtree(), "Contacts", "IPF.Contact"), person);

  MessageSpec task;
  task.props = {Property::String(kPidMessageClass, "IPM.Task"), Property::String(kPidSubject, "File taxes"),
                Property::Time(name(kPsetidTask, 0x8105), kJan2024 + 24 * kHour),
                Property::Int32(name(kPsetidTask, 0x8101), 1)};
  w->AddMessage(w->AddFolder(w->ipm_subtree(), "Tasks", "IPF.Task"), task);

  MessageSpec note;
  note.props = {Property::String(kPidMessageClass, "IPM.StickyNote"), Property::String(kPidSubject, "Milk"),
                Property::Int32(name(kPsetidNote, 0x8B00), 2)};
  w->AddMessage(w->AddFolder(w->ipm_subtree(), "Notes", "IPF.StickyNote"), note);

  MessageSpec entry;
  entry.props = {Property::String(kPidMessageClass, "IPM.Activity"), Property::String(kPidSubject, "Call with Bob"),
                 Property::String(name(kPsetidLog, 0x8700), "Phone call"),
                 Property::Int32(name(kPsetidLog, 0x8707), 25)};
  w->AddMessage(w->AddFolder(w->ipm_subtree(), "Journal", "IPF.Journal"), entry);
  w->Close();
  return path;
}

// With WIZARD_SHOTS naming a folder (and a real display, as under xvfb-run), a picture of the
// screen for a person to look at.
void shot(QWidget* window, const QString& name) {
  const QString folder = qEnvironmentVariable("WIZARD_SHOTS");
  if (folder.isEmpty()) return;
  window->raise();
  window->activateWindow();
  QTest::qWait(1000);
  QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                QDir(folder).filePath(name + QStringLiteral(".png"))});
}

QString details_text(Repair_Recover& screen) { return screen.preview_details()->toPlainText().simplified(); }

}  // namespace

class WizardDesktopTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<wizard_test::ScriptedUser> user_;
  std::string kinds_;
  WizardState state_;

  std::unique_ptr<Repair_Recover> open_kinds() {
    state_ = WizardState();
    state_.source_path = QString::fromStdString(kinds_);
    auto screen = std::make_unique<Repair_Recover>(state_);
    screen->show();
    QSignalSpy finished(screen.get(), &Repair_Recover::analysis_finished);
    screen->StartAnalysis();
    if (!finished.wait(60000)) qWarning("the analysis did not finish");
    return screen;
  }

  static void show_first_row(Repair_Recover& screen, const QString& folder) {
    QTreeWidgetItem* item = screen.tree()->FindPath(QStringLiteral("Personal Folders\\%1\\").arg(folder));
    QVERIFY2(item, qPrintable(folder));
    screen.tree()->setCurrentItem(item);
    QVERIFY2(screen.item_model()->rowCount() > 0, qPrintable(folder));
    screen.item_list()->setCurrentIndex(screen.item_model()->index(0, 0));
  }

 private slots:
  void initTestCase() { kinds_ = write_kinds_mailbox(wizard_test::private_home()); }
  void init() { user_ = std::make_unique<wizard_test::ScriptedUser>(); }
  void cleanup() { user_.reset(); }

  void preview_shows_the_fields_of_each_kind_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("mail") << "Inbox" << QStringList{"Date:", "2024", "From: Alice", "To: Bob", "Cc: Carol & Dave",
                                                      "Subject: Quarterly <figures>", "report.pdf (3 KB)",
                                                      "photo.jpg (80 KB)"};
    QTest::newRow("appointment") << "Calendar" << QStringList{"Location: Room 4", "Start:", "End:",
                                                                "Recurrence: every Monday from 09:00 to 10:00",
                                                                "Required: Bob; Carol"};
    QTest::newRow("contact") << "Contacts" << QStringList{"Name: Erika Muster", "E-mail: erika@example.de",
                                                            "Business phone: +49 30 1234",
                                                            "Mobile phone: +49 170 5555", "Hauptstr. 1 10115 Berlin"};
    QTest::newRow("task") << "Tasks" << QStringList{"Due date:", "Status: In progress"};
    QTest::newRow("note") << "Notes" << QStringList{"Colour: Pink"};
    QTest::newRow("journal") << "Journal" << QStringList{"Entry type: Phone call", "Duration: 25 minute(s)"};
  }
  void preview_shows_the_fields_of_each_kind() {
    QFETCH(QString, folder);
    QFETCH(QStringList, shown);
    auto screen = open_kinds();
    show_first_row(*screen, folder);
    const QString text = details_text(*screen);
    shot(screen.get(), QStringLiteral("preview-") + folder);
    for (const QString& s : shown) QVERIFY2(text.contains(s), qPrintable(s + QStringLiteral(" not in: ") + text));
    // Text from the file is text: markup in it is never markup of the view.
    QVERIFY(!screen->preview_details()->toHtml().contains(QStringLiteral("<figures>")));
    // Only a mail has a sender and addressees in the header.
    QCOMPARE(screen->preview_header(0)->text().isEmpty(), folder != QLatin1String("Inbox"));
  }

  void preview_is_cleared_when_another_folder_is_chosen() {
    auto screen = open_kinds();
    show_first_row(*screen, QStringLiteral("Inbox"));
    QVERIFY(!screen->preview_header(2)->text().isEmpty());
    screen->tree()->setCurrentItem(screen->tree()->FindPath(QStringLiteral("Personal Folders\\Calendar\\")));
    QVERIFY(screen->preview_header(0)->text().isEmpty());
    QVERIFY(screen->preview_header(2)->text().isEmpty());
    QVERIFY(details_text(*screen).isEmpty());
    QVERIFY(screen->preview()->toPlainText().isEmpty());
  }

  void attachments_open_through_the_desktop_and_save_where_asked() {
    auto screen = open_kinds();
    show_first_row(*screen, QStringLiteral("Inbox"));
    ItemDetailsView* view = screen->preview_details();
    QCOMPARE(static_cast<int>(view->details().attachments.size()), 2);
    // Open: a file of the attachment's own name (never a path out of our folder) to the desktop.
    const QString opened = view->OpenAttachment(1);
    QCOMPARE(QFileInfo(opened).fileName(), QStringLiteral("photo.jpg"));
    QCOMPARE(user_->opened_files, QStringList{opened});
    QCOMPARE(QFileInfo(opened).size(), 81000);
    // Save As: where the user says; Cancel writes nothing.
    const QString target = QDir(wizard_test::private_home()).filePath(QStringLiteral("saved-report.pdf"));
    file_choosers().save_file = [&](QWidget*, const QString&, const QString& suggested) -> std::optional<QString> {
      if (!suggested.endsWith(QStringLiteral("report.pdf"))) return std::nullopt;
      return target;
    };
    QCOMPARE(view->SaveAttachment(0), target);
    QCOMPARE(wizard_test::read_file(target), QByteArray(3000, 0x25));
    file_choosers().save_file = [](QWidget*, const QString&, const QString&) { return std::optional<QString>(); };
    QVERIFY(view->SaveAttachment(0).isEmpty());
    reset_file_choosers();
  }

  void a_dropped_file_becomes_the_source_and_a_recent_file() {
    WizardState state;
    DiskSelection screen(state);
    install_source_screen_habits(&screen);
    screen.show();
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(kinds_))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&screen, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&screen, &drop);
    QCOMPARE(state.source_path, QString::fromStdString(kinds_));
    // A folder is not a file to open: the drag is refused.
    auto* folder = new QMimeData;
    folder->setUrls({QUrl::fromLocalFile(wizard_test::private_home())});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, folder, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&screen, &refused);
    QVERIFY(!refused.isAccepted());
    delete mime;
    delete folder;

    // Open Recent lists the files read, newest first, and only those still there.
    remember_recent_file(QStringLiteral("/nonexistent/old.ost"));
    remember_recent_file(QString::fromStdString(kinds_));
    QCOMPARE(recent_files().front(), QString::fromStdString(kinds_));
    QMenu* recent = screen.menu_bar()->findChild<QMenu*>(QStringLiteral("openRecentMenu"));
    QVERIFY(recent);
    emit recent->aboutToShow();
    QCOMPARE(recent->actions().size(), 1);
    state.source_path.clear();
    recent->actions().front()->trigger();
    QCOMPARE(state.source_path, QString::fromStdString(kinds_));
  }

  void completion_offers_open_folder_and_save_shows_time_left() {
    SaveProgress progress;
    progress.set_store_path(QDir(wizard_test::private_home()).filePath(QStringLiteral("out/Salvora.pst")).toStdString());
    Last_Saving_Dialog done(progress);
    QVERIFY(done.open_folder_button());
    done.show();
    shot(&done, QStringLiteral("completion"));
    done.open_folder_button()->click();
    QCOMPARE(user_->opened_files, QStringList{QDir(wizard_test::private_home()).filePath(QStringLiteral("out"))});
    QVERIFY(!done.isHidden() || !done.result());  // the dialog stays for OK
    ListPSTFile status(progress);
    QVERIFY(status.time_left_label());
  }

  void time_left_follows_the_pace_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("seconds") << qint64(20) << "Less than a minute left";
    QTest::newRow("one minute") << qint64(70) << "About 1 minute left";
    QTest::newRow("minutes") << qint64(600) << "About 10 minutes left";
    QTest::newRow("hours") << qint64(3900) << "About 1 hour 5 minutes left";
  }
  void time_left_follows_the_pace() {
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(time_left_text(seconds), text);
  }

  void time_left_waits_for_a_pace_and_leaves_out_pauses() {
    qint64 now = 0;
    TimeLeft left([&now] { return now; });
    left.Restart(0);
    now = 1000;
    QVERIFY(left.Update(10, 100).isEmpty());  // too early to tell
    now = 10000;
    QCOMPARE(left.Update(10, 100), QStringLiteral("About 2 minutes left"));  // 90 more at 1 per second
    now = 500000;  // a long pause, then work goes on at the same pace
    left.Restart(10);
    now = 510000;
    QCOMPARE(left.Update(20, 100), QStringLiteral("About 1 minute left"));
    QVERIFY(left.Update(100, 100).isEmpty());
  }

  void windows_fit_the_screen_and_mnemonics_are_unique() {
    QCOMPARE(fitted_size(QSize(1100, 760), QSize(1366, 738)), QSize(1100, 690));
    QCOMPARE(fitted_size(QSize(900, 600), QSize(1920, 1050)), QSize(900, 600));
    // Each screen's shortcuts: menu titles and buttons, one letter each.
    WizardState state;
    DiskSelection source(state);
    Settings search(state);
    for (QWidget* screen : std::initializer_list<QWidget*>{&source, &search}) {
      QStringList keys;
      for (QAction* a : screen->findChild<QMenuBar*>()->actions()) keys << QKeySequence::mnemonic(a->text()).toString();
      for (QAbstractButton* b : screen->findChildren<QAbstractButton*>()) {
        if (b->isVisibleTo(screen)) keys << QKeySequence::mnemonic(b->text()).toString();
      }
      keys.removeAll(QString());
      QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
    }
  }

  void escape_closes_help() {
    HelpWindow help;
    help.show();
    QVERIFY(QTest::qWaitForWindowExposed(&help));
    QTest::keyClick(&help, Qt::Key_Escape);
    QVERIFY(!help.isVisible());
  }
};

WIZARD_TEST_MAIN(WizardDesktopTest)
#include "wizard_desktop_test.moc"
