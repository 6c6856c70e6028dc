#pragma once
// What every screen of the wizard shares: the product's texts in Qt form, the message boxes, the
// activity log, opening a file in the desktop's viewer, and the end of the program.
//
// The message boxes and the few effects that leave the program (opening a viewer, ending the
// process) go through UiHooks, so that tests can answer the questions and see what would have
// been opened. Everything here runs on the user-interface thread unless it says otherwise.

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace salvora::ui {

// The product title: the caption of the program's own message boxes.
QString product_title();

struct UiHooks {
  // A message box with one OK button.
  std::function<void(QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon)> inform;
  // A question with Yes and No (or, when ok_cancel, OK and Cancel); true for Yes or OK.
  std::function<bool(QWidget* parent, const QString& text, const QString& caption, bool ok_cancel)> ask;
  // Opens a file in the desktop's viewer; false when no viewer took it.
  std::function<bool(const QString& path)> open_file;
  // Opens a web address in the desktop's browser; false when none took it.
  std::function<bool(const QString& url)> open_url;
  // Ends the program with this exit code, after the caller has flushed what it must.
  std::function<void(int code)> end_program;
};

// The process's hooks; tests replace members and restore them with reset_ui_hooks().
UiHooks& ui_hooks();
void reset_ui_hooks();

// The message boxes of the program, with the product title as caption unless one is given.
void inform(QWidget* parent, const QString& text, QMessageBox::Icon icon = QMessageBox::Information,
            const QString& caption = {});
bool ask(QWidget* parent, const QString& text, const QString& caption = {});
bool ask_ok_cancel(QWidget* parent, const QString& text, const QString& caption = {});

// One line of the activity log (callable from any thread).
void log_line(const QString& text);

// The activity log that lines are written to now.
QString activity_log_path();

// Opens a file in the desktop's viewer. When no viewer takes it, the user is told where the
// file is, once per file for the run of the program.
void open_in_viewer(QWidget* parent, const QString& path);

// The program's orderly end: every open PST committed and closed, then the hook's end.
void end_program(int code = 0);

}  // namespace salvora::ui
