// The driver for fuzz targets built without libFuzzer (g++, and the normal test suite): runs
// LLVMFuzzerTestOneInput over every file named on the command line (a folder stands for the
// files in it, recursively), then over a fixed number of mutations of those inputs.
//
//   fuzz_<name> [--mutations=N] [--seed=S] [--max-len=BYTES] [--save-failing=DIR] PATH...
//
// The mutations come from a fixed pseudo-random sequence (seed S, default 1), so a run is the
// same on every machine and a failure found by the test suite reproduces with the same command.
// They favour the places where a store keeps its structure: the file header, the first bytes of
// a block or page, and the trailers at the end of 64-, 512- and 4096-byte units. Before each
// input runs, its label is kept; when a sanitizer or a fatal signal ends the process, the label
// goes to standard error and the input to --save-failing (default: the working folder) as
// fuzz-failure-<label>, ready to be replayed by passing that file alone.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*callback)(void));

namespace {

using Input = std::vector<std::uint8_t>;

struct Seed {
  std::string name;
  Input bytes;
};

// splitmix64: small, well mixed, and the same everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform enough in [0, n) for n > 0.
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
  bool OneIn(std::size_t n) { return Below(n) == 0; }

 private:
  std::uint64_t state_;
};

// What the crash report needs; written before each run so that a signal handler can use it
// without allocating.
char g_label[256] = "none";
char g_save_path[4096] = "";
const Input* g_current = nullptr;

void WriteAll(int fd, const void* data, std::size_t n) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w <= 0) return;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

void ReportFailure() {
  static bool reported = false;
  if (reported) return;
  reported = true;
  const char head[] = "\n== fuzz driver: failing input ";
  WriteAll(2, head, sizeof head - 1);
  WriteAll(2, g_label, std::strlen(g_label));
  if (g_current != nullptr && g_save_path[0] != '\0') {
    const int fd = ::open(g_save_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      WriteAll(fd, g_current->data(), g_current->size());
      ::close(fd);
      const char saved[] = " saved as ";
      WriteAll(2, saved, sizeof saved - 1);
      WriteAll(2, g_save_path, std::strlen(g_save_path));
    }
  }
  WriteAll(2, "\n", 1);
}

void OnFatalSignal(int sig) {
  ReportFailure();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

std::string SafeName(std::string s) {
  for (char& c : s) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') c = '_';
  }
  return s;
}

void Run(const Input& input, const std::string& label, const std::string& save_dir) {
  std::snprintf(g_label, sizeof g_label, "%s", label.c_str());
  std::snprintf(g_save_path, sizeof g_save_path, "%s/fuzz-failure-%s", save_dir.c_str(),
                SafeName(label).c_str());
  g_current = &input;
  // A copy of exactly the input's size, so that a read one byte past its end is caught.
  std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[std::max<std::size_t>(input.size(), 1)]);
  if (!input.empty()) std::memcpy(exact.get(), input.data(), input.size());
  LLVMFuzzerTestOneInput(exact.get(), input.size());
  g_current = nullptr;
}

// An offset where a store keeps structure, or anywhere.
std::size_t PickOffset(Random& rng, std::size_t size) {
  switch (rng.Below(6)) {
    case 0:  // the file header, or the first fields of an in-memory structure
      return rng.Below(std::min<std::size_t>(size, 600));
    case 1: {  // the trailer at the end of a 64-, 512- or 4096-byte unit
      static constexpr std::size_t kUnits[] = {64, 512, 4096};
      const std::size_t unit = kUnits[rng.Below(3)];
      if (size < unit) break;
      const std::size_t end = unit * (1 + rng.Below(size / unit));
      return end - 1 - rng.Below(std::min<std::size_t>(24, end));
    }
    case 2: {  // the first bytes of a 64-byte aligned block
      const std::size_t start = 64 * rng.Below(size / 64 + 1);
      if (start >= size) break;
      return std::min(size - 1, start + rng.Below(16));
    }
    default:
      break;
  }
  return rng.Below(size);
}

std::uint64_t InterestingValue(Random& rng, std::size_t size) {
  static constexpr std::uint64_t kValues[] = {
      0, 1, 2, 3, 4, 7, 8, 16, 0x20, 0x3F, 0x40, 0x7F, 0x80, 0xFF, 0x100, 0x1FF, 0x200, 0x3FF,
      0xFFF, 0x1000, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
      0xFFFFFFFFFFFFFFFFull, 0x8000000000000000ull};
  if (rng.OneIn(8)) return size + rng.Below(3) - 1;  // the input's own length, give or take one
  return kValues[rng.Below(std::size(kValues))];
}

void Mutate(Input& data, Random& rng, std::size_t max_len) {
  const std::size_t steps = 1 + rng.Below(rng.OneIn(4) ? 8 : 2);
  for (std::size_t step = 0; step < steps; ++step) {
    if (data.empty()) {
      data.push_back(static_cast<std::uint8_t>(rng.Next()));
      continue;
    }
    const std::size_t size = data.size();
    switch (rng.Below(10)) {
      case 0:
      case 1:  // one bit
        data[PickOffset(rng, size)] ^= static_cast<std::uint8_t>(1u << rng.Below(8));
        break;
      case 2:  // one byte, random
        data[PickOffset(rng, size)] = static_cast<std::uint8_t>(rng.Next());
        break;
      case 3:
      case 4: {  // a field of 1, 2, 4 or 8 bytes set to an edge value
        const std::size_t width = std::size_t{1} << rng.Below(4);
        const std::size_t off = PickOffset(rng, size);
        const std::uint64_t v = InterestingValue(rng, size);
        for (std::size_t i = 0; i < width && off + i < size; ++i) {
          data[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
        break;
      }
      case 5: {  // a field nudged up or down by a little
        const std::size_t off = PickOffset(rng, size);
        data[off] = static_cast<std::uint8_t>(data[off] + rng.Below(33) - 16);
        break;
      }
      case 6: {  // cut short: anywhere, or at a unit boundary
        std::size_t keep = rng.Below(size);
        if (rng.OneIn(2) && size > 512) keep = 512 * rng.Below(size / 512);
        data.resize(keep);
        break;
      }
      case 7: {  // a run of bytes copied over another place
        const std::size_t from = rng.Below(size);
        const std::size_t to = PickOffset(rng, size);
        const std::size_t n = std::min({1 + rng.Below(64), size - from, size - to});
        std::memmove(&data[to], &data[from], n);
        break;
      }
      case 8: {  // a run of bytes inserted or removed
        const std::size_t at = rng.Below(size);
        const std::size_t n = 1 + rng.Below(16);
        if (rng.OneIn(2)) {
          data.erase(data.begin() + static_cast<std::ptrdiff_t>(at),
                     data.begin() + static_cast<std::ptrdiff_t>(std::min(size, at + n)));
        } else if (size + n <= max_len) {
          const std::uint8_t fill = rng.OneIn(2) ? 0 : static_cast<std::uint8_t>(rng.Next());
          data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), n, fill);
        }
        break;
      }
      default: {  // a run zeroed or filled with 0xFF
        const std::size_t at = PickOffset(rng, size);
        const std::size_t n = std::min(size - at, 1 + rng.Below(32));
        std::memset(&data[at], rng.OneIn(2) ? 0 : 0xFF, n);
        break;
      }
    }
  }
}

bool ReadFile(const std::filesystem::path& path, Input& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool Collect(const std::string& arg, std::vector<Seed>& seeds) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(arg, ec)) {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(arg, ec)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());  // the order, and so the mutations, stay fixed
    for (const auto& f : files) {
      Seed s{f.filename().string(), {}};
      if (!ReadFile(f, s.bytes)) return false;
      seeds.push_back(std::move(s));
    }
    return true;
  }
  Seed s{fs::path(arg).filename().string(), {}};
  if (!ReadFile(arg, s.bytes)) return false;
  seeds.push_back(std::move(s));
  return true;
}

bool ParseCount(const std::string& arg, const char* prefix, std::uint64_t& out) {
  const std::size_t n = std::strlen(prefix);
  if (arg.compare(0, n, prefix) != 0) return false;
  out = std::strtoull(arg.c_str() + n, nullptr, 0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::uint64_t mutations = 0, seed = 1, max_len = 1u << 20;
  std::string save_dir = ".";
  std::vector<Seed> seeds;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (ParseCount(arg, "--mutations=", mutations) || ParseCount(arg, "--seed=", seed) ||
        ParseCount(arg, "--max-len=", max_len)) {
      continue;
    }
    if (arg.rfind("--save-failing=", 0) == 0) {
      save_dir = arg.substr(15);
      continue;
    }
    if (arg.rfind("-", 0) == 0) {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      return 2;
    }
    if (!Collect(arg, seeds)) {
      std::fprintf(stderr, "cannot read %s\n", arg.c_str());
      return 2;
    }
  }

  if (__sanitizer_set_death_callback != nullptr) __sanitizer_set_death_callback(ReportFailure);
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::signal(sig, OnFatalSignal);

  for (const Seed& s : seeds) Run(s.bytes, s.name, save_dir);
  if (seeds.empty()) {
    std::printf("no inputs\n");
    return mutations > 0 ? 2 : 0;
  }

  Random rng(seed);
  Input work;
  for (std::uint64_t m = 0; m < mutations; ++m) {
    const Seed& base = seeds[m % seeds.size()];
    work = base.bytes;
    if (work.size() > max_len) work.resize(max_len);
    Mutate(work, rng, max_len);
    Run(work, base.name + "-m" + std::to_string(m) + "-s" + std::to_string(seed), save_dir);
  }
  std::printf("%zu inputs, %llu mutations (seed %llu): no failure\n", seeds.size(),
              static_cast<unsigned long long>(mutations), static_cast<unsigned long long>(seed));
  return 0;
}
