#pragma once
// The folder tree of the recovery screen: the folders the analysis found, with check boxes for
// the ones to save.
//
// Checking a folder checks everything below it; after any change each ancestor is checked
// exactly when all of its children are. Checked folders are bold, and so is every ancestor of a
// bold folder, so a partly chosen branch shows from its top. User-interface thread only.

#include <QStringList>
#include <QTreeWidget>

#include "format/ids.h"

namespace salvora::ui {

class CFolderTreeCtrl1 : public QTreeWidget {
  Q_OBJECT

 public:
  // Data roles of an item: the folder's node id (0 for a folder only named on the way to
  // another) and its container class.
  static constexpr int kNidRole = Qt::UserRole + 1;
  static constexpr int kClassRole = Qt::UserRole + 2;

  explicit CFolderTreeCtrl1(QWidget* parent = nullptr);

  // Adds the folder of a path of backslash-separated names ("Personal Folders\Inbox\"), making
  // the folders on the way as needed; a folder already in the tree is never added twice. The
  // node id and class go to the last folder of the path when it has none yet. Returns it.
  QTreeWidgetItem* AddFolder(const QString& path, std::uint32_t nid = 0, const QString& container_class = {});

  // The paths of the checked folders below the top-level items, an item before its children;
  // the top-level items themselves are never listed.
  QStringList CollectCheckedFolders() const;

  // The path of an item: its name and its ancestors' joined by backslashes, ending in one.
  static QString FolderPath(const QTreeWidgetItem* item);

  // Checks or unchecks an item as a click on its box does, with the propagation.
  void SetChecked(QTreeWidgetItem* item, bool checked);

  QTreeWidgetItem* FindPath(const QString& path) const;

 signals:
  // The user chose a folder (click or keyboard).
  void folder_chosen(QTreeWidgetItem* item);

 private:
  void OnItemChanged(QTreeWidgetItem* item, int column);
  void SetSubtree(QTreeWidgetItem* item, Qt::CheckState state);
  void UpdateAncestors(QTreeWidgetItem* item);
  void RefreshBold(QTreeWidgetItem* item);
  bool updating_ = false;
};

}  // namespace salvora::ui
