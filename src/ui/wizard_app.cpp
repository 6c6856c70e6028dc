#include "ui/wizard_app.h"

#include <QApplication>
#include <QFileInfo>

#include "platform/product_globals.h"
#include "platform/temp_folder.h"
#include "mimestore/mime_stores.h"
#include "pststore/store_servers.h"
#include "ui/desktop_habits.h"
#include "ui/icons.h"
#include "ui/save_dialogs.h"  // before recovery_screen.h, which needs ListPSTFile whole
#include "ui/recovery_screen.h"
#include "ui/source_selection_screen.h"
#include "ui/ui_services.h"

namespace salvora::ui {

CTarnwellApp::CTarnwellApp(QObject* parent) : QObject(parent) {}

CTarnwellApp::~CTarnwellApp() {
  delete recovery_.data();
  delete source_.data();
}

DiskSelection* CTarnwellApp::source_screen() const { return source_.data(); }

Repair_Recover* CTarnwellApp::recovery_screen() const { return recovery_.data(); }

void CTarnwellApp::InitInstance(const QStringList& arguments) {
  // Reading the globals writes the settings of a first start and finds the install folder.
  product_globals();
  // A wizard killed mid-save left its private folder with mail in it; the next start clears it.
  remove_abandoned_temp_folders(temp_base_folder());
  store::register_store_servers();
  mime::register_mime_stores();
  QApplication::setApplicationName(QStringLiteral("salvora"));
  QApplication::setApplicationDisplayName(product_title());
  QApplication::setDesktopFileName(QStringLiteral("salvora"));
  QApplication::setWindowIcon(application_icon());
  // Screens are hidden and replaced on the way; only end_program ends the run.
  QApplication::setQuitOnLastWindowClosed(false);
  show_source_selection();

  const QString file = file_argument(arguments);
  if (file.isEmpty()) return;
  const QFileInfo info(file);
  if (!info.isFile()) {
    inform(source_, QStringLiteral("Source path doesn't exist"));
    return;
  }
  source_->choose_source(info.absoluteFilePath());
}

void CTarnwellApp::show_source_selection() {
  source_ = new DiskSelection(state_);
  connect(source_, &DiskSelection::recovery_requested, this, &CTarnwellApp::open_recovery);
  install_source_screen_habits(source_);
  source_->show();
}

void CTarnwellApp::open_recovery() {
  // The first screen asked for this from one of its own signals: it goes once that returns.
  if (source_) {
    source_->hide();
    source_->deleteLater();
  }
  remember_recent_file(state_.AnalysisSource());
  recovery_ = new Repair_Recover(state_);
  connect(recovery_, &Repair_Recover::back_confirmed, this, &CTarnwellApp::back_to_source_selection);
  recovery_->show();
  recovery_->StartAnalysis();
}

void CTarnwellApp::back_to_source_selection() {
  if (recovery_) {
    recovery_->hide();
    recovery_->deleteLater();
  }
  show_source_selection();
}

QString file_argument(const QStringList& arguments) {
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (!arguments[i].startsWith(QLatin1Char('-'))) return arguments[i];
  }
  return {};
}

int run_wizard(QApplication& app, const QStringList& arguments) {
  // Ending through the event loop lets every screen's destructor stop its passes.
  ui_hooks().end_program = [](int code) { QApplication::exit(code); };
  CTarnwellApp wizard;
  wizard.InitInstance(arguments);
  return app.exec();
}

}  // namespace salvora::ui
