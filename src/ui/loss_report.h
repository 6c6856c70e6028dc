#pragma once
// The losses of an analysed store in the user's words: each line the analysis (or a save) gives
// for an object it could not read is told by the folder it belongs to and the subject of the
// item where the analysis knows it, instead of by node numbers. The activity log keeps the
// original lines with their node ids.
//
// Built after the analysis pass has ended; user-interface thread only.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/analysis_results.h"

namespace salvora::ui {

class CFolderTreeCtrl1;

struct NamedLoss {
  QString folder_path;  // the tree's path of the folder it belongs to ("Personal Folders\Inbox\"); empty when none
  QString text;         // what was lost, by folder path and subject where known
};

class LossNamer {
 public:
  explicit LossNamer(const AnalysisResult& result);

  NamedLoss Name(const std::string& line) const;
  std::vector<NamedLoss> NameAll(const std::vector<std::string>& lines) const;

 private:
  QString FolderOf(std::uint32_t nid) const;
  QString Object(const QString& kind, std::uint32_t nid) const;

  std::unordered_map<std::uint32_t, std::string> folder_paths_;
  std::unordered_map<std::uint32_t, std::string> subjects_;
  std::shared_ptr<NodeTree> nodes_;
};

// A folder path as the user reads it: without its trailing backslash.
QString shown_path(const QString& folder_path);

// The page the recovery screen shows when the analysis has ended: whether the store was read
// whole, else how many objects were lost and where.
QString completion_page_html(const std::vector<NamedLoss>& losses, std::size_t rebuilt,
                             const QString& codepage_note = {});

// Marks each folder holding losses in the tree (a warning icon and the losses as its tool tip
// and accessible description); losses outside any folder mark the top of the tree.
void mark_loss_folders(CFolderTreeCtrl1& tree, const std::vector<NamedLoss>& losses);

}  // namespace salvora::ui
