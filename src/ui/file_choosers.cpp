#include "ui/file_choosers.h"

#include <QFileDialog>

namespace salvora::ui {

namespace {

FileChoosers default_choosers() {
  FileChoosers choosers;
  choosers.open_file = [](QWidget* parent, const QString& caption, const QString& start_folder,
                          const QString& filter) -> std::optional<QString> {
    const QString path = QFileDialog::getOpenFileName(parent, caption, start_folder, filter);
    if (path.isEmpty()) return std::nullopt;
    return path;
  };
  choosers.choose_folder = [](QWidget* parent, const QString& caption,
                              const QString& start_folder) -> std::optional<QString> {
    // The dialog cannot return an empty choice: empty always means Cancel here.
    const QString folder = QFileDialog::getExistingDirectory(parent, caption, start_folder);
    if (folder.isEmpty()) return std::nullopt;
    return folder;
  };
  choosers.save_file = [](QWidget* parent, const QString& caption,
                          const QString& suggested_path) -> std::optional<QString> {
    const QString path = QFileDialog::getSaveFileName(parent, caption, suggested_path);
    if (path.isEmpty()) return std::nullopt;
    return path;
  };
  return choosers;
}

}  // namespace

FileChoosers& file_choosers() {
  static FileChoosers choosers = default_choosers();
  return choosers;
}

void reset_file_choosers() { file_choosers() = default_choosers(); }

}  // namespace salvora::ui
