#include "platform/product_globals.h"

#include <array>
#include <system_error>

#include "platform/plain_text.h"

namespace fs = std::filesystem;

namespace salvora {
namespace {

// A page every installation carries; it tells our resources folder from any other of that name.
constexpr std::string_view kMarkerPage = "progress.html";

bool is_resources_folder(const fs::path& candidate) {
  std::error_code ec;
  return fs::is_directory(candidate, ec) && fs::is_regular_file(candidate / kMarkerPage, ec);
}

}  // namespace

fs::path program_folder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path();
}

std::optional<fs::path> find_resources_folder(const fs::path& start) {
  if (start.empty()) return std::nullopt;
  std::error_code ec;
  fs::path folder = fs::weakly_canonical(start, ec);
  if (ec) folder = start;
  while (true) {
    for (const fs::path& candidate : {folder / "resources", folder / "share" / "salvora" / "resources"}) {
      if (is_resources_folder(candidate)) return candidate;
    }
    if (!folder.has_relative_path()) return std::nullopt;  // reached the root
    folder = folder.parent_path();
  }
}

ProductGlobals load_product_globals(SettingsStore& settings, const fs::path& resources_folder,
                                    const fs::path& default_log_folder) {
  settings.InstallDefaults({resources_folder.string(), default_log_folder.string()});
  ProductGlobals g;
  g.install_folder = settings.Read(kFilePathValue);
  std::error_code ec;
  if (!resources_folder.empty() && (g.install_folder.empty() || !fs::is_directory(g.install_folder, ec))) {
    // An installation that moved is reinstalled in place: the pages are where we were started.
    if (settings.Write(kFilePathValue, resources_folder.string())) g.install_folder = settings.Read(kFilePathValue);
  }
  if (!resources_folder.empty()) g.data_folder = (resources_folder / "data").string();
  g.log_folder = settings.Read(kLogPathValue);
  return g;
}

const ProductGlobals& product_globals() {
  static const ProductGlobals globals = [] {
    SettingsStore settings(SettingsStore::DefaultFile());
    const auto resources = find_resources_folder(program_folder());
    return load_product_globals(settings, resources.value_or(fs::path()), SettingsStore::DefaultLogFolder());
  }();
  return globals;
}

std::string_view select_language_file(std::string_view lng_value) {
  static constexpr std::array<std::string_view, 4> kKnown = {"EnglishA.dat", "FrenchA.dat", "DutchA.dat",
                                                             "GermanA.dat"};
  for (auto known : kKnown) {
    if (equal_ignoring_ascii_case(known, lng_value)) return known;
  }
  return kKnown[0];
}

}  // namespace salvora
