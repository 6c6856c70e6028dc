#include "engine/folder_walk.h"

#include <unordered_set>

#include "engine/folder_hierarchy.h"
#include "platform/reserved_array.h"

namespace salvora {

std::int64_t CountWalkNodes(const NodeRecord& root, PassControl* control) {
  std::int64_t count = 0;
  const NodeRecord* n = root.first_child();
  while (n) {
    if (control && control->StopRequested()) return count;
    if (++count % NodeTree::kNodesBetweenReleases == 0) release_file_backed_pages();
    if (n->data_block && n->first_child()) {
      n = n->first_child();
      continue;
    }
    while (n && !n->next_sibling()) {
      n = n->parent();
      if (!n || n == &root) return count;
    }
    if (n) n = n->next_sibling();
  }
  return count;
}

bool WalkFolderTree(const NodeRecord& root, PassControl& control, FolderWalkVisitor& visitor) {
  // The bottom frame stands for the root; climbing past it ends the walk.
  int frames = 1;
  const NodeRecord* node = root.first_child();
  std::uint32_t visited = 0;
  while (node) {
    if (control.Poll()) return false;
    // The node records read so far need not stay in memory (a mailbox has millions of them).
    if (++visited % NodeTree::kNodesBetweenReleases == 0) release_file_backed_pages();
    bool entered = node->data_block && visitor.Visit(*node);
    if (entered && node->first_child()) {
      ++frames;
      node = node->first_child();
      continue;
    }
    if (entered) visitor.Leave();  // a folder without children is left at once
    while (!node->next_sibling() && node->parent()) {
      if (--frames == 0) return true;
      visitor.Leave();
      node = node->parent();
    }
    node = node->next_sibling();
  }
  return true;
}

bool WalkRecovered(const OstContext& context, const NodeRecord* root, PassControl& control,
                   RecoveringVisitor& visitor) {
  std::vector<const NodeRecord*> pending = FindOrphans(context, root);
  auto add_children_of_lost = [&] {
    for (const NodeRecord* folder : visitor.TakeLostFolders()) {
      for (const NodeRecord* c = folder->first_child(); c; c = c->next_sibling()) {
        if (is_folder_or_message(*c)) pending.push_back(c);
      }
    }
  };
  add_children_of_lost();
  bool entered_recovered = false;
  // A damaged tree may list a node twice (an orphan and a child of a lost folder): each once.
  std::unordered_set<const NodeRecord*> done;
  while (!pending.empty()) {
    if (!entered_recovered) {
      visitor.EnterRecovered();
      entered_recovered = true;
    }
    std::vector<const NodeRecord*> batch = std::move(pending);
    pending.clear();
    for (const NodeRecord* n : batch) {
      if (control.Poll()) return false;
      if (!done.insert(n).second || !n->data_block) continue;
      if (!visitor.Visit(*n)) continue;
      // A folder entered here is left here: WalkFolderTree never leaves the folder it starts at.
      if (n->first_child() && !WalkFolderTree(*n, control, visitor)) return false;
      visitor.Leave();
    }
    add_children_of_lost();
  }
  return true;
}

}  // namespace salvora
