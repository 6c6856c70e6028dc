#pragma once
// Loads the items of the folder a pass has just entered on a second thread, a few ahead of the
// pass, so that reading and decoding the source overlaps with writing the PST.
//
// The pass tells the prefetcher which folder it entered (Enter, with the folder's items in the
// order it will visit them, handed out one at a time so that a folder of a million messages is
// never listed whole) and when it leaves it (Leave); it then takes each item with Take.
// An item the prefetcher has not reached is loaded by Take itself, on the pass's thread, so a
// pass that visits nodes in another order, or nodes it never queued, still gets each of them:
// the results are those of loading on one thread, whatever the timing.
//
// A pass that does little with each item besides loading it (the analysis) shares the loading:
// when Take finds the second thread loading the node it wants, it loads the next one itself
// instead of waiting, so that both threads read the source at once. A pass with work of its own
// (the save, which writes) leaves the loading to the second thread.
//
// The loader must be safe to run on two threads at once (reading a context is: its indexes are
// not changed while items are read, and the file is read with pread).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "content/item_record.h"
#include "engine/source_object.h"
#include "ndb/node_tree.h"

namespace salvora {

struct LoadedItem {
  std::unique_ptr<ItemRecord> record;
  SourceObject source;
  std::exception_ptr error;       // what the loader threw
  std::uint64_t damaged_blocks = 0;  // damaged blocks met while loading
};

class ItemPrefetcher {
 public:
  // The items of a folder, one per call, in the order the pass visits them; null after the last.
  // Called under the prefetcher's lock, from either thread.
  using ItemSequence = std::function<const NodeRecord*()>;
  using Loader = std::function<std::unique_ptr<ItemRecord>(const NodeRecord&, SourceObject&)>;

  enum class Sharing { kWorkerLoadsAll, kShared };

  // window: how many loaded items may wait for the pass. 0 starts no thread: Take loads.
  // max_bytes, when not 0: no item is loaded ahead while those waiting hold as many bytes of
  // attachment data (SourceObject::held_bytes) or more.
  ItemPrefetcher(Loader loader, std::size_t window, Sharing sharing = Sharing::kWorkerLoadsAll, std::size_t max_bytes = 0);
  ~ItemPrefetcher();
  ItemPrefetcher(const ItemPrefetcher&) = delete;
  ItemPrefetcher& operator=(const ItemPrefetcher&) = delete;

  // The pass entered a folder whose items it will visit in this order; they are loaded first.
  void Enter(ItemSequence items);
  // The pass left the folder entered last: what was loaded of it and not taken is let go.
  void Leave();
  // The node loaded: as loaded ahead, or loaded now.
  LoadedItem Take(const NodeRecord& node);

 private:
  struct Folder {
    std::uint64_t id = 0;
    ItemSequence items;
    const NodeRecord* next = nullptr;  // the first not yet loaded nor taken
  };
  struct Ready {
    std::uint64_t folder = 0;  // the id of the folder it was loaded for
    LoadedItem item;
  };
  LoadedItem Load(const NodeRecord& node) const;
  // Under the lock: whether the innermost folder has an item left to load and the window room.
  bool can_load_next() const;
  // Loads the innermost folder's next item, letting go of the lock meanwhile, and keeps it for
  // Take while that folder is entered. The worker marks the node it loads (loading_).
  void LoadNext(std::unique_lock<std::mutex>& lock, bool worker);
  void Run();

  Loader loader_;
  std::size_t window_;
  Sharing sharing_;
  std::size_t max_bytes_;
  std::size_t ready_bytes_ = 0;  // held by the items in ready_
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Folder> folders_;  // entered and not left, innermost last
  std::map<const NodeRecord*, Ready> ready_;
  const NodeRecord* loading_ = nullptr;
  std::uint64_t next_folder_id_ = 0;
  bool ending_ = false;
  std::thread worker_;
};

// The items of a folder in the order the folder walk visits them, one at a time: its
// subfolders and hidden items are left out, to be read where they are visited.
ItemPrefetcher::ItemSequence FolderItems(const NodeRecord& folder);

}  // namespace salvora
