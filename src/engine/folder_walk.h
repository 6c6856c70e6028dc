#pragma once
// The depth-first walk below the mailbox root that both passes make: every node with data is
// visited once, a folder's children only after the folder, and the walk keeps one frame per
// folder entered so that the visitor can keep its path in step.

#include <cstdint>
#include <vector>

#include "ndb/node_tree.h"
#include "ndb/ost_context.h"
#include "platform/pass_control.h"

namespace salvora {

class FolderWalkVisitor {
 public:
  virtual ~FolderWalkVisitor() = default;
  // One node that has a data block. True when the node is a folder the visitor has entered
  // (pushed onto its path); the walk then visits its children and calls Leave after them.
  virtual bool Visit(const NodeRecord& node) = 0;
  // The folder entered last is done.
  virtual void Leave() = 0;
};

// Walks root's subtree, starting with its first child. False when the stop flag ended it.
bool WalkFolderTree(const NodeRecord& root, PassControl& control, FolderWalkVisitor& visitor);

// A visitor that also takes the orphans of a damaged store into "Recovered Items".
class RecoveringVisitor : public FolderWalkVisitor {
 public:
  // The walk moves into "Recovered Items": the path of what follows is kRecoveredItemsPath.
  virtual void EnterRecovered() = 0;
  // Folders the visitor met but could not read since the last call: their children are
  // orphans too.
  virtual std::vector<const NodeRecord*> TakeLostFolders() = 0;
};

// After the walk from root: the orphans of the store (FindOrphans) and the children of every
// folder the visitor could not read, each folder with its own subtree, until no new folder is
// lost. Nothing is entered when there are none. False when the stop flag ended it.
bool WalkRecovered(const OstContext& context, const NodeRecord* root, PassControl& control,
                   RecoveringVisitor& visitor);

// Both passes publish a progress total this many short of the nodes the walk visits, as the
// wizard's progress bars have always been set; a display that shows "N of TOTAL" adds it back.
inline constexpr std::int64_t kWalkProgressShortfall = 3;

// The number of nodes the walk will look at (those without data included, their children not),
// for a progress range.
std::int64_t CountWalkNodes(const NodeRecord& root, PassControl* control = nullptr);

}  // namespace salvora
