// GetOrCreateFolder and the folder class rules.

#include <chrono>
#include <thread>

#include "automation/member_ids.h"
#include "engine/folder_hierarchy.h"
#include "writer/save_to_pst.h"

namespace salvora {

namespace {

constexpr std::string_view kContactsPrefix = "Personal Folders\\Contacts\\";
constexpr std::string_view kTopComponent = "Personal Folders";

bool is_one_of(const std::optional<std::string_view>& value, std::initializer_list<std::string_view> set) {
  if (!value) return false;
  for (auto s : set) {
    if (*value == s) return true;
  }
  return false;
}

bool has_nothing_but_counts(const ItemRecord& r) {
  return r.folder_counts && !r.item_class && !r.message && !r.contact && r.attachments.empty() && !r.store &&
         !r.journal && !r.appointment;
}

std::vector<std::string_view> split_path(std::string_view path) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    out.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string folder_class_for(const ItemRecord& record, std::string_view path, std::optional<std::string_view> name) {
  if (!name && record.display_name) name = *record.display_name;
  std::optional<std::string_view> cls;
  if (record.item_class) cls = *record.item_class;
  if (is_one_of(name, {"Server Failures", "Local Failures", "Conflicts", "Inbox"})) return "IPF.Post";
  if (is_one_of(cls, {"IPF.Note"})) return "IPF.Post";
  if (is_one_of(name, {"Deleted Items"})) return "IPF.Post";
  if (has_nothing_but_counts(record)) return "IPF.Post";
  if (is_one_of(name, {"Outbox", "Sent Items", "Drafts", "Junk E-mail", "Sync Issues"})) return "IPF.Post";
  if (name && is_one_of(cls, {"IPM.Post"})) return "IPF.Post";
  if (is_one_of(name, {"Calendar"}) || is_one_of(cls, {"IPF.Appointment"})) return "IPF.Appointment";
  if (is_one_of(name, {"Contacts"}) || is_one_of(cls, {"IPF.Contact"}) || path.starts_with(kContactsPrefix)) {
    return "IPF.Contact";
  }
  if (is_one_of(name, {"Journal"}) || is_one_of(cls, {"IPF.Journal"})) return "IPF.Journal";
  if (is_one_of(name, {"Notes"}) || is_one_of(cls, {"IPF.StickyNote"})) return "IPF.StickyNote";
  if (is_one_of(name, {"Tasks"}) || is_one_of(cls, {"IPF.Task"})) return "IPF.Task";
  // Every other folder is made too, so that none of the mailbox's folders (RSS feeds, settings,
  // an add-in's) goes missing with what it holds: with its own container class when the record
  // is the folder's, with the class of folder that holds such items when it is an item's, else
  // as a plain mail folder.
  const bool own_record = !name || (record.display_name && *name == *record.display_name);
  if (own_record && cls && cls->starts_with("IPF.")) return std::string(*cls);
  if (own_record && cls) {
    static constexpr std::pair<std::string_view, std::string_view> kHolders[] = {
        {"IPM.Appointment", "IPF.Appointment"}, {"IPM.Contact", "IPF.Contact"}, {"IPM.DistList", "IPF.Contact"},
        {"IPM.Task", "IPF.Task"}, {"IPM.StickyNote", "IPF.StickyNote"}, {"IPM.Activity", "IPF.Journal"}};
    for (const auto& [item, folder] : kHolders)
      if (*cls == item || cls->starts_with(std::string(item) + ".")) return std::string(folder);
  }
  return "IPF.Note";
}

DispatchPtr USave_to_PST_Format::add_folder(const DispatchPtr& collection, const std::string& name,
                                            const std::string& folder_class) {
  const std::int32_t before = get(collection, dispid::kCount).int32_value().value_or(0);
  Variant added = invoke(collection, dispid::kAddFolder, InvokeKind::kMethod, {Variant(name), Variant(folder_class)});
  if (DispatchPtr folder = added.dispatch_value()) return folder;
  // A store that adds asynchronously hands back nothing; its new folder shows up at the end of
  // the collection a moment later. The built-in store never takes this road.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return invoke(collection, dispid::kItem, InvokeKind::kMethod, {Variant(before + 1)}).dispatch_value();
}

DispatchPtr USave_to_PST_Format::GetOrCreateFolder(const DispatchPtr& /*current*/, std::string_view path,
                                                   const ItemRecord& record) {
  folder_error_.clear();
  if (path == kRootFolderPath) return store_root_;
  const auto components = split_path(path);
  DispatchPtr collection = root_folders_;
  DispatchPtr folder;
  std::string walked;
  for (std::size_t i = 0; i < components.size(); ++i) {
    const std::string_view component = components[i];
    walked.append(component).push_back('\\');
    if (i == 0 && component == kTopComponent) continue;
    const std::int32_t n = get(collection, dispid::kCount).int32_value().value_or(0);
    DispatchPtr match;
    for (std::int32_t j = 1; j <= n && !match; ++j) {
      DispatchPtr candidate = invoke(collection, dispid::kItem, InvokeKind::kMethod, {Variant(j)}).dispatch_value();
      const Variant name = get(candidate, dispid::kName);
      if (name.string_value() && *name.string_value() == component) match = candidate;
    }
    if (!match) {
      // Every missing folder along the path is made here, so the items of a folder whose
      // parents were not chosen still land in their own folder. A folder on the way is
      // judged by its own name; the last one by the record it is made for.
      const bool last = i + 1 == components.size();
      const std::string folder_class =
          folder_class_for(record, walked, last ? std::nullopt : std::optional<std::string_view>(component));
      if (folder_class.empty()) continue;  // no folder for this component: its contents go one up
      try {
        match = add_folder(collection, std::string(component), folder_class);
      } catch (const std::exception& e) {
        folder_error_ = cause_text(e);
        return folder;
      }
      if (!match) {
        folder_error_ = "the folder \"" + walked + "\" could not be made in the PST";
        return folder;
      }
    }
    folder = match;
    collection = get(folder, dispid::kFolders).dispatch_value();
  }
  return folder;
}

}  // namespace salvora
