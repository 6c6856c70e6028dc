#include "ui/batch_save_dialog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "pststore/store_file.h"
#include "pststore/store_servers.h"
#include "ui/icons.h"
#include "ui/source_selection_screen.h"
#include "ui/ui_services.h"
#include "writer/save_report.h"

namespace salvora::ui {

namespace {

enum Column { kFile, kOutcome, kPst, kColumnCount };

constexpr int kRefreshMs = 250;

// The first message of a pass, which says why it ended when it failed.
class FirstMessage : public SaveObserver {
 public:
  void Message(std::string_view text) override {
    if (first.empty()) first = std::string(text);
  }
  std::string first;
};

QString outcome_text(const BatchSaveDialog::FileResult& r) {
  using Outcome = BatchSaveDialog::Outcome;
  QString text;
  switch (r.outcome) {
    case Outcome::kWaiting: return QStringLiteral("Waiting");
    case Outcome::kConverted: return QStringLiteral("Converted");
    case Outcome::kConvertedWithLosses: text = QStringLiteral("Converted with losses"); break;
    case Outcome::kStopped: text = QStringLiteral("Stopped"); break;
    case Outcome::kFailed: text = QStringLiteral("Failed"); break;
    case Outcome::kSkipped: return QStringLiteral("Not converted: stopped before its turn");
  }
  return r.reason.empty() ? text : text + QStringLiteral(": ") + QString::fromStdString(r.reason);
}

QTableWidgetItem* cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  item->setToolTip(text);
  return item;
}

QPushButton* button(const QString& text, const char* object_name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(object_name));
  b->setAccessibleName(QString(text).remove(QLatin1Char('&')));
  return b;
}

}  // namespace

QStringList batch_destinations(const QStringList& sources, const QString& base) {
  QStringList out;
  QSet<QString> taken;
  for (const QString& source : sources) {
    const QFileInfo info(source);
    const QString folder = base.isEmpty() ? derived_output_folder(info.absoluteFilePath()) : base;
    QString stem = info.completeBaseName();
    if (stem.isEmpty()) stem = QStringLiteral("mailbox");
    QString name = stem;
    for (int n = 2; taken.contains(QDir(folder).filePath(name)); ++n) name = QStringLiteral("%1 (%2)").arg(stem).arg(n);
    out << QDir(folder).filePath(name);
    taken.insert(out.back());
  }
  return out;
}

BatchSaveDialog::BatchSaveDialog(const QStringList& sources, const QStringList& destinations, QWidget* parent)
    : QDialog(parent), sources_(sources), destinations_(destinations), results_(static_cast<std::size_t>(sources.size())) {
  setObjectName(QStringLiteral("BatchSaveDialog"));
  setWindowTitle(product_title());
  setWindowIcon(application_icon());
  setAccessibleName(QStringLiteral("Converting the selected files"));
  setModal(true);
  for (qsizetype i = 0; i < sources.size(); ++i) {
    progress_.push_back(std::make_unique<SaveProgress>());
    controls_.push_back(std::make_unique<PassControl>());
  }
  auto* layout = new QVBoxLayout(this);
  file_ = new QLabel(this);
  file_->setObjectName(QStringLiteral("batchFile"));
  file_->setAccessibleName(QStringLiteral("File being converted"));
  file_->setTextFormat(Qt::PlainText);
  file_->setMinimumWidth(420);
  file_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  file_bar_ = new QProgressBar(this);
  file_bar_->setObjectName(QStringLiteral("batchFileProgress"));
  file_bar_->setAccessibleName(QStringLiteral("Progress of this file"));
  file_bar_->setRange(0, 0);
  overall_bar_ = new QProgressBar(this);
  overall_bar_->setObjectName(QStringLiteral("batchOverallProgress"));
  overall_bar_->setAccessibleName(QStringLiteral("Files done"));
  overall_bar_->setRange(0, static_cast<int>(sources.size()));
  overall_bar_->setFormat(QStringLiteral("%v of %m files"));
  summary_ = new QTableWidget(static_cast<int>(sources.size()), kColumnCount, this);
  summary_->setObjectName(QStringLiteral("batchSummary"));
  summary_->setAccessibleName(QStringLiteral("Files and their outcome"));
  summary_->setHorizontalHeaderLabels({QStringLiteral("File"), QStringLiteral("Outcome"), QStringLiteral("PST")});
  summary_->setSelectionBehavior(QAbstractItemView::SelectRows);
  summary_->setSelectionMode(QAbstractItemView::SingleSelection);
  summary_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  summary_->setWordWrap(false);
  summary_->verticalHeader()->hide();
  summary_->horizontalHeader()->setStretchLastSection(true);
  summary_->setColumnWidth(kFile, 180);
  summary_->setColumnWidth(kOutcome, 260);
  for (int row = 0; row < summary_->rowCount(); ++row) {
    summary_->setItem(row, kFile, cell(QFileInfo(sources[row]).fileName()));
    summary_->item(row, kFile)->setToolTip(sources[row]);
    summary_->setItem(row, kOutcome, cell(outcome_text(results_[static_cast<std::size_t>(row)])));
    summary_->setItem(row, kPst, cell({}));
  }
  summary_label_ = new QLabel(this);
  summary_label_->setObjectName(QStringLiteral("batchSummaryText"));
  summary_label_->setAccessibleName(QStringLiteral("Summary"));
  summary_label_->setTextFormat(Qt::PlainText);
  summary_label_->setWordWrap(true);
  stop_ = button(QStringLiteral("&Stop"), "batchStop", this);
  view_report_ = button(QStringLiteral("View &Report"), "batchViewReport", this);
  view_report_->setAccessibleDescription(QStringLiteral("Opens the recovery report of the file selected in the list"));
  view_report_->setEnabled(false);
  close_ = button(QStringLiteral("&Close"), "batchClose", this);
  close_->setEnabled(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(summary_label_, 1);
  buttons->addWidget(stop_);
  buttons->addWidget(view_report_);
  buttons->addWidget(close_);
  layout->addWidget(file_);
  layout->addWidget(file_bar_);
  layout->addWidget(overall_bar_);
  layout->addWidget(summary_, 1);
  layout->addLayout(buttons);
  connect(stop_, &QPushButton::clicked, this, &BatchSaveDialog::OnStop);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  connect(summary_, &QTableWidget::currentCellChanged, this, [this] { view_report_->setEnabled(!chosen_report().isEmpty()); });
  connect(view_report_, &QPushButton::clicked, this, [this] {
    if (const QString report = chosen_report(); !report.isEmpty()) open_in_viewer(this, report);
  });
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &BatchSaveDialog::Refresh);
  resize(720, 420);
}

BatchSaveDialog::~BatchSaveDialog() {
  stop_requested_.store(true);
  for (auto& c : controls_) c->RequestStop();
  thread_.Join();
}

void BatchSaveDialog::Start() {
  if (started_) return;
  started_ = true;
  Refresh();
  timer_->start(kRefreshMs);
  thread_.Start([this] { RunAll(); }, this, [this] { OnDone(); });
}

void BatchSaveDialog::RunAll() {
  for (std::size_t i = 0; i < results_.size(); ++i) {
    FileResult r;
    if (stop_requested_.load()) {
      r.outcome = Outcome::kSkipped;
    } else {
      try {
        r = RunOne(i);
      } catch (const std::exception& e) {
        r.outcome = Outcome::kFailed;
        r.reason = e.what();
      }
    }
    results_[i] = std::move(r);
    done_.store(i + 1);  // publishes results_[i]
  }
}

BatchSaveDialog::FileResult BatchSaveDialog::RunOne(std::size_t i) {
  SaveOptions options;
  options.source_path = QFile::encodeName(sources_[static_cast<qsizetype>(i)]).toStdString();
  options.select_all = true;
  options.destination = QFile::encodeName(destinations_[static_cast<qsizetype>(i)]).toStdString();
  options.output_folder = output_folder_for(options.source_path);
  SaveProgress& progress = *progress_[i];
  FirstMessage observer;
  store::register_store_servers();
  SaveEnding ending;
  try {
    // The pass owns its store: committed and closed before it returns.
    ending.outcome = RunSavePass(options, *controls_[i], observer, progress);
  } catch (const std::exception& e) {
    ending.outcome = {SaveStatus::kIncomplete, e.what()};
  }
  ending.close_error = ending.outcome.close_error;
  ending.not_written = progress.store_errors() + static_cast<long long>(progress.items_lost.load());
  const WrittenReport report = WriteSaveReport(progress, ending);

  FileResult r;
  r.store = progress.store_path();
  r.report = report.page;
  const int unreadable = progress.unreadable_count();
  const int dropped = progress.dropped_property_count();
  if (ending.outcome.status == SaveStatus::kCompleted && ending.close_error.empty() && ending.not_written == 0) {
    r.outcome = unreadable + dropped > 0 ? Outcome::kConvertedWithLosses : Outcome::kConverted;
    if (unreadable + dropped > 0)
      r.reason = std::to_string(unreadable) + " objects lost or damaged, " + std::to_string(dropped) + " properties not copied";
  } else if (ending.outcome.status == SaveStatus::kCompleted && ending.not_written > 0) {
    r.outcome = Outcome::kConvertedWithLosses;
    r.reason = std::to_string(ending.not_written) + " items could not be written: " +
               (progress.first_store_error().empty() ? ending.close_error : progress.first_store_error());
  } else if (!ending.close_error.empty()) {
    r.outcome = Outcome::kFailed;
    r.reason = "the PST could not be completed: " + ending.close_error;
  } else if (ending.outcome.status == SaveStatus::kStopped) {
    r.outcome = Outcome::kStopped;
  } else {
    r.outcome = Outcome::kFailed;
    r.reason = observer.first.empty() ? ending.outcome.error
               : ending.outcome.error.empty() || ending.outcome.error == observer.first
                   ? observer.first
                   : observer.first + " (" + ending.outcome.error + ")";
  }
  return r;
}

void BatchSaveDialog::Refresh() {
  const std::size_t done = std::min(done_.load(), results_.size());
  ShowDone(done);
  overall_bar_->setValue(static_cast<int>(done));
  if (done >= results_.size()) return;
  file_->setText(QStringLiteral("Converting %1 of %2: %3").arg(done + 1).arg(results_.size()).arg(sources_[static_cast<qsizetype>(done)]));
  const SaveProgress& p = *progress_[done];
  const std::int64_t total = p.objects_to_visit();
  if (total > kWalkProgressShortfall) {
    const int maximum = static_cast<int>(std::min<std::int64_t>(total, INT32_MAX));
    file_bar_->setRange(0, maximum);
    file_bar_->setValue(static_cast<int>(std::clamp<std::int64_t>(p.items_saved.load(), 0, maximum)));
  } else {
    file_bar_->setRange(0, 0);  // busy until the file's size in objects is known
  }
}

// The rows of the files finished since the last refresh.
void BatchSaveDialog::ShowDone(std::size_t upto) {
  for (; shown_ < upto; ++shown_) {
    const int row = static_cast<int>(shown_);
    const FileResult& r = results_[shown_];
    summary_->item(row, kOutcome)->setText(outcome_text(r));
    summary_->item(row, kOutcome)->setToolTip(outcome_text(r));
    summary_->item(row, kPst)->setText(QString::fromStdString(r.store));
    summary_->item(row, kPst)->setToolTip(QString::fromStdString(r.store));
  }
}

QString BatchSaveDialog::chosen_report() const {
  const int row = summary_->currentRow();
  if (row < 0 || static_cast<std::size_t>(row) >= shown_) return {};
  return QString::fromStdString(results_[static_cast<std::size_t>(row)].report);
}

void BatchSaveDialog::OnStop() {
  if (finished_) return;
  if (!ask(this, QStringLiteral("Do you want to stop converting? The file being converted keeps what was saved; the "
                                "files after it are not converted."))) {
    return;
  }
  stop_requested_.store(true);
  for (auto& c : controls_) c->RequestStop();
  stop_->setEnabled(false);
}

void BatchSaveDialog::OnDone() {
  thread_.Join();
  timer_->stop();
  finished_ = true;
  Refresh();
  int converted = 0, partial = 0, failed = 0, not_done = 0;
  for (const FileResult& r : results_) {
    switch (r.outcome) {
      case Outcome::kConverted: ++converted; break;
      case Outcome::kConvertedWithLosses: ++partial; break;
      case Outcome::kFailed: ++failed; break;
      default: ++not_done;
    }
  }
  file_->setText(QStringLiteral("Done: %1 of %2 files converted").arg(converted + partial).arg(results_.size()));
  file_bar_->setRange(0, 1);
  file_bar_->setValue(1);
  summary_label_->setText(QStringLiteral("%1 converted, %2 with losses, %3 failed, %4 stopped or not converted")
                              .arg(converted)
                              .arg(partial)
                              .arg(failed)
                              .arg(not_done));
  stop_->setEnabled(false);
  close_->setEnabled(true);
  close_->setDefault(true);
  // The first file with a report is selected, so View Report shows something at once.
  for (std::size_t i = 0; i < results_.size(); ++i) {
    if (!results_[i].report.empty()) {
      summary_->setCurrentCell(static_cast<int>(i), kFile);
      break;
    }
  }
  view_report_->setEnabled(!chosen_report().isEmpty());
  log_line(QStringLiteral("Converted %1 of %2 files").arg(converted + partial).arg(results_.size()));
  emit all_finished();
}

void BatchSaveDialog::reject() {
  // Escape or the close box while files are converted asks as Stop does; once done it closes.
  if (finished_) {
    QDialog::reject();
    return;
  }
  OnStop();
}

}  // namespace salvora::ui
