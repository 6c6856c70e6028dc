// The prefetcher must hand the pass exactly what loading on one thread gives, whatever the
// order the pass asks in and however the two threads are timed.

#include "engine/item_prefetch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace salvora {
namespace {

std::vector<NodeRecord> make_nodes(std::size_t n) {
  std::vector<NodeRecord> nodes(n);
  for (std::size_t i = 0; i < n; ++i) nodes[i].nid = Nid::make(kNidTypeNormalMessage, static_cast<std::uint32_t>(i + 1));
  return nodes;
}

// The nodes from..to as a folder's items, handed out one at a time.
ItemPrefetcher::ItemSequence pointers(const std::vector<NodeRecord>& nodes, std::size_t from, std::size_t to) {
  return [&nodes, i = from, to]() mutable -> const NodeRecord* { return i < to ? &nodes[i++] : nullptr; };
}

// A loader that names the node it loaded, fails on every seventh and counts its calls.
struct CountingLoader {
  std::mutex mutex;
  std::multiset<std::uint32_t> loaded;
  std::atomic<int> live{0};
  std::atomic<int> most_live{0};

  ItemPrefetcher::Loader make() {
    return [this](const NodeRecord& node, SourceObject& source) {
      {
        std::lock_guard lock(mutex);
        loaded.insert(node.nid.value);
      }
      if (node.nid.index() % 7 == 0) throw std::runtime_error("unreadable");
      auto record = std::make_unique<ItemRecord>();
      record->display_name = std::to_string(node.nid.value);
      source.codepage = node.nid.value;
      return record;
    };
  }
};

void expect_loaded(const LoadedItem& item, const NodeRecord& node) {
  if (node.nid.index() % 7 == 0) {
    EXPECT_TRUE(item.error);
    EXPECT_FALSE(item.record);
    return;
  }
  ASSERT_TRUE(item.record);
  EXPECT_EQ(item.record->display_name, std::to_string(node.nid.value));
  EXPECT_EQ(item.source.codepage, node.nid.value);
}

TEST(ItemPrefetch, NestedFoldersOutOfOrderAndUnqueuedNodesGetTheirOwnItems) {
  for (const auto sharing : {ItemPrefetcher::Sharing::kWorkerLoadsAll, ItemPrefetcher::Sharing::kShared})
  for (const std::size_t window : {0, 1, 8}) {
    SCOPED_TRACE(window);
    SCOPED_TRACE(static_cast<int>(sharing));
    const auto nodes = make_nodes(200);
    CountingLoader loader;
    {
      ItemPrefetcher prefetch(loader.make(), window, sharing);
      // A folder of 100 items, taken in order, with a subfolder entered half way.
      prefetch.Enter(pointers(nodes, 0, 100));
      for (std::size_t i = 0; i < 50; ++i) expect_loaded(prefetch.Take(nodes[i]), nodes[i]);
      prefetch.Enter(pointers(nodes, 100, 150));
      for (std::size_t i = 100; i < 150; ++i) expect_loaded(prefetch.Take(nodes[i]), nodes[i]);
      prefetch.Leave();
      for (std::size_t i = 50; i < 100; ++i) expect_loaded(prefetch.Take(nodes[i]), nodes[i]);
      prefetch.Leave();
      // Nodes never queued, and a folder taken backwards and left half done.
      for (std::size_t i = 150; i < 160; ++i) expect_loaded(prefetch.Take(nodes[i]), nodes[i]);
      prefetch.Enter(pointers(nodes, 160, 200));
      for (std::size_t i = 199; i >= 180; --i) expect_loaded(prefetch.Take(nodes[i]), nodes[i]);
      prefetch.Leave();
    }
    // Every node taken was loaded exactly once; at most the items of the folder left half done
    // were loaded and never taken.
    for (std::size_t i = 0; i < 200; ++i) {
      const std::size_t times = loader.loaded.count(nodes[i].nid.value);
      if (i >= 160 && i < 180) EXPECT_LE(times, 1u) << i;
      else EXPECT_EQ(times, 1u) << i;
    }
  }
}

TEST(ItemPrefetch, TheWindowBoundsWhatWaitsAndLeavingLetsItGo) {
  const auto nodes = make_nodes(100);
  std::atomic<int> calls{0};
  ItemPrefetcher prefetch(
      [&](const NodeRecord&, SourceObject&) {
        ++calls;
        return std::make_unique<ItemRecord>();
      },
      4);
  prefetch.Enter(pointers(nodes, 0, 100));
  // Nothing is taken: the worker stops at the window.
  while (calls.load() < 4) std::this_thread::yield();
  // Given time to go further, it does not: a pause, not a condition the test waits for.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(calls.load(), 4);
  // Leaving lets the waiting items go; a new folder is read from its start.
  prefetch.Leave();
  prefetch.Enter(pointers(nodes, 50, 60));
  for (std::size_t i = 50; i < 60; ++i) EXPECT_TRUE(prefetch.Take(nodes[i]).record);
  EXPECT_LE(calls.load(), 4 + 10);
}

// Items holding attachment data read ahead stop the worker once they hold the bound between
// them, however much room the window has; taking one lets it go on.
TEST(ItemPrefetch, TheBytesHeldBoundWhatWaits) {
  const auto nodes = make_nodes(20);
  std::atomic<int> calls{0};
  ItemPrefetcher prefetch(
      [&](const NodeRecord&, SourceObject& source) {
        ++calls;
        auto data = std::make_shared<ValueReadAhead>();
        data->bytes.resize(1000);
        source.attachment_data.push_back(std::move(data));
        return std::make_unique<ItemRecord>();
      },
      8, ItemPrefetcher::Sharing::kWorkerLoadsAll, 2500);
  prefetch.Enter(pointers(nodes, 0, 20));
  while (calls.load() < 3) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(calls.load(), 3);
  const LoadedItem first = prefetch.Take(nodes[0]);
  EXPECT_EQ(first.source.held_bytes(), 1000u);
  for (std::size_t i = 1; i < 20; ++i) EXPECT_TRUE(prefetch.Take(nodes[i]).record);
  EXPECT_EQ(calls.load(), 20);
}

// A sharing pass that finds the worker loading the node it wants loads the next one itself:
// with loads that take a while, both threads load, and each node is still loaded once.
TEST(ItemPrefetch, ASharingPassLoadsWhileTheWorkerDoes) {
  const auto nodes = make_nodes(60);
  std::mutex mutex;
  std::map<std::uint32_t, std::thread::id> loaded_on;
  ItemPrefetcher prefetch(
      [&](const NodeRecord& node, SourceObject&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::lock_guard lock(mutex);
        EXPECT_TRUE(loaded_on.emplace(node.nid.value, std::this_thread::get_id()).second) << node.nid.value;
        return std::make_unique<ItemRecord>();
      },
      8, ItemPrefetcher::Sharing::kShared);
  prefetch.Enter(pointers(nodes, 0, 60));
  for (const auto& node : nodes) EXPECT_TRUE(prefetch.Take(node).record);
  prefetch.Leave();
  std::size_t here = 0;
  for (const auto& [nid, thread] : loaded_on) here += thread == std::this_thread::get_id() ? 1 : 0;
  EXPECT_EQ(loaded_on.size(), 60u);
  // About half each; a pass that only waited would load one or two of them.
  EXPECT_GE(here, 10u);
  EXPECT_LE(here, 50u);
}

}  // namespace
}  // namespace salvora
