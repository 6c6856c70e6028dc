#include "platform/reserved_array.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

namespace salvora {

namespace {

std::size_t page_size() {
  static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

std::size_t round_up(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

}  // namespace

ReservedMemory::ReservedMemory(std::size_t max_bytes) : reserved_(round_up(std::max<std::size_t>(max_bytes, 1), page_size())) {
  // Reserved without access and without swap: the system counts none of it until committed.
  // Under a limit on address space (ulimit -v) less is reserved, down to 64 MB: what fits is
  // then all the array can hold.
  constexpr std::size_t kLeast = std::size_t{64} << 20;
  for (;;) {
    void* p = mmap(nullptr, reserved_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED) {
      base_ = p;
      return;
    }
    if (reserved_ <= kLeast) throw std::bad_alloc();
    reserved_ = round_up(std::max(kLeast, reserved_ / 2), page_size());
  }
}

ReservedMemory::~ReservedMemory() {
  if (base_) munmap(base_, reserved_);
}

void ReservedMemory::Commit(std::size_t bytes) {
  if (bytes <= committed_) return;
  if (bytes > reserved_) throw std::bad_alloc();
  // A step of at least 1 MB, or an eighth of what is in use: few calls, little left unused.
  constexpr std::size_t kStep = std::size_t{1} << 20;
  const std::size_t want = std::min(reserved_, round_up(std::max({bytes, committed_ + kStep, committed_ + committed_ / 8}), page_size()));
  if (mprotect(static_cast<char*>(base_) + committed_, want - committed_, PROT_READ | PROT_WRITE) != 0) throw std::bad_alloc();
  committed_ = want;
}

}  // namespace salvora
