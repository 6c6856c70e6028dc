#pragma once
// The item list of the recovery screen: every item the analysis found in one folder, in the
// layout of the folder's kind. An item of another kind (a mail in a contacts folder) still gets
// a row, with its own icon and its subject or name in the layout's subject column. A model over the analysis's own lists: it keeps only row
// numbers, reads a row's texts when the view draws it, and never copies a record, so a folder
// of 100,000 items lists at once.
//
// The analysis may still be running: its lists are read under their lock, and Refresh() adds
// the rows found since the last call. User-interface thread only.

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/analysis_results.h"

namespace salvora::ui {

enum class ListLayout { kMail, kContacts, kTasks, kJournal, kNotes, kCalendar };

// The layout for a folder of this container class: contacts, tasks, journal, notes and calendar
// by class, whatever the folder's name and depth; every other folder lists mail.
ListLayout layout_for_class(const QString& container_class);

// A text as the list shows it: control characters become blanks; other characters, in any
// script, stay.
QString display_text(const std::string& text);
// The same, shortened for display to its first 200 characters and "..." when longer than 254.
QString shortened_text(const std::string& text);
// A FILETIME as "Wed Jun 30 21:49:08 1993" in the user's local time zone; empty for 0.
QString display_time(std::uint64_t filetime);

class ItemListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ItemListModel(QObject* parent = nullptr);

  // Shows the items of one folder; the result must outlive the model or the next call.
  void ShowFolder(const AnalysisResult* result, Nid folder, ListLayout layout);
  void Clear();
  // Adds the rows the analysis found for the folder since the last call.
  void Refresh();

  ListLayout layout() const { return layout_; }
  Nid folder() const { return folder_; }
  Nid NidAt(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  // Where a row's item is in the analysis's lists: its kind's list, and for mail the folder
  // entry it was filed under (a mail whose folder is not a mail folder sits in another
  // folder's entry, so every entry is looked at).
  enum class Source : std::uint8_t { kMail, kContact, kTask, kJournal, kNote, kCalendar };
  struct Row {
    Source source;
    std::uint32_t entry;
    std::uint32_t index;
  };
  static constexpr std::size_t kOtherLists = 5;  // contacts, tasks, journal, notes, calendar

  // Rows found for the folder, under the lock, from where the last look ended in each list.
  std::vector<Row> ScanNewRows();
  const Row& RowAt(int row) const;
  QString Text(const Row& row, int column) const;
  bool NewestFirst() const { return layout_ == ListLayout::kTasks || layout_ == ListLayout::kNotes; }

  const AnalysisResult* result_ = nullptr;
  Nid folder_;
  ListLayout layout_ = ListLayout::kMail;
  std::vector<Row> rows_;  // in the order found
  std::vector<std::size_t> mail_scanned_;
  std::array<std::size_t, kOtherLists> scanned_{};
};

}  // namespace salvora::ui
