#pragma once
// The recovery screen: the analysis of the chosen file on a worker thread, its counters and
// progress, the folder tree with the folders to keep, the item list and the preview, and Save.
//
// States: analysing (Pause/Resume and Stop), paused, completed (Save enabled), stopped (Save
// hidden, the tree still browsable), saving (Back disabled, the status dialog up), saved (Save
// hidden: one screen saves at most once). The passes never touch a widget: the analysis reports
// through an observer whose folder events are posted to this thread and whose progress and
// counters are read on a timer; the save publishes its values and the status dialog reads them.
// Stop and Pause act at the passes' next poll, and the screen never waits on a paused pass.

#include <QPointer>
#include <QWidget>
#include <array>
#include <atomic>
#include <memory>

#include "engine/analysis_pass.h"
#include "platform/pass_control.h"
#include "ui/pass_thread.h"
#include "ui/save_dialogs.h"
#include "ui/wizard_state.h"
#include "writer/save_pass.h"

class QCheckBox;
class QLabel;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;
class QTreeWidgetItem;

namespace salvora::ui {

class CFolderTreeCtrl1;
class ItemDetailsView;
class TimeLeftLabel;
class ItemListModel;
class PreviewBrowser;
class AnalysisBridge;
class SaveBridge;
class ScreenCommands;

class Repair_Recover : public QWidget {
  Q_OBJECT

 public:
  enum class State { kAnalysing, kPaused, kCompleted, kStopped, kSaving, kSaved };

  explicit Repair_Recover(WizardState& state, QWidget* parent = nullptr);
  ~Repair_Recover() override;

  QMenuBar* menu_bar() const { return menu_bar_; }
  State state() const { return state_; }

  // Starts the analysis of the wizard's source (once).
  void StartAnalysis();
  // Stops any running pass at its next poll, waits for it, and commits the PST it wrote.
  void StopPassesAndWait();

  // For tests and the look: the parts of the screen.
  CFolderTreeCtrl1* tree() const { return tree_; }
  QTableView* item_list() const { return list_; }
  ItemListModel* item_model() const { return model_; }
  PreviewBrowser* preview() const { return preview_; }
  ItemDetailsView* preview_details() const { return details_; }
  QLabel* preview_header(int which) const { return preview_headers_[static_cast<std::size_t>(which)]; }
  QLabel* counter_label(AnalysisCounter c) const { return counters_[static_cast<std::size_t>(c)]; }
  QProgressBar* progress_bar() const { return progress_; }
  TimeLeftLabel* time_left_label() const { return time_left_; }
  QPushButton* save_button() const { return save_; }
  QPushButton* pause_button() const { return pause_; }
  QPushButton* stop_button() const { return stop_; }
  QPushButton* back_button() const { return back_; }
  // "Also recover deleted items": the save looks for deleted messages still in the file too.
  QCheckBox* recover_deleted_check() const { return recover_deleted_; }
  ListPSTFile* status_dialog() const { return status_dialog_; }
  const AnalysisResult& analysis() const { return *result_; }
  const SaveProgress& save_progress() const { return *save_progress_; }
  const PassControl& analysis_control() const { return analysis_control_; }
  // What redraws the counters and the progress while the analysis runs.
  const QTimer* refresh_timer() const { return tick_; }
  SaveStatus save_status() const { return save_status_; }

 signals:
  // The user answered Yes to Back.
  void back_confirmed();
  void analysis_finished();
  void save_finished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  friend class AnalysisBridge;
  QWidget* BuildCounters();
  QWidget* BuildPreview();
  void OnFolderFound(const FolderFound& folder);
  void OnAnalysisMessage(const QString& text, bool ends_process);
  void OnAnalysisDone(AnalysisStatus status);
  void OnTick();
  void OnFolderChosen(QTreeWidgetItem* item);
  void OnRowChosen(const QModelIndex& index);
  void OnPause();
  void OnStop();
  void OnSave();
  void OnBack();
  void OnSaveDone();
  void ShowCompletion();

  WizardState& wizard_;
  State state_ = State::kAnalysing;
  bool started_ = false;

  std::unique_ptr<AnalysisResult> result_;
  PassControl analysis_control_;
  std::unique_ptr<AnalysisBridge> analysis_bridge_;
  std::atomic<AnalysisStatus> analysis_status_{AnalysisStatus::kStopped};
  PassThread analysis_thread_;

  PassControl save_control_;
  // Each screen's save makes a PST of its own, also after Back and a new recovery.
  WriterProcessState writer_state_;
  std::unique_ptr<SaveProgress> save_progress_;
  std::unique_ptr<SaveBridge> save_bridge_;
  SaveStatus save_status_ = SaveStatus::kStopped;
  std::string save_close_error_;
  std::string save_error_;  // the cause a pass that did not complete gave
  std::uint64_t save_lost_ = 0;  // messages a failed commit took with it
  std::string save_report_;  // the report page of the last save, empty when none was written
  PassThread save_thread_;

  QMenuBar* menu_bar_ = nullptr;
  ScreenCommands* commands_ = nullptr;
  CFolderTreeCtrl1* tree_ = nullptr;
  QTableView* list_ = nullptr;
  ItemListModel* model_ = nullptr;
  PreviewBrowser* preview_ = nullptr;
  ItemDetailsView* details_ = nullptr;
  std::array<QLabel*, 3> preview_headers_{};
  std::array<QLabel*, static_cast<std::size_t>(AnalysisCounter::kCount)> counters_{};
  QProgressBar* progress_ = nullptr;
  TimeLeftLabel* time_left_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* back_ = nullptr;
  QCheckBox* recover_deleted_ = nullptr;
  QTimer* tick_ = nullptr;
  QPointer<ListPSTFile> status_dialog_;
};

}  // namespace salvora::ui
