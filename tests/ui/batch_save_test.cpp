// Several rows of the search screen converted one after another: each file into a PST of its
// own in a folder named after it, a broken file told in the summary without stopping the
// others, every control named for assistive technology, and each report one click away.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>

#include "platform/product_globals.h"
#include "platform/settings.h"
#include "support/run_program.h"
#include "ui/batch_save_dialog.h"
#include "ui/ost_search_screen.h"
#include "ui/save_dialogs.h"
#include "ui/screen_commands.h"
#include "ui/support/wizard_test_env.h"
#include "ui/ui_services.h"

using namespace salvora::ui;
using wizard_test::ScriptedUser;

class BatchSaveTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { salvora::product_globals(); }

  void selected_rows_convert_one_after_another_past_a_broken_file() {
    const QString area = wizard_test::private_home() + QStringLiteral("/batch");
    QDir(area).removeRecursively();
    const QByteArray sample = wizard_test::read_file(QString::fromStdString(salvora::testing::SourceDir()) + "/samples/sample.ost");
    QVERIFY(!sample.isEmpty());
    QVERIFY(wizard_test::write_file(area + "/in/sub/mail.ost", sample));
    QVERIFY(wizard_test::write_file(area + "/in/broken.ost", QByteArray(70000, 'x')));
    QVERIFY(wizard_test::write_file(area + "/in/mail.ost", sample));

    ScriptedUser user;
    WizardState state;
    state.chosen_destination = area + "/out";
    Settings screen(state);
    screen.folder_field()->setText(area + "/in");
    QSignalSpy searched(&screen, &Settings::search_finished);
    screen.search_button()->click();
    QVERIFY(searched.count() > 0 || searched.wait(20000));
    QCOMPARE(screen.result_list()->rowCount(), 3);
    screen.result_list()->selectAll();
    screen.convert_button()->click();
    BatchSaveDialog* dialog = screen.batch_dialog();
    QVERIFY(dialog != nullptr);
    QSignalSpy finished(&screen, &Settings::batch_finished);
    QVERIFY(finished.wait(120000));

    // In the list's order: the subfolder's file first, then the broken one, then the other copy.
    const auto& results = dialog->results();
    QCOMPARE(results.size(), std::size_t{3});
    QCOMPARE(results[0].outcome, BatchSaveDialog::Outcome::kConverted);
    QCOMPARE(results[1].outcome, BatchSaveDialog::Outcome::kFailed);
    QCOMPARE(results[2].outcome, BatchSaveDialog::Outcome::kConverted);
    QVERIFY(QString::fromStdString(results[0].store).startsWith(area + "/out/mail/"));
    QVERIFY(QString::fromStdString(results[2].store).startsWith(area + "/out/mail (2)/"));
    QVERIFY(results[1].store.empty());
    for (int i : {0, 2}) {
      QVERIFY(QFile::exists(QString::fromStdString(results[i].store)));
      QVERIFY(QFile::exists(QString::fromStdString(results[i].report)));
    }
    QVERIFY(dialog->summary()->item(1, 1)->text().startsWith(QStringLiteral("Failed: ")));
    QCOMPARE(dialog->summary_label()->text(), QStringLiteral("2 converted, 0 with losses, 1 failed, 0 stopped or not converted"));
    QVERIFY(dialog->close_button()->isEnabled());
    QVERIFY(!dialog->stop_button()->isEnabled());

    // The first report is selected and opens; the screen's View Report names the last one.
    dialog->view_report_button()->click();
    QCOMPARE(user.opened_files, QStringList{QString::fromStdString(results[0].report)});
    QVERIFY(screen.commands()->view_report()->isEnabled());
    QCOMPARE(report_file(), QString::fromStdString(results[2].report));
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
      if (w->focusPolicy() != Qt::NoFocus || qobject_cast<QLabel*>(w) || qobject_cast<QProgressBar*>(w)) {
        if (!w->objectName().startsWith(QLatin1String("qt_")) && w->parentWidget() == dialog)
          QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->metaObject()->className()));
      }
    }
    // The page reads in the wizard's own text browser too.
    QTextBrowser browser;
    browser.setHtml(QString::fromUtf8(wizard_test::read_file(QString::fromStdString(results[0].report))));
    QVERIFY(browser.toPlainText().contains(QStringLiteral("Personal Folders\\Inbox")));
    // With WIZARD_SHOTS naming a folder (as under xvfb-run), a picture for a person to look at.
    if (const QString shots = qEnvironmentVariable("WIZARD_SHOTS"); !shots.isEmpty()) {
      dialog->grab().save(QDir(shots).filePath(QStringLiteral("batch-save.png")));
      browser.resize(900, 700);
      browser.grab().save(QDir(shots).filePath(QStringLiteral("report-page.png")));
    }
    dialog->close_button()->click();
  }

  void completion_dialog_offers_the_report_when_there_is_one() {
    ScriptedUser user;
    salvora::SaveProgress progress;
    progress.set_store_path("/tmp/x.pst");
    Last_Saving_Dialog without(progress);
    QVERIFY(without.view_report_button() == nullptr);
    Last_Saving_Dialog with(progress, nullptr, 0, {}, QStringLiteral("/tmp/x.report.html"));
    QVERIFY(with.view_report_button() != nullptr);
    QCOMPARE(with.view_report_button()->accessibleName(), QStringLiteral("View Report"));
    with.view_report_button()->click();
    QCOMPARE(user.opened_files, QStringList{QStringLiteral("/tmp/x.report.html")});
  }
};

WIZARD_TEST_MAIN(BatchSaveTest)
#include "batch_save_test.moc"
