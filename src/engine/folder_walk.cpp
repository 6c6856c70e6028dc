#include "engine/folder_walk.h"

namespace salvora {

std::int64_t CountWalkNodes(const NodeRecord& root, PassControl* control) {
  std::int64_t count = 0;
  const NodeRecord* n = root.first_child;
  while (n) {
    if (control && control->StopRequested()) return count;
    ++count;
    if (n->data_block && n->first_child) {
      n = n->first_child;
      continue;
    }
    while (n && !n->next_sibling) {
      n = n->parent;
      if (!n || n == &root) return count;
    }
    if (n) n = n->next_sibling;
  }
  return count;
}

bool WalkFolderTree(const NodeRecord& root, PassControl& control, FolderWalkVisitor& visitor) {
  // The bottom frame stands for the root; climbing past it ends the walk.
  int frames = 1;
  const NodeRecord* node = root.first_child;
  while (node) {
    if (control.Poll()) return false;
    bool entered = node->data_block && visitor.Visit(*node);
    if (entered && node->first_child) {
      ++frames;
      node = node->first_child;
      continue;
    }
    if (entered) visitor.Leave();  // a folder without children is left at once
    while (!node->next_sibling && node->parent) {
      if (--frames == 0) return true;
      visitor.Leave();
      node = node->parent;
    }
    node = node->next_sibling;
  }
  return true;
}

}  // namespace salvora
