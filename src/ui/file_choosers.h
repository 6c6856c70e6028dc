#pragma once
// The file and folder dialogs of the wizard's screens, behind replaceable functions so that tests
// choose files without a native dialog. User-interface thread only.

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace salvora::ui {

struct FileChoosers {
  // An existing file to open; nullopt when the user cancelled.
  std::function<std::optional<QString>(QWidget* parent, const QString& caption, const QString& start_folder,
                                       const QString& filter)>
      open_file;
  // A folder; nullopt when the user cancelled. An empty text is a choice, not a cancel.
  std::function<std::optional<QString>(QWidget* parent, const QString& caption, const QString& start_folder)>
      choose_folder;
  // A file to write, suggested_path filled in; nullopt when the user cancelled.
  std::function<std::optional<QString>(QWidget* parent, const QString& caption, const QString& suggested_path)>
      save_file;
};

// The process's choosers; tests replace members and restore them with reset_file_choosers().
FileChoosers& file_choosers();
void reset_file_choosers();

}  // namespace salvora::ui
