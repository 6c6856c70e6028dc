#pragma once
// Shared pieces of the wizard's screen tests: a private home for the settings and the log, and a
// stand-in for the user that answers the message boxes and the file dialogs and records them.

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTest>
#include <deque>
#include <functional>
#include <optional>

namespace salvora::ui {
class CTarnwellApp;
}

namespace wizard_test {

// The private home of ui_test_support.h, made once; must run before anything reads the settings.
// Returns the folder.
QString prepare_private_home();
QString private_home();

// The whole text of a file, or an empty text when it cannot be read.
QByteArray read_file(const QString& path);
// Writes a file (creating its folder); true when it was written whole.
bool write_file(const QString& path, const QByteArray& bytes);

// The log text that these lines append: each line is a CR LF and the line.
QByteArray log_text(const QStringList& lines);

struct Shown {
  QString text;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool ok_cancel = false;
};

// Replaces the program's message boxes, viewers, end and file dialogs while it lives.
class ScriptedUser {
 public:
  ScriptedUser();
  ~ScriptedUser();
  ScriptedUser(const ScriptedUser&) = delete;
  ScriptedUser& operator=(const ScriptedUser&) = delete;

  QList<Shown> informed;
  QList<Shown> asked;
  QStringList opened_files;
  QStringList opened_urls;
  QList<int> ended;
  // The answers to the next questions, taken in turn before `answer` is asked.
  std::deque<bool> answers;
  // Called while a question is up; its result is the answer (No / Cancel by default).
  std::function<bool(const Shown&)> answer = [](const Shown&) { return false; };
  // Called while a message is up.
  std::function<void(const Shown&)> on_inform;
  // What the viewer hooks report (true: a viewer took the file or address).
  bool viewer_available = true;

  // The next answers of the file and folder dialogs; nullopt is Cancel. An empty queue cancels.
  QList<std::optional<QString>> files_to_open;
  QList<std::optional<QString>> folders_to_choose;
  QStringList dialog_captions;
  QStringList dialog_filters;

  QStringList informed_texts() const;
  QStringList asked_texts() const;
};

}  // namespace wizard_test

namespace wizard_test {
// The rest of a whole recovery from the first screen as a person makes it: Next, the analysis,
// the top of the tree ticked, Save and the completion's OK. Empty when it went through, else
// what stopped it.
QString recover_everything(salvora::ui::CTarnwellApp& wizard, const ScriptedUser& user);
}  // namespace wizard_test

// A QtTest main that prepares the private home before the application object exists.
#define WIZARD_TEST_MAIN(TestClass)                \
  int main(int argc, char** argv) {                \
    wizard_test::prepare_private_home();           \
    QApplication app(argc, argv);                  \
    TestClass tc;                                  \
    QTEST_SET_MAIN_SOURCE_PATH                     \
    return QTest::qExec(&tc, argc, argv);          \
  }
