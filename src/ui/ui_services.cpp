#include "ui/ui_services.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <QWidget>

#include "platform/activity_log.h"
#include "platform/product_globals.h"
#include "pststore/store_servers.h"

namespace salvora::ui {

namespace {

QMessageBox::StandardButton run_box(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                    const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton default_button) {
  QMessageBox box(icon, caption, text, buttons, parent);
  box.setDefaultButton(default_button);
  box.setAccessibleName(caption);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

UiHooks default_hooks() {
  UiHooks hooks;
  hooks.inform = [](QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon) {
    run_box(parent, icon, caption, text, QMessageBox::Ok, QMessageBox::Ok);
  };
  hooks.ask = [](QWidget* parent, const QString& text, const QString& caption, bool ok_cancel) {
    if (ok_cancel) {
      return run_box(parent, QMessageBox::Question, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                     QMessageBox::Ok) == QMessageBox::Ok;
    }
    return run_box(parent, QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::No) == QMessageBox::Yes;
  };
  hooks.open_file = [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
  hooks.open_url = [](const QString& url) { return QDesktopServices::openUrl(QUrl(url)); };
  hooks.end_program = [](int code) { std::exit(code); };
  return hooks;
}

}  // namespace

QString product_title() { return QString::fromUtf8(kProductTitle.data(), static_cast<int>(kProductTitle.size())); }

UiHooks& ui_hooks() {
  static UiHooks hooks = default_hooks();
  return hooks;
}

void reset_ui_hooks() { ui_hooks() = default_hooks(); }

void inform(QWidget* parent, const QString& text, QMessageBox::Icon icon, const QString& caption) {
  ui_hooks().inform(parent, text, caption.isEmpty() ? product_title() : caption, icon);
}

bool ask(QWidget* parent, const QString& text, const QString& caption) {
  return ui_hooks().ask(parent, text, caption.isEmpty() ? product_title() : caption, false);
}

bool ask_ok_cancel(QWidget* parent, const QString& text, const QString& caption) {
  return ui_hooks().ask(parent, text, caption.isEmpty() ? product_title() : caption, true);
}

void log_line(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  write_log_line(LogSelector::kActivity, std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

QString activity_log_path() {
  const ActivityLog log(SettingsStore(SettingsStore::DefaultFile()));
  return QString::fromStdString(log.ResolvePath(LogSelector::kActivity).string());
}

void open_in_viewer(QWidget* parent, const QString& path) {
  if (ui_hooks().open_file(path)) return;
  // Said once per file: a desktop without a viewer stays without one for the whole run.
  static QSet<QString> told;
  if (told.contains(path)) return;
  told.insert(path);
  inform(parent, QStringLiteral("No program is available to open this file. It is here:\n%1").arg(path));
}

void end_program(int code) {
  // The store commits and closes its file before the process goes; the log is written line by
  // line and needs nothing.
  try {
    store::shutdown_store_servers();
  } catch (const std::exception&) {
    // The PST keeps its last commit; ending anyway is what the user asked for.
  }
  ui_hooks().end_program(code);
}

}  // namespace salvora::ui
