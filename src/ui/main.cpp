// salvora: the desktop wizard. For now, `salvora FILE` goes straight to the recovery screen on
// FILE.

#include <QApplication>
#include <QFileInfo>

#include "platform/product_globals.h"
#include "pststore/store_servers.h"
#include "ui/recovery_screen.h"
#include "ui/save_dialogs.h"
#include "ui/ui_services.h"
#include "ui/wizard_state.h"
#include "writer/save_pass.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(salvora::ui::product_title());
  salvora::product_globals();
  salvora::store::register_store_servers();
  salvora::ui::ui_hooks().end_program = [](int code) { QApplication::exit(code); };
  const QStringList args = QApplication::arguments();
  if (args.size() < 2) return 2;
  salvora::ui::WizardState state;
  state.source_path = args[1];
  state.output_folder = QString::fromStdString(salvora::output_folder_for(args[1].toStdString()));
  salvora::ui::Repair_Recover screen(state);
  screen.show();
  screen.StartAnalysis();
  return QApplication::exec();
}
