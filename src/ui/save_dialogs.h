#pragma once
// The two dialogs around a save: the status while it runs (ListPSTFile) and the completion
// (Last_Saving_Dialog).
//
// The status dialog reads what the save publishes on a timer, first after 100 ms and then once
// a second, and shows the share of items saved. Its Stop asks first and then only asks the
// pass to stop: the pass ends at its next poll and commits what it saved, and the screen closes
// the dialog (Finish) when the pass has ended. User-interface thread only.

#include <QDialog>

#include "writer/save_pass.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace salvora::ui {

class TimeLeftLabel;

class ListPSTFile : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kFirstRefreshMs = 100;
  static constexpr int kRefreshMs = 1000;

  ListPSTFile(const SaveProgress& progress, QWidget* parent = nullptr);

  // The pass has ended: the dialog closes.
  void Finish();

  QLabel* folder_label() const { return folder_; }
  QLabel* count_label() const { return count_; }
  QProgressBar* progress_bar() const { return bar_; }
  TimeLeftLabel* time_left_label() const { return time_left_; }
  QPushButton* stop_button() const { return stop_; }
  int refreshes() const { return refreshes_; }

 signals:
  // The user answered Yes to the stop question.
  void stop_confirmed();

 public slots:
  void Refresh();

 protected:
  void reject() override;

 private:
  void OnStop();

  const SaveProgress& progress_;
  QLabel* folder_ = nullptr;
  QLabel* count_ = nullptr;
  QProgressBar* bar_ = nullptr;
  TimeLeftLabel* time_left_ = nullptr;
  QPushButton* stop_ = nullptr;
  QTimer* timer_ = nullptr;
  int refreshes_ = 0;
  bool finished_ = false;
};

class Last_Saving_Dialog : public QDialog {
  Q_OBJECT

 public:
  // not_written: items the store refused or lost (a full disk), with the first cause given;
  // report: the recovery report's page, empty when none was written.
  Last_Saving_Dialog(const SaveProgress& progress, QWidget* parent = nullptr, long long not_written = 0,
                     const QString& cause = {}, const QString& report = {});

  bool view_log() const;
  QCheckBox* view_log_box() const { return view_log_; }
  // Opens the folder of the PST in the desktop's file manager; null when no PST was made.
  QPushButton* open_folder_button() const { return open_folder_; }
  // Opens the recovery report; null when none was written.
  QPushButton* view_report_button() const { return view_report_; }
  QLabel* message_label() const { return message_; }

 private:
  QCheckBox* view_log_ = nullptr;
  QLabel* message_ = nullptr;
  QPushButton* open_folder_ = nullptr;
  QPushButton* view_report_ = nullptr;
};

}  // namespace salvora::ui
