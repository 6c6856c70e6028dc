#include "ui/change_log_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryFile>
#include <QVBoxLayout>

#include "platform/settings.h"
#include "ui/file_choosers.h"
#include "ui/icons.h"
#include "ui/ui_services.h"

namespace salvora::ui {

namespace {

// A folder that exists but takes no file would lose every later line of the log in silence.
bool can_write_into(const QString& folder) {
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".salvora-log-XXXXXX")));
  return probe.open();
}

}  // namespace

Cchangelog::Cchangelog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Change Log Path"));
  setWindowIcon(application_icon());
  setAccessibleName(windowTitle());

  auto* caption = new QLabel(QStringLiteral("Folder of the activity log:"), this);
  folder_ = new QLineEdit(this);
  folder_->setAccessibleName(caption->text());
  caption->setBuddy(folder_);
  folder_->setMinimumWidth(360);
  const QString log = activity_log_path();
  folder_->setText(log.isEmpty() ? QString() : QFileInfo(log).absolutePath());

  browse_ = new QPushButton(QStringLiteral("Browse..."), this);
  apply_ = new QPushButton(QStringLiteral("Apply"), this);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  for (QPushButton* b : {browse_, apply_, cancel_}) b->setAccessibleName(b->text());
  apply_->setDefault(true);

  auto* row = new QHBoxLayout;
  row->addWidget(folder_, 1);
  row->addWidget(browse_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(apply_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption);
  layout->addLayout(row);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  connect(browse_, &QPushButton::clicked, this, &Cchangelog::on_browse);
  connect(apply_, &QPushButton::clicked, this, &Cchangelog::on_apply);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void Cchangelog::on_browse() {
  const auto chosen = file_choosers().choose_folder(this, QStringLiteral("Select Folder:"), folder_->text());
  if (chosen) folder_->setText(QDir::toNativeSeparators(*chosen));
}

void Cchangelog::on_apply() {
  const QString text = folder_->text().trimmed();
  const QFileInfo folder(text);
  if (text.isEmpty() || !folder.isDir()) {
    inform(this, QStringLiteral("Path doesn't exist"), QMessageBox::Critical, QStringLiteral("Salvora for OST - PST"));
    return;
  }
  const QString absolute = folder.absoluteFilePath();
  if (!can_write_into(absolute)) {
    inform(this, QStringLiteral("The activity log cannot be written in this folder."), QMessageBox::Critical);
    return;
  }
  const QByteArray utf8 = absolute.toUtf8();
  SettingsStore settings(SettingsStore::DefaultFile());
  if (!settings.Write(kLogPathValue, std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())))) {
    // Too long for a setting (259 characters), or the settings file cannot be written.
    inform(this, QStringLiteral("This folder cannot be kept as the log folder."), QMessageBox::Critical);
    return;
  }
  accept();
}

}  // namespace salvora::ui
