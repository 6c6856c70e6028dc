#pragma once
// A list of 64-bit numbers kept as the steps between neighbours, seven bits to a byte (a step
// down is folded into the odd numbers). The block ids and file offsets a writer collects over a
// large save mostly rise by small steps: a byte or two a number instead of eight, in lists that
// grow with the mailbox. Read in order or taken from the back, as a stack.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

namespace salvora {

class DeltaList {
 public:
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::uint64_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::uint64_t*;
    using reference = std::uint64_t;

    Iterator(const std::uint8_t* at, const std::uint8_t* end) : at_(at), end_(end) { Load(); }
    std::uint64_t operator*() const { return value_; }
    Iterator& operator++() {
      at_ = next_;
      Load();
      return *this;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    void Load() {
      if (at_ == end_) return;
      next_ = at_;
      value_ += Unfold(ReadStep(next_));
    }
    const std::uint8_t* at_;
    const std::uint8_t* end_;
    const std::uint8_t* next_ = nullptr;
    std::uint64_t value_ = 0;
  };

  void push_back(std::uint64_t value) {
    for (std::uint64_t step = Fold(value - last_); ; step >>= 7) {
      if (step < 0x80) {
        bytes_.push_back(static_cast<std::uint8_t>(step));
        break;
      }
      bytes_.push_back(static_cast<std::uint8_t>(step | 0x80));
    }
    last_ = value;
    ++count_;
  }
  std::uint64_t back() const { return last_; }
  void pop_back() {
    // The last number's bytes: each but its last carries the high bit, and the number before
    // it ends in a byte without it.
    std::size_t start = bytes_.size() - 1;
    while (start > 0 && (bytes_[start - 1] & 0x80) != 0) --start;
    const std::uint8_t* at = bytes_.data() + start;
    last_ -= Unfold(ReadStep(at));
    bytes_.resize(start);
    --count_;
  }
  void clear() {
    bytes_.clear();
    last_ = 0;
    count_ = 0;
  }
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  Iterator begin() const { return Iterator(bytes_.data(), bytes_.data() + bytes_.size()); }
  Iterator end() const { return Iterator(bytes_.data() + bytes_.size(), bytes_.data() + bytes_.size()); }
  std::size_t memory_bytes() const { return bytes_.capacity(); }

 private:
  static std::uint64_t Fold(std::uint64_t step) { return (step << 1) ^ (0 - (step >> 63)); }
  static std::uint64_t Unfold(std::uint64_t folded) { return (folded >> 1) ^ (0 - (folded & 1)); }
  static std::uint64_t ReadStep(const std::uint8_t*& at) {
    std::uint64_t step = 0;
    for (unsigned shift = 0;; shift += 7) {
      const std::uint8_t byte = *at++;
      step |= std::uint64_t{byte & 0x7Fu} << shift;
      if ((byte & 0x80) == 0) return step;
    }
  }

  std::vector<std::uint8_t> bytes_;
  std::uint64_t last_ = 0;  // the last number, from which pop_back steps back
  std::size_t count_ = 0;
};

}  // namespace salvora
