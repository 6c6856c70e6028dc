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

void ItemPrefetcher::Enter(ItemSequence items) {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    Folder folder{++next_folder_id_, std::move(items), nullptr};
    folder.next = folder.items();
    folders_.push_back(std::move(folder));
  }
  changed_.notify_all();
}

void ItemPrefetcher::Leave() {
  if (!worker_.joinable()) return;
  std::lock_guard lock(mutex_);
  if (folders_.empty()) return;
  const std::uint64_t id = folders_.back().id;
  std::erase_if(ready_, [id](const auto& entry) { return entry.second.folder == id; });
  folders_.pop_back();
  changed_.notify_all();
}

LoadedItem ItemPrefetcher::Take(const NodeRecord& node) {
  if (worker_.joinable()) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return loading_ != &node; });
    if (auto it = ready_.find(&node); it != ready_.end()) {
      LoadedItem out = std::move(it->second.item);
      ready_.erase(it);
      changed_.notify_all();
      return out;
    }
    // Not reached yet: loaded here, and passed over by the worker.
    if (!folders_.empty()) {
      Folder& folder = folders_.back();
      if (folder.next == &node) folder.next = folder.items();
    }
  }
  return Load(node);
}

void ItemPrefetcher::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] {
      return ending_ || (ready_.size() < window_ && !folders_.empty() && folders_.back().next != nullptr);
    });
    if (ending_) return;
    Folder& folder = folders_.back();
    const NodeRecord* node = folder.next;
    folder.next = folder.items();
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
        ready_.emplace(node, Ready{folder_id, std::move(loaded)});
        break;
      }
    }
    changed_.notify_all();
  }
}

}  // namespace salvora
