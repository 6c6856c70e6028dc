#include "ui/save_dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/desktop_habits.h"
#include "ui/icons.h"
#include "ui/ui_services.h"

namespace salvora::ui {

namespace {

QLabel* value_label(const char* object_name, const QString& accessible, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(object_name));
  label->setAccessibleName(accessible);
  label->setTextFormat(Qt::PlainText);
  label->setMinimumWidth(320);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  return label;
}

}  // namespace

ListPSTFile::ListPSTFile(const SaveProgress& progress, QWidget* parent) : QDialog(parent), progress_(progress) {
  setObjectName(QStringLiteral("ListPSTFile"));
  setWindowTitle(QStringLiteral("Salvora for  OST- PST"));
  setWindowIcon(application_icon());
  setAccessibleName(QStringLiteral("Saving Status"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("Saving Status"), this);
  auto* form = new QFormLayout(group);
  folder_ = value_label("folderName", QStringLiteral("Folder Name"), group);
  count_ = value_label("mailCount", QStringLiteral("No. of Mails"), group);
  form->addRow(QStringLiteral("Folder Name :"), folder_);
  form->addRow(QStringLiteral("No. of Mails :"), count_);
  bar_ = new QProgressBar(group);
  bar_->setObjectName(QStringLiteral("saveProgress"));
  bar_->setAccessibleName(QStringLiteral("Saved"));
  bar_->setRange(0, 0);  // busy until the number of items to save is known
  form->addRow(bar_);
  time_left_ = new TimeLeftLabel(QStringLiteral("saveTimeLeft"), group);
  form->addRow(time_left_);
  layout->addWidget(group);
  auto* buttons = new QHBoxLayout;
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  stop_->setObjectName(QStringLiteral("stopSaveButton"));
  stop_->setAccessibleName(QStringLiteral("Stop"));
  buttons->addStretch(1);
  buttons->addWidget(stop_);
  layout->addLayout(buttons);
  connect(stop_, &QPushButton::clicked, this, &ListPSTFile::OnStop);

  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, [this] {
    Refresh();
    timer_->start(kRefreshMs);
  });
  timer_->start(kFirstRefreshMs);
}

void ListPSTFile::Refresh() {
  ++refreshes_;
  folder_->setText(QString::fromStdString(progress_.folder_name()));
  count_->setText(QString::fromStdString(progress_.count_text()));
  const std::int64_t total = progress_.objects_to_visit();
  const std::int64_t saved = progress_.items_saved.load();
  if (total > kWalkProgressShortfall) {
    const int maximum = static_cast<int>(std::min<std::int64_t>(total, INT32_MAX));
    bar_->setRange(0, maximum);
    bar_->setValue(static_cast<int>(std::clamp<std::int64_t>(saved, 0, maximum)));
    time_left_->Update(saved, total);
  }
}

void ListPSTFile::OnStop() {
  if (finished_) return;
  if (!ask(this, QStringLiteral("Do you want to stop this search ?"), QStringLiteral("Salvora for OST - PST"))) return;
  if (finished_) return;
  stop_->setEnabled(false);
  folder_->setText(QStringLiteral("Stopping: saving what has been written so far..."));
  timer_->stop();
  emit stop_confirmed();
}

void ListPSTFile::reject() {
  // Escape hides the dialog; the save goes on and its end is still reported.
  hide();
}

void ListPSTFile::Finish() {
  finished_ = true;
  timer_->stop();
  Refresh();
  done(QDialog::Accepted);
}

Last_Saving_Dialog::Last_Saving_Dialog(const SaveProgress& progress, QWidget* parent, long long not_written,
                                       const QString& cause, const QString& report)
    : QDialog(parent) {
  setObjectName(QStringLiteral("Last_Saving_Dialog"));
  setWindowTitle(QStringLiteral("Salvora Tools for Microsoft Exchange OST- MS Outlook PST"));
  setWindowIcon(application_icon());
  setAccessibleName(QStringLiteral("Saving Completed"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("Open Log Path"), this);
  auto* inner = new QVBoxLayout(group);

  QString text = QStringLiteral("Saving Completed Successfully");
  const int unreadable = progress.unreadable_count();
  const QString store = QString::fromStdString(progress.store_path());
  if (unreadable > 0) {
    // A PST that is not the whole mailbox never looks like one.
    text = QStringLiteral("Saving completed, but %1 object(s) of the source could not be read and are not in the "
                          "PST. The activity log names each of them.")
               .arg(unreadable);
  }
  if (not_written > 0) {
    text = QStringLiteral("Saving finished, but %1 item(s) could not be written into the PST: %2")
               .arg(not_written)
               .arg(cause.isEmpty() ? QStringLiteral("the store refused them") : cause) +
           (unreadable > 0 ? QStringLiteral("\n\n%1 object(s) of the source could not be read; the activity log "
                                            "names each of them.")
                                 .arg(unreadable)
                           : QString());
  }
  if (const int dropped = progress.dropped_property_count(); dropped > 0) {
    text += QStringLiteral("\n\n%1 propert(ies) of the items written could not be copied into the PST; the "
                           "activity log names each of them.")
                .arg(dropped);
  }
  if (const auto paths = progress.store_paths(); paths.size() > 1) {
    // A mailbox split at a size limit: every part is named.
    text += QStringLiteral("\n\nThe mailbox was split into %1 PST files:").arg(paths.size());
    for (const auto& path : paths) text += QLatin1Char('\n') + QString::fromStdString(path);
  } else if (!store.isEmpty()) {
    text += QStringLiteral("\n\nThe PST is at:\n") + store;
  }
  message_ = new QLabel(text, group);
  message_->setObjectName(QStringLiteral("completionText"));
  message_->setAccessibleName(QStringLiteral("Result"));
  message_->setWordWrap(true);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_->setTextFormat(Qt::PlainText);
  inner->addWidget(message_);
  if (unreadable > 0) {
    auto* list = new QPlainTextEdit(group);
    list->setObjectName(QStringLiteral("unreadableList"));
    list->setAccessibleName(QStringLiteral("Objects that could not be read"));
    list->setReadOnly(true);
    QStringList lines;
    for (const auto& line : progress.unreadable()) lines << QString::fromStdString(line);
    if (unreadable > lines.size()) lines << QStringLiteral("and %1 more").arg(unreadable - lines.size());
    list->setPlainText(lines.join(QLatin1Char('\n')));
    list->setMinimumHeight(90);
    inner->addWidget(list);
  }
  view_log_ = new QCheckBox(QStringLiteral("View Log File"), group);
  view_log_->setObjectName(QStringLiteral("viewLogFile"));
  view_log_->setAccessibleName(QStringLiteral("View Log File"));
  inner->addWidget(view_log_);
  layout->addWidget(group);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("completionOk"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  if (!store.isEmpty()) {
    open_folder_ = buttons->addButton(QStringLiteral("Open &Folder"), QDialogButtonBox::ActionRole);
    open_folder_->setObjectName(QStringLiteral("openFolderButton"));
    open_folder_->setAccessibleName(QStringLiteral("Open Folder"));
    open_folder_->setAccessibleDescription(QStringLiteral("Shows the folder of the new PST in the file manager"));
    // The dialog stays: the user may still want the log, and OK is what ends the program.
    connect(open_folder_, &QPushButton::clicked, this, [this, store] {
      const QString folder = QFileInfo(store).absolutePath();
      if (!ui_hooks().open_file(folder)) {
        inform(this, QStringLiteral("No file manager could show the folder. The PST is at:\n%1").arg(store));
      }
    });
  }
  if (!report.isEmpty()) {
    view_report_ = buttons->addButton(QStringLiteral("View &Report"), QDialogButtonBox::ActionRole);
    view_report_->setObjectName(QStringLiteral("viewReportButton"));
    view_report_->setAccessibleName(QStringLiteral("View Report"));
    view_report_->setAccessibleDescription(QStringLiteral("Opens the recovery report: what each folder held, what was saved and what was lost"));
    connect(view_report_, &QPushButton::clicked, this, [this, report] { open_in_viewer(this, report); });
  }
  layout->addWidget(buttons);
  setMinimumWidth(460);
}

bool Last_Saving_Dialog::view_log() const { return view_log_->isChecked(); }

}  // namespace salvora::ui
