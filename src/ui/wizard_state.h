#pragma once
// The texts one run of the wizard carries from screen to screen: the source chosen, where the
// PST goes, the file picked in the search results and the folders checked for saving. Owned by
// the application object; screens hold a reference. User-interface thread only.

#include <QString>
#include <cstdint>
#include <QStringList>

namespace salvora::ui {

struct WizardState {
  // The OST file chosen with Browse (or given on the command line), exactly as chosen.
  QString source_path;
  // The source's folder followed by "/Repair/": where the PST goes when no destination is chosen.
  QString output_folder;
  // The destination chosen with its Browse, followed by "/Repair"; empty when none was chosen.
  QString chosen_destination;
  // The "In Folder" text of the row last clicked in the search results.
  QString search_selection;
  // What Save writes, by the ending of the store's name: ".pst" (a PST file), ".mbox" (mbox
  // files for Thunderbird and Evolution) or ".eml" (one file per message).
  QString save_as = QStringLiteral(".pst");
  // The folders checked when Save was pressed, as paths ending in a backslash.
  QStringList selected_folders;
  // Split the PST before it passes this many bytes (the first screen's choice, kept in the
  // settings); 0: one PST whatever its size.
  std::uint64_t max_pst_size = 0;

  // The file the analysis opens: the source path when it names an existing file, else the
  // search selection.
  QString AnalysisSource() const;
};

}  // namespace salvora::ui
