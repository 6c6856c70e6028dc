#include "platform/reserved_array.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/temp_folder.h"

namespace salvora {

namespace {

std::size_t page_size() {
  static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

std::size_t round_up(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

// A file without a name, readable only by this user: in the temporary folder's base where the
// file system supports that, else in the process's private folder, removed at once.
int open_nameless_file() {
#ifdef O_TMPFILE
  const int fd = open(temp_base_folder().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
#endif
  const std::string path = new_temp_file_path("records");
  if (path.empty()) return -1;
  const int named = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (named >= 0) unlink(path.c_str());
  return named;
}

// The file-backed reservations of the process, for release_file_backed_pages, and the bytes
// their files hold between them.
struct FileBacked {
  std::mutex mutex;
  std::vector<ReservedMemory*> all;
  std::atomic<std::size_t> bytes{0};
};

FileBacked& file_backed_registry() {
  static FileBacked* registry = new FileBacked;  // never destroyed: arrays may outlive statics
  return *registry;
}

// The most one reservation takes under a limit on address space (ulimit -v, as batch
// schedulers set it): an eighth of what is left below the limit. The arrays are sized for the
// largest store the format allows; taken whole (or halved only until the system agrees) the
// first of them would leave nothing for the others, the heap and the threads' stacks, and a
// small store would fail for want of space it never needed. No limit: no cap.
// The process's resident memory in bytes, from a descriptor kept open; 0 when it cannot be read.
std::size_t resident_bytes() {
  static const int statm = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (statm < 0) return 0;
  char text[128];
  const ssize_t got = pread(statm, text, sizeof text - 1, 0);
  if (got <= 0) return 0;
  text[got] = '\0';
  unsigned long size = 0, resident = 0;
  if (std::sscanf(text, "%lu %lu", &size, &resident) != 2) return 0;
  return static_cast<std::size_t>(resident) * page_size();
}

// Whether letting go of file-backed pages is worth its cost now. While the files hold less
// than the budget, their pages cannot take more than that: no need to look.
bool over_resident_budget() {
  if (file_backed_registry().bytes.load(std::memory_order_relaxed) <= kResidentMemoryBudget) return false;
  const std::size_t resident = resident_bytes();
  return resident == 0 || resident > kResidentMemoryBudget;
}

std::size_t address_space_cap() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  std::size_t used = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    unsigned long pages = 0;
    if (std::fscanf(statm, "%lu", &pages) == 1) used = static_cast<std::size_t>(pages) * page_size();
    std::fclose(statm);
  }
  const auto allowed = static_cast<std::size_t>(limit.rlim_cur);
  return used < allowed ? (allowed - used) / 8 : 0;
}

}  // namespace

ReservedMemory::ReservedMemory(std::size_t max_bytes, Backing backing)
    : reserved_(round_up(std::max<std::size_t>(max_bytes, 1), page_size())) {
  // Reserved without access and without swap: the system counts none of it until committed.
  // Under a limit on address space (ulimit -v) less is reserved: at most a share of what the
  // limit leaves, and less again while the system refuses, down to 16 MB. What fits is then all
  // the array can hold.
  constexpr std::size_t kLeast = std::size_t{16} << 20;
  const std::size_t cap = address_space_cap();
  reserved_ = std::min(reserved_, std::max(kLeast, cap - cap % page_size()));
  for (;;) {
    void* p = mmap(nullptr, reserved_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED) {
      base_ = p;
      break;
    }
    if (reserved_ <= kLeast) throw std::bad_alloc();
    reserved_ = round_up(std::max(kLeast, reserved_ / 2), page_size());
  }
  if (backing == Backing::kTemporaryFile && max_bytes > 0) {
    fd_ = open_nameless_file();
    if (fd_ >= 0) {
      auto& registry = file_backed_registry();
      std::lock_guard lock(registry.mutex);
      registry.all.push_back(this);
    }
  }
}

ReservedMemory::~ReservedMemory() {
  if (fd_ >= 0) {
    auto& registry = file_backed_registry();
    {
      std::lock_guard lock(registry.mutex);
      std::erase(registry.all, this);
    }
    registry.bytes.fetch_sub(file_backed(), std::memory_order_relaxed);
    close(fd_);
  }
  if (base_) munmap(base_, reserved_);
}

void ReservedMemory::Commit(std::size_t bytes) {
  if (bytes <= committed_) return;
  if (bytes > reserved_) throw std::bad_alloc();
  // A step of at least 1 MB, or an eighth of what is in use: few calls, little left unused. A
  // file's steps stay at 256 KB: the pages filled since the last step are resident until the next
  // one lets them go.
  constexpr std::size_t kStep = std::size_t{1} << 20;
  const std::size_t grow = fd_ >= 0 && file_backed() == committed_ ? kStep / 4 : std::max(kStep, committed_ / 8);
  const std::size_t want = std::min(reserved_, round_up(std::max(bytes, committed_ + grow), page_size()));
  char* from = static_cast<char*>(base_) + committed_;
  const std::size_t length = want - committed_;
  // The file's blocks are allocated before they are mapped: a disk that fills up later must
  // not turn a write to the array into a crash. Where it cannot grow, memory takes over.
  if (fd_ >= 0 && file_backed() == committed_ && posix_fallocate(fd_, static_cast<off_t>(committed_), static_cast<off_t>(length)) == 0 &&
      mmap(from, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd_, static_cast<off_t>(committed_)) != MAP_FAILED) {
    file_bytes_.store(want, std::memory_order_relaxed);
    file_backed_registry().bytes.fetch_add(length, std::memory_order_relaxed);
  } else if (mprotect(from, length, PROT_READ | PROT_WRITE) != 0) {
    throw std::bad_alloc();
  }
  committed_ = want;
}

void ReservedMemory::ReleaseResidentPages() {
  const std::size_t bytes = file_backed();
  // Shared file pages keep what was written to them: the next access finds it in the file.
  if (bytes > 0 && over_resident_budget()) madvise(base_, bytes, MADV_DONTNEED);
}

void release_file_backed_pages() {
  if (!over_resident_budget()) return;
  auto& registry = file_backed_registry();
  std::lock_guard lock(registry.mutex);
  for (ReservedMemory* memory : registry.all) {
    if (const std::size_t bytes = memory->file_backed(); bytes > 0) madvise(memory->base(), bytes, MADV_DONTNEED);
  }
}

void release_free_heap_pages() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

}  // namespace salvora
