#include "engine/item_prefetch.h"

#include "ndb/ost_context.h"

namespace salvora {

ItemPrefetcher::ItemPrefetcher(Loader loader, std::size_t window, Sharing sharing, std::size_t max_bytes)
    : loader_(std::move(loader)), window_(window), sharing_(sharing), max_bytes_(max_bytes) {
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
  std::erase_if(ready_, [this, id](const auto& entry) {
    if (entry.second.folder != id) return false;
    ready_bytes_ -= entry.second.item.source.held_bytes();
    return true;
  });
  folders_.pop_back();
  changed_.notify_all();
}

LoadedItem ItemPrefetcher::Take(const NodeRecord& node) {
  if (worker_.joinable()) {
    std::unique_lock lock(mutex_);
    // While the worker loads this node, a sharing pass loads the next one instead of waiting.
    while (loading_ == &node) {
      if (sharing_ == Sharing::kShared && can_load_next()) LoadNext(lock, false);
      else changed_.wait(lock);
    }
    if (auto it = ready_.find(&node); it != ready_.end()) {
      LoadedItem out = std::move(it->second.item);
      ready_.erase(it);
      ready_bytes_ -= out.source.held_bytes();
      // A worker waiting for room is woken once half the window is free, not at every item:
      // each wake-up costs the pass a system call.
      if (ready_.size() <= window_ / 2) changed_.notify_all();
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

bool ItemPrefetcher::can_load_next() const {
  return ready_.size() < window_ && (max_bytes_ == 0 || ready_bytes_ < max_bytes_) && !folders_.empty() &&
         folders_.back().next != nullptr;
}

void ItemPrefetcher::LoadNext(std::unique_lock<std::mutex>& lock, bool worker) {
  Folder& folder = folders_.back();
  const NodeRecord* node = folder.next;
  folder.next = folder.items();
  const std::uint64_t folder_id = folder.id;
  if (worker) loading_ = node;
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
  if (worker) loading_ = nullptr;
  // Kept only while the folder it belongs to is still entered.
  for (const Folder& f : folders_) {
    if (f.id == folder_id) {
      ready_bytes_ += loaded.source.held_bytes();
      ready_.emplace(node, Ready{folder_id, std::move(loaded)});
      break;
    }
  }
  changed_.notify_all();
}

void ItemPrefetcher::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return ending_ || can_load_next(); });
    if (ending_) return;
    LoadNext(lock, true);
  }
}

ItemPrefetcher::ItemSequence FolderItems(const NodeRecord& folder) {
  return [next = folder.first_child()]() mutable -> const NodeRecord* {
    while (next) {
      const NodeRecord* c = next;
      next = next->next_sibling();
      const std::uint8_t type = c->nid.type();
      if (c->data_block && type != kNidTypeNormalFolder && type != kNidTypeAssocMessage) return c;
    }
    return nullptr;
  };
}

}  // namespace salvora
