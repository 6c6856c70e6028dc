#pragma once
// The first screen and main window of the wizard: the OST file to recover (chosen with Browse or
// found with the search screen) and the folder the recovered PST goes to. Next asks the
// application object, through recovery_requested, to open the recovery screen.
//
// The screen writes the choices into the WizardState it is given, which must outlive it, and
// shows what that state holds, so a fresh screen after Back shows the previous choices.
// User-interface thread only.

#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include "ui/wizard_state.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QSpinBox;

namespace salvora::ui {

class ScreenCommands;
class Settings;
class StepPicture;

class DiskSelection : public QWidget {
  Q_OBJECT
 public:
  explicit DiskSelection(WizardState& state, QWidget* parent = nullptr);
  ~DiskSelection() override;

  // Everything OST Browse does once the dialog returned this path: it becomes the source, the
  // log gets a new banner, and the destination is derived from its folder.
  void choose_source(const QString& path);

  QLineEdit* source_field() const { return source_field_; }
  QLineEdit* destination_field() const { return destination_field_; }
  QPushButton* browse_source_button() const { return browse_source_; }
  QPushButton* search_button() const { return search_; }
  QPushButton* browse_destination_button() const { return browse_destination_; }
  QPushButton* next_button() const { return next_; }
  // "Split the PST at" N MB or GB: off, the PST is one file whatever its size.
  QCheckBox* split_check() const { return split_; }
  QSpinBox* split_size_field() const { return split_size_; }
  QComboBox* split_unit_field() const { return split_unit_; }
  // "Save as": a PST file, mbox folders or one file per message.
  QComboBox* save_as_box() const { return save_as_; }
  StepPicture* step_picture() const { return step_; }
  ScreenCommands* commands() const { return commands_; }
  QMenuBar* menu_bar() const { return menu_bar_; }
  // The search screen while it is open, else null.
  Settings* search_screen() const;

 signals:
  // Next (or Convert on the search screen) with a source that exists; this screen is hidden.
  void recovery_requested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void build_layout();
  void on_browse_source();
  void on_browse_destination();
  void on_search();
  void on_next();
  bool ready_to_recover(const QString& source);
  void request_exit();
  void refresh_fields();
  QWidget* build_split_row();
  // The split choice into the state and the settings, and back.
  void store_split_choice();
  void load_split_choice();
  void follow_focus(QWidget* now);
  QList<QWidget*> navigation() const;

  WizardState& state_;
  QMenuBar* menu_bar_ = nullptr;
  QLineEdit* source_field_ = nullptr;
  QLineEdit* destination_field_ = nullptr;
  QPushButton* browse_source_ = nullptr;
  QPushButton* search_ = nullptr;
  QPushButton* browse_destination_ = nullptr;
  QPushButton* next_ = nullptr;
  QCheckBox* split_ = nullptr;
  QSpinBox* split_size_ = nullptr;
  QComboBox* split_unit_ = nullptr;
  QComboBox* save_as_ = nullptr;
  StepPicture* step_ = nullptr;
  ScreenCommands* commands_ = nullptr;
  QPointer<Settings> search_screen_;
};

// The activity log's banner time: day, month, year, hour and minute without leading zeros
// ("6-1-2008 9-5"), in local time.
QString banner_time_text(const QDateTime& local_time);

// Where the PST goes for a source file: its folder followed by "/Repair/".
QString derived_output_folder(const QString& source_path);

}  // namespace salvora::ui
