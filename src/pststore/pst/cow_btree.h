#pragma once
// The node and block B-trees as the writer keeps them: grouped as the leaf pages on disk, and
// copy-on-write at commit. Only leaves that changed since the last commit are written again, to
// new pages; intermediate pages are rebuilt from the leaves and written only where their
// content differs. Replaced pages are freed through the file space, which keeps them allocated
// until the new header is durable.
//
// Memory: a leaf that is on disk as it is (clean) keeps only its first key and page in memory;
// its entries are read back from its page when a lookup or change needs them. After every
// commit all clean leaves but the last (where new keys are appended) are dropped. The directory
// of leaves and the entries of the leaves read or changed since the last commit live in
// nameless temporary files whose pages are let go of as the puts and commits go, so a tree of
// millions of entries, and the tens of thousands of entries added between two commits of a
// large store, hold next to nothing in memory.
//
// Keys are appended in ascending order most of the time (new block ids, new message NIDs), so
// leaves fill completely; an insertion in the middle splits a full leaf in two.

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "format/byte_reader.h"
#include "format/byte_writer.h"
#include "pststore/pst/disk_layout.h"
#include "pststore/pst/file_space.h"
#include "format/page.h"
#include "platform/fenced_run.h"
#include "platform/reserved_array.h"

namespace salvora::pst {

template <class Entry, std::uint8_t kPtype>
class CowBTree {
 public:
  // Clean leaves loaded between two commits beyond this many are dropped again at once.
  static constexpr std::size_t kResidentLimit = 1024;

  // Pages in one of the writer's layouts: 512-byte or 4 KB.
  explicit CowBTree(FileLayout layout = FileLayout::kUnicode) : layout_(layout) {}
  FileLayout layout() const { return layout_; }

  // Where dropped leaves are read back from; without a source, leaves are never dropped.
  void SetPageSource(std::function<std::vector<std::uint8_t>(std::uint64_t ib)> source) {
    source_ = std::move(source);
  }

  // Inserts an entry or replaces the one with the same key.
  void Put(const Entry& e) {
    const std::uint64_t key = e.key();
    const std::size_t cap = BtPage::MaxEntries(kPtype, 0, layout_);
    if (leaves_.empty() || key > last_key_) {
      if (leaves_.empty() || leaves_.back().count >= cap) {
        moved_from_ = std::min(moved_from_, leaves_.size());
        Leaf& fresh = leaves_.emplace_back(key);
        fresh.slot = NewSlot();
        ++resident_;
      }
      Leaf& leaf = leaves_.back();
      auto entries = Entries(leaf);
      entries.push_back(e);  // counts itself in leaf.count
      leaf.dirty = true;
      last_key_ = key;
      ++count_;
      return;
    }
    const std::size_t li = LeafFor(key);
    Leaf& leaf = leaves_[li];
    auto entries = Entries(leaf);
    auto it = std::lower_bound(entries.begin(), entries.end(), key,
                               [](const Entry& a, std::uint64_t k) { return a.key() < k; });
    leaf.dirty = true;
    if (it != entries.end() && it->key() == key) {
      *it = e;
      return;
    }
    entries.insert(it, e);
    leaves_.SetFirst(li, entries.front().key());
    ++count_;
    if (entries.size() > cap) {
      Leaf right;
      right.slot = NewSlot();
      auto moved = SlotOf(right);
      moved.assign(entries.begin() + static_cast<std::ptrdiff_t>(entries.size() / 2), entries.end());
      entries.resize(entries.size() / 2);
      right.first = moved.front().key();
      leaves_.insert(li + 1, right);
      // Every leaf record after it moved: their pages are in the file.
      leaves_.ReleaseResidentPages();
      moved_from_ = std::min(moved_from_, li + 1);
      ++resident_;
    }
  }

  // A copy: the leaf it comes from may be dropped by the next call.
  std::optional<Entry> Find(std::uint64_t key) {
    if (leaves_.empty() || key < leaves_.front().first || key > last_key_) return std::nullopt;
    auto entries = Entries(leaves_[LeafFor(key)]);
    auto it = std::lower_bound(entries.begin(), entries.end(), key,
                               [](const Entry& a, std::uint64_t k) { return a.key() < k; });
    if (it != entries.end() && it->key() == key) return *it;
    return std::nullopt;
  }

  bool Erase(std::uint64_t key, FileSpace& space) {
    if (leaves_.empty() || key < leaves_.front().first || key > last_key_) return false;
    const std::size_t li = LeafFor(key);
    Leaf& leaf = leaves_[li];
    auto entries = Entries(leaf);
    auto it = std::lower_bound(entries.begin(), entries.end(), key,
                               [](const Entry& a, std::uint64_t k) { return a.key() < k; });
    if (it == entries.end() || it->key() != key) return false;
    entries.erase(it);
    leaf.dirty = true;
    --count_;
    if (entries.empty()) {
      if (leaf.page.ib != 0) space.Free(leaf.page.ib, page_size());
      FreeSlot(leaf);
      leaves_.erase(li);
      leaves_.ReleaseResidentPages();
      moved_from_ = std::min(moved_from_, li);
      if (li == leaves_.size()) last_key_ = leaves_.empty() ? 0 : Entries(leaves_.back()).back().key();
    } else {
      leaves_.SetFirst(li, entries.front().key());
      if (li + 1 == leaves_.size()) last_key_ = entries.back().key();
    }
    return true;
  }

  // Writes what changed and returns the root page; next_page_bid hands out page ids. Clean
  // leaves are dropped from memory afterwards.
  Bref Commit(FileSpace& space, std::uint64_t& next_page_bid) {
    // Which children of the level being built were written anew; an intermediate page is kept
    // only when none of its children was, and they still sit where they sat.
    std::vector<bool> changed(leaves_.size(), false);
    for (std::size_t i = 0; i < leaves_.size(); ++i) {
      if (i % kLeavesBetweenReleases == 0) ReleaseResidentPages();
      Leaf& leaf = leaves_[i];
      if (!leaf.dirty) continue;
      CountSlotTouch();
      const auto entries = Entries(leaf);
      BtPage page{kPtype, 0, Entry::kSize, BtPage::MaxEntries(kPtype, 0, layout_), static_cast<std::uint8_t>(entries.size()), {}};
      ByteWriter w(geometry_for(layout_).entry_area);
      for (const auto& e : entries) e.Serialize(w, layout_);
      page.entries = w.take();
      leaf.page = WritePage(page, leaf.page, space, next_page_bid);
      leaf.dirty = false;
      changed[i] = true;
    }
    // Leaves from this position on may have moved since the last commit; the intermediate
    // pages of every level above are fixed runs of their children, so they never move.
    std::size_t unmoved = std::min(moved_from_, leaves_.size());
    moved_from_ = std::numeric_limits<std::size_t>::max();

    std::size_t level = 1;
    std::size_t count = leaves_.size();
    const std::size_t cap = BtPage::MaxEntries(kPtype, 1, layout_);
    const auto child = [this](std::size_t of_level, std::size_t j) {
      if (of_level == 1) return BtEntry{leaves_[j].first, leaves_[j].page};
      const Inner& c = levels_[of_level - 2][j];
      return BtEntry{c.first, c.page};
    };
    while (count > 1) {
      if (levels_.size() < level) levels_.emplace_back();
      InnerLevel fresh((count + cap - 1) / cap);
      std::vector<bool> fresh_changed;
      fresh_changed.reserve((count + cap - 1) / cap);
      const InnerLevel& old = levels_[level - 1];
      for (std::size_t i = 0; i < count; i += cap) {
        if (i % kLeavesBetweenReleases < cap) {
          // The level below, the old level and the new one are each read or written in order.
          leaves_.ReleaseResidentPages();
          for (const auto& l : levels_) l.ReleaseResidentPages();
          fresh.ReleaseResidentPages();
        }
        const std::size_t end = std::min(count, i + cap);
        const std::size_t idx = fresh.size();
        bool same = idx < old.size() && old[idx].count == end - i && end <= unmoved;
        for (std::size_t j = i; same && j < end; ++j) same = !changed[j];
        Inner node{child(level, i).key, Bref{}, static_cast<std::uint32_t>(end - i)};
        if (same) {
          node.page = old[idx].page;
        } else {
          BtPage page{kPtype, static_cast<std::uint8_t>(level), BtEntry::kSize, static_cast<std::uint8_t>(cap),
                      static_cast<std::uint8_t>(end - i), {}};
          ByteWriter w(geometry_for(layout_).entry_area);
          for (std::size_t j = i; j < end; ++j) child(level, j).Serialize(w);
          page.entries = w.take();
          node.page = WritePage(page, idx < old.size() ? old[idx].page : Bref{}, space, next_page_bid);
        }
        fresh.push_back(node);
        fresh_changed.push_back(!same);
      }
      for (std::size_t i = fresh.size(); i < old.size(); ++i) space.Free(old[i].page.ib, page_size());
      levels_[level - 1] = std::move(fresh);
      changed = std::move(fresh_changed);
      unmoved = std::numeric_limits<std::size_t>::max();
      count = levels_[level - 1].size();
      ++level;
    }
    // A tree that lost levels frees the pages above its new root.
    while (levels_.size() >= level) {
      for (const auto& n : levels_.back()) space.Free(n.page.ib, page_size());
      levels_.pop_back();
    }
    root_ = count == 0 ? Bref{} : level == 1 ? leaves_.front().page : levels_[level - 2].front().page;
    DropClean();
    return root_;
  }

  // Takes over a tree read from an existing file: its leaf pages with their entries, in key
  // order, stay where they are until they change; its intermediate pages are freed and built
  // anew at the next commit, which then writes the root. The entries stay in memory until
  // DropClean.
  void Adopt(std::vector<std::pair<Bref, std::vector<Entry>>> leaf_pages, const std::vector<Bref>& inner_pages,
             FileSpace& space) {
    leaves_.clear();
    slots_.clear();
    levels_.clear();
    moved_from_ = 0;
    count_ = 0;
    resident_ = 0;
    last_key_ = 0;
    for (auto& [page, entries] : leaf_pages) {
      if (entries.empty()) {
        space.Free(page.ib, page_size());
        continue;
      }
      count_ += entries.size();
      last_key_ = entries.back().key();
      Leaf& leaf = leaves_.emplace_back(entries.front().key());
      leaf.page = page;
      leaf.dirty = false;
      leaf.slot = NewSlot();
      SlotOf(leaf).assign(entries.data(), entries.data() + entries.size());
      ++resident_;
    }
    for (const Bref& page : inner_pages) space.Free(page.ib, page_size());
    root_ = Bref{};
  }

  // Drops the entries of every clean leaf but the last one.
  void DropClean() {
    if (!source_) return;
    for (std::size_t i = 0; i + 1 < leaves_.size(); ++i) {
      if (i % kLeavesBetweenReleases == 0) ReleaseResidentPages();
      Leaf& leaf = leaves_[i];
      if (!leaf.dirty && leaf.slot != 0) FreeSlot(leaf);
    }
    ReleaseResidentPages();
  }

  std::size_t size() const { return count_; }
  std::size_t leaf_count() const { return leaves_.size(); }
  std::size_t resident_leaves() const { return resident_; }
  // What the tree holds in memory, roughly.
  std::uint64_t memory_bytes() const {
    std::uint64_t inner = 0;
    for (const auto& level : levels_) inner += level.memory_bytes();
    return leaves_.memory_bytes() + slots_.memory_bytes() + inner;
  }
  Bref root() const { return root_; }

 private:
  // A plain record: the directory of a large tree lives in a file-backed array.
  struct Leaf {
    std::uint64_t first = 0;  // key of the first entry
    Bref page;                // where it is on disk; 0 before its first commit
    std::uint32_t count = 0;  // its entries, in memory or on its page
    std::uint32_t slot = 0;   // its entries' slot in slots_ (from 1); 0 while dropped (clean leaves only)
    bool dirty = true;
  };
  // The leaves in key order. The array is made at the first leaf, with room for more leaves
  // than a PST can have; only what it holds is committed, and its pages are let go of as the
  // walks of the source and the commits go (release_file_backed_pages). The first key of every
  // kLeavesPerFence-th leaf is also kept in memory, so that a search reads one run of leaves
  // instead of a page at each halving of the whole array. A leaf's first key changes through
  // SetFirst only, which keeps its fence with it.
  class Directory {
   public:
    bool empty() const { return size() == 0; }
    std::size_t size() const { return array_ ? array_->size() : 0; }
    Leaf& operator[](std::size_t i) { return (*array_)[i]; }
    const Leaf& operator[](std::size_t i) const { return (*array_)[i]; }
    Leaf& front() { return (*array_)[0]; }
    Leaf& back() { return array_->back(); }
    const Leaf* begin() const { return array_ ? array_->begin() : nullptr; }
    const Leaf* end() const { return array_ ? array_->end() : nullptr; }
    Leaf& emplace_back(std::uint64_t first) {
      Leaf& leaf = Made().emplace_back();
      leaf.first = first;
      if ((size() - 1) % kLeavesPerFence == 0) fences_.push_back(first);
      return leaf;
    }
    void insert(std::size_t pos, const Leaf& leaf) {
      Made().insert(pos) = leaf;
      Refence(pos);
    }
    void erase(std::size_t pos) {
      array_->erase(pos);
      Refence(pos);
    }
    void SetFirst(std::size_t i, std::uint64_t first) {
      (*array_)[i].first = first;
      if (i % kLeavesPerFence == 0) fences_[i / kLeavesPerFence] = first;
    }
    void clear() {
      if (array_) array_->clear();
      fences_.clear();
    }
    // The last leaf whose first key is not above key; 0 when there is none.
    std::size_t Find(std::uint64_t key) const {
      const auto run = fenced_run(fences_, key, kLeavesPerFence, size());
      if (!run) return 0;
      const Leaf* it = std::upper_bound(begin() + run->first, begin() + run->second, key,
                                        [](std::uint64_t k, const Leaf& l) { return k < l.first; });
      return it == begin() ? 0 : static_cast<std::size_t>(it - begin()) - 1;
    }
    void ReleaseResidentPages() const {
      if (array_) array_->ReleaseResidentPages();
    }
    std::size_t memory_bytes() const { return array_ ? array_->memory_bytes() : 0; }

   private:
    static constexpr std::size_t kLeavesPerFence = 64;
    static constexpr std::size_t kFencesBetweenReleases = 16;
    ReservedArray<Leaf>& Made() {
      if (!array_) array_ = std::make_unique<ReservedArray<Leaf>>(kMostLeaves, Backing::kTemporaryFile);
      return *array_;
    }
    // The leaves from pos on moved by one place: their fences are read again, with the pages
    // they are on let go of every few fences, as the move let go of its own.
    void Refence(std::size_t pos) {
      fences_.resize(std::min(fences_.size(), (pos + kLeavesPerFence - 1) / kLeavesPerFence));
      for (std::size_t i = fences_.size() * kLeavesPerFence; i < size(); i += kLeavesPerFence) {
        fences_.push_back((*array_)[i].first);
        if (fences_.size() % kFencesBetweenReleases == 0) ReleaseResidentPages();
      }
    }
    std::unique_ptr<ReservedArray<Leaf>> array_;
    std::vector<std::uint64_t> fences_;  // the first key of leaves 0, kLeavesPerFence, ...
  };
  static constexpr std::size_t kMostLeaves = std::size_t{1} << 26;  // 2.5 GB of address space
  static constexpr std::size_t kLeavesBetweenReleases = 256;
  static constexpr std::uint32_t kSlotsBetweenReleases = 8;
  static constexpr std::size_t kLookupsBetweenReleases = 8;

  // The entries of a leaf in memory, in its slot: a run of at most capacity() entries, as many
  // as its leaf's count says.
  class EntryRun {
   public:
    EntryRun(Entry* data, std::uint32_t* size, std::size_t capacity) : data_(data), size_(size), capacity_(capacity) {}
    std::size_t size() const { return *size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return *size_ == 0; }
    Entry* begin() const { return data_; }
    Entry* end() const { return data_ + *size_; }
    Entry& front() const { return data_[0]; }
    Entry& back() const { return data_[*size_ - 1]; }
    void push_back(const Entry& e) { insert(end(), e); }
    void insert(Entry* at, const Entry& e) {
      if (*size_ >= capacity_) throw std::logic_error("B-tree leaf slot overflow");
      std::memmove(static_cast<void*>(at + 1), at, static_cast<std::size_t>(end() - at) * sizeof(Entry));
      *at = e;
      ++*size_;
    }
    void erase(Entry* at) {
      std::memmove(static_cast<void*>(at), at + 1, static_cast<std::size_t>(end() - at - 1) * sizeof(Entry));
      --*size_;
    }
    void resize(std::size_t n) { *size_ = static_cast<std::uint32_t>(std::min(n, size())); }
    void assign(const Entry* first, const Entry* last) {
      if (static_cast<std::size_t>(last - first) > capacity_) throw std::logic_error("B-tree leaf slot overflow");
      std::memmove(static_cast<void*>(data_), first, static_cast<std::size_t>(last - first) * sizeof(Entry));
      *size_ = static_cast<std::uint32_t>(last - first);
    }

   private:
    Entry* data_;
    std::uint32_t* size_;
    std::size_t capacity_;
  };

  // The leaves' slots, each a run of the same number of entries in one file-backed array. A
  // freed slot is used again: the free ones are chained through their first bytes, so that no
  // slot, used or free, costs memory beside the array's pages. Slots never move, so a run stays
  // valid while others are made.
  class Slots {
   public:
    std::uint32_t New(std::size_t stride) {
      if (!array_) {
        stride_ = stride;
        array_ = std::make_unique<ReservedArray<Entry>>(kMostSlots * stride_, Backing::kTemporaryFile);
      }
      if (free_ != 0) {
        const std::uint32_t slot = free_;
        std::memcpy(&free_, At(slot), sizeof free_);
        return slot;
      }
      for (std::size_t i = 0; i < stride_; ++i) array_->emplace_back();
      return static_cast<std::uint32_t>(array_->size() / stride_);
    }
    void Free(std::uint32_t slot) {
      std::memcpy(static_cast<void*>(At(slot)), &free_, sizeof free_);
      free_ = slot;
    }
    void clear() {
      if (array_) array_->clear();
      free_ = 0;
    }
    EntryRun Run(std::uint32_t slot, std::uint32_t& count) { return EntryRun(At(slot), &count, stride_); }
    void ReleaseResidentPages() const {
      if (array_) array_->ReleaseResidentPages();
    }
    std::size_t memory_bytes() const { return array_ ? array_->memory_bytes() : 0; }

   private:
    // More leaves than can be read or changed between two commits of any store.
    static constexpr std::size_t kMostSlots = std::size_t{1} << 24;
    Entry* At(std::uint32_t slot) { return &(*array_)[(slot - 1) * stride_]; }
    std::size_t stride_ = 0;
    std::unique_ptr<ReservedArray<Entry>> array_;
    std::uint32_t free_ = 0;  // the first free slot; 0 when none
  };
  // An intermediate page: a run of children of the level below, which it does not copy.
  struct Inner {
    std::uint64_t first = 0;  // key of its first child
    Bref page;
    std::uint32_t count = 0;  // children
  };
  // One level of intermediate pages. The level above the leaves of a large tree holds one record
  // for every few dozen leaves (hundreds of kilobytes at a few million blocks): it lives in a
  // file-backed array, like the leaf directory. A small level stays in memory.
  class InnerLevel {
   public:
    InnerLevel() = default;
    explicit InnerLevel(std::size_t expected) {
      if (expected > kInMemoryLevel) file_ = std::make_unique<ReservedArray<Inner>>(kMostLeaves, Backing::kTemporaryFile);
      else memory_.reserve(expected);
    }
    std::size_t size() const { return file_ ? file_->size() : memory_.size(); }
    const Inner& operator[](std::size_t i) const { return file_ ? (*file_)[i] : memory_[i]; }
    const Inner& front() const { return (*this)[0]; }
    const Inner* begin() const { return file_ ? file_->begin() : memory_.data(); }
    const Inner* end() const { return begin() + size(); }
    void push_back(const Inner& inner) {
      if (file_) file_->emplace_back() = inner;
      else memory_.push_back(inner);
    }
    void ReleaseResidentPages() const {
      if (file_) file_->ReleaseResidentPages();
    }
    std::size_t memory_bytes() const { return file_ ? file_->memory_bytes() : memory_.capacity() * sizeof(Inner); }

   private:
    static constexpr std::size_t kInMemoryLevel = 1024;
    std::unique_ptr<ReservedArray<Inner>> file_;
    std::vector<Inner> memory_;
  };

  EntryRun Entries(Leaf& leaf) {
    if (leaf.slot == 0) {
      // Too many clean leaves read back since the last commit: drop them before reading one more.
      if (resident_ >= kResidentLimit) DropClean();
      leaf.slot = NewSlot();
      ++resident_;
      const std::uint32_t count = leaf.count;
      leaf.count = 0;
      try {
        Load(leaf, count, SlotOf(leaf));
      } catch (...) {
        leaf.count = count;
        FreeSlot(leaf);
        throw;
      }
    }
    return SlotOf(leaf);
  }
  // The run's size is the leaf's count: a leaf's entries and its count never disagree.
  EntryRun SlotOf(Leaf& leaf) { return slots_.Run(leaf.slot, leaf.count); }
  std::uint32_t NewSlot() {
    // A page's worth and one more, which a split takes away at once.
    CountSlotTouch();
    return slots_.New(BtPage::MaxEntries(kPtype, 0, layout_) + 1);
  }
  void FreeSlot(Leaf& leaf) {
    if (leaf.slot == 0) return;
    CountSlotTouch();
    slots_.Free(leaf.slot);
    leaf.slot = 0;
    --resident_;
  }
  // Making, freeing or writing out a slot touches its page; what was written is in the file, so
  // the pages of a burst (a leaf filled every few messages, thousands of leaves freed after a
  // commit) are let go of every few touches. Slots are handed out again in no order, and the
  // system maps 64 KB around each page touched: a few hundred touches would hold megabytes.
  void CountSlotTouch() {
    if (++slot_touches_ % kSlotsBetweenReleases == 0) slots_.ReleaseResidentPages();
  }
  void ReleaseResidentPages() const {
    leaves_.ReleaseResidentPages();
    slots_.ReleaseResidentPages();
  }

  void Load(const Leaf& leaf, std::uint32_t count, EntryRun entries) const {
    const auto bytes = source_(leaf.page.ib);
    const auto parsed = BtPage::Parse(bytes, layout_);
    if (bytes.size() != page_size() || !check_page_trailer(bytes, kPtype, leaf.page.bid, leaf.page.ib, true, layout_).empty() || !parsed ||
        parsed->level != 0 || parsed->c_ent != count || parsed->c_ent > entries.capacity())
      throw std::runtime_error("the B-tree page at offset " + std::to_string(leaf.page.ib) + " changed on disk while writing");
    ByteReader r(parsed->entries);
    for (std::uint8_t i = 0; i < parsed->c_ent; ++i) {
      ByteReader e(r.bytes(parsed->cb_ent));
      entries.push_back(Entry::Parse(e, layout_));
    }
  }

  std::size_t LeafFor(std::uint64_t key) const {
    // A search reads a page or two of the directory, and the system maps the pages around
    // them as well: let go of them every few searches.
    if (++lookups_ % kLookupsBetweenReleases == 0) leaves_.ReleaseResidentPages();
    return leaves_.Find(key);
  }

  Bref WritePage(const BtPage& page, Bref old, FileSpace& space, std::uint64_t& next_page_bid) const {
    if (old.ib != 0) space.Free(old.ib, page_size());
    Bref fresh{next_page_bid++, space.AllocatePage()};
    space.Write(fresh.ib, page.Serialize(fresh.bid, fresh.ib, layout_));
    return fresh;
  }
  std::uint64_t page_size() const { return space_geometry(layout_).page_size; }

  FileLayout layout_;
  std::function<std::vector<std::uint8_t>(std::uint64_t ib)> source_;
  Directory leaves_;
  Slots slots_;
  std::size_t slot_touches_ = 0;
  mutable std::size_t lookups_ = 0;
  std::vector<InnerLevel> levels_;
  std::size_t count_ = 0;
  std::size_t resident_ = 0;
  std::uint64_t last_key_ = 0;  // the largest key; meaningful while the tree is not empty
  // The first leaf position where a leaf was added or removed since the last commit.
  std::size_t moved_from_ = 0;
  Bref root_;
};

}  // namespace salvora::pst
