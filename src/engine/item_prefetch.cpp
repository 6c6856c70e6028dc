#include "engine/item_prefetch.h"

#include "ndb/ost_context.h"

namespace salvora {

ItemPrefetcher::ItemPrefetcher(Loader loader, std::size_t window) : loader_(std::move(loader)), window_(window) {
  if (window_ > 0) worker_ = std::thread([this] { Run(); });
}

ItemPrefetcher::~ItemPrefetcher() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

LoadedItem ItemPrefetcher::Load(const NodeRecord& node) const {
  LoadedItem out;
  const std::uint64_t damaged_before = damaged_blocks_read_here();
  try {
    out.record = loader_(node, out.source);
  } catch (...) {
    out.error = std::current_exception();
  }
  out.damaged_blocks = damaged_blocks_read_here() - damaged_before;
  return out;
}

void ItemPrefetcher::Enter(std::vector<const NodeRecord*> items) {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    folders_.push_back(Folder{++next_folder_id_, std::move(items), 0});
  }
  changed_.notify_all();
}

void ItemPrefetcher::Leave() {
  if (!worker_.joinable()) return;
  std::lock_guard lock(mutex_);
  if (folders_.empty()) return;
  for (const NodeRecord* item : folders_.back().items) ready_.erase(item);
  folders_.pop_back();
  changed_.notify_all();
}

LoadedItem ItemPrefetcher::Take(const NodeRecord& node) {
  if (worker_.joinable()) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return loading_ != &node; });
    if (auto it = ready_.find(&node); it != ready_.end()) {
      LoadedItem out = std::move(it->second);
      ready_.erase(it);
      changed_.notify_all();
      return out;
    }
    // Not reached yet: loaded here, and passed over by the worker.
    if (!folders_.empty()) {
      Folder& folder = folders_.back();
      if (folder.next < folder.items.size() && folder.items[folder.next] == &node) ++folder.next;
    }
  }
  return Load(node);
}

void ItemPrefetcher::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] {
      return ending_ || (ready_.size() < window_ && !folders_.empty() && folders_.back().next < folders_.back().items.size());
    });
    if (ending_) return;
    Folder& folder = folders_.back();
    const NodeRecord* node = folder.items[folder.next++];
    const std::uint64_t folder_id = folder.id;
    loading_ = node;
    lock.unlock();
    LoadedItem loaded;
    try {
      loaded = Load(*node);
    } catch (...) {
      // Load catches what the loader throws; only a failed allocation of the result is left.
      loaded = LoadedItem{};
      loaded.error = std::current_exception();
    }
    lock.lock();
    loading_ = nullptr;
    // Kept only while the folder it belongs to is still entered.
    for (const Folder& f : folders_) {
      if (f.id == folder_id) {
        ready_.emplace(node, std::move(loaded));
        break;
      }
    }
    changed_.notify_all();
  }
}

}  // namespace salvora
