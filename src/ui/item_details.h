#pragma once
// What a mail program shows above an item's body: the fields of its kind (a mail's date and
// addresses, an appointment's times, place, attendees and recurrence, a contact's phones,
// addresses and e-mail, a task's dates and status, a note's colour, a journal entry's type and
// times) and the list of its attachments, which the user can open or save.
//
// The fields come from the item's record and, for those the record has no place for, from every
// property the object has. The view is a QTextBrowser that never fetches anything: every text is
// escaped, and its only links are its own attachment commands. User-interface thread only.

#include <QTextBrowser>
#include <vector>

#include "content/item_record.h"
#include "engine/analysis_results.h"
#include "engine/source_object.h"

namespace salvora::ui {

struct ItemDetails {
  struct Field {
    QString label;
    QString value;
  };
  struct Attachment {
    std::size_t index = 0;  // in the record's attachments
    QString name;
    qint64 size = 0;
    bool can_open = false;  // has bytes of its own (an attached item has none to open)
  };
  QString kind;  // "Mail", "Appointment", ...
  std::vector<Field> fields;
  std::vector<Attachment> attachments;
};

// The details of an item; source may be null (then only the record's own fields are shown).
ItemDetails item_details(const ItemRecord& record, const SourceObject* source, bool ansi_file);

// The details as a small HTML page, every text escaped.
QString details_html(const ItemDetails& details);

// A byte count as people read it: "512 bytes", "79 KB", "3.4 MB".
QString size_text(qint64 bytes);

class ItemDetailsView : public QTextBrowser {
  Q_OBJECT

 public:
  explicit ItemDetailsView(QWidget* parent = nullptr);

  // Shows the item's details; the record is kept for its attachments.
  void ShowItem(std::unique_ptr<ItemRecord> record, const SourceObject* source, const StoreInfo* store);
  void Clear();

  const ItemDetails& details() const { return details_; }
  // The attachment commands, as the links of the view call them. Open writes the attachment to
  // the program's temporary folder and hands it to the desktop; Save asks where to write it.
  // Both return the path written, or an empty text.
  QString OpenAttachment(std::size_t index);
  QString SaveAttachment(std::size_t index);

 protected:
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  bool WriteAttachment(std::size_t index, const QString& path);
  QString AttachmentName(std::size_t index) const;

  std::unique_ptr<ItemRecord> record_;
  const StoreInfo* store_ = nullptr;
  ItemDetails details_;
};

}  // namespace salvora::ui
