#pragma once
// The node and block B-trees as the writer keeps them: every leaf entry in memory, grouped as
// the leaf pages on disk, and copy-on-write at commit. Only leaves that changed since the last
// commit are written again, to new pages; intermediate pages are rebuilt from the leaves and
// written only where their content differs. Replaced pages are freed through the file space,
// which keeps them allocated until the new header is durable.
//
// Keys are appended in ascending order most of the time (new block ids, new message NIDs), so
// leaves fill completely; an insertion in the middle splits a full leaf in two.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "format/byte_writer.h"
#include "pststore/pst/disk_layout.h"
#include "pststore/pst/file_space.h"
#include "pststore/pst/page.h"

namespace salvora::pst {

template <class Entry, std::uint8_t kPtype>
class CowBTree {
 public:
  // Inserts an entry or replaces the one with the same key.
  void Put(const Entry& e) {
    const std::uint64_t key = e.key();
    const std::size_t cap = BtPage::MaxEntries(kPtype, 0);
    if (leaves_.empty() || key > leaves_.back().entries.back().key()) {
      if (leaves_.empty() || leaves_.back().entries.size() >= cap) {
        // Exactly one page's worth: the index of a large store is mostly full leaves.
        leaves_.emplace_back();
        leaves_.back().entries.reserve(cap);
      }
      leaves_.back().entries.push_back(e);
      leaves_.back().dirty = true;
      ++count_;
      return;
    }
    Leaf& leaf = leaves_[LeafFor(key)];
    auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), key,
                               [](const Entry& a, std::uint64_t k) { return a.key() < k; });
    leaf.dirty = true;
    if (it != leaf.entries.end() && it->key() == key) {
      *it = e;
      return;
    }
    leaf.entries.insert(it, e);
    ++count_;
    if (leaf.entries.size() > cap) {
      const std::size_t at = static_cast<std::size_t>(&leaf - leaves_.data());
      Leaf right;
      right.entries.assign(leaf.entries.begin() + static_cast<std::ptrdiff_t>(leaf.entries.size() / 2), leaf.entries.end());
      leaf.entries.resize(leaf.entries.size() / 2);
      leaves_.insert(leaves_.begin() + static_cast<std::ptrdiff_t>(at + 1), std::move(right));
    }
  }

  const Entry* Find(std::uint64_t key) const {
    if (leaves_.empty()) return nullptr;
    const Leaf& leaf = leaves_[LeafFor(key)];
    auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), key,
                               [](const Entry& a, std::uint64_t k) { return a.key() < k; });
    return (it != leaf.entries.end() && it->key() == key) ? &*it : nullptr;
  }

  bool Erase(std::uint64_t key, FileSpace& space) {
    if (leaves_.empty()) return false;
    const std::size_t li = LeafFor(key);
    Leaf& leaf = leaves_[li];
    auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), key,
                               [](const Entry& a, std::uint64_t k) { return a.key() < k; });
    if (it == leaf.entries.end() || it->key() != key) return false;
    leaf.entries.erase(it);
    leaf.dirty = true;
    --count_;
    if (leaf.entries.empty()) {
      if (leaf.page.ib != 0) space.Free(leaf.page.ib, kPageSize);
      leaves_.erase(leaves_.begin() + static_cast<std::ptrdiff_t>(li));
    }
    return true;
  }

  // Writes what changed and returns the root page; next_page_bid hands out page ids.
  Bref Commit(FileSpace& space, std::uint64_t& next_page_bid) {
    std::vector<BtEntry> children;
    children.reserve(leaves_.size());
    for (Leaf& leaf : leaves_) {
      if (leaf.dirty) {
        BtPage page{kPtype, 0, Entry::kSize, BtPage::MaxEntries(kPtype, 0), static_cast<std::uint8_t>(leaf.entries.size()), {}};
        ByteWriter w(488);
        for (const auto& e : leaf.entries) e.Serialize(w);
        page.entries = w.take();
        leaf.page = WritePage(page, leaf.page, space, next_page_bid);
        leaf.dirty = false;
      }
      children.push_back(BtEntry{leaf.entries.front().key(), leaf.page});
    }
    std::size_t level = 1;
    const std::size_t cap = BtPage::MaxEntries(kPtype, 1);
    while (children.size() > 1) {
      if (levels_.size() < level) levels_.emplace_back();
      auto& old = levels_[level - 1];
      std::vector<Inner> fresh;
      for (std::size_t i = 0; i < children.size(); i += cap) {
        Inner node;
        node.children.assign(children.begin() + static_cast<std::ptrdiff_t>(i),
                             children.begin() + static_cast<std::ptrdiff_t>(std::min(children.size(), i + cap)));
        const std::size_t idx = fresh.size();
        if (idx < old.size() && old[idx].children == node.children) {
          node.page = old[idx].page;
        } else {
          BtPage page{kPtype, static_cast<std::uint8_t>(level), BtEntry::kSize, static_cast<std::uint8_t>(cap),
                      static_cast<std::uint8_t>(node.children.size()), {}};
          ByteWriter w(488);
          for (const auto& c : node.children) c.Serialize(w);
          page.entries = w.take();
          node.page = WritePage(page, idx < old.size() ? old[idx].page : Bref{}, space, next_page_bid);
        }
        fresh.push_back(std::move(node));
      }
      for (std::size_t i = fresh.size(); i < old.size(); ++i) space.Free(old[i].page.ib, kPageSize);
      old = std::move(fresh);
      children.clear();
      for (const auto& n : old) children.push_back(BtEntry{n.children.front().key, n.page});
      ++level;
    }
    // A tree that lost levels frees the pages above its new root.
    while (levels_.size() >= level) {
      for (const auto& n : levels_.back()) space.Free(n.page.ib, kPageSize);
      levels_.pop_back();
    }
    root_ = children.empty() ? Bref{} : children.front().child;
    return root_;
  }

  // Takes over a tree read from an existing file: its leaf pages with their entries, in key
  // order, stay where they are until they change; its intermediate pages are freed and built
  // anew at the next commit, which then writes the root.
  void Adopt(std::vector<std::pair<Bref, std::vector<Entry>>> leaf_pages, const std::vector<Bref>& inner_pages,
             FileSpace& space) {
    leaves_.clear();
    levels_.clear();
    count_ = 0;
    for (auto& [page, entries] : leaf_pages) {
      if (entries.empty()) {
        space.Free(page.ib, kPageSize);
        continue;
      }
      count_ += entries.size();
      leaves_.push_back(Leaf{std::move(entries), page, false});
    }
    for (const Bref& page : inner_pages) space.Free(page.ib, kPageSize);
    root_ = Bref{};
  }

  std::size_t size() const { return count_; }
  Bref root() const { return root_; }
  void ForEach(const std::function<void(const Entry&)>& f) const {
    for (const auto& leaf : leaves_)
      for (const auto& e : leaf.entries) f(e);
  }

 private:
  struct Leaf {
    std::vector<Entry> entries;
    Bref page;
    bool dirty = true;
  };
  struct Inner {
    std::vector<BtEntry> children;
    Bref page;
  };

  std::size_t LeafFor(std::uint64_t key) const {
    auto it = std::upper_bound(leaves_.begin(), leaves_.end(), key,
                               [](std::uint64_t k, const Leaf& l) { return k < l.entries.front().key(); });
    return it == leaves_.begin() ? 0 : static_cast<std::size_t>(it - leaves_.begin() - 1);
  }

  static Bref WritePage(const BtPage& page, Bref old, FileSpace& space, std::uint64_t& next_page_bid) {
    if (old.ib != 0) space.Free(old.ib, kPageSize);
    Bref fresh{next_page_bid++, space.AllocatePage()};
    space.Write(fresh.ib, page.Serialize(fresh.bid, fresh.ib));
    return fresh;
  }

  std::vector<Leaf> leaves_;
  std::vector<std::vector<Inner>> levels_;
  std::size_t count_ = 0;
  Bref root_;
};

}  // namespace salvora::pst
