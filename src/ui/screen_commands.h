#pragma once
// The commands every screen of the wizard carries in its menu bar: the activity log (view, clear,
// move), the report, help, About, the web page and Exit, with their keyboard shortcuts.
//
// A screen calls install_screen_commands once, after it has built its menu bar. The returned
// object lives as a child of the screen. User-interface thread only.

#include <QKeySequence>
#include <QObject>
#include <QString>
#include <functional>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace salvora::ui {

// The maker's web page, opened by the Help menu and the About box.
inline constexpr auto kWebPageUrl = "https://salvora.example.org/";

// Which screen the commands belong to: it picks the help page and whether the log can be cleared
// or moved (on the first screen only, before any pass writes to it).
enum class ScreenCommandSet { kSourceSelection, kSearch, kRecovery };

// The help page about a screen, relative to the help folder.
QString help_page_for(ScreenCommandSet which);

class ScreenCommands : public QObject {
  Q_OBJECT
 public:
  ScreenCommands(QWidget* screen, QMenuBar* bar, ScreenCommandSet which, std::function<void()> exit_request);

  QAction* view_log() const { return view_log_; }
  QAction* clear_log() const { return clear_log_; }  // null where the screen has none
  QAction* change_log_path() const { return change_log_path_; }  // null where the screen has none
  QAction* view_report() const { return view_report_; }
  QAction* help() const { return help_; }
  QAction* web_page() const { return web_page_; }
  QAction* about() const { return about_; }
  QAction* exit() const { return exit_; }

  // Enables View Report when "RPTFile" names an existing file.
  void refresh_report_state();

 private:
  QAction* add(QMenu* menu, const QString& text, const QKeySequence& shortcut, void (ScreenCommands::*slot)());
  void on_view_log();
  void on_clear_log();
  void on_change_log_path();
  void on_view_report();
  void on_help();
  void on_web_page();
  void on_about();
  void on_exit();

  QWidget* screen_;
  ScreenCommandSet which_;
  std::function<void()> exit_request_;
  QAction* view_log_ = nullptr;
  QAction* clear_log_ = nullptr;
  QAction* change_log_path_ = nullptr;
  QAction* view_report_ = nullptr;
  QAction* help_ = nullptr;
  QAction* web_page_ = nullptr;
  QAction* about_ = nullptr;
  QAction* exit_ = nullptr;
};

// Builds the menus into bar and wires them to the screen. An empty exit_request asks the exit
// question and ends the program on Yes.
ScreenCommands* install_screen_commands(QWidget* screen, QMenuBar* bar, ScreenCommandSet which,
                                        std::function<void()> exit_request = {});

// The report file named by "RPTFile" when it exists, else an empty text.
QString report_file();

}  // namespace salvora::ui
