#include "writer/save_to_pst.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "automation/member_ids.h"
#include "platform/temp_folder.h"

namespace salvora {

namespace {

std::string with_slash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string store_time_stamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d-%d-%d %d-%d", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900,
                local.tm_hour, local.tm_min);
  return buf;
}

USave_to_PST_Format::USave_to_PST_Format(WriterOptions options)
    : options_(std::move(options)),
      factory_(options_.factory ? *options_.factory : ObjectFactory::Process()),
      state_(options_.state ? *options_.state : own_state_),
      file_road_(options_.file_road) {}

// Nothing is logged off or removed: the server keeps the store, and commits it when the last
// of its objects goes with this writer.
USave_to_PST_Format::~USave_to_PST_Format() = default;

int USave_to_PST_Format::OpenTargetStore(const std::string& destination, const std::string& output_folder) {
  auto tell = [this](std::string_view text) {
    if (options_.message) options_.message(text);
  };
  try {
    application_ = factory_.Create(kOutlookApplication);
    safe_mail_item_ = factory_.Create(kSafeMailItem);
  } catch (const std::exception&) {
    application_.reset();
    tell(kMsgOutlookNotConfigured);
    return 2;
  }
  try {
    namespace_ = invoke(application_, dispid::kGetNamespace, InvokeKind::kMethod, {Variant("MAPI")}).dispatch_value();
    if (!namespace_) throw AutomationError(AutomationError::Code::kFailed, dispid::kGetNamespace, "no namespace");
    invoke(namespace_, dispid::kLogon, InvokeKind::kMethod, {Variant(), Variant(), Variant(), Variant()});
  } catch (const std::exception&) {
    tell(kMsgOutlookNotInstalled);
    return 2;
  }
  const std::string stamp = options_.time_stamp ? options_.time_stamp() : store_time_stamp();
  const std::string folder = with_slash(destination.empty() ? output_folder : destination);
  const Variant version = get(application_, dispid::kVersion);
  if (const std::string* v = version.string_value()) version_ = *v;
  std::string earlier;
  {
    std::lock_guard lock(state_.mutex);
    earlier = state_.store_path;
  }
  // A later pass of the same recovery adds to the store its first pass made, when it writes to
  // the same folder; any other store is a new file.
  if (!earlier.empty() && earlier.ends_with(options_.store_suffix) &&
      std::filesystem::path(earlier).parent_path() == std::filesystem::path(folder).parent_path()) {
    open_store_at(earlier, stamp);
  } else {
    const std::string base = std::string(kStoreNamePrefix) + stamp;
    try {
      open_new_store(folder, base, stamp);
      std::lock_guard lock(state_.mutex);
      state_.store_path = opened_path_;
    } catch (const std::exception&) {
      // The fixed name is tried once, in the same folder, without becoming the recovery's store.
      const std::string fixed(kFallbackStoreFile);
      open_new_store(folder, fixed.substr(0, fixed.size() - 4), stamp);
    }
  }
  // The parts of a split store are named after the first one.
  store_folder_ = folder;
  store_base_ = std::filesystem::path(opened_path_).stem().string();
  time_stamp_ = stamp;
  return 0;
}

void USave_to_PST_Format::OpenNextStore() {
  FinishLinks(false);
  for (const auto& made : made_folders_) made_earlier_.insert(made.first);
  CloseTargetStore();
  open_new_store(store_folder_, store_base_, time_stamp_);
  // Each part shows as the mailbox it was, like the first.
  if (links_.store_name) {
    put(store_root_, dispid::kName, Variant(*links_.store_name));
    display_name_ = *links_.store_name;
  }
}

DispatchPtr USave_to_PST_Format::store_object() {
  if (!store_object_tried_ && store_root_) {
    store_object_tried_ = true;
    try {
      store_object_ = get(store_root_, dispid::kStore).dispatch_value();
    } catch (const AutomationError&) {
      store_object_.reset();  // a store that shows no store object tells no figures
    }
  }
  return store_object_;
}

namespace {

std::uint64_t store_figure(const DispatchPtr& store, MemberId member) {
  try {
    const auto value = get(store, member).int64_value();
    return value && *value > 0 ? static_cast<std::uint64_t>(*value) : 0;
  } catch (const AutomationError&) {
    return 0;
  }
}

}  // namespace

StoreFigures USave_to_PST_Format::store_figures() {
  StoreFigures figures{0, closed_committed_, closed_lost_};
  if (const DispatchPtr store = store_object()) {
    figures.size = store_figure(store, dispid::kStoreSize);
    figures.committed += store_figure(store, dispid::kItemsCommitted);
    figures.lost += store_figure(store, dispid::kItemsLost);
  }
  return figures;
}

void USave_to_PST_Format::CloseTargetStore() {
  const DispatchPtr store = store_object();
  // Nothing of the closed store is used again: its folders refuse every call from now on.
  store_root_.reset();
  root_folders_.reset();
  namespace_folders_.reset();
  attachment_collection_.reset();
  made_folders_.clear();
  store_object_.reset();
  store_object_tried_ = false;
  if (!store) return;
  // Its counts are read after the close, whose last commit adds to them or loses what it held.
  struct Count {
    USave_to_PST_Format& w;
    const DispatchPtr& store;
    ~Count() {
      w.closed_committed_ += store_figure(store, dispid::kItemsCommitted);
      w.closed_lost_ += store_figure(store, dispid::kItemsLost);
    }
  } count{*this, store};
  invoke(store, dispid::kCloseStore, InvokeKind::kMethod);
}

namespace {

// True when nothing, not even a link, has this name. A name the system cannot look up at all
// (longer than its path limit, a folder that cannot be searched) is no taken name: trying the
// next suffix would only make it longer, so the cause is told at once.
bool name_is_free(const std::string& path) {
  std::error_code ec;
  const auto type = std::filesystem::symlink_status(path, ec).type();
  if (ec && ec != std::errc::no_such_file_or_directory) {
    if (ec == std::errc::filename_too_long)
      throw std::runtime_error(path + ": the path is longer than the system allows (" + ec.message() + ")");
    throw std::runtime_error(path + ": " + ec.message());
  }
  return type == std::filesystem::file_type::not_found;
}

}  // namespace

void USave_to_PST_Format::open_new_store(const std::string& folder, const std::string& base,
                                         const std::string& time_stamp) {
  // Two recoveries in one minute, or a retry after a killed one, must not add to each other's
  // store: a name that is taken, or that the store server refuses as taken (a run still
  // writing it, or one killed while it began), gets " (2)", " (3)"... A name that another run
  // takes between the check and the store's creation fails the creation (the server never
  // replaces a file) and the next one is tried.
  constexpr int kMaxSuffix = 9999;
  for (int n = 1; n <= kMaxSuffix; ++n) {
    const std::string path = folder + base + (n == 1 ? std::string() : " (" + std::to_string(n) + ")") + options_.store_suffix;
    if (!name_is_free(path)) continue;
    try {
      open_store_at(path, time_stamp);
      return;
    } catch (const AutomationError& e) {
      if (e.code() != AutomationError::Code::kNameTaken && name_is_free(path)) throw;
    }
  }
  throw std::runtime_error(folder + base + options_.store_suffix + ": every name up to \"(" + std::to_string(kMaxSuffix) + ")\" is taken");
}

void USave_to_PST_Format::open_store_at(const std::string& path, const std::string& time_stamp) {
  // The store server makes the file but not the folder it goes in (the default output folder
  // is a new one beside the source). Folders made here go again when the store cannot be
  // added: a recovery that writes nothing leaves nothing behind.
  std::vector<std::filesystem::path> made;
  for (auto p = std::filesystem::path(path).parent_path(); !p.empty() && !std::filesystem::exists(p);
       p = p.parent_path()) {
    made.push_back(p);
    if (p == p.parent_path()) break;
  }
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  try {
    invoke(namespace_, dispid::kAddStore, InvokeKind::kMethod, {Variant(path)});
  } catch (const std::exception&) {
    for (const auto& p : made) std::filesystem::remove(p, ignored);  // innermost first; empty ones only
    throw;
  }
  namespace_folders_ = get(namespace_, dispid::kFolders).dispatch_value();
  store_root_ = invoke(namespace_folders_, dispid::kGetLast, InvokeKind::kMethod).dispatch_value();
  if (!store_root_) throw AutomationError(AutomationError::Code::kFailed, dispid::kGetLast, "no store root");
  display_name_ = std::string(kStoreNamePrefix) + time_stamp;
  put(store_root_, dispid::kName, Variant(display_name_));
  put(store_root_, dispid::kDescription, Variant(display_name_));
  root_folders_ = get(store_root_, dispid::kFolders).dispatch_value();
  temp_folder_ = options_.temp_folder.empty() ? temp_folder() : options_.temp_folder;
  if (temp_folder_.empty()) throw std::runtime_error("no private temporary folder");
  temp_folder_ = with_slash(temp_folder_);
  mail_file_path_ = temp_folder_ + std::string(kMailHeaderFile);
  opened_path_ = path;
  store_paths_.push_back(path);
}

void USave_to_PST_Format::note_store_error(const std::exception& e) {
  // The first reason is the cause (a full disk, say); later ones tend to repeat its effect.
  if (store_errors_++ == 0) first_store_error_ = cause_text(e);
}

}  // namespace salvora
