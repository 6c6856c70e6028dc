#pragma once
// An array that grows in place, inside address space reserved for its largest size up front.
// Its elements never move: they may refer to one another by distance, and growing never copies
// them (a vector of a million records needs three times their memory while it doubles).
//
// Only address space is reserved; memory is taken a step at a time as the array grows.

#include <cstddef>
#include <new>
#include <type_traits>

namespace salvora {

class ReservedMemory {
 public:
  explicit ReservedMemory(std::size_t max_bytes);
  ~ReservedMemory();
  ReservedMemory(const ReservedMemory&) = delete;
  ReservedMemory& operator=(const ReservedMemory&) = delete;

  void* base() const { return base_; }
  std::size_t reserved() const { return reserved_; }
  std::size_t committed() const { return committed_; }
  // Makes at least the first bytes usable; throws std::bad_alloc beyond the reservation or
  // when the system has no memory left.
  void Commit(std::size_t bytes);

 private:
  void* base_ = nullptr;
  std::size_t reserved_ = 0;
  std::size_t committed_ = 0;
};

template <class T>
class ReservedArray {
  static_assert(std::is_trivially_destructible_v<T>, "elements are never destroyed one by one");

 public:
  explicit ReservedArray(std::size_t max_count) : memory_(max_count * sizeof(T)) {}

  T& emplace_back() {
    if ((size_ + 1) * sizeof(T) > memory_.committed()) memory_.Commit((size_ + 1) * sizeof(T));
    T* slot = new (data() + size_) T();
    ++size_;
    return *slot;
  }
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
  std::size_t memory_bytes() const { return memory_.committed(); }

 private:
  T* data() const { return static_cast<T*>(memory_.base()); }

  ReservedMemory memory_;
  std::size_t size_ = 0;
};

}  // namespace salvora
