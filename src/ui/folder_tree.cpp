#include "ui/folder_tree.h"

#include <QHeaderView>

#include "ui/icons.h"

namespace salvora::ui {

namespace {

QTreeWidgetItem* find_child(QTreeWidgetItem* parent, QTreeWidget* tree, const QString& name) {
  const int count = parent ? parent->childCount() : tree->topLevelItemCount();
  for (int i = 0; i < count; ++i) {
    QTreeWidgetItem* child = parent ? parent->child(i) : tree->topLevelItem(i);
    if (child->text(0) == name) return child;
  }
  return nullptr;
}

void collect(const QTreeWidgetItem* item, QStringList& out) {
  if (item->checkState(0) == Qt::Checked) out << CFolderTreeCtrl1::FolderPath(item);
  for (int i = 0; i < item->childCount(); ++i) collect(item->child(i), out);
}

bool is_bold(const QTreeWidgetItem* item) { return item->font(0).bold(); }

}  // namespace

CFolderTreeCtrl1::CFolderTreeCtrl1(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("folderTree"));
  setAccessibleName(QStringLiteral("Folders"));
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setIconSize(QSize(16, 16));
  setUniformRowHeights(true);
  header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  connect(this, &QTreeWidget::itemChanged, this, &CFolderTreeCtrl1::OnItemChanged);
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
    if (current) emit folder_chosen(current);
  });
  // A click on the folder already selected lists it again.
  connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
    if (item == currentItem()) emit folder_chosen(item);
  });
}

QTreeWidgetItem* CFolderTreeCtrl1::AddFolder(const QString& path, std::uint32_t nid, const QString& container_class) {
  const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
  QTreeWidgetItem* current = nullptr;
  const bool was_updating = updating_;
  updating_ = true;
  for (int i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    QTreeWidgetItem* child = find_child(current, this, parts[i]);
    if (!child) {
      child = current ? new QTreeWidgetItem(current) : new QTreeWidgetItem(this);
      child->setText(0, parts[i]);
      child->setFlags(child->flags() | Qt::ItemIsUserCheckable);
      // A folder added below a checked one is checked with it.
      child->setCheckState(0, current ? current->checkState(0) : Qt::Unchecked);
      child->setIcon(0, folder_icon(parts[i], last ? container_class : QString()));
      child->setData(0, kNidRole, 0u);
      if (current) current->setExpanded(true);
      RefreshBold(child);
    }
    if (last && nid != 0 && child->data(0, kNidRole).toUInt() == 0) {
      child->setData(0, kNidRole, nid);
      child->setData(0, kClassRole, container_class);
      child->setIcon(0, folder_icon(parts[i], container_class));
    }
    current = child;
  }
  updating_ = was_updating;
  return current;
}

QStringList CFolderTreeCtrl1::CollectCheckedFolders() const {
  QStringList out;
  for (int i = 0; i < topLevelItemCount(); ++i) {
    const QTreeWidgetItem* top = topLevelItem(i);
    for (int c = 0; c < top->childCount(); ++c) collect(top->child(c), out);
  }
  return out;
}

QString CFolderTreeCtrl1::FolderPath(const QTreeWidgetItem* item) {
  QString path;
  for (const QTreeWidgetItem* it = item; it; it = it->parent()) path.prepend(it->text(0) + QLatin1Char('\\'));
  return path;
}

QTreeWidgetItem* CFolderTreeCtrl1::FindPath(const QString& path) const {
  QTreeWidgetItem* current = nullptr;
  for (const QString& part : path.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
    current = find_child(current, const_cast<CFolderTreeCtrl1*>(this), part);
    if (!current) return nullptr;
  }
  return current;
}

void CFolderTreeCtrl1::SetChecked(QTreeWidgetItem* item, bool checked) {
  item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);  // OnItemChanged propagates
}

void CFolderTreeCtrl1::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (updating_ || column != 0) return;
  updating_ = true;
  SetSubtree(item, item->checkState(0));
  UpdateAncestors(item);
  updating_ = false;
}

void CFolderTreeCtrl1::SetSubtree(QTreeWidgetItem* item, Qt::CheckState state) {
  item->setCheckState(0, state);
  for (int i = 0; i < item->childCount(); ++i) SetSubtree(item->child(i), state);
  RefreshBold(item);
}

void CFolderTreeCtrl1::UpdateAncestors(QTreeWidgetItem* item) {
  for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent()) {
    bool all = true;
    for (int i = 0; i < parent->childCount() && all; ++i) all = parent->child(i)->checkState(0) == Qt::Checked;
    parent->setCheckState(0, all ? Qt::Checked : Qt::Unchecked);
    RefreshBold(parent);
  }
}

// Bold when checked or when any direct child is bold; children are settled before parents.
void CFolderTreeCtrl1::RefreshBold(QTreeWidgetItem* item) {
  bool bold = item->checkState(0) == Qt::Checked;
  for (int i = 0; i < item->childCount() && !bold; ++i) bold = is_bold(item->child(i));
  if (is_bold(item) == bold) return;
  QFont font = item->font(0);
  font.setBold(bold);
  item->setFont(0, font);
}

}  // namespace salvora::ui
