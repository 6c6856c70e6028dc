#include "ui/item_list_model.h"

#include <ctime>
#include <mutex>

#include "format/filetime.h"
#include "ui/icons.h"

namespace salvora::ui {

namespace {

constexpr int kShortenAbove = 254;
constexpr int kShortenTo = 200;

struct Column {
  const char* header;
  int width;
};

// The headers say what each column holds.
const std::vector<Column>& columns_of(ListLayout layout) {
  static const std::vector<Column> mail{{"From", 150}, {"E-mail Subject", 150}, {"To", 150}, {"Received", 150}};
  static const std::vector<Column> contacts{
      {"Contact Name", 150}, {"E-mail Address", 150}, {"Mobile Phone", 150}, {"Postal Address", 150}};
  static const std::vector<Column> tasks{{"Task Subject", 260}, {"Due Date", 260}};
  static const std::vector<Column> journal{{"Journal Subject", 260}, {"Entry Type", 260}};
  static const std::vector<Column> notes{{"Notes Subject", 150}, {"Text", 150}, {"Date", 150}};
  static const std::vector<Column> calendar{{"Calendar Subject", 150}, {"Location", 150}, {"Date", 150}};
  switch (layout) {
    case ListLayout::kContacts: return contacts;
    case ListLayout::kTasks: return tasks;
    case ListLayout::kJournal: return journal;
    case ListLayout::kNotes: return notes;
    case ListLayout::kCalendar: return calendar;
    case ListLayout::kMail: break;
  }
  return mail;
}

QString text_or(const std::optional<std::string>& text, const char* fallback) {
  if (!text || text->empty()) return QString::fromLatin1(fallback);
  return display_text(*text);
}

QString text_of(const std::optional<std::string>& text) { return text ? display_text(*text) : QString(); }

QString time_of(const std::optional<std::uint64_t>& t) { return t ? display_time(*t) : QString(); }

bool class_is(const QString& upper, const char* name) {
  const QLatin1String n(name);
  return upper == n || upper.startsWith(n + QLatin1Char('.'));
}

}  // namespace

ListLayout layout_for_class(const QString& container_class) {
  const QString upper = container_class.toUpper();
  if (class_is(upper, "IPF.CONTACT")) return ListLayout::kContacts;
  if (class_is(upper, "IPF.TASK")) return ListLayout::kTasks;
  if (class_is(upper, "IPF.JOURNAL")) return ListLayout::kJournal;
  if (class_is(upper, "IPF.STICKYNOTE")) return ListLayout::kNotes;
  if (class_is(upper, "IPF.APPOINTMENT")) return ListLayout::kCalendar;
  return ListLayout::kMail;
}

QString display_text(const std::string& text) {
  QString out = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  for (QChar& c : out) {
    if (c.unicode() < 32 || c.unicode() == 127) c = QLatin1Char(' ');
  }
  return out;
}

QString shortened_text(const std::string& text) {
  QString out = display_text(text);
  if (out.size() > kShortenAbove) {
    qsizetype cut = kShortenTo;
    if (out.at(cut - 1).isHighSurrogate()) --cut;  // whole characters only
    out = out.left(cut) + QStringLiteral("...");
  }
  return out;
}

QString display_time(std::uint64_t filetime) {
  if (filetime == 0) return {};
  // The zone's offset at that moment, daylight saving included, comes from the C library.
  const auto t = std::chrono::floor<std::chrono::seconds>(filetime_to_time_point(filetime));
  const std::time_t seconds = t.time_since_epoch().count();
  std::tm local{};
  if (!::localtime_r(&seconds, &local)) return {};
  const std::string text = asctime_text(filetime, std::chrono::seconds{local.tm_gmtoff});
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

ItemListModel::ItemListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ItemListModel::Clear() {
  beginResetModel();
  result_ = nullptr;
  folder_ = Nid();
  layout_ = ListLayout::kMail;
  mail_rows_.clear();
  mail_scanned_.clear();
  rows_.clear();
  scanned_ = 0;
  endResetModel();
}

void ItemListModel::ShowFolder(const AnalysisResult* result, Nid folder, ListLayout layout) {
  beginResetModel();
  result_ = result;
  folder_ = folder;
  layout_ = layout;
  mail_rows_.clear();
  mail_scanned_.clear();
  rows_.clear();
  scanned_ = 0;
  if (layout_ == ListLayout::kMail) mail_rows_ = ScanNewMail();
  else rows_ = ScanNewRows();
  endResetModel();
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> ItemListModel::ScanNewMail() {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> found;
  if (!result_) return found;
  std::lock_guard lock(result_->lists_mutex);
  const auto& entries = result_->mail_folders.entries();
  mail_scanned_.resize(entries.size(), 0);
  for (std::size_t e = 0; e < entries.size(); ++e) {
    const auto& items = entries[e].items;
    for (std::size_t& i = mail_scanned_[e]; i < items.size(); ++i) {
      if (items[i].folder_nid == folder_) found.emplace_back(static_cast<std::uint32_t>(e), static_cast<std::uint32_t>(i));
    }
  }
  return found;
}

const MailSummary& ItemListModel::MailAt(int row) const {
  const auto [entry, item] = mail_rows_[static_cast<std::size_t>(row)];
  return result_->mail_folders.entries()[entry].items[item];
}

std::vector<std::uint32_t> ItemListModel::ScanNewRows() {
  std::vector<std::uint32_t> found;
  if (!result_) return found;
  std::lock_guard lock(result_->lists_mutex);
  auto scan = [&](const auto& list) {
    for (; scanned_ < list.size(); ++scanned_) {
      if (list[scanned_].folder_nid == folder_) found.push_back(static_cast<std::uint32_t>(scanned_));
    }
  };
  switch (layout_) {
    case ListLayout::kContacts: scan(result_->contacts); break;
    case ListLayout::kTasks: scan(result_->tasks); break;
    case ListLayout::kJournal: scan(result_->journal); break;
    case ListLayout::kNotes: scan(result_->notes); break;
    case ListLayout::kCalendar: scan(result_->calendar); break;
    case ListLayout::kMail: break;
  }
  return found;
}

void ItemListModel::Refresh() {
  if (!result_) return;
  if (layout_ == ListLayout::kMail) {
    auto added = ScanNewMail();
    if (added.empty()) return;
    const int first = static_cast<int>(mail_rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
    mail_rows_.insert(mail_rows_.end(), added.begin(), added.end());
    endInsertRows();
    return;
  }
  std::vector<std::uint32_t> added = ScanNewRows();
  if (added.empty()) return;
  const int first = NewestFirst() ? 0 : static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
  rows_.insert(rows_.end(), added.begin(), added.end());
  endInsertRows();
}

int ItemListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(layout_ == ListLayout::kMail ? mail_rows_.size() : rows_.size());
}

int ItemListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_of(layout_).size());
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  const auto& cols = columns_of(layout_);
  if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(cols.size())) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(cols[static_cast<std::size_t>(section)].header);
  if (role == Qt::SizeHintRole) return QSize(cols[static_cast<std::size_t>(section)].width, 20);
  return {};
}

std::size_t ItemListModel::SourceIndex(int row) const {
  if (layout_ == ListLayout::kMail) return static_cast<std::size_t>(row);
  const std::size_t r = static_cast<std::size_t>(row);
  return rows_[NewestFirst() ? rows_.size() - 1 - r : r];
}

Nid ItemListModel::NidAt(int row) const {
  if (!result_ || row < 0 || row >= rowCount()) return Nid();
  const std::size_t i = SourceIndex(row);
  std::lock_guard lock(result_->lists_mutex);
  switch (layout_) {
    case ListLayout::kMail: return MailAt(row).nid;
    case ListLayout::kContacts: return result_->contacts[i].nid;
    case ListLayout::kTasks: return result_->tasks[i].nid;
    case ListLayout::kJournal: return result_->journal[i].nid;
    case ListLayout::kNotes: return result_->notes[i].nid;
    case ListLayout::kCalendar: return result_->calendar[i].nid;
  }
  return Nid();
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
  if (!result_ || !index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::DecorationRole && index.column() == 0) {
    switch (layout_) {
      case ListLayout::kMail: return item_icon(ItemIcon::kMail);
      case ListLayout::kContacts: return item_icon(ItemIcon::kContact);
      case ListLayout::kTasks: return item_icon(ItemIcon::kTask);
      case ListLayout::kJournal: return item_icon(ItemIcon::kJournal);
      case ListLayout::kNotes: return item_icon(ItemIcon::kNote);
      case ListLayout::kCalendar: return item_icon(ItemIcon::kAppointment);
    }
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  return Text(SourceIndex(index.row()), index.column());
}

QString ItemListModel::Text(std::size_t i, int column) const {
  std::lock_guard lock(result_->lists_mutex);
  switch (layout_) {
    case ListLayout::kMail: {
      const MailSummary& m = MailAt(static_cast<int>(i));
      switch (column) {
        case 0: return text_or(m.sender_name, "None");
        case 1: return text_or(m.subject, "Unspecified");
        case 2: return text_or(m.display_to, "None");
        case 3: return time_of(m.delivery_time);
      }
      break;
    }
    case ListLayout::kContacts: {
      const ContactSummary& c = result_->contacts[i];
      switch (column) {
        case 0: return text_of(c.display_name);
        case 1: return text_of(c.fields.email_address);
        case 2: return text_of(c.fields.mobile_phone);
        case 3: return text_of(c.fields.postal_address);
      }
      break;
    }
    case ListLayout::kTasks: {
      const MailSummary& t = result_->tasks[i];
      return column == 0 ? text_of(t.subject) : time_of(t.delivery_time);
    }
    case ListLayout::kJournal: {
      const JournalSummary& j = result_->journal[i];
      if (column == 0) return j.subject ? shortened_text(*j.subject) : QString();
      return text_of(j.entry_type);
    }
    case ListLayout::kNotes: {
      const NoteSummary& n = result_->notes[i];
      switch (column) {
        case 0: return text_of(n.subject);
        case 1: return n.text ? shortened_text(*n.text) : QString();
        case 2: return time_of(n.delivery_time);
      }
      break;
    }
    case ListLayout::kCalendar: {
      const CalendarSummary& c = result_->calendar[i];
      switch (column) {
        case 0: return text_of(c.subject);
        case 1: return text_of(c.location);
        case 2: return time_of(c.start ? c.start : c.delivery_time);
      }
      break;
    }
  }
  return {};
}

}  // namespace salvora::ui
