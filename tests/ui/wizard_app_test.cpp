// Start-up and the way between the screens: `salvora [FILE]`, Next to the recovery screen and
// Back to a fresh first screen.

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "platform/product_globals.h"
#include "support/run_program.h"
#include "ui/folder_tree.h"
#include "ui/recovery_screen.h"
#include "ui/save_dialogs.h"
#include "ui/source_selection_screen.h"
#include "ui/support/wizard_test_env.h"
#include "ui/ui_services.h"
#include "ui/wizard_app.h"

using namespace salvora::ui;
using wizard_test::ScriptedUser;

class WizardAppTest : public QObject {
  Q_OBJECT

 private:
  // A private copy: the source is opened exclusively, and other test programs open the shared
  // sample at the same time.
  static QString sample() {
    const QString copy = wizard_test::private_home() + "/sample.ost";
    if (!QFileInfo::exists(copy)) {
      QFile::copy(QString::fromStdString(salvora::testing::SourceDir()) + "/samples/sample.ost", copy);
    }
    return copy;
  }

 private slots:
  void file_on_the_command_line_is_chosen_as_with_browse() {
    QVERIFY2(QFileInfo(sample()).isFile(), qPrintable(sample()));
    // A relative name, from another folder: the screen shows the absolute path, case kept.
    const QString folder = wizard_test::private_home() + "/Mixed Case";
    QDir().mkpath(folder);
    const QString copy = folder + "/Sample.OST";
    QFile::remove(copy);
    QVERIFY(QFile::copy(sample(), copy));
    const QString old_cwd = QDir::currentPath();
    QDir::setCurrent(wizard_test::private_home());
    ScriptedUser user;
    CTarnwellApp wizard;
    wizard.InitInstance({"salvora", "Mixed Case/Sample.OST"});
    QDir::setCurrent(old_cwd);

    QVERIFY(wizard.source_screen() && wizard.source_screen()->isVisible());
    QCOMPARE(wizard.source_screen()->source_field()->text(), copy);
    QCOMPARE(wizard.state().output_folder, folder + "/Repair/");
    QVERIFY(wizard_test::read_file(activity_log_path()).contains(copy.toUtf8()));
    QVERIFY(user.informed.isEmpty());
  }

  void missing_file_on_the_command_line_is_reported() {
    ScriptedUser user;
    CTarnwellApp wizard;
    wizard.InitInstance({"salvora", wizard_test::private_home() + "/none.ost"});
    QCOMPARE(user.informed_texts(), QStringList{QStringLiteral("Source path doesn't exist")});
    QVERIFY(wizard.state().source_path.isEmpty());
    QVERIFY(wizard.source_screen()->isVisible());
  }

  void next_opens_the_recovery_screen_and_back_a_fresh_first_screen() {
    ScriptedUser user;
    CTarnwellApp wizard;
    wizard.InitInstance({"salvora", sample()});
    QPointer<DiskSelection> first = wizard.source_screen();
    first->next_button()->click();

    QPointer<Repair_Recover> recovery = wizard.recovery_screen();
    QVERIFY(recovery && recovery->isVisible());
    QTRY_VERIFY(first.isNull());
    QSignalSpy analysed(recovery.data(), &Repair_Recover::analysis_finished);
    QVERIFY(analysed.count() > 0 || analysed.wait(60000));

    user.answer = [](const wizard_test::Shown& q) { return q.text == QStringLiteral("Do you want to Go Back ?"); };
    recovery->back_button()->click();
    QTRY_VERIFY(recovery.isNull());
    DiskSelection* fresh = wizard.source_screen();
    QVERIFY(fresh && fresh->isVisible());
    QCOMPARE(fresh->source_field()->text(), sample());
    QVERIFY2(user.ended.isEmpty(), qPrintable(user.informed_texts().join(" | ")));
  }

  // A whole recovery as a person makes it: the file and the destination chosen with Browse,
  // Next, the analysis, every folder checked, Save, the completion's OK. The PST verifies and
  // holds what the command line writes for the same folders.
  void whole_wizard_from_the_first_screen_to_the_completion() {
    const QString dest = wizard_test::private_home() + "/chosen";
    QDir().mkpath(dest);
    ScriptedUser user;
    user.files_to_open = {sample()};
    user.folders_to_choose = {dest};
    CTarnwellApp wizard;
    wizard.InitInstance({"salvora"});
    DiskSelection* first = wizard.source_screen();
    first->browse_source_button()->click();
    first->browse_destination_button()->click();
    QCOMPARE(wizard_test::recover_everything(wizard, user), QString());
    QCOMPARE(user.ended, QList<int>{0});

    const QStringList psts = QDir(dest + "/Repair").entryList({QStringLiteral("*.pst")}, QDir::Files);
    QCOMPARE(psts.size(), 1);
    const std::string pst = (dest + "/Repair/" + psts.front()).toStdString();
    const std::string cli = salvora::testing::ProgramPath("salvora-cli");
    QCOMPARE(salvora::testing::RunProgram(cli, {"verify", pst}).exit_code, 0);
    const QString cli_dest = wizard_test::private_home() + "/by-cli";
    std::vector<std::string> args = {"convert", sample().toStdString(), "--dest", cli_dest.toStdString()};
    for (const QString& f : wizard.state().selected_folders) {
      args.push_back("--folder");
      args.push_back(f.toStdString());
    }
    const auto converted = salvora::testing::RunProgram(cli, args);
    QVERIFY2(converted.exit_code == 0, converted.err.c_str());
    const QStringList cli_psts = QDir(cli_dest).entryList({QStringLiteral("*.pst")}, QDir::Files);
    QCOMPARE(cli_psts.size(), 1);
    auto lines = [&](const std::string& path) {
      QStringList out = QString::fromStdString(salvora::testing::RunProgram(cli, {"dump", path}).out)
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
      out.sort();
      return out;
    };
    const QStringList ours = lines(pst);
    QVERIFY(!ours.isEmpty());
    QCOMPARE(ours, lines((cli_dest + "/" + cli_psts.front()).toStdString()));
  }
};

WIZARD_TEST_MAIN(WizardAppTest)
#include "wizard_app_test.moc"
