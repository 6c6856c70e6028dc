#include "ui/ost_search_screen.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/batch_save_dialog.h"
#include "ui/exit_confirmation.h"
#include "ui/file_choosers.h"
#include "ui/icons.h"
#include "ui/screen_commands.h"
#include "ui/source_selection_screen.h"
#include "ui/ui_services.h"

namespace salvora::ui {

namespace {

enum Column { kName, kInFolder, kSize, kModified, kColumnCount };

QPushButton* make_button(QWidget* parent, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setAccessibleName(QString(text).remove(QLatin1Char('&')));
  return button;
}

QTableWidgetItem* cell(const QString& text, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  item->setTextAlignment(alignment);
  return item;
}

QString found_count_text(int found) {
  return found == 1 ? QStringLiteral("1 item found") : QStringLiteral("%1 items found").arg(found);
}

}  // namespace

Settings::Settings(WizardState& state, QWidget* parent)
    : QWidget(parent, Qt::Window), state_(state), destination_chosen_before_(!state.chosen_destination.isEmpty()) {
  setWindowTitle(product_title());
  setWindowIcon(application_icon());
  setAccessibleName(windowTitle());
  build_layout();
  commands_ = install_screen_commands(this, menu_bar_, ScreenCommandSet::kSearch, [this] { request_exit(); });
  connect(browse_, &QPushButton::clicked, this, &Settings::on_browse);
  connect(search_, &QPushButton::clicked, this, &Settings::on_search);
  connect(folder_field_, &QLineEdit::returnPressed, this, &Settings::on_search);
  connect(results_, &QTableWidget::currentCellChanged, this, [this](int row) { on_row_chosen(row); });
  connect(results_, &QTableWidget::cellClicked, this, [this](int row) { on_row_chosen(row); });
  // Rows picked together (Shift, Ctrl, Select All) are converted together.
  connect(results_, &QTableWidget::itemSelectionChanged, this, [this] {
    if (results_->selectionModel()->hasSelection()) convert_->setEnabled(true);
  });
  connect(convert_, &QPushButton::clicked, this, &Settings::on_convert);
  connect(close_, &QPushButton::clicked, this, &Settings::on_close);
  resize(760, 520);
}

Settings::~Settings() { stop_search_and_wait(); }

void Settings::build_layout() {
  menu_bar_ = new QMenuBar(this);
  menu_bar_->setAccessibleName(QStringLiteral("Menu bar"));

  auto* group = new QGroupBox(QStringLiteral("Searching Information"), this);
  group->setAccessibleName(group->title());
  auto* caption = new QLabel(QStringLiteral("Enter Searching Path"), group);
  folder_field_ = new QLineEdit(group);
  folder_field_->setClearButtonEnabled(true);
  folder_field_->setAccessibleName(caption->text());
  caption->setBuddy(folder_field_);
  browse_ = make_button(group, QStringLiteral("Bro&wse"));
  subfolders_ = new QCheckBox(QStringLiteral("Search in &subdirectories"), group);
  subfolders_->setAccessibleName(QStringLiteral("Search in subdirectories"));
  subfolders_->setChecked(true);
  search_ = make_button(group, QStringLiteral("Search"));
  auto* grid = new QGridLayout(group);
  grid->addWidget(caption, 0, 0);
  grid->addWidget(folder_field_, 0, 1);
  grid->addWidget(browse_, 0, 2);
  grid->addWidget(subfolders_, 1, 1);
  grid->addWidget(search_, 1, 2);
  grid->setColumnStretch(1, 1);

  build_result_list();

  status_ = new QLabel(found_count_text(0), this);
  status_->setAccessibleName(QStringLiteral("Search status"));
  status_->setTextFormat(Qt::PlainText);
  status_->setMinimumWidth(200);
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  convert_ = make_button(this, QStringLiteral("&Convert"));
  convert_->setEnabled(false);
  close_ = make_button(this, QStringLiteral("Cl&ose"));
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(convert_);
  bottom->addWidget(close_);

  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menu_bar_);
  layout->addWidget(group);
  layout->addWidget(results_, 1);
  layout->addLayout(bottom);
}

void Settings::build_result_list() {
  results_ = new QTableWidget(0, kColumnCount, this);
  results_->setAccessibleName(QStringLiteral("Files found"));
  results_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("In Folder"), QStringLiteral("Size"),
                                       QStringLiteral("Modified")});
  results_->setSelectionBehavior(QAbstractItemView::SelectRows);
  // Several rows may be picked (Shift, Ctrl): Convert then converts each of them.
  results_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  results_->setShowGrid(true);
  results_->setSortingEnabled(false);  // rows stay in the order they were found
  results_->setWordWrap(false);
  results_->verticalHeader()->hide();
  results_->verticalHeader()->setDefaultSectionSize(results_->fontMetrics().height() + 8);
  results_->horizontalHeader()->setSectionsClickable(false);
  results_->horizontalHeader()->setStretchLastSection(true);
  results_->setColumnWidth(kName, 150);
  results_->setColumnWidth(kInFolder, 300);
  results_->setColumnWidth(kSize, 100);
  results_->setColumnWidth(kModified, 120);
}

void Settings::on_browse() {
  const QString typed = folder_field_->text().trimmed();
  const QString start = typed.isEmpty() ? QDir::homePath() : typed;
  const auto chosen = file_choosers().choose_folder(this, QStringLiteral("Select Path for Searching Files"), start);
  if (!chosen) return;
  if (!chosen->isEmpty()) {
    folder_field_->setText(*chosen);
    // Without a destination of the user's own, the PST goes next to where the file was found.
    if (!destination_chosen_before_) state_.chosen_destination = *chosen;
  }
  log_line(QStringLiteral("\r\n"));
  log_line(QStringLiteral("Select Path for Searching Files"));
  log_line(*chosen);
}

void Settings::on_search() {
  if (searching_) {
    // The worker sees the flag at its next entry; the list keeps what it found so far.
    finder_->RequestStop();
    return;
  }
  search_folder_ = folder_field_->text().trimmed();
  if (search_folder_.isEmpty() || !QFileInfo(search_folder_).isDir()) {
    ask_ok_cancel(this, QStringLiteral("Please Select search path  ? "));
    return;
  }
  log_line(QStringLiteral("\r\n"));
  log_line(QStringLiteral("Click the Search button for the Searching *.OST file"));
  log_line(QStringLiteral("\r\n"));
  log_line(search_folder_);
  start_search();
}

void Settings::start_search() {
  results_->setRowCount(0);
  state_.search_selection.clear();  // its row is gone
  convert_->setEnabled(false);
  status_->setText(found_count_text(0));
  searching_ = true;
  search_->setText(QStringLiteral("Stop"));
  search_->setAccessibleName(QStringLiteral("Stop"));

  // The callbacks run on the worker: they only post to this screen, which handles them in order
  // on the user-interface thread. Posted calls die with the screen, and the destructor joins.
  FinderCallbacks callbacks;
  callbacks.folder_entered = [this](const std::string& folder, int found) {
    QMetaObject::invokeMethod(
        this, [this, f = QString::fromStdString(folder), found] { on_folder_entered(f, found); }, Qt::QueuedConnection);
  };
  callbacks.entry_found = [this](const FoundEntry& entry, int found) {
    QMetaObject::invokeMethod(this, [this, entry, found] { on_entry_found(entry, found); }, Qt::QueuedConnection);
  };
  finder_ = std::make_unique<OstFileFinder>(std::move(callbacks));
  const std::string folder = QFile::encodeName(search_folder_).toStdString();
  const bool include_subfolders = subfolders_->isChecked();
  worker_ = std::thread([this, folder, include_subfolders] {
    try {
      finder_->Search(folder, include_subfolders);
    } catch (const std::exception&) {
      // Out of memory in a huge folder: what was found is listed, the search just ends.
    }
    QMetaObject::invokeMethod(this, [this] { on_search_done(); }, Qt::QueuedConnection);
  });
}

void Settings::on_folder_entered(const QString& folder, int found) {
  status_->setText(QStringLiteral("(%1) - %2").arg(found).arg(folder));
}

void Settings::on_entry_found(const FoundEntry& entry, int found) {
  const int row = results_->rowCount();
  results_->insertRow(row);
  results_->setItem(row, kName, cell(QFile::decodeName(entry.name.c_str())));
  results_->setItem(row, kInFolder, cell(QFile::decodeName(entry.full_path.c_str())));
  results_->setItem(row, kSize, cell(QString::fromStdString(format_found_size(entry.size)), Qt::AlignRight | Qt::AlignVCenter));
  results_->setItem(row, kModified, cell(QString::fromStdString(format_found_time(entry.modified))));
  status_->setText(QStringLiteral("(%1) - %2").arg(found).arg(QFile::decodeName(entry.folder.c_str())));
}

void Settings::on_search_done() {
  if (worker_.joinable()) worker_.join();
  searching_ = false;
  search_->setText(QStringLiteral("Search"));
  search_->setAccessibleName(QStringLiteral("Search"));
  const int found = results_->rowCount();
  status_->setText(found_count_text(found));
  emit search_finished(found);
}

void Settings::stop_search_and_wait() {
  if (finder_) finder_->RequestStop();
  if (worker_.joinable()) worker_.join();
}

void Settings::on_row_chosen(int row) {
  const QTableWidgetItem* item = row >= 0 ? results_->item(row, kInFolder) : nullptr;
  if (item == nullptr) return;
  state_.search_selection = item->text();
  convert_->setEnabled(true);
}

BatchSaveDialog* Settings::batch_dialog() const { return batch_.data(); }

QStringList Settings::selected_files() const {
  QList<int> rows;
  for (const QModelIndex& index : results_->selectionModel()->selectedRows()) rows << index.row();
  std::sort(rows.begin(), rows.end());
  QStringList files;
  for (int row : rows) {
    if (const QTableWidgetItem* item = results_->item(row, kInFolder)) files << item->text();
  }
  return files;
}

void Settings::convert_all(const QStringList& picked) {
  QStringList files;
  // A folder that matched (x.ost/) is listed, but only files can be converted.
  for (const QString& path : picked) {
    if (QFileInfo(path).isFile()) files << QFileInfo(path).absoluteFilePath();
  }
  if (files.isEmpty()) {
    inform(this, QStringLiteral("Please Select the File First"));
    return;
  }
  stop_search_and_wait();
  // Each file's PST goes into a folder of its own: under the destination the user chose on the
  // first screen, else under the Repair folder beside the file.
  const QString base = destination_chosen_before_ ? state_.chosen_destination : QString();
  batch_ = new BatchSaveDialog(files, batch_destinations(files, base), this);
  batch_->setAttribute(Qt::WA_DeleteOnClose);
  connect(batch_, &BatchSaveDialog::all_finished, this, [this] {
    commands_->refresh_report_state();
    emit batch_finished();
  });
  batch_->open();
  batch_->Start();
}

void Settings::on_convert() {
  log_line(QStringLiteral("\r\n"));
  log_line(QStringLiteral("Click OK Button for Repairng the PST file"));
  if (const QStringList picked = selected_files(); picked.size() > 1) {
    convert_all(picked);
    return;
  }
  const QString selection = state_.search_selection;
  // A folder that matched (x.ost/) is listed, but only a file can be recovered.
  if (selection.isEmpty() || !QFileInfo(selection).isFile()) {
    inform(this, QStringLiteral("Please Select the File First"));
    return;
  }
  stop_search_and_wait();
  // The row the user chose is the file read, whatever was browsed to before; unless a
  // destination was chosen, the PST goes beside it, as it would from the first screen.
  state_.source_path = QFileInfo(selection).absoluteFilePath();
  state_.output_folder = derived_output_folder(state_.source_path);
  hide();
  emit convert_requested();
}

void Settings::on_close() {
  log_line(QStringLiteral("\r\n"));
  log_line(QStringLiteral("Press Back Button for select mode "));
  if (!ask(this, QStringLiteral("Do you want to go back ?"))) return;
  stop_search_and_wait();
  hide();
  emit back_requested();
}

QList<QWidget*> Settings::navigation() const { return {browse_, search_, convert_, close_, menu_bar_}; }

void Settings::request_exit() {
  if (!confirm_exit(this, navigation())) return;
  stop_search_and_wait();
  end_program(0);
}

void Settings::closeEvent(QCloseEvent* event) {
  event->ignore();
  request_exit();
}

void Settings::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    request_exit();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace salvora::ui
