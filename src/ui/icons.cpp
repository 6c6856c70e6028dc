#include "ui/icons.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStyle>

#include "platform/product_globals.h"

namespace salvora::ui {

namespace {

QString icons_folder() {
  return QDir(QString::fromStdString(product_globals().install_folder)).filePath(QStringLiteral("icons"));
}

QIcon load_icon(const QString& file, QStyle::StandardPixmap fallback) {
  static QHash<QString, QIcon> cache;
  auto it = cache.find(file);
  if (it != cache.end()) return *it;
  const QString path = QDir(icons_folder()).filePath(file);
  QIcon icon;
  if (QFileInfo::exists(path)) icon = QIcon(path);
  if (icon.isNull()) icon = QApplication::style()->standardIcon(fallback);
  cache.insert(file, icon);
  return icon;
}

struct FolderRule {
  const char* name;             // upper-case display name, or null
  const char* container_class;  // upper-case class, or null
  const char* file;
};

// Later rows win where several match, so a folder named "Inbox" of class IPF.Contact shows the
// contacts picture.
constexpr FolderRule kFolderRules[] = {
    {"PERSONAL FOLDERS", nullptr, "personal-folders.png"},
    {"CALENDAR", "IPF.APPOINTMENT", "calendar.png"},
    {"CONTACTS", "IPF.CONTACT", "contacts.png"},
    {"DELETED ITEMS", nullptr, "deleted-items.png"},
    {"DRAFTS", nullptr, "drafts.png"},
    {"INBOX", nullptr, "inbox.png"},
    {"JOURNAL", "IPF.JOURNAL", "journal.png"},
    {"JUNK E-MAILS", nullptr, "junk.png"},
    {"NOTES", "IPF.STICKYNOTE", "notes.png"},
    {"OUTBOX", nullptr, "outbox.png"},
    {"SENT ITEMS", nullptr, "sent-items.png"},
    {"TASKS", "IPF.TASK", "tasks.png"},
    {"SYNC ISSUES", nullptr, "sync-issues.png"},
};

}  // namespace

QString folder_icon_name(const QString& name, const QString& container_class) {
  const QString upper_name = name.toUpper();
  const QString upper_class = container_class.toUpper();
  QString file = QStringLiteral("folder.png");
  for (const auto& rule : kFolderRules) {
    if (upper_name == QLatin1String(rule.name) ||
        (rule.container_class && upper_class == QLatin1String(rule.container_class))) {
      file = QLatin1String(rule.file);
    }
  }
  return file;
}

QIcon folder_icon(const QString& name, const QString& container_class) {
  const QString file = folder_icon_name(name, container_class);
  if (file != QLatin1String("folder.png")) return load_icon(file, QStyle::SP_DirIcon);
  // A plain folder opens when selected.
  QIcon icon = load_icon(file, QStyle::SP_DirClosedIcon);
  const QIcon open = load_icon(QStringLiteral("folder-open.png"), QStyle::SP_DirOpenIcon);
  QIcon both;
  both.addPixmap(icon.pixmap(QSize(16, 16)), QIcon::Normal, QIcon::Off);
  both.addPixmap(open.pixmap(QSize(16, 16)), QIcon::Selected, QIcon::Off);
  return both;
}

QIcon item_icon(ItemIcon which) {
  switch (which) {
    case ItemIcon::kMail: return load_icon(QStringLiteral("item-mail.png"), QStyle::SP_FileIcon);
    case ItemIcon::kContact: return load_icon(QStringLiteral("item-contact.png"), QStyle::SP_FileIcon);
    case ItemIcon::kTask: return load_icon(QStringLiteral("item-task.png"), QStyle::SP_FileIcon);
    case ItemIcon::kJournal: return load_icon(QStringLiteral("item-journal.png"), QStyle::SP_FileIcon);
    case ItemIcon::kNote: return load_icon(QStringLiteral("item-note.png"), QStyle::SP_FileIcon);
    case ItemIcon::kAppointment: return load_icon(QStringLiteral("item-appointment.png"), QStyle::SP_FileIcon);
  }
  return {};
}

QIcon application_icon() {
  QIcon icon;
  for (const char* file : {"salvora-48.png", "salvora.png"}) {
    const QString path = QDir(icons_folder()).filePath(QLatin1String(file));
    if (QFileInfo::exists(path)) icon.addFile(path);
  }
  return icon;
}

}  // namespace salvora::ui
