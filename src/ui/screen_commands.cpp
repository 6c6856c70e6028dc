#include "ui/screen_commands.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>
#include <exception>

#include "platform/settings.h"
#include "ui/about_dialog.h"
#include "ui/change_log_dialog.h"
#include "ui/exit_confirmation.h"
#include "ui/help_window.h"
#include "ui/ui_services.h"

namespace salvora::ui {

QString help_page_for(ScreenCommandSet which) {
  switch (which) {
    case ScreenCommandSet::kSourceSelection:
      return QStringLiteral("source-selection.html");
    case ScreenCommandSet::kSearch:
      return QStringLiteral("search.html");
    case ScreenCommandSet::kRecovery:
      return QStringLiteral("recovery.html");
  }
  return QStringLiteral("index.html");
}

QString report_file() {
  const std::string value = SettingsStore(SettingsStore::DefaultFile()).Read(kReportFileValue);
  const QString path = QString::fromStdString(value);
  if (path.isEmpty() || !QFileInfo(path).isFile()) return {};
  return path;
}

ScreenCommands::ScreenCommands(QWidget* screen, QMenuBar* bar, ScreenCommandSet which,
                               std::function<void()> exit_request)
    : QObject(screen), screen_(screen), which_(which), exit_request_(std::move(exit_request)) {
  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  view_report_ = add(file, QStringLiteral("View &Report"), QKeySequence(Qt::CTRL | Qt::Key_R), &ScreenCommands::on_view_report);
  file->addSeparator();
  exit_ = add(file, QStringLiteral("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_Q), &ScreenCommands::on_exit);
  // The report may appear or go while the screen is open.
  connect(file, &QMenu::aboutToShow, this, &ScreenCommands::refresh_report_state);

  QMenu* log = bar->addMenu(QStringLiteral("&Log"));
  view_log_ = add(log, QStringLiteral("&View Log"), QKeySequence(Qt::CTRL | Qt::Key_L), &ScreenCommands::on_view_log);
  // Clearing or moving the log while a pass writes to it would split one recovery's lines over
  // two files, so only the first screen, before any pass, offers it.
  if (which == ScreenCommandSet::kSourceSelection) {
    clear_log_ = add(log, QStringLiteral("&Clear Log..."), {}, &ScreenCommands::on_clear_log);
    change_log_path_ = add(log, QStringLiteral("Change Log &Path..."), {}, &ScreenCommands::on_change_log_path);
  }

  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  help_ = add(help, QStringLiteral("&Help"), QKeySequence(Qt::Key_F1), &ScreenCommands::on_help);
  web_page_ = add(help, QStringLiteral("Visit the &Web Page"), {}, &ScreenCommands::on_web_page);
  help->addSeparator();
  about_ = add(help, QStringLiteral("&About %1").arg(product_title()), {}, &ScreenCommands::on_about);
  refresh_report_state();
}

QAction* ScreenCommands::add(QMenu* menu, const QString& text, const QKeySequence& shortcut,
                             void (ScreenCommands::*slot)()) {
  QAction* action = menu->addAction(text);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  connect(action, &QAction::triggered, this, [this, slot] {
    try {
      (this->*slot)();
    } catch (const std::exception& e) {
      log_line(QStringLiteral("Command failed: %1").arg(QString::fromLocal8Bit(e.what())));
    }
  });
  return action;
}

void ScreenCommands::refresh_report_state() { view_report_->setEnabled(!report_file().isEmpty()); }

void ScreenCommands::on_view_log() {
  const QString log = activity_log_path();
  if (log.isEmpty() || !QFileInfo(log).isFile()) {
    inform(screen_, QStringLiteral("Nothing has been written to the activity log yet."));
    return;
  }
  open_in_viewer(screen_, log);
}

void ScreenCommands::on_clear_log() {
  if (!ask(screen_, QStringLiteral("Are you sure you want to clean log."))) return;
  const QString log = activity_log_path();
  if (log.isEmpty() || !QFileInfo::exists(log)) return;
  if (!QFile::remove(log)) inform(screen_, QStringLiteral("The log could not be deleted:\n%1").arg(log));
}

void ScreenCommands::on_change_log_path() {
  Cchangelog dialog(screen_);
  dialog.exec();
}

void ScreenCommands::on_view_report() {
  refresh_report_state();
  const QString report = report_file();
  if (!report.isEmpty()) open_in_viewer(screen_, report);
}

void ScreenCommands::on_help() { show_help(help_page_for(which_)); }

void ScreenCommands::on_web_page() { ui_hooks().open_url(QString::fromLatin1(kWebPageUrl)); }

void ScreenCommands::on_about() {
  CAboutDlg dialog(screen_);
  dialog.exec();
}

void ScreenCommands::on_exit() {
  if (exit_request_) {
    exit_request_();
    return;
  }
  if (confirm_exit(screen_, {})) end_program(0);
}

ScreenCommands* install_screen_commands(QWidget* screen, QMenuBar* bar, ScreenCommandSet which,
                                        std::function<void()> exit_request) {
  return new ScreenCommands(screen, bar, which, std::move(exit_request));
}

}  // namespace salvora::ui
