#pragma once
// The application object of the wizard: start-up, the first screen as the main window, and the
// way from screen to screen. Next (or Convert on the search screen) replaces the first screen with
// the recovery screen and starts the analysis; Back on the recovery screen replaces it with a fresh
// first screen that shows the same choices. The program ends only through end_program.
// User-interface thread only.

#include <QObject>
#include <QPointer>
#include <QStringList>

#include "ui/wizard_state.h"

class QApplication;

namespace salvora::ui {

class DiskSelection;
class Repair_Recover;

class CTarnwellApp : public QObject {
  Q_OBJECT
 public:
  explicit CTarnwellApp(QObject* parent = nullptr);
  ~CTarnwellApp() override;

  // Start-up: the product's globals and first-start settings, the store servers, and the first
  // screen. A FILE argument (arguments[0] is the program) is taken as if chosen with Browse.
  void InitInstance(const QStringList& arguments);

  WizardState& state() { return state_; }
  DiskSelection* source_screen() const;
  Repair_Recover* recovery_screen() const;

 private:
  void show_source_selection();
  void open_recovery();
  void back_to_source_selection();

  WizardState state_;
  QPointer<DiskSelection> source_;
  QPointer<Repair_Recover> recovery_;
};

// The program: start-up, then the event loop until end_program. Returns the exit code.
int run_wizard(QApplication& app, const QStringList& arguments);

// The FILE of `salvora [FILE]`, or an empty text; options (starting with '-') are skipped.
QString file_argument(const QStringList& arguments);

}  // namespace salvora::ui
