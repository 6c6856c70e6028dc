#include "ui/source_selection_screen.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/product_globals.h"
#include "platform/settings.h"
#include "ui/exit_confirmation.h"
#include "ui/file_choosers.h"
#include "ui/icons.h"
#include "ui/ost_search_screen.h"
#include "ui/screen_commands.h"
#include "ui/source_check.h"
#include "ui/step_picture.h"
#include "ui/ui_services.h"
#include "writer/store_size.h"

namespace salvora::ui {

namespace {

QPushButton* make_button(QWidget* parent, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setAccessibleName(QString(text).remove(QLatin1Char('&')));
  return button;
}

QLineEdit* make_path_field(QWidget* parent, const QString& caption) {
  // Read-only: only what Browse and the search screen chose is used, so typing would only
  // show a path that Next ignores.
  auto* field = new QLineEdit(parent);
  field->setReadOnly(true);
  field->setAccessibleName(caption);
  field->setMinimumWidth(380);
  return field;
}

// The settings value of the split choice: "45G", "500M", or empty for none.
constexpr std::string_view kMaxPstSizeValue = "MaxPstSize";
constexpr int kDefaultSplitGigabytes = 45;

// Everything before the last slash; the whole path when there is none.
QString folder_of(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  return slash < 0 ? path : path.left(slash);
}

}  // namespace

QString banner_time_text(const QDateTime& t) {
  return QStringLiteral("%1-%2-%3 %4-%5")
      .arg(t.date().day())
      .arg(t.date().month())
      .arg(t.date().year())
      .arg(t.time().hour())
      .arg(t.time().minute());
}

QString derived_output_folder(const QString& source_path) { return folder_of(source_path) + QStringLiteral("/Repair/"); }

DiskSelection::DiskSelection(WizardState& state, QWidget* parent) : QWidget(parent), state_(state) {
  setWindowTitle(product_title());
  setWindowIcon(application_icon());
  setAccessibleName(windowTitle());
  build_layout();
  commands_ = install_screen_commands(this, menu_bar_, ScreenCommandSet::kSourceSelection, [this] { request_exit(); });
  connect(browse_source_, &QPushButton::clicked, this, &DiskSelection::on_browse_source);
  connect(browse_destination_, &QPushButton::clicked, this, &DiskSelection::on_browse_destination);
  connect(search_, &QPushButton::clicked, this, &DiskSelection::on_search);
  connect(next_, &QPushButton::clicked, this, &DiskSelection::on_next);
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { follow_focus(now); });
  refresh_fields();
  browse_source_->setFocus(Qt::OtherFocusReason);
  resize(sizeHint().expandedTo(QSize(840, 340)));
}

DiskSelection::~DiskSelection() { delete search_screen_.data(); }

Settings* DiskSelection::search_screen() const { return search_screen_.data(); }

void DiskSelection::build_layout() {
  menu_bar_ = new QMenuBar(this);
  menu_bar_->setAccessibleName(QStringLiteral("Menu bar"));
  step_ = new StepPicture(this);

  auto* heading = new QLabel(QStringLiteral("<b>Recover a mailbox from an OST file</b><br>"
                                            "Choose the offline store to recover and the folder where the "
                                            "recovered PST file is to be written."),
                             this);
  heading->setWordWrap(true);
  heading->setAccessibleName(QStringLiteral("Recover a mailbox from an OST file"));

  auto* source_group = new QGroupBox(QStringLiteral("Select OST File For Recovery"), this);
  source_group->setAccessibleName(source_group->title());
  source_field_ = make_path_field(source_group, QStringLiteral("OST file"));
  browse_source_ = make_button(source_group, QStringLiteral("&Browse..."));
  search_ = make_button(source_group, QStringLiteral("&Search"));
  auto* source_row = new QHBoxLayout(source_group);
  source_row->addWidget(source_field_, 1);
  source_row->addWidget(browse_source_);
  source_row->addWidget(search_);

  auto* destination_group = new QGroupBox(QStringLiteral("Select Destination Path"), this);
  destination_group->setAccessibleName(destination_group->title());
  destination_field_ = make_path_field(destination_group, QStringLiteral("Destination folder"));
  browse_destination_ = make_button(destination_group, QStringLiteral("B&rowse..."));
  auto* destination_layout = new QVBoxLayout(destination_group);
  auto* destination_row = new QHBoxLayout;
  destination_row->addWidget(destination_field_, 1);
  destination_row->addWidget(browse_destination_);
  destination_layout->addLayout(destination_row);
  destination_layout->addWidget(build_split_row());

  // The form the recovered mailbox takes: the store's name ends in the suffix that chooses it.
  auto* save_as_group = new QGroupBox(QStringLiteral("Save As"), this);
  save_as_group->setAccessibleName(save_as_group->title());
  save_as_ = new QComboBox(save_as_group);
  save_as_->setAccessibleName(QStringLiteral("Save as"));
  save_as_->addItem(QStringLiteral("PST file (Outlook)"), QStringLiteral(".pst"));
  save_as_->addItem(QStringLiteral("Thunderbird/Evolution folders (mbox)"), QStringLiteral(".mbox"));
  save_as_->addItem(QStringLiteral("One file per message (EML)"), QStringLiteral(".eml"));
  auto* save_as_row = new QHBoxLayout(save_as_group);
  save_as_row->addWidget(save_as_, 1);
  connect(save_as_, &QComboBox::currentIndexChanged, this,
          [this](int index) { state_.save_as = save_as_->itemData(index).toString(); });

  next_ = make_button(this, QStringLiteral("&Next"));
  next_->setDefault(true);
  next_->setMinimumWidth(96);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(next_);

  auto* choices = new QVBoxLayout;
  choices->addWidget(heading);
  choices->addSpacing(6);
  choices->addWidget(source_group);
  choices->addWidget(destination_group);
  choices->addWidget(save_as_group);
  choices->addStretch(1);
  choices->addLayout(buttons);

  auto* body = new QHBoxLayout;
  body->addWidget(step_, 0, Qt::AlignTop);
  body->addSpacing(12);
  body->addLayout(choices, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menu_bar_);
  layout->addLayout(body);
  setTabOrder(browse_source_, search_);
  setTabOrder(search_, browse_destination_);
  setTabOrder(browse_destination_, split_);
  setTabOrder(split_, split_size_);
  setTabOrder(split_size_, split_unit_);
  setTabOrder(split_unit_, save_as_);
  setTabOrder(save_as_, next_);
}

// Outlook opens a PST of up to 50 GB unless told otherwise: a mailbox larger than that is
// split into PSTs below a size the user picks.
QWidget* DiskSelection::build_split_row() {
  auto* row = new QWidget(this);
  split_ = new QCheckBox(QStringLiteral("S&plit the PST at"), row);
  split_->setAccessibleName(QStringLiteral("Split the PST at"));
  split_->setToolTip(QStringLiteral("Outlook opens PST files of up to 50 GB; a larger mailbox goes into several "
                                    "PST files, each below this size"));
  split_size_ = new QSpinBox(row);
  split_size_->setRange(1, 999'999);
  split_size_->setAccessibleName(QStringLiteral("Largest PST size"));
  split_unit_ = new QComboBox(row);
  split_unit_->addItems({QStringLiteral("MB"), QStringLiteral("GB")});
  split_unit_->setAccessibleName(QStringLiteral("Size unit"));
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(split_);
  layout->addWidget(split_size_);
  layout->addWidget(split_unit_);
  layout->addStretch(1);
  load_split_choice();
  connect(split_, &QCheckBox::toggled, this, [this] { store_split_choice(); });
  connect(split_size_, &QSpinBox::valueChanged, this, [this] { store_split_choice(); });
  connect(split_unit_, &QComboBox::currentIndexChanged, this, [this] { store_split_choice(); });
  return row;
}

void DiskSelection::load_split_choice() {
  const auto size = parse_store_size(SettingsStore(SettingsStore::DefaultFile()).Read(kMaxPstSizeValue));
  const bool gigabytes = !size || *size % (1ull << 30) == 0;
  const std::uint64_t unit = gigabytes ? (1ull << 30) : (1ull << 20);
  split_->setChecked(size.has_value());
  split_unit_->setCurrentIndex(gigabytes ? 1 : 0);
  split_size_->setValue(size ? static_cast<int>(std::clamp<std::uint64_t>(*size / unit, 1, 999'999)) : kDefaultSplitGigabytes);
  split_size_->setEnabled(split_->isChecked());
  split_unit_->setEnabled(split_->isChecked());
  state_.max_pst_size = size ? static_cast<std::uint64_t>(split_size_->value()) * unit : 0;
}

void DiskSelection::store_split_choice() {
  const std::uint64_t unit = split_unit_->currentIndex() == 1 ? (1ull << 30) : (1ull << 20);
  split_size_->setEnabled(split_->isChecked());
  split_unit_->setEnabled(split_->isChecked());
  state_.max_pst_size = split_->isChecked() ? static_cast<std::uint64_t>(split_size_->value()) * unit : 0;
  SettingsStore(SettingsStore::DefaultFile())
      .Write(kMaxPstSizeValue, state_.max_pst_size ? store_size_text(state_.max_pst_size) : std::string());
}

void DiskSelection::choose_source(const QString& path) {
  state_.source_path = path;
  source_field_->setText(path);
  log_line(QStringLiteral("*******************************START LOG FILE *******************************"));
  log_line(product_title());
  log_line(QString::fromLatin1(kVersionText.data(), static_cast<qsizetype>(kVersionText.size())));
  log_line(banner_time_text(QDateTime::currentDateTime()));
  log_line(QStringLiteral("\r\n"));
  log_line(QStringLiteral("Step1:"));
  log_line(QStringLiteral("Select Source Path:"));
  log_line(path);
  // Derived for every file, so that a file kept after the warning below never saves into the
  // previous file's folder.
  state_.output_folder = derived_output_folder(path);
  refresh_fields();
  // Only the name counts: a dot in a folder's name (~/.local) says nothing about the file.
  if (!QFileInfo(path).fileName().contains(QLatin1Char('.'))) {
    next_->setEnabled(false);
    inform(this, QStringLiteral("Invalid OST file path"));
    next_->setEnabled(true);
    return;
  }
  const QString destination_text = folder_of(path) + QStringLiteral("/Repair");
  log_line(QStringLiteral("\r\n"));
  log_line(QStringLiteral("Select Destination Path:"));
  log_line(destination_text);
}

void DiskSelection::refresh_fields() {
  source_field_->setText(state_.source_path);
  // The field names the folder the PST will really go to: a destination chosen with its Browse
  // wins over the one derived from the source.
  QString destination = state_.chosen_destination;
  if (destination.isEmpty() && !state_.output_folder.isEmpty()) destination = state_.output_folder.chopped(1);
  destination_field_->setText(destination);
  const int save_as = save_as_->findData(state_.save_as);
  save_as_->setCurrentIndex(save_as < 0 ? 0 : save_as);
}

void DiskSelection::on_browse_source() {
  const QString start = state_.source_path.isEmpty() ? QDir::homePath() : QFileInfo(state_.source_path).absolutePath();
  const auto chosen =
      file_choosers().open_file(this, QStringLiteral("Select OST File"), start, QStringLiteral("OST (*.ost);;All Files (*)"));
  if (chosen) choose_source(*chosen);
}

void DiskSelection::on_browse_destination() {
  const QString start = destination_field_->text().isEmpty() ? QDir::homePath() : destination_field_->text();
  const auto chosen = file_choosers().choose_folder(this, QStringLiteral("Please select the Destination Path"), start);
  if (!chosen) return;
  destination_field_->setText(*chosen);
  log_line(QStringLiteral("\r\n"));
  log_line(QStringLiteral("Select Destination Path"));
  log_line(*chosen);
  if (chosen->isEmpty()) {
    inform(this, QStringLiteral("Please select the valid path"));
    refresh_fields();
    return;
  }
  state_.chosen_destination = *chosen + (chosen->endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) +
                              QStringLiteral("Repair");
  refresh_fields();
}

void DiskSelection::on_search() {
  log_line(QStringLiteral("\r\n"));
  log_line(QStringLiteral("Click The Search Button"));
  if (!search_screen_) {
    search_screen_ = new Settings(state_);
    connect(search_screen_, &Settings::back_requested, this, [this] {
      search_screen_->deleteLater();
      refresh_fields();  // the search screen may have set the destination
      show();
      activateWindow();
    });
    connect(search_screen_, &Settings::convert_requested, this, [this] {
      search_screen_->deleteLater();
      refresh_fields();  // the file chosen in the results is now the source
      if (!ready_to_recover(state_.AnalysisSource())) {
        show();
        activateWindow();
        return;
      }
      emit recovery_requested();
    });
  }
  hide();
  search_screen_->show();
  search_screen_->activateWindow();
}

// What would stop the recovery is told here, while the user can still choose again: a file that
// is not an Outlook data file or cannot be read, a destination that cannot take the PST.
bool DiskSelection::ready_to_recover(const QString& source) {
  QString problem = source_problem(source);
  if (problem.isEmpty()) {
    const QString destination = state_.chosen_destination.isEmpty() ? state_.output_folder : state_.chosen_destination;
    problem = destination_problem(destination, static_cast<std::uint64_t>(QFileInfo(source).size()));
  }
  if (problem.isEmpty()) return true;
  inform(this, problem);
  return false;
}

void DiskSelection::on_next() {
  if (!ready_to_recover(state_.source_path)) return;
  hide();
  emit recovery_requested();
}

QList<QWidget*> DiskSelection::navigation() const {
  return {browse_source_, search_, browse_destination_, split_, split_size_, split_unit_, next_, menu_bar_};
}

void DiskSelection::request_exit() {
  if (confirm_exit(this, navigation())) end_program(0);
}

void DiskSelection::closeEvent(QCloseEvent* event) {
  // The program ends only through the exit question; the window never just closes.
  event->ignore();
  request_exit();
}

void DiskSelection::follow_focus(QWidget* now) {
  if (now == nullptr || !isAncestorOf(now)) return;
  const bool on_destination = now == destination_field_ || now == browse_destination_ || now == split_ ||
                              now == split_size_ || split_size_->isAncestorOf(now) || now == split_unit_;
  step_->set_step(on_destination ? 2 : 1);
}

}  // namespace salvora::ui
