#include "ui/item_details.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "format/byte_reader.h"
#include "platform/temp_folder.h"
#include "ui/file_choosers.h"
#include "ui/item_list_model.h"
#include "ui/ui_services.h"
#include "writer/source_stream.h"

namespace salvora::ui {

namespace {

// Named properties by the numeric names their property sets give them.
namespace lid {
constexpr std::uint32_t kTaskStatus = 0x8101, kPercentComplete = 0x8102, kTaskStart = 0x8104,
                        kTaskDue = 0x8105, kTaskOwner = 0x811F;
constexpr std::uint32_t kLocation = 0x8208, kAppointmentStart = 0x820D, kAppointmentEnd = 0x820E,
                        kRecurring = 0x8223, kRecurrencePattern = 0x8232, kToAttendees = 0x823B,
                        kCcAttendees = 0x823C;
constexpr std::uint32_t kHomeAddress = 0x801A, kWorkAddress = 0x801B, kOtherAddress = 0x801C,
                        kEmail1 = 0x8083, kEmail2 = 0x8093, kEmail3 = 0x80A3;
constexpr std::uint32_t kLogType = 0x8700, kLogStart = 0x8706, kLogDuration = 0x8707, kLogEnd = 0x8708;
constexpr std::uint32_t kNoteColor = 0x8B00;
}  // namespace lid

constexpr std::uint16_t kPidLastModified = 0x3008;
constexpr std::uint16_t kPidStartDate = 0x0060, kPidEndDate = 0x0061;
constexpr std::int32_t kAttachEmbedded = 5;
// Outlook's "no date" (1 January 4501) and anything past it is no date to show.
constexpr std::uint64_t kNoDate = 0x0CB34557A3DD4000ULL;

class Fields {
 public:
  Fields(const SourceObject* source, bool ansi) : source_(source), ansi_(ansi) {}

  const PropertyEntry* named(std::uint32_t numeric_name) const { return find(numeric_name, true); }
  const PropertyEntry* tagged(std::uint16_t id) const { return find(id, false); }

  QString text(const PropertyEntry* e) const {
    if (!e || !e->value) return {};
    return display_text(value_text(*e, source_->codepage, ansi_, true)).trimmed();
  }
  // The same keeping its lines, for a postal address.
  QString lines(const PropertyEntry* e) const {
    if (!e || !e->value) return {};
    return lines_of(value_text(*e, source_->codepage, ansi_, true));
  }
  static QString lines_of(const std::string& value) {
    QStringList out;
    for (const QString& line : QString::fromStdString(value).split(QLatin1Char('\n'))) {
      if (const QString t = display_text(line.toStdString()).trimmed(); !t.isEmpty()) out << t;
    }
    return out.join(QLatin1Char('\n'));
  }
  static std::optional<std::uint64_t> time(const PropertyEntry* e) {
    if (!e) return std::nullopt;
    const auto t = value_u64(*e);
    if (!t || *t == 0 || *t >= kNoDate) return std::nullopt;
    return t;
  }
  static std::optional<std::int32_t> i32(const PropertyEntry* e) { return e ? value_i32(*e) : std::nullopt; }
  static std::optional<double> f64(const PropertyEntry* e) {
    if (!e || !e->value || e->value->size() < 8) return std::nullopt;
    return load_f64(*e->value, 0);
  }

 private:
  const PropertyEntry* find(std::uint32_t id, bool named) const {
    if (!source_) return nullptr;
    for (const auto& e : source_->properties) {
      if ((e.raw_id >= 0x8000) == named && (named ? e.id : e.raw_id) == id) return &e;
    }
    return nullptr;
  }
  const SourceObject* source_;
  bool ansi_;
};

QString text_of(const std::optional<std::string>& s) { return s ? display_text(*s).trimmed() : QString(); }

QString time_text(std::optional<std::uint64_t> t) {
  return t && *t != 0 && *t < kNoDate ? display_time(*t) : QString();
}

void add(ItemDetails& d, const char* label, const QString& value) {
  if (!value.isEmpty()) d.fields.push_back({QString::fromLatin1(label), value});
}

QString first_of(std::initializer_list<QString> values) {
  for (const QString& v : values) {
    if (!v.isEmpty()) return v;
  }
  return {};
}

QString task_status(std::int32_t status) {
  switch (status) {
    case 0: return QStringLiteral("Not started");
    case 1: return QStringLiteral("In progress");
    case 2: return QStringLiteral("Completed");
    case 3: return QStringLiteral("Waiting on someone else");
    case 4: return QStringLiteral("Deferred");
    default: return QStringLiteral("Status %1").arg(status);
  }
}

QString note_colour(std::int32_t colour) {
  static const char* const kNames[] = {"Blue", "Green", "Pink", "Yellow", "White"};
  return colour >= 0 && colour < 5 ? QString::fromLatin1(kNames[colour]) : QStringLiteral("Colour %1").arg(colour);
}

// A postal address from its parts, one line, where no whole address was kept.
QString joined_address(std::initializer_list<const std::optional<std::string>*> parts) {
  QStringList out;
  for (const auto* p : parts) {
    if (const QString t = text_of(*p); !t.isEmpty()) out << t;
  }
  return out.join(QStringLiteral(", "));
}

void mail_fields(ItemDetails& d, const ItemRecord& r) {
  const MessageFields* m = r.message ? &*r.message : nullptr;
  if (!m) return;
  add(d, "Date", time_text(m->delivery_time ? m->delivery_time : m->submit_time));
  QString from = text_of(m->sender_name);
  const QString address = text_of(m->sender_address);
  if (!address.isEmpty() && address != from) from = from.isEmpty() ? address : from + QStringLiteral(" <%1>").arg(address);
  add(d, "From", from);
  add(d, "To", text_of(m->display_to));
  add(d, "Cc", text_of(m->display_cc));
  add(d, "Subject", m->subject ? display_text(m->subject->text) : QString());
}

void appointment_fields(ItemDetails& d, const ItemRecord& r, const Fields& f) {
  const AppointmentFields* a = r.appointment ? &*r.appointment : nullptr;
  add(d, "Subject", r.message && r.message->subject ? display_text(r.message->subject->text) : QString());
  add(d, "Location", first_of({a ? text_of(a->location) : QString(), f.text(f.named(lid::kLocation))}));
  add(d, "Start", time_text(a && a->start ? a->start
                                          : Fields::time(f.named(lid::kAppointmentStart)).value_or(
                                                Fields::time(f.tagged(kPidStartDate)).value_or(0))));
  add(d, "End", time_text(a && a->end ? a->end
                                      : Fields::time(f.named(lid::kAppointmentEnd)).value_or(
                                            Fields::time(f.tagged(kPidEndDate)).value_or(0))));
  QString recurrence = f.text(f.named(lid::kRecurrencePattern));
  if (recurrence.isEmpty() && Fields::i32(f.named(lid::kRecurring)).value_or(0) != 0) recurrence = QStringLiteral("Recurring");
  add(d, "Recurrence", recurrence);
  add(d, "Organizer", r.message ? text_of(r.message->sender_name) : QString());
  add(d, "Required", first_of({f.text(f.named(lid::kToAttendees)), r.message ? text_of(r.message->display_to) : QString()}));
  add(d, "Optional", first_of({f.text(f.named(lid::kCcAttendees)), r.message ? text_of(r.message->display_cc) : QString()}));
}

void contact_fields(ItemDetails& d, const ItemRecord& r, const Fields& f) {
  const ContactFields c = r.contact.value_or(ContactFields{});
  QString name = text_of(r.display_name);
  if (name.isEmpty()) name = joined_address({&c.given_name, &c.middle_name, &c.surname}).replace(QStringLiteral(", "), QStringLiteral(" "));
  add(d, "Name", name);
  add(d, "Company", text_of(c.company));
  add(d, "Job title", text_of(c.job_title));
  QStringList mails;
  for (const std::uint32_t id : {lid::kEmail1, lid::kEmail2, lid::kEmail3}) {
    if (const QString m = f.text(f.named(id)); !m.isEmpty() && !mails.contains(m)) mails << m;
  }
  if (const QString m = text_of(c.email_address); !m.isEmpty() && !mails.contains(m)) mails << m;
  add(d, "E-mail", mails.join(QStringLiteral("; ")));
  add(d, "Business phone", text_of(c.business_phone));
  add(d, "Home phone", text_of(c.home_phone));
  add(d, "Mobile phone", text_of(c.mobile_phone));
  add(d, "Other phone", text_of(c.other_phone));
  add(d, "Business fax", text_of(c.business_fax));
  add(d, "Business address",
      first_of({f.lines(f.named(lid::kWorkAddress)), text_of(c.business_address),
                joined_address({&c.business_street, &c.business_city, &c.business_state, &c.business_postal_code,
                                &c.business_country})}));
  add(d, "Home address",
      first_of({f.lines(f.named(lid::kHomeAddress)),
                joined_address({&c.home_street, &c.home_city, &c.home_state, &c.home_postal_code, &c.home_country})}));
  add(d, "Other address", first_of({f.lines(f.named(lid::kOtherAddress)), text_of(c.other_address)}));
  add(d, "Postal address", c.postal_address ? Fields::lines_of(*c.postal_address) : QString());
  add(d, "Web page", first_of({text_of(c.business_home_page), text_of(c.personal_home_page)}));
  add(d, "Birthday", time_text(c.birthday));
}

void task_fields(ItemDetails& d, const ItemRecord& r, const Fields& f) {
  add(d, "Subject", r.message && r.message->subject ? display_text(r.message->subject->text) : QString());
  add(d, "Start date", time_text(Fields::time(f.named(lid::kTaskStart))));
  add(d, "Due date", time_text(Fields::time(f.named(lid::kTaskDue))));
  if (const auto s = Fields::i32(f.named(lid::kTaskStatus))) add(d, "Status", task_status(*s));
  if (const auto p = Fields::f64(f.named(lid::kPercentComplete)); p && *p >= 0 && *p <= 1) {
    add(d, "Complete", QStringLiteral("%1%").arg(qRound(*p * 100)));
  }
  add(d, "Owner", f.text(f.named(lid::kTaskOwner)));
}

void note_fields(ItemDetails& d, const ItemRecord& r, const Fields& f) {
  add(d, "Subject", r.message && r.message->subject ? display_text(r.message->subject->text) : QString());
  if (const auto c = Fields::i32(f.named(lid::kNoteColor))) add(d, "Colour", note_colour(*c));
  add(d, "Modified", time_text(Fields::time(f.tagged(kPidLastModified))));
}

void journal_fields(ItemDetails& d, const ItemRecord& r, const Fields& f) {
  add(d, "Subject", r.message && r.message->subject ? display_text(r.message->subject->text) : QString());
  add(d, "Entry type", first_of({r.journal ? text_of(r.journal->entry_type) : QString(), f.text(f.named(lid::kLogType))}));
  add(d, "Start", time_text(Fields::time(f.named(lid::kLogStart))));
  add(d, "End", time_text(Fields::time(f.named(lid::kLogEnd))));
  if (const auto minutes = Fields::i32(f.named(lid::kLogDuration)); minutes && *minutes > 0) {
    add(d, "Duration", QStringLiteral("%1 minute(s)").arg(*minutes));
  }
}

// A name that can be a file in a folder of ours: no folder parts, never empty.
QString safe_file_name(QString name, std::size_t index) {
  name = QFileInfo(name.replace(QLatin1Char('\\'), QLatin1Char('/'))).fileName();
  name.remove(QLatin1Char('\0'));
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
    name = QStringLiteral("attachment-%1").arg(index + 1);
  return name;
}

bool class_is(const QString& item_class, const char* prefix) {
  return item_class.compare(QLatin1String(prefix), Qt::CaseInsensitive) == 0 ||
         item_class.startsWith(QLatin1String(prefix) + QLatin1Char('.'), Qt::CaseInsensitive);
}

// The kind by the item's own class, which says what it is wherever it is kept; the record's kind
// where the class says nothing known.
ItemKind kind_of(const ItemRecord& record) {
  const QString c = record.item_class ? QString::fromStdString(*record.item_class) : QString();
  if (class_is(c, "IPM.Appointment") || class_is(c, "IPM.Schedule.Meeting")) return ItemKind::kAppointment;
  if (class_is(c, "IPM.Contact") || class_is(c, "IPM.DistList")) return ItemKind::kContact;
  if (class_is(c, "IPM.Task")) return ItemKind::kTask;
  if (class_is(c, "IPM.StickyNote")) return ItemKind::kStickyNote;
  if (class_is(c, "IPM.Activity")) return ItemKind::kJournal;
  if (class_is(c, "IPM")) return ItemKind::kMail;
  return record.kind;
}

}  // namespace

QString size_text(qint64 bytes) {
  if (bytes < 1024) return QStringLiteral("%1 bytes").arg(bytes);
  if (bytes < 1024 * 1024) return QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
  return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

ItemDetails item_details(const ItemRecord& record, const SourceObject* source, bool ansi_file) {
  ItemDetails d;
  const Fields fields(source, ansi_file);
  switch (kind_of(record)) {
    case ItemKind::kAppointment:
      d.kind = QStringLiteral("Appointment");
      appointment_fields(d, record, fields);
      break;
    case ItemKind::kContact:
      d.kind = QStringLiteral("Contact");
      contact_fields(d, record, fields);
      break;
    case ItemKind::kTask:
      d.kind = QStringLiteral("Task");
      task_fields(d, record, fields);
      break;
    case ItemKind::kStickyNote:
      d.kind = QStringLiteral("Note");
      note_fields(d, record, fields);
      break;
    case ItemKind::kJournal:
      d.kind = QStringLiteral("Journal entry");
      journal_fields(d, record, fields);
      break;
    default:
      d.kind = QStringLiteral("Mail");
      mail_fields(d, record);
      break;
  }
  for (std::size_t i = 0; i < record.attachments.size(); ++i) {
    const AttachmentNode& a = record.attachments[i];
    ItemDetails::Attachment out;
    out.index = i;
    out.name = first_of({text_of(a.long_file_name), text_of(a.file_name), text_of(a.display_name)});
    if (out.name.isEmpty()) out.name = QStringLiteral("Attachment %1").arg(i + 1);
    out.size = a.data ? static_cast<qint64>(a.data->size()) : a.data_size;
    const bool embedded = a.method.value_or(0) == kAttachEmbedded || a.object_nid != 0;
    out.can_open = !embedded && (a.data || a.data_bid.value != 0);
    d.attachments.push_back(std::move(out));
  }
  return d;
}

QString details_html(const ItemDetails& details) {
  QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"1\">");
  for (const auto& f : details.fields) {
    QString value = f.value.toHtmlEscaped();
    value.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    html += QStringLiteral("<tr><td><b>%1:</b>&nbsp;</td><td>%2</td></tr>").arg(f.label.toHtmlEscaped(), value);
  }
  if (!details.attachments.empty()) {
    QString list;
    for (const auto& a : details.attachments) {
      if (!list.isEmpty()) list += QStringLiteral("<br>");
      list += QStringLiteral("%1 (%2)").arg(a.name.toHtmlEscaped(), size_text(a.size));
      if (a.can_open) {
        list += QStringLiteral(" &nbsp;<a href=\"open:%1\">Open</a> &nbsp;<a href=\"save:%1\">Save As...</a>").arg(a.index);
      } else {
        list += QStringLiteral(" (an attached item, saved with the mail)");
      }
    }
    html += QStringLiteral("<tr><td valign=\"top\"><b>Attachments:</b>&nbsp;</td><td>%1</td></tr>").arg(list);
  }
  return html + QStringLiteral("</table>");
}

ItemDetailsView::ItemDetailsView(QWidget* parent) : QTextBrowser(parent) {
  setObjectName(QStringLiteral("previewDetails"));
  setAccessibleName(QStringLiteral("Item details"));
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setReadOnly(true);
  setFrameShape(QFrame::NoFrame);
  connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
    bool ok = false;
    const std::size_t index = url.path().toULongLong(&ok);
    if (!ok) return;
    if (url.scheme() == QLatin1String("open")) OpenAttachment(index);
    else if (url.scheme() == QLatin1String("save")) SaveAttachment(index);
  });
}

void ItemDetailsView::ShowItem(std::unique_ptr<ItemRecord> record, const SourceObject* source, const StoreInfo* store) {
  const bool ansi = store && store->header.layout == FileLayout::kAnsi;
  details_ = item_details(*record, source, ansi);
  record_ = std::move(record);
  store_ = store;
  setHtml(details_html(details_));
  setAccessibleDescription(toPlainText());
}

void ItemDetailsView::Clear() {
  record_.reset();
  store_ = nullptr;
  details_ = {};
  clear();
  setAccessibleDescription({});
}

QString ItemDetailsView::AttachmentName(std::size_t index) const {
  for (const auto& a : details_.attachments) {
    if (a.index == index) return safe_file_name(a.name, index);
  }
  return {};
}

bool ItemDetailsView::WriteAttachment(std::size_t index, const QString& path) {
  if (!record_ || index >= record_->attachments.size()) return false;
  const AttachmentNode& a = record_->attachments[index];
  QFile out(path);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    inform(this, QStringLiteral("The attachment could not be written to %1: %2").arg(path, out.errorString()),
           QMessageBox::Warning);
    return false;
  }
  bool complete = true;
  if (a.data) {
    complete = out.write(reinterpret_cast<const char*>(a.data->data()), static_cast<qint64>(a.data->size())) ==
               static_cast<qint64>(a.data->size());
  } else {
    // Large attachments were left in the file by the reading; they come straight from its blocks.
    OstContext context;
    complete = store_ && OpenFromStoreInfo(context, *store_) == 0;
    if (complete) {
      SourceValueStream stream(context, a.data_bid);
      std::vector<std::uint8_t> buffer(1 << 16);
      while (const std::size_t n = stream.read(buffer)) {
        if (out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<qint64>(n)) != static_cast<qint64>(n)) {
          complete = false;
          break;
        }
      }
      complete = complete && !stream.failed();
    }
  }
  complete = out.flush() && complete;
  out.close();
  if (!complete) {
    QFile::remove(path);  // a part of a file passed off as the whole would mislead
    inform(this, QStringLiteral("The attachment could not be read whole from the source file."), QMessageBox::Warning);
  }
  return complete;
}

QString ItemDetailsView::OpenAttachment(std::size_t index) {
  const QString name = AttachmentName(index);
  if (name.isEmpty()) return {};
  // A folder per opening: two attachments of one name never overwrite each other.
  const QString folder = QString::fromStdString(new_temp_file_path("attachment"));
  if (!QDir().mkpath(folder)) return {};
  const QString path = QDir(folder).filePath(name);
  if (!WriteAttachment(index, path)) return {};
  open_in_viewer(this, path);
  return path;
}

QString ItemDetailsView::SaveAttachment(std::size_t index) {
  const QString name = AttachmentName(index);
  if (name.isEmpty()) return {};
  const auto path = file_choosers().save_file(this, QStringLiteral("Save Attachment"), QDir::home().filePath(name));
  if (!path || !WriteAttachment(index, *path)) return {};
  return *path;
}

QVariant ItemDetailsView::loadResource(int, const QUrl&) {
  return {};  // the details name no pictures; nothing is ever fetched
}

}  // namespace salvora::ui
