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
  rows_.clear();
  mail_scanned_.clear();
  scanned_ = {};
  endResetModel();
}

void ItemListModel::ShowFolder(const AnalysisResult* result, Nid folder, ListLayout layout) {
  beginResetModel();
  result_ = result;
  folder_ = folder;
  layout_ = layout;
  rows_.clear();
  mail_scanned_.clear();
  scanned_ = {};
  rows_ = ScanNewRows();
  endResetModel();
}

std::vector<ItemListModel::Row> ItemListModel::ScanNewRows() {
  std::vector<Row> found;
  if (!result_) return found;
  std::lock_guard lock(result_->lists_mutex);
  const auto& entries = result_->mail_folders.entries();
  mail_scanned_.resize(entries.size(), 0);
  for (std::size_t e = 0; e < entries.size(); ++e) {
    const auto& items = entries[e].items;
    for (std::size_t& i = mail_scanned_[e]; i < items.size(); ++i) {
      if (items[i].folder_nid == folder_) {
        found.push_back(Row{Source::kMail, static_cast<std::uint32_t>(e), static_cast<std::uint32_t>(i)});
      }
    }
  }
  auto scan = [&](const auto& list, Source source) {
    std::size_t& from = scanned_[static_cast<std::size_t>(source) - 1];
    for (; from < list.size(); ++from) {
      if (list[from].folder_nid == folder_) found.push_back(Row{source, 0, static_cast<std::uint32_t>(from)});
    }
  };
  scan(result_->contacts, Source::kContact);
  scan(result_->tasks, Source::kTask);
  scan(result_->journal, Source::kJournal);
  scan(result_->notes, Source::kNote);
  scan(result_->calendar, Source::kCalendar);
  return found;
}

void ItemListModel::Refresh() {
  if (!result_) return;
  std::vector<Row> added = ScanNewRows();
  if (added.empty()) return;
  const int first = NewestFirst() ? 0 : static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
  rows_.insert(rows_.end(), added.begin(), added.end());
  endInsertRows();
}

int ItemListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(rows_.size());
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

const ItemListModel::Row& ItemListModel::RowAt(int row) const {
  const std::size_t r = static_cast<std::size_t>(row);
  return rows_[NewestFirst() ? rows_.size() - 1 - r : r];
}

Nid ItemListModel::NidAt(int row) const {
  if (!result_ || row < 0 || row >= rowCount()) return Nid();
  const Row& r = RowAt(row);
  std::lock_guard lock(result_->lists_mutex);
  switch (r.source) {
    case Source::kMail: return result_->mail_folders.entries()[r.entry].items[r.index].nid;
    case Source::kContact: return result_->contacts[r.index].nid;
    case Source::kTask: return result_->tasks[r.index].nid;
    case Source::kJournal: return result_->journal[r.index].nid;
    case Source::kNote: return result_->notes[r.index].nid;
    case Source::kCalendar: return result_->calendar[r.index].nid;
  }
  return Nid();
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
  if (!result_ || !index.isValid() || index.row() >= rowCount()) return {};
  const Row& row = RowAt(index.row());
  if (role == Qt::DecorationRole && index.column() == 0) {
    switch (row.source) {
      case Source::kMail: return item_icon(ItemIcon::kMail);
      case Source::kContact: return item_icon(ItemIcon::kContact);
      case Source::kTask: return item_icon(ItemIcon::kTask);
      case Source::kJournal: return item_icon(ItemIcon::kJournal);
      case Source::kNote: return item_icon(ItemIcon::kNote);
      case Source::kCalendar: return item_icon(ItemIcon::kAppointment);
    }
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  return Text(row, index.column());
}

namespace {

// The layout whose own rows an item of a list fills.
ListLayout layout_of(int source) {
  constexpr ListLayout kLayouts[] = {ListLayout::kMail,    ListLayout::kContacts, ListLayout::kTasks,
                                     ListLayout::kJournal, ListLayout::kNotes,    ListLayout::kCalendar};
  return kLayouts[source];
}

// The columns an item of another kind fills: its subject (or name) and its date, where the
// layout has them.
int subject_column(ListLayout layout) { return layout == ListLayout::kMail ? 1 : 0; }
int date_column(ListLayout layout) {
  switch (layout) {
    case ListLayout::kMail: return 3;
    case ListLayout::kTasks: return 1;
    case ListLayout::kNotes:
    case ListLayout::kCalendar: return 2;
    case ListLayout::kContacts:
    case ListLayout::kJournal: break;
  }
  return -1;
}

}  // namespace

QString ItemListModel::Text(const Row& row, int column) const {
  std::lock_guard lock(result_->lists_mutex);
  const std::size_t i = row.index;
  if (layout_of(static_cast<int>(row.source)) != layout_) {
    std::optional<std::string> title;
    std::optional<std::uint64_t> time;
    switch (row.source) {
      case Source::kMail: {
        const MailSummary& m = result_->mail_folders.entries()[row.entry].items[i];
        title = m.subject;
        time = m.delivery_time;
        break;
      }
      case Source::kContact: title = result_->contacts[i].display_name; break;
      case Source::kTask: title = result_->tasks[i].subject; time = result_->tasks[i].delivery_time; break;
      case Source::kJournal: title = result_->journal[i].subject; time = result_->journal[i].delivery_time; break;
      case Source::kNote: title = result_->notes[i].subject; time = result_->notes[i].delivery_time; break;
      case Source::kCalendar: {
        const CalendarSummary& c = result_->calendar[i];
        title = c.subject;
        time = c.start ? c.start : c.delivery_time;
        break;
      }
    }
    if (column == subject_column(layout_)) return text_or(title, "Unspecified");
    if (column == date_column(layout_)) return time_of(time);
    return {};
  }
  switch (row.source) {
    case Source::kMail: {
      const MailSummary& m = result_->mail_folders.entries()[row.entry].items[i];
      switch (column) {
        case 0: return text_or(m.sender_name, "None");
        case 1: return text_or(m.subject, "Unspecified");
        case 2: return text_or(m.display_to, "None");
        case 3: return time_of(m.delivery_time);
      }
      break;
    }
    case Source::kContact: {
      const ContactSummary& c = result_->contacts[i];
      switch (column) {
        case 0: return text_of(c.display_name);
        case 1: return text_of(c.fields.email_address);
        case 2: return text_of(c.fields.mobile_phone);
        case 3: return text_of(c.fields.postal_address);
      }
      break;
    }
    case Source::kTask: {
      const MailSummary& t = result_->tasks[i];
      return column == 0 ? text_of(t.subject) : time_of(t.delivery_time);
    }
    case Source::kJournal: {
      const JournalSummary& j = result_->journal[i];
      if (column == 0) return j.subject ? shortened_text(*j.subject) : QString();
      return text_of(j.entry_type);
    }
    case Source::kNote: {
      const NoteSummary& n = result_->notes[i];
      switch (column) {
        case 0: return text_of(n.subject);
        case 1: return n.text ? shortened_text(*n.text) : QString();
        case 2: return time_of(n.delivery_time);
      }
      break;
    }
    case Source::kCalendar: {
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
