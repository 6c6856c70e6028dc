#pragma once
// An array that grows in place, inside address space reserved for its largest size up front.
// Its elements never move: they may refer to one another by distance, and growing never copies
// them (a vector of a million records needs three times their memory while it doubles).
//
// Only address space is reserved; memory is taken a step at a time as the array grows.
//
// An array may be backed by a temporary file instead of memory: its pages are then the file's,
// and ReleaseResidentPages lets go of them while their contents stay in the file (the system
// keeps them cached while it has memory to spare, and writes them out when it has not). What
// the array holds then costs the process no memory in proportion to its size: pages are let go
// of once the process passes kResidentMemoryBudget. The file has no name: it is gone when the
// array is, even after a kill.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

namespace salvora {

enum class Backing { kMemory, kTemporaryFile };

// What the process keeps in memory before file-backed pages are let go of. Letting go is not
// free: every thread's mappings are flushed with it, which cost a save a third of its time when
// pages went every few dozen records. So pages stay while the process is small, and go only once
// it holds more than this: a flat peak, well under a hundred megabytes, at any size.
inline constexpr std::size_t kResidentMemoryBudget = std::size_t{40} << 20;

class ReservedMemory {
 public:
  // A temporary file that cannot be made (no folder for it, a full disk) leaves the memory
  // backed by memory, from where the file stopped.
  explicit ReservedMemory(std::size_t max_bytes, Backing backing = Backing::kMemory);
  ~ReservedMemory();
  ReservedMemory(const ReservedMemory&) = delete;
  ReservedMemory& operator=(const ReservedMemory&) = delete;

  void* base() const { return base_; }
  std::size_t reserved() const { return reserved_; }
  std::size_t committed() const { return committed_; }
  // The first bytes that live in the temporary file (0 when memory backs them all).
  std::size_t file_backed() const { return file_bytes_.load(std::memory_order_relaxed); }
  // Makes at least the first bytes usable; throws std::bad_alloc beyond the reservation or
  // when the system has no memory left.
  void Commit(std::size_t bytes);
  // Unmaps the file-backed pages from the process; the next access maps them again, with their
  // contents. Safe while other threads read or write them.
  void ReleaseResidentPages();

 private:
  void* base_ = nullptr;
  std::size_t reserved_ = 0;
  std::size_t committed_ = 0;
  int fd_ = -1;
  std::atomic<std::size_t> file_bytes_{0};  // read by releases from other threads
};

// Releases the resident pages of every file-backed reservation of the process. The long walks
// call it every few thousand items, so that the pages they touched do not pile up.
void release_file_backed_pages();

// Hands the free pages inside the allocator's heaps back to the system: the allocator keeps
// them otherwise, and the holes a long run leaves add up. For the end of a large step of work,
// such as a checkpoint.
void release_free_heap_pages();

template <class T>
class ReservedArray {
  static_assert(std::is_trivially_destructible_v<T>, "elements are never destroyed one by one");

 public:
  explicit ReservedArray(std::size_t max_count, Backing backing = Backing::kMemory)
      : memory_(max_count * sizeof(T), backing) {}

  T& emplace_back() {
    if ((size_ + 1) * sizeof(T) > memory_.committed()) {
      // The elements appended so far are let go of at each step: an array filled in order
      // then holds at most a step of them in memory.
      memory_.ReleaseResidentPages();
      memory_.Commit((size_ + 1) * sizeof(T));
    }
    T* slot = new (data() + size_) T();
    ++size_;
    return *slot;
  }
  // Moves the elements from pos on one place up, for an element made at pos. Elements are
  // moved by their bytes, so these two are for plain records only. A move goes a step at a time,
  // and a file-backed array lets go of the pages of each step before the next: moving the tail
  // of a large array at once would map all of it.
  T& insert(std::size_t pos) {
    static_assert(std::is_trivially_copyable_v<T>);
    emplace_back();
    // From the top down, so that each step moves into the place the step before emptied.
    for (std::size_t hi = size_ - 1; hi > pos;) {
      const std::size_t lo = hi - std::min(hi - pos, kMoveStep);
      std::memmove(static_cast<void*>(data() + lo + 1), data() + lo, (hi - lo) * sizeof(T));
      hi = lo;
      if (hi > pos) memory_.ReleaseResidentPages();
    }
    return *new (data() + pos) T();
  }
  void erase(std::size_t pos) {
    static_assert(std::is_trivially_copyable_v<T>);
    for (std::size_t lo = pos; lo + 1 < size_;) {
      const std::size_t hi = std::min(size_ - 1, lo + kMoveStep);
      std::memmove(static_cast<void*>(data() + lo), data() + lo + 1, (hi - lo) * sizeof(T));
      lo = hi;
      if (lo + 1 < size_) memory_.ReleaseResidentPages();
    }
    --size_;
  }
  // Keeps the memory committed for the elements that come next.
  void clear() { size_ = 0; }
  T& operator[](std::size_t i) { return data()[i]; }
  const T& operator[](std::size_t i) const { return data()[i]; }
  T& back() { return data()[size_ - 1]; }
  const T& back() const { return data()[size_ - 1]; }
  T* begin() { return data(); }
  T* end() { return data() + size_; }
  const T* begin() const { return data(); }
  const T* end() const { return data() + size_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t max_size() const { return memory_.reserved() / sizeof(T); }
  std::size_t memory_bytes() const { return memory_.committed() - memory_.file_backed(); }
  std::size_t file_bytes() const { return memory_.file_backed(); }
  void ReleaseResidentPages() const { memory_.ReleaseResidentPages(); }

 private:
  static constexpr std::size_t kMoveStep = std::max<std::size_t>(1, (std::size_t{64} << 10) / sizeof(T));
  T* data() const { return static_cast<T*>(memory_.base()); }

  mutable ReservedMemory memory_;
  std::size_t size_ = 0;
};

}  // namespace salvora
