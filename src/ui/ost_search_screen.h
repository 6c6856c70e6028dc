#pragma once
// The search screen: finds the OST files under a folder when the user does not know where the
// file lies. The search runs on a worker thread and fills the list as files are found; Stop ends
// it at the next entry. Convert asks, through convert_requested, for the recovery of the picked
// file; Close goes back to the first screen through back_requested. With several rows selected,
// Convert converts each of them whole into a PST of its own, one after another, in a dialog of
// its own (BatchSaveDialog), and the screen stays.
//
// The screen writes the picked file into the WizardState it is given, which must outlive it.
// Destroying the screen stops and joins a running search. User-interface thread only.

#include <QPointer>
#include <QWidget>
#include <memory>
#include <thread>

#include "ui/ost_file_finder.h"
#include "ui/wizard_state.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QTableWidget;

namespace salvora::ui {

class BatchSaveDialog;
class ScreenCommands;

class Settings : public QWidget {
  Q_OBJECT
 public:
  explicit Settings(WizardState& state, QWidget* parent = nullptr);
  ~Settings() override;

  bool searching() const { return searching_; }
  // Stops a running search and waits for the worker to end; its last rows are still listed.
  void stop_search_and_wait();

  QLineEdit* folder_field() const { return folder_field_; }
  QPushButton* browse_button() const { return browse_; }
  QCheckBox* subfolders_box() const { return subfolders_; }
  QPushButton* search_button() const { return search_; }
  QTableWidget* result_list() const { return results_; }
  QLabel* status_label() const { return status_; }
  QPushButton* convert_button() const { return convert_; }
  QPushButton* close_button() const { return close_; }
  ScreenCommands* commands() const { return commands_; }
  // The conversion of several files, while its dialog is open; null otherwise.
  BatchSaveDialog* batch_dialog() const;

 signals:
  void back_requested();
  void convert_requested();
  // A search has ended (finished or stopped) with this many entries listed.
  void search_finished(int found);
  // The conversion of several selected files has ended.
  void batch_finished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void build_layout();
  void build_result_list();
  void on_browse();
  void on_search();
  void start_search();
  void on_folder_entered(const QString& folder, int found);
  void on_entry_found(const FoundEntry& entry, int found);
  void on_search_done();
  void on_row_chosen(int row);
  void on_convert();
  // The files of the selected rows, in the list's order.
  QStringList selected_files() const;
  void convert_all(const QStringList& files);
  void on_close();
  void request_exit();
  QList<QWidget*> navigation() const;

  WizardState& state_;
  // True when the first screen had a destination already: the search folder must not replace it.
  bool destination_chosen_before_;
  QString search_folder_;  // the folder of the running or last search
  bool searching_ = false;
  std::unique_ptr<OstFileFinder> finder_;
  std::thread worker_;

  QMenuBar* menu_bar_ = nullptr;
  QLineEdit* folder_field_ = nullptr;
  QPushButton* browse_ = nullptr;
  QCheckBox* subfolders_ = nullptr;
  QPushButton* search_ = nullptr;
  QTableWidget* results_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* convert_ = nullptr;
  QPushButton* close_ = nullptr;
  ScreenCommands* commands_ = nullptr;
  QPointer<BatchSaveDialog> batch_;
};

}  // namespace salvora::ui
