#include "ui/recovery_screen.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QFileInfo>
#include <QLocale>
#include <QPlainTextEdit>
#include <QLabel>
#include <QMenuBar>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <mutex>

#include "engine/item_reload.h"
#include "mimestore/mime_stores.h"
#include "pststore/store_servers.h"
#include "ui/desktop_habits.h"
#include "ui/exit_confirmation.h"
#include "ui/folder_tree.h"
#include "ui/icons.h"
#include "ui/item_details.h"
#include "ui/item_list_model.h"
#include "ui/loss_report.h"
#include "ui/preview_browser.h"
#include "ui/save_dialogs.h"
#include "ui/screen_commands.h"
#include "ui/source_check.h"
#include "ui/ui_services.h"
#include "writer/save_report.h"

namespace salvora::ui {

// The analysis's reports, taken on its worker thread: folders and messages are posted to the
// screen; progress and counters are kept here for the screen's timer, so that a pass of a
// million nodes does not post a million events.
class AnalysisBridge : public AnalysisObserver {
 public:
  explicit AnalysisBridge(Repair_Recover* screen) : screen_(screen) {}

  void FolderFound(const salvora::FolderFound& folder) override {
    QMetaObject::invokeMethod(screen_, [s = screen_, folder] { s->OnFolderFound(folder); }, Qt::QueuedConnection);
  }
  void ProgressRange(std::int64_t maximum) override { range.store(maximum); }
  void ProgressPosition(std::int64_t value) override { position.store(value); }
  void CounterChanged(AnalysisCounter counter, int value) override {
    counters[static_cast<std::size_t>(counter)].store(value);
  }
  void Message(std::string_view text, bool ends_process) override {
    QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // The pass says "in use" of any file it cannot open, and "cannot save" of one that is no
    // Outlook data file at all; the file itself says what is wrong, in the command line's words.
    const QString why = source_problem(QString::fromStdString(screen_->result_->store.path));
    // A store with nothing to recover says why under the usual text. The pass wrote the cause on
    // this same thread just before; the screen reads the result only after the pass.
    const std::string& cause = screen_->result_->failure_cause;
    if (!why.isEmpty()) {
      message = why;
    } else if (!cause.empty()) {
      message += QStringLiteral("\n\n") + QString::fromStdString(cause);
    }
    QMetaObject::invokeMethod(
        screen_, [s = screen_, message, ends_process] { s->OnAnalysisMessage(message, ends_process); },
        Qt::QueuedConnection);
  }

  std::atomic<std::int64_t> range{-1};
  std::atomic<std::int64_t> position{0};
  std::array<std::atomic<int>, static_cast<std::size_t>(AnalysisCounter::kCount)> counters{};

 private:
  Repair_Recover* screen_;
};

// The save's messages, kept for the end of the pass: the status dialog is up until then.
class SaveBridge : public SaveObserver {
 public:
  void Message(std::string_view text) override {
    std::lock_guard lock(mutex_);
    if (first_.empty()) first_ = std::string(text);
  }
  std::string first() const {
    std::lock_guard lock(mutex_);
    return first_;
  }

 private:
  mutable std::mutex mutex_;
  std::string first_;
};

namespace {

struct CounterCaption {
  AnalysisCounter counter;
  const char* caption;
};

// In pairs, as the screen shows them.
constexpr CounterCaption kCounterCaptions[] = {
    {AnalysisCounter::kDeletedItems, "Deleted Items "}, {AnalysisCounter::kInbox, "Inbox"},
    {AnalysisCounter::kOutbox, "Outbox"},               {AnalysisCounter::kDrafts, "Drafts"},
    {AnalysisCounter::kSentItems, "Sent Items"},        {AnalysisCounter::kJunkEmail, "Junk E-mails"},
    {AnalysisCounter::kContacts, "Contacts"},           {AnalysisCounter::kJournal, "Journal"},
    {AnalysisCounter::kTasks, "Tasks"},                 {AnalysisCounter::kNotes, "Notes"},
    {AnalysisCounter::kSyncIssues, "Sync Issues"},      {AnalysisCounter::kCalendar, "Calendar"},
};

constexpr int kTickMs = 100;

QPushButton* make_button(const QString& caption, const char* object_name, QWidget* parent) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(object_name));
  b->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
  return b;
}

}  // namespace

Repair_Recover::Repair_Recover(WizardState& state, QWidget* parent)
    : QWidget(parent),
      wizard_(state),
      result_(std::make_unique<AnalysisResult>()),
      save_progress_(std::make_unique<SaveProgress>()),
      save_bridge_(std::make_unique<SaveBridge>()) {
  setObjectName(QStringLiteral("Repair_Recover"));
  setWindowTitle(product_title());
  setWindowIcon(application_icon());
  setAccessibleName(product_title());
  analysis_bridge_ = std::make_unique<AnalysisBridge>(this);

  auto* layout = new QVBoxLayout(this);
  menu_bar_ = new QMenuBar(this);
  menu_bar_->setAccessibleName(QStringLiteral("Menu"));
  layout->setMenuBar(menu_bar_);

  tree_ = new CFolderTreeCtrl1(this);
  model_ = new ItemListModel(this);
  list_ = new QTableView(this);
  list_->setObjectName(QStringLiteral("itemList"));
  list_->setAccessibleName(QStringLiteral("Items"));
  list_->setModel(model_);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setShowGrid(true);
  list_->setWordWrap(false);
  list_->setIconSize(QSize(16, 16));
  list_->verticalHeader()->hide();
  // Rows of one height let the view place any of 100,000 rows without measuring them.
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
  list_->horizontalHeader()->setHighlightSections(false);
  list_->horizontalHeader()->setStretchLastSection(true);

  auto* right = new QSplitter(Qt::Vertical, this);
  right->addWidget(list_);
  right->addWidget(BuildPreview());
  right->setStretchFactor(0, 2);
  right->setStretchFactor(1, 3);
  auto* panes = new QSplitter(Qt::Horizontal, this);
  panes->addWidget(tree_);
  panes->addWidget(right);
  panes->setStretchFactor(0, 1);
  panes->setStretchFactor(1, 3);
  panes->setSizes({260, 740});
  for (int c = 0; c < model_->columnCount(); ++c) list_->setColumnWidth(c, 150);
  layout->addWidget(panes, 1);

  layout->addWidget(BuildCounters());
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("analysisProgress"));
  progress_->setAccessibleName(QStringLiteral("Analysis progress"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  time_left_ = new TimeLeftLabel(QStringLiteral("analysisTimeLeft"), this);
  auto* progress_row = new QHBoxLayout;
  progress_row->addWidget(progress_, 1);
  progress_row->addWidget(time_left_);
  layout->addLayout(progress_row);

  auto* buttons = new QHBoxLayout;
  back_ = make_button(QStringLiteral("Back"), "backButton", this);
  pause_ = make_button(QStringLiteral("Pause"), "pauseButton", this);
  stop_ = make_button(QStringLiteral("Stop"), "stopButton", this);
  save_ = make_button(QStringLiteral("Save"), "saveButton", this);
  save_->setEnabled(false);
  save_->setDefault(true);
  // Off unless asked for: deleted items were the user's choice once, and they come back only
  // into a folder of their own.
  recover_deleted_ = new QCheckBox(QStringLiteral("Also recover deleted items"), this);
  recover_deleted_->setObjectName(QStringLiteral("recoverDeletedCheck"));
  recover_deleted_->setAccessibleName(QStringLiteral("Also recover deleted items"));
  recover_deleted_->setAccessibleDescription(
      QStringLiteral("Deleted messages still in the file are saved into Recovered Items, Deleted"));
  buttons->addWidget(back_);
  buttons->addStretch(1);
  buttons->addWidget(recover_deleted_);
  buttons->addWidget(pause_);
  buttons->addWidget(stop_);
  buttons->addWidget(save_);
  layout->addLayout(buttons);

  connect(tree_, &CFolderTreeCtrl1::folder_chosen, this, &Repair_Recover::OnFolderChosen);
  connect(list_, &QTableView::clicked, this, &Repair_Recover::OnRowChosen);
  connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            if (current.isValid()) OnRowChosen(current);
          });
  connect(pause_, &QPushButton::clicked, this, &Repair_Recover::OnPause);
  connect(stop_, &QPushButton::clicked, this, &Repair_Recover::OnStop);
  connect(save_, &QPushButton::clicked, this, &Repair_Recover::OnSave);
  connect(back_, &QPushButton::clicked, this, &Repair_Recover::OnBack);

  tick_ = new QTimer(this);
  tick_->setInterval(kTickMs);
  connect(tick_, &QTimer::timeout, this, &Repair_Recover::OnTick);

  commands_ = install_screen_commands(this, menu_bar_, ScreenCommandSet::kRecovery, [this] { close(); });

  fit_window(this, QSize(1100, 760), "RecoveryWindowSize");
}

Repair_Recover::~Repair_Recover() {
  // The workers end at their next poll; pause holds no lock, so this never waits for long.
  analysis_control_.RequestStop();
  save_control_.RequestStop();
  analysis_thread_.Join();
  save_thread_.Join();
}

QWidget* Repair_Recover::BuildPreview() {
  auto* box = new QWidget(this);
  auto* v = new QVBoxLayout(box);
  v->setContentsMargins(0, 0, 0, 0);
  auto* header = new QGridLayout;
  const char* captions[] = {"From:", "To:", "Subject:"};
  const char* names[] = {"previewFrom", "previewTo", "previewSubject"};
  for (int i = 0; i < 3; ++i) {
    auto* caption = new QLabel(QLatin1String(captions[i]), box);
    QFont bold = caption->font();
    bold.setBold(true);
    caption->setFont(bold);
    auto* value = new QLabel(box);
    value->setObjectName(QLatin1String(names[i]));
    value->setAccessibleName(QString::fromLatin1(captions[i]).chopped(1));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setTextFormat(Qt::PlainText);
    value->setMinimumWidth(50);
    value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    caption->setBuddy(value);
    header->addWidget(caption, i, 0);
    header->addWidget(value, i, 1);
    preview_headers_[static_cast<std::size_t>(i)] = value;
  }
  header->setColumnStretch(1, 1);
  v->addLayout(header);
  details_ = new ItemDetailsView(box);
  details_->setMaximumHeight(details_->fontMetrics().lineSpacing() * 11);
  v->addWidget(details_);
  preview_ = new PreviewBrowser(box);
  v->addWidget(preview_, 1);
  return box;
}

QWidget* Repair_Recover::BuildCounters() {
  auto* box = new QGroupBox(QStringLiteral("Items found"), this);
  box->setAccessibleName(QStringLiteral("Items found"));
  auto* grid = new QGridLayout(box);
  int i = 0;
  for (const auto& c : kCounterCaptions) {
    const int row = i / 4;
    const int col = (i % 4) * 2;
    auto* caption = new QLabel(QLatin1String(c.caption), box);
    auto* value = new QLabel(QStringLiteral("0"), box);
    value->setObjectName(QStringLiteral("counter_") + QLatin1String(counter_key(c.counter)));
    value->setAccessibleName(QString::fromLatin1(c.caption).trimmed());
    value->setMinimumWidth(48);
    QFont bold = value->font();
    bold.setBold(true);
    value->setFont(bold);
    caption->setBuddy(value);
    grid->addWidget(caption, row, col);
    grid->addWidget(value, row, col + 1);
    counters_[static_cast<std::size_t>(c.counter)] = value;
    ++i;
  }
  for (int col = 1; col < 8; col += 2) grid->setColumnStretch(col, 1);
  return box;
}

void Repair_Recover::StartAnalysis() {
  if (started_) return;
  started_ = true;
  state_ = State::kAnalysing;
  preview_->ShowPage(QStringLiteral("progress.html"));
  AnalysisOptions options;
  const QByteArray source = wizard_.AnalysisSource().toUtf8();
  options.source_path = std::string(source.constData(), static_cast<std::size_t>(source.size()));
  result_->store.path = options.source_path;
  options.choose_codepage = true;
  // The file being read, named where the user always sees it.
  const QString path = wizard_.AnalysisSource();
  setWindowTitle(QStringLiteral("%1 (%2) - %3")
                     .arg(QFileInfo(path).absoluteFilePath(), QLocale().formattedDataSize(QFileInfo(path).size()),
                          product_title()));
  analysis_thread_.Start(
      [this, options] {
        analysis_status_.store(RunAnalysis(options, analysis_control_, *analysis_bridge_, *result_));
      },
      this, [this] { OnAnalysisDone(analysis_status_.load()); });
  tick_->start();
}

void Repair_Recover::OnFolderFound(const FolderFound& folder) {
  tree_->AddFolder(QString::fromStdString(folder.path), folder.nid.value, QString::fromStdString(folder.container_class));
  if (tree_->topLevelItemCount() == 1 && !tree_->currentItem()) {
    // The top of the tree stands for the mailbox root, whose items are the root entry's.
    QTreeWidgetItem* top = tree_->topLevelItem(0);
    std::lock_guard lock(result_->lists_mutex);
    if (!result_->mail_folders.entries().empty() && top->data(0, CFolderTreeCtrl1::kNidRole).toUInt() == 0) {
      top->setData(0, CFolderTreeCtrl1::kNidRole, result_->mail_folders.entries().front().folder_nid.value);
    }
  }
}

void Repair_Recover::OnAnalysisMessage(const QString& text, bool ends_process) {
  inform(this, text, QMessageBox::Information);
  if (ends_process) {
    // Nothing of the file can be shown: the user goes back to choose another, the program goes on.
    StopPassesAndWait();
    emit back_confirmed();
  }
}

void Repair_Recover::OnTick() {
  if (state_ == State::kPaused) return;  // what the user sees holds still while paused
  const std::int64_t range = analysis_bridge_->range.load();
  if (range >= 0) progress_->setRange(0, static_cast<int>(std::clamp<std::int64_t>(range, 1, INT32_MAX)));
  progress_->setValue(static_cast<int>(
      std::clamp<std::int64_t>(analysis_bridge_->position.load(), 0, progress_->maximum())));
  if (range > 0 && state_ == State::kAnalysing) time_left_->Update(analysis_bridge_->position.load(), range);
  for (std::size_t i = 0; i < counters_.size(); ++i) {
    counters_[i]->setText(QString::number(analysis_bridge_->counters[i].load()));
  }
  model_->Refresh();
}

void Repair_Recover::OnAnalysisDone(AnalysisStatus status) {
  analysis_thread_.Join();
  analysis_control_.ClearStop();
  if (state_ == State::kStopped) {
    OnTick();
    tick_->stop();
    emit analysis_finished();
    return;
  }
  state_ = State::kAnalysing;
  OnTick();
  tick_->stop();
  pause_->setEnabled(false);
  stop_->setEnabled(false);
  pause_->setText(QStringLiteral("Pause"));
  if (status == AnalysisStatus::kCompleted) {
    state_ = State::kCompleted;
    // Whether the store was read whole is told where the folders to keep are chosen.
    const std::vector<NamedLoss> losses = LossNamer(*result_).NameAll(result_->lost);
    mark_loss_folders(*tree_, losses);
    preview_->setHtml(
        completion_page_html(losses, result_->rebuilt.size(), QString::fromStdString(result_->codepage_note)));
    progress_->hide();
    time_left_->hide();
    save_->setEnabled(true);
  } else {
    // The message, if any, has been shown; what was found stays browsable.
    state_ = State::kStopped;
    save_->hide();
    progress_->hide();
    time_left_->hide();
  }
  emit analysis_finished();
}

void Repair_Recover::OnFolderChosen(QTreeWidgetItem* item) {
  const Nid nid(item->data(0, CFolderTreeCtrl1::kNidRole).toUInt());
  // The preview belongs to a row of the list that is about to go.
  for (QLabel* header : preview_headers_) header->clear();
  details_->Clear();
  preview_->clear();
  if (nid.value == 0) {
    model_->Clear();
    return;
  }
  const ListLayout layout = layout_for_class(item->data(0, CFolderTreeCtrl1::kClassRole).toString());
  model_->ShowFolder(result_.get(), nid, layout);
  for (int c = 0; c < model_->columnCount(); ++c) {
    list_->setColumnWidth(c, model_->headerData(c, Qt::Horizontal, Qt::SizeHintRole).toSize().width());
  }
}

void Repair_Recover::OnRowChosen(const QModelIndex& index) {
  const Nid nid = model_->NidAt(index.row());
  if (nid.value == 0) return;
  std::unique_ptr<ItemRecord> record;
  SourceObject source;
  try {
    record = ReloadItem(result_->store, nid, &source);
  } catch (const std::exception&) {
    record.reset();
  }
  if (!record) {
    preview_headers_[0]->clear();
    preview_headers_[1]->clear();
    preview_headers_[2]->clear();
    details_->Clear();
    preview_->setPlainText(QStringLiteral("This item could not be read again from the file."));
    return;
  }
  const PreviewContent content = preview_content(*record);
  preview_headers_[0]->setText(content.from);
  preview_headers_[1]->setText(content.to);
  preview_headers_[2]->setText(content.subject);
  preview_->ShowContent(content);
  details_->ShowItem(std::move(record), &source, &result_->store);
  if (details_->details().kind != QLatin1String("Mail")) {
    // A contact or a task has no sender or addressee: "None" there would read as a loss.
    preview_headers_[0]->clear();
    preview_headers_[1]->clear();
  }
}

void Repair_Recover::OnPause() {
  if (state_ == State::kAnalysing) {
    state_ = State::kPaused;
    analysis_control_.Pause();
    pause_->setText(QStringLiteral("Resume"));
    pause_->setAccessibleName(QStringLiteral("Resume"));
  } else if (state_ == State::kPaused) {
    state_ = State::kAnalysing;
    analysis_control_.Resume();
    time_left_->Restart(analysis_bridge_->position.load());  // the pause is not part of the pace
    pause_->setText(QStringLiteral("Pause"));
    pause_->setAccessibleName(QStringLiteral("Pause"));
  }
}

void Repair_Recover::OnStop() {
  if (state_ != State::kAnalysing && state_ != State::kPaused) return;
  if (!ask(this, QStringLiteral("Do you want to stop this search ?"))) return;
  if (state_ != State::kAnalysing && state_ != State::kPaused) return;  // it ended meanwhile
  // The pass ends at its next poll, also when paused; the tree keeps what it found.
  state_ = State::kStopped;
  analysis_control_.RequestStop();
  save_->hide();
  pause_->setEnabled(false);
  stop_->setEnabled(false);
  pause_->setText(QStringLiteral("Pause"));
  progress_->hide();
  time_left_->hide();
  preview_->ShowPage(QStringLiteral("Abort.html"));
}

void Repair_Recover::OnSave() {
  if (state_ != State::kCompleted) return;
  save_progress_ = std::make_unique<SaveProgress>();
  save_bridge_ = std::make_unique<SaveBridge>();
  save_error_.clear();
  save_close_error_.clear();
  save_lost_ = 0;
  save_report_.clear();
  const QStringList folders = tree_->CollectCheckedFolders();
  if (folders.isEmpty()) {
    inform(this, QStringLiteral("Please Select Any Folder"), QMessageBox::Warning);
    return;
  }
  wizard_.selected_folders = folders;
  state_ = State::kSaving;
  back_->setEnabled(false);
  save_->setEnabled(false);

  SaveOptions options;
  options.source_path = result_->store.path;
  options.default_codepage = result_->store.default_codepage;
  for (const QString& f : folders) options.selected_folders.push_back(f.toStdString());
  options.destination = wizard_.chosen_destination.toStdString();
  options.recover_deleted = recover_deleted_->isChecked();
  options.max_store_size = wizard_.max_pst_size;
  options.writer.state = &writer_state_;
  options.writer.store_suffix = wizard_.save_as.toStdString();
  options.output_folder = wizard_.output_folder.isEmpty() ? output_folder_for(options.source_path)
                                                          : wizard_.output_folder.toStdString();
  save_thread_.Start(
      [this, options] {
        store::register_store_servers();
        mime::register_mime_stores();
        // The pass commits and closes the store before the screen says anything about it.
        const SaveOutcome outcome = RunSavePass(options, save_control_, *save_bridge_, *save_progress_);
        save_status_ = outcome.status;
        save_error_ = outcome.error;
        save_close_error_ = outcome.close_error;
        save_lost_ = save_progress_->items_lost.load();
        const long long not_written = save_progress_->store_errors() + static_cast<long long>(save_lost_);
        save_report_ = WriteSaveReport(*save_progress_, {outcome, save_close_error_, not_written}).page;
      },
      this, [this] { OnSaveDone(); });

  status_dialog_ = new ListPSTFile(*save_progress_, this);
  connect(status_dialog_, &ListPSTFile::stop_confirmed, this, [this] { save_control_.RequestStop(); });
  status_dialog_->open();
}

void Repair_Recover::OnSaveDone() {
  save_thread_.Join();
  if (status_dialog_) {
    status_dialog_->Finish();
    status_dialog_->deleteLater();
  }
  state_ = State::kSaved;
  save_->hide();
  back_->setEnabled(true);
  // What could not be read goes to the activity log, one object a line.
  const auto unreadable = save_progress_->unreadable();
  for (const auto& line : unreadable) log_line(QString::fromStdString(line));
  for (const auto& line : save_progress_->dropped_properties()) log_line(QString::fromStdString(line));
  const QString store = QString::fromStdString(save_progress_->store_path());
  const bool counted_loss = save_progress_->store_errors() > 0 || save_lost_ > 0;
  if (save_status_ == SaveStatus::kCompleted && (save_close_error_.empty() || counted_loss)) {
    ShowCompletion();
  } else if (!save_close_error_.empty()) {
    inform(this, QStringLiteral("The PST could not be completed: %1").arg(QString::fromStdString(save_close_error_)),
           QMessageBox::Critical);
  } else if (save_status_ == SaveStatus::kStopped) {
    if (!store.isEmpty()) {
      inform(this, QStringLiteral("Saving was stopped. The PST holds the items saved before the stop:\n%1").arg(store));
    }
  } else {
    const std::string message = save_bridge_->first();
    QString text = message.empty() ? QStringLiteral("Saving Process not Complete") : QString::fromStdString(message);
    // The cause, where the pass gave one that the message does not already say.
    if (!save_error_.empty() && save_error_ != message) text += QStringLiteral("\n\n") + QString::fromStdString(save_error_);
    inform(this, text, QMessageBox::Critical);
    // Nothing was saved: once the user has mended the cause (space, rights), Save tries again
    // without reading the file anew.
    if (store.isEmpty()) {
      state_ = State::kCompleted;
      save_->show();
      save_->setEnabled(true);
    }
  }
  commands_->refresh_report_state();
  emit save_finished();
}

void Repair_Recover::ShowCompletion() {
  // What the store refused or a failed commit lost is not in the PST either.
  const long long not_written = save_progress_->store_errors() + static_cast<long long>(save_lost_);
  const QString cause = QString::fromStdString(save_progress_->first_store_error().empty()
                                                   ? save_close_error_
                                                   : save_progress_->first_store_error());
  auto* done = new Last_Saving_Dialog(*save_progress_, this, not_written, cause, QString::fromStdString(save_report_));
  // The dialog lists what could not be read by folder and subject; the log keeps the node ids.
  if (auto* list = done->findChild<QPlainTextEdit*>(QStringLiteral("unreadableList"))) {
    const LossNamer namer(*result_);
    QStringList lines;
    for (const auto& line : save_progress_->unreadable()) {
      const NamedLoss loss = namer.Name(line);
      lines << (loss.folder_path.isEmpty() ? loss.text : shown_path(loss.folder_path) + QStringLiteral(": ") + loss.text);
    }
    const int more = save_progress_->unreadable_count() - static_cast<int>(lines.size());
    if (more > 0) lines << QStringLiteral("and %1 more").arg(more);
    list->setPlainText(lines.join(QLatin1Char('\n')));
  }
  connect(done, &Last_Saving_Dialog::accepted, this, [done] {
    if (done->view_log()) open_in_viewer(done, activity_log_path());
    end_program(0);
  });
  done->open();
}

void Repair_Recover::OnBack() {
  log_line(QStringLiteral("Step2:"));
  log_line(QStringLiteral("Select E-mails Folder to Save"));
  if (!ask(this, QStringLiteral("Do you want to Go Back ?"))) return;
  StopPassesAndWait();
  emit back_confirmed();
}

void Repair_Recover::StopPassesAndWait() {
  analysis_control_.RequestStop();
  save_control_.RequestStop();
  analysis_thread_.Join();
  save_thread_.Join();
  try {
    store::shutdown_store_servers();
  } catch (const std::exception&) {
    // The PST keeps its last commit.
  }
}

void Repair_Recover::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (!confirm_exit(this, {back_, pause_, stop_, save_})) return;
  StopPassesAndWait();
  end_program(0);
}

void Repair_Recover::keyPressEvent(QKeyEvent* event) {
  // Escape never closes the screen.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace salvora::ui
