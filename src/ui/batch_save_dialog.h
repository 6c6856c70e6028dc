#pragma once
// Converting several files picked on the search screen: each file, one after another, is read
// and written whole into a PST of its own by the same save pass as the recovery screen's Save,
// in a folder of its own named after the file (as the command line's batch names them). A file
// that cannot be read or written is told in the summary and the next one goes on.
//
// The dialog shows the file being converted with its own progress and the share of files done;
// Stop ends the running file at its next poll (it keeps what it saved) and leaves the rest
// unconverted. At the end it lists every file with its outcome, its PST and its report.
// User-interface thread only; the passes run on one worker thread, joined by the destructor.

#include <QDialog>
#include <QStringList>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/pass_control.h"
#include "ui/pass_thread.h"
#include "writer/save_pass.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace salvora::ui {

// The folder of each file's PST: base (empty: the Repair folder beside the file) followed by
// the file's name without its extension, with " (2)", " (3)"... when two files share it.
QStringList batch_destinations(const QStringList& sources, const QString& base);

class BatchSaveDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Outcome { kWaiting, kConverted, kConvertedWithLosses, kStopped, kFailed, kSkipped };
  struct FileResult {
    Outcome outcome = Outcome::kWaiting;
    std::string store;   // the PST made, empty when none was
    std::string report;  // its report page
    std::string reason;  // why it failed or what it lost
  };

  BatchSaveDialog(const QStringList& sources, const QStringList& destinations, QWidget* parent = nullptr);
  ~BatchSaveDialog() override;

  // Starts the conversions (once).
  void Start();
  bool finished() const { return finished_; }
  // Valid once finished.
  const std::vector<FileResult>& results() const { return results_; }

  QLabel* file_label() const { return file_; }
  QProgressBar* file_progress() const { return file_bar_; }
  QProgressBar* overall_progress() const { return overall_bar_; }
  QTableWidget* summary() const { return summary_; }
  QLabel* summary_label() const { return summary_label_; }
  QPushButton* stop_button() const { return stop_; }
  QPushButton* view_report_button() const { return view_report_; }
  QPushButton* close_button() const { return close_; }

 signals:
  void all_finished();

 protected:
  void reject() override;

 private:
  void Refresh();
  void ShowDone(std::size_t upto);
  void OnStop();
  // The report of the file chosen in the summary, once that file is done; empty otherwise.
  QString chosen_report() const;
  void OnDone();
  void RunAll();  // on the worker
  FileResult RunOne(std::size_t i);  // on the worker

  QStringList sources_;
  QStringList destinations_;
  std::vector<FileResult> results_;
  std::vector<std::unique_ptr<SaveProgress>> progress_;
  std::vector<std::unique_ptr<PassControl>> controls_;
  // Files the worker has finished: their results may be read.
  std::atomic<std::size_t> done_{0};
  std::size_t shown_ = 0;
  std::atomic<bool> stop_requested_{false};
  bool started_ = false;
  bool finished_ = false;
  PassThread thread_;

  QLabel* file_ = nullptr;
  QProgressBar* file_bar_ = nullptr;
  QProgressBar* overall_bar_ = nullptr;
  QTableWidget* summary_ = nullptr;
  QLabel* summary_label_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* view_report_ = nullptr;
  QPushButton* close_ = nullptr;
  QTimer* timer_ = nullptr;
};

}  // namespace salvora::ui
