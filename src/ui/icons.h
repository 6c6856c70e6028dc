#pragma once
// The small pictures of the folder tree and the item list, from the icons/ folder of the
// installed resources. A picture that is missing falls back to the desktop style's folder or
// file icon, so a damaged installation still shows a usable tree.

#include <QIcon>
#include <QString>

namespace salvora::ui {

// The picture of a folder of the tree, chosen by its display name and its container class.
QIcon folder_icon(const QString& name, const QString& container_class);

enum class ItemIcon { kMail, kContact, kTask, kJournal, kNote, kAppointment };
QIcon item_icon(ItemIcon which);

// The program's own icon, for windows and dialogs.
QIcon application_icon();

// The file name (under icons/) that a folder's name and class select, for tests.
QString folder_icon_name(const QString& name, const QString& container_class);

}  // namespace salvora::ui
