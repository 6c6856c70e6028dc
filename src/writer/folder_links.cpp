// The source's special folders and its links to them, carried into the PST by identity.

#include <algorithm>
#include <cstdio>

#include "automation/member_ids.h"
#include "automation/schema_name.h"
#include "format/entry_id.h"
#include "format/multi_value.h"
#include "format/prop_types.h"
#include "writer/item_links.h"
#include "writer/save_to_pst.h"

namespace salvora {

namespace {

constexpr std::string_view kTopComponent = "Personal Folders";
constexpr std::string_view kNotCopied = "it names a folder that is not in the PST";

std::optional<std::vector<std::uint8_t>> from_hex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 2);
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

std::string tag_text(std::uint16_t id, std::uint16_t type) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X%04X", id, type);
  return buf;
}

DispatchPtr accessor_of(const DispatchPtr& object) {
  return object ? get(object, dispid::kPropertyAccessor).dispatch_value() : DispatchPtr();
}

}  // namespace

void USave_to_PST_Format::AdoptSourceLinks(SourceLinks links) {
  links_ = std::move(links);
  made_folders_.clear();
  // The store shows as the mailbox it was; the file keeps the name this program gives it.
  if (links_.store_name && store_root_) {
    try {
      put(store_root_, dispid::kName, Variant(*links_.store_name));
      display_name_ = *links_.store_name;
    } catch (const std::exception& e) {
      note_dropped({{tag_text(kPidDisplayName, kPtypString), e.what()}});
    }
  }
}

void USave_to_PST_Format::PrepareFolder(Nid source_folder, std::string_view path) {
  if (source_folder.is_null() || source_folder != links_.wastebasket || !root_folders_) return;
  // Only the top's own trash stands in for the PST's: one deeper is an ordinary folder there.
  const std::string prefix = std::string(kTopComponent) + "\\";
  if (!path.starts_with(prefix) || path.size() <= prefix.size() + 1 || path.back() != '\\') return;
  const std::string_view name = path.substr(prefix.size(), path.size() - prefix.size() - 1);
  if (name.empty() || name.find('\\') != std::string_view::npos) return;
  try {
    DispatchPtr store = get(store_root_, dispid::kStore).dispatch_value();
    const Variant trash_id = invoke(accessor_of(store), dispid::kGetProperty, InvokeKind::kMethod,
                                    {Variant(proptag_schema_name(kPidIpmWastebasketEntryId, kPtypBinary))});
    const std::vector<std::uint8_t>* trash = trash_id.bytes_value();
    const std::int32_t n = get(root_folders_, dispid::kCount).int32_value().value_or(0);
    DispatchPtr pst_trash;
    for (std::int32_t i = 1; i <= n; ++i) {
      DispatchPtr folder = invoke(root_folders_, dispid::kItem, InvokeKind::kMethod, {Variant(i)}).dispatch_value();
      const Variant folder_name = get(folder, dispid::kName);
      if (folder_name.string_value() && *folder_name.string_value() == name) return;  // already there
      const Variant id = get(folder, dispid::kEntryID);
      if (trash && id.string_value() && from_hex(*id.string_value()) == *trash) pst_trash = folder;
    }
    // The PST's trash takes the source's name, so that the walk finds it there and no second,
    // English, trash stays beside the user's own.
    if (pst_trash) put(pst_trash, dispid::kName, Variant(std::string(name)));
  } catch (const std::exception&) {
    // A store that cannot say which folder is its trash gets the folder made by name.
  }
}

void USave_to_PST_Format::NoteFolder(Nid source_folder, const DispatchPtr& target, const SourceObject* source,
                                     const OstContext* context) {
  if (!target || source_folder.is_null()) return;
  made_folders_[source_folder.value] = target;
  if (!context || !source) return;
  // The top keeps the source's name and comment; the store's name is the store object's.
  std::vector<PropertyEntry> naming;
  for (const auto& e : source->properties)
    if (e.raw_id == kPidDisplayName || e.raw_id == kPidComment) naming.push_back(e);
  if (naming.empty()) return;
  CopyFolderProperties(target, SourceObject{naming, {}, {}, source->codepage, 0, {}}, *context);
}

std::optional<std::vector<std::uint8_t>> USave_to_PST_Format::target_entry_id(Nid source_folder) {
  const auto made = made_folders_.find(source_folder.value);
  if (made == made_folders_.end()) return std::nullopt;
  const Variant id = get(made->second, dispid::kEntryID);
  return id.string_value() ? from_hex(*id.string_value()) : std::nullopt;
}

std::optional<std::vector<std::uint8_t>> USave_to_PST_Format::made_object(Nid source) {
  if (source.type() == kNidTypeNormalFolder) return target_entry_id(source);
  if (!source_nodes_) return std::nullopt;
  return made_items_.Find(*source_nodes_, source);
}

void USave_to_PST_Format::note_placed(const Variant& moved, const DispatchPtr& item) {
  last_placed_.reset();
  const DispatchPtr placed = moved.dispatch_value() ? moved.dispatch_value() : item;
  const Variant id = placed ? get(placed, dispid::kEntryID) : Variant();
  const auto bytes = id.string_value() ? from_hex(*id.string_value()) : std::nullopt;
  if (bytes && bytes->size() == EntryId::kSize) {
    last_placed_.emplace();
    std::copy(bytes->begin(), bytes->end(), last_placed_->begin());
  }
}

void USave_to_PST_Format::NoteWrittenItem(const OstContext& context, Nid source) {
  if (!source_nodes_) source_nodes_ = context.nodes;
  if (last_placed_ && !source.is_null()) made_items_.Note(*source_nodes_, source, *last_placed_);
  last_placed_.reset();
}

std::vector<Nid> USave_to_PST_Format::UnwrittenLinks(const SourceObject& source, Nid self) const {
  std::vector<Nid> out;
  if (!links_.store_key) return out;
  for (Nid nid : linked_objects(source, *links_.store_key, self)) {
    const bool made = nid.type() == kNidTypeNormalFolder ? made_folders_.count(nid.value) != 0
                                                         : source_nodes_ && made_items_.Contains(*source_nodes_, nid);
    if (!made) out.push_back(nid);
  }
  return out;
}

bool USave_to_PST_Format::names_source_folder(const PropertyEntry& entry) const {
  const auto folder = [&](Bytes bytes) {
    const auto nid = links_.source_object(bytes);
    // A folder an earlier part of a split holds is linked there.
    return nid && links_.mailbox_folders.count(nid->value) != 0 && made_earlier_.count(nid->value) == 0;
  };
  const Bytes bytes(*entry.value);
  if (entry.type == kPtypBinary) return folder(bytes);
  const auto items = parse_variable_multi(bytes);
  if (!items) return false;
  return std::any_of(items->begin(), items->end(), folder);
}

std::optional<Variant> USave_to_PST_Format::remapped_link(const PropertyEntry& entry) {
  const auto one = [&](Bytes bytes) -> std::optional<Variant> {
    const auto nid = links_.source_object(bytes);
    if (!nid) return std::nullopt;
    if (auto id = target_entry_id(*nid)) return Variant::Bytes(std::move(*id));
    return std::nullopt;
  };
  const Bytes bytes(*entry.value);
  if (entry.type == kPtypBinary) return one(bytes);
  if (entry.type != (kPtypBinary | kPtypMultipleFlag)) return std::nullopt;
  const auto items = parse_variable_multi(bytes);
  if (!items) return std::nullopt;
  // The list is read by position (conflicts, sync issues, local failures, server failures,
  // junk mail): a folder not made leaves its place empty, as Outlook leaves a missing one.
  std::vector<Variant> out;
  bool any = false;
  for (Bytes item : *items) {
    auto v = one(item);
    any = any || v.has_value();
    out.push_back(v ? std::move(*v) : Variant::Bytes({}));
  }
  if (!any) return std::nullopt;
  return Variant::Array(std::move(out));
}

void USave_to_PST_Format::FinishLinks(bool last) {
  if (!store_root_ || !links_.store_key) return;
  DispatchPtr store;
  try {
    store = get(store_root_, dispid::kStore).dispatch_value();
  } catch (const AutomationError&) {
    return;  // a store that shows no store object keeps no links to its folders
  }
  std::vector<Variant> names;
  std::vector<Variant> values;
  std::vector<DroppedProperty> dropped;
  for (const auto& [id, nid] : links_.store_links) {
    const std::string name = proptag_schema_name(id, kPtypBinary);
    if (auto target = target_entry_id(nid)) {
      names.emplace_back(name);
      values.push_back(Variant::Bytes(std::move(*target)));
    } else if (last && links_.mailbox_folders.count(nid.value) && !made_earlier_.count(nid.value)) {
      dropped.push_back({name, std::string(kNotCopied)});
    }
  }
  std::vector<Variant> folder_names;
  std::vector<Variant> folder_values;
  for (const auto& e : links_.folder_links) {
    const std::string name = proptag_schema_name(e.raw_id, e.type);
    if (auto v = remapped_link(e)) {
      folder_names.emplace_back(name);
      folder_values.push_back(std::move(*v));
    } else if (last && names_source_folder(e)) {
      dropped.push_back({name, std::string(kNotCopied)});
    }
    // A link that names no folder of the mailbox is left out without a word, and never copied
    // as it is, where its node id would name some other folder of the PST: a search folder
    // (the reminders) or free/busy data Outlook makes again, and an entry id of another store
    // (the one the mailbox was copied from carried it along) led nowhere in the source either.
  }
  // On the store they go to the root folder, where Outlook looks for them; on the Inbox, where
  // the mailbox's writer keeps them as well.
  names.insert(names.end(), folder_names.begin(), folder_names.end());
  values.insert(values.end(), folder_values.begin(), folder_values.end());
  const auto set_all = [&](const DispatchPtr& object, std::vector<Variant> n, std::vector<Variant> v) {
    if (n.empty()) return;
    const std::vector<Variant> sent = n;
    const Variant result = invoke(accessor_of(object), dispid::kSetProperties, InvokeKind::kMethod,
                                  {Variant::Array(std::move(n)), Variant::Array(std::move(v))});
    const std::vector<Variant>* errors = result.array_value();
    for (std::size_t i = 0; errors && i < errors->size() && i < sent.size(); ++i)
      if ((*errors)[i].error_code()) dropped.push_back({*sent[i].string_value(), "the PST could not store its value"});
  };
  try {
    set_all(store, std::move(names), std::move(values));
    const auto inbox = made_folders_.find(links_.receive_folder.value);
    if (!links_.receive_folder.is_null() && inbox != made_folders_.end()) {
      set_all(inbox->second, std::move(folder_names), std::move(folder_values));
      invoke(store, dispid::kSetReceiveFolder, InvokeKind::kMethod, {Variant(inbox->second)});
    }
  } catch (const std::exception& e) {
    dropped.push_back({"(the store's links to its folders)", e.what()});
  }
  note_dropped(std::move(dropped));
}

}  // namespace salvora
