// "Save as" on the first screen: the wizard writes the mailbox as mbox folders through the
// window, as a person would choose it. With SALVORA_SCREENSHOT_DIR set, the first screen with
// the choice open is kept there as save-as.png (for the README, taken under xvfb-run).

#include <QComboBox>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QTest>

#include "support/run_program.h"
#include "ui/source_selection_screen.h"
#include "ui/support/wizard_test_env.h"
#include "ui/wizard_app.h"

using namespace salvora::ui;
using wizard_test::ScriptedUser;

class WizardSaveAsTest : public QObject {
  Q_OBJECT

 private slots:
  void mbox_chosen_on_the_first_screen_is_what_save_writes() {
    const QString sample = wizard_test::private_home() + "/sample.ost";
    if (!QFileInfo::exists(sample))
      QVERIFY(QFile::copy(QString::fromStdString(salvora::testing::SourceDir()) + "/samples/sample.ost", sample));
    const QString dest = wizard_test::private_home() + "/as-mbox";
    QDir(dest).removeRecursively();
    QDir().mkpath(dest);
    ScriptedUser user;
    user.folders_to_choose = {dest};
    CTarnwellApp wizard;
    wizard.InitInstance({"salvora", sample});
    DiskSelection* first = wizard.source_screen();
    QComboBox* save_as = first->save_as_box();
    QCOMPARE(save_as->count(), 3);
    QCOMPARE(save_as->currentData().toString(), QStringLiteral(".pst"));
    save_as->setCurrentIndex(save_as->findData(QStringLiteral(".mbox")));
    QCOMPARE(wizard.state().save_as, QStringLiteral(".mbox"));
    first->browse_destination_button()->click();
    if (const QByteArray shots = qgetenv("SALVORA_SCREENSHOT_DIR"); !shots.isEmpty())
      QVERIFY(first->grab().save(QString::fromLocal8Bit(shots) + "/save-as.png"));
    QCOMPARE(wizard_test::recover_everything(wizard, user), QString());

    // A folder of mbox files and no PST; the Inbox holds the sample's ten mails.
    const QDir repair(dest + "/Repair");
    QCOMPARE(repair.entryList({QStringLiteral("*.pst")}, QDir::Files).size(), 0);
    const QStringList boxes = repair.entryList({QStringLiteral("*.mbox")}, QDir::Dirs);
    QCOMPARE(boxes.size(), 1);
    QFile inbox(repair.filePath(boxes.front() + "/Inbox"));
    QVERIFY(inbox.open(QIODevice::ReadOnly));
    const QByteArray text = inbox.readAll();
    QVERIFY(text.startsWith("From "));
    QCOMPARE(text.count("\n\nFrom "), 9);
  }
};

WIZARD_TEST_MAIN(WizardSaveAsTest)
#include "wizard_save_as_test.moc"
