#include "writer/outside_mailbox.h"

#include "engine/object_loader.h"

namespace salvora {

namespace {

constexpr int kMaxDepth = 64;

struct Kinds {
  int shortcuts = 0;
  int search_definitions = 0;
  int views = 0;
  int other = 0;
  bool any() const { return shortcuts + search_definitions + views + other != 0; }
};

std::unique_ptr<ItemRecord> load(const OstContext& context, const NodeRecord& node) {
  try {
    return LoadItem(context, &node, AttachmentLoad::kTableOnly);
  } catch (const std::exception&) {
    return nullptr;
  }
}

void count(Kinds& kinds, const std::string& cls) {
  if (cls.starts_with("IPM.Microsoft.WunderBar.Link")) {
    ++kinds.shortcuts;
  } else if (cls.starts_with("IPM.Microsoft.WunderBar.SFInfo")) {
    ++kinds.search_definitions;
  } else if (cls.starts_with("IPM.Microsoft.FolderDesign")) {
    ++kinds.views;
  } else {
    ++kinds.other;
  }
}

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

class Describer {
 public:
  Describer(const OstContext& context, const NodeRecord* top) : context_(context), top_(top) {}

  void Folder(const NodeRecord& folder, const std::string& path, int depth) {
    if (&folder == top_ || depth > kMaxDepth) return;
    Kinds kinds;
    for (const NodeRecord* c = folder.first_child(); c; c = c->next_sibling()) {
      const auto type = c->nid.type();
      if (type == kNidTypeAssocMessage) {
        const auto record = load(context_, *c);
        count(kinds, record && record->item_class ? *record->item_class : std::string());
      } else if (type == kNidTypeNormalFolder || type == kNidTypeSearchFolder) {
        const auto record = load(context_, *c);
        const std::string name = record && record->display_name ? *record->display_name : std::to_string(c->nid.value);
        if (type == kNidTypeSearchFolder && !outlooks_own(name)) searches_.push_back("\"" + path + name + "\"");
        Folder(*c, path + name + "\\", depth + 1);
      }
    }
    if (!kinds.any()) return;
    std::vector<std::string> parts;
    if (kinds.shortcuts) parts.push_back(counted(kinds.shortcuts, "navigation-pane shortcut", "navigation-pane shortcuts"));
    if (kinds.search_definitions)
      parts.push_back(counted(kinds.search_definitions, "search folder definition", "search folder definitions"));
    if (kinds.views) parts.push_back(counted(kinds.views, "saved view", "saved views"));
    if (kinds.other) parts.push_back(counted(kinds.other, "other hidden setting", "other hidden settings"));
    std::string list;
    for (std::size_t i = 0; i < parts.size(); ++i) list += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    const bool one = parts.size() == 1 && list.starts_with("1 ");
    lines_.push_back("\"" + (path.empty() ? std::string("(the store's root)") : path) + "\": " + list +
                     (one ? " was" : " were") + " not carried: " + std::string(kWhy));
  }

  std::vector<std::string> take() {
    if (!searches_.empty()) {
      std::string list;
      for (std::size_t i = 0; i < searches_.size(); ++i) list += (i == 0 ? "" : ", ") + searches_[i];
      lines_.push_back((searches_.size() == 1 ? "search folder " : "search folders ") + list +
                       (searches_.size() == 1 ? " was" : " were") + " not carried: " + std::string(kWhy));
    }
    return std::move(lines_);
  }

 private:
  static constexpr std::string_view kWhy =
      "a PST made here holds the mailbox's own folders only; they can be made again in Outlook";
  // The search folders Outlook keeps for itself and makes again in any store it opens.
  static bool outlooks_own(const std::string& name) {
    static constexpr std::string_view kOwn[] = {"Reminders", "To-Do Search", "Tracked Mail Processing", "ItemProcSearch",
                                                "SPAM Search Folder 2", "Contact Search", "Document Search",
                                                "AllItems", "AllContacts", "AllTodoItems"};
    for (std::string_view own : kOwn)
      if (name == own) return true;
    return false;
  }

  const OstContext& context_;
  const NodeRecord* top_;
  std::vector<std::string> lines_;
  std::vector<std::string> searches_;  // the user's, by path
};

}  // namespace

std::vector<std::string> DescribeOutsideMailbox(const OstContext& context, const NodeRecord* top) {
  const NodeRecord* root = FindNode(context, kNidRootFolder);
  if (!root || !top || root == top) return {};
  Describer describer(context, top);
  describer.Folder(*root, "", 0);
  return describer.take();
}

}  // namespace salvora
