#pragma once
// The product's global texts and folders, fixed at start-up and never changed afterwards.
//
// The install folder is where the program's resources/ folder was installed: beside the binary
// in a build tree, or share/salvora/resources under an installation prefix. It holds the pages
// the recovery screen shows; the data folder, its data/ subfolder, holds the skins and step
// pictures. The settings keep the install folder as "FilePath", written on first start.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/settings.h"

namespace salvora {

inline constexpr std::string_view kProductTitle = "Salvora for OST to PST";
inline constexpr std::string_view kVersionText = "Version 1.0";

struct ProductGlobals {
  std::string install_folder;  // "FilePath" as read at start-up
  std::string data_folder;     // the resources folder's data/ subfolder
  std::string log_folder;      // "LogPath" as read at start-up
};

// The folder of the running program (from /proc/self/exe); empty when it cannot be read.
std::filesystem::path program_folder();

// The resources folder that belongs to a program in program_folder: the first of
// <folder>/resources and <folder>/share/salvora/resources holding "progress.html", looking in
// program_folder and then in each of its parents.
std::optional<std::filesystem::path> find_resources_folder(const std::filesystem::path& program_folder);

// Start-up: writes the installation's values on first start, gives "FilePath" the resources
// folder again when it no longer names a folder (the program was moved or rebuilt elsewhere),
// and reads the globals. An empty resources_folder leaves the data folder empty.
ProductGlobals load_product_globals(SettingsStore& settings, const std::filesystem::path& resources_folder,
                                    const std::filesystem::path& default_log_folder);

// The process's globals from the user's settings file and this program's resources folder,
// loaded on first use (thread-safe).
const ProductGlobals& product_globals();

// The language file that a "LngFile" value selects: one of the four known names, matched without
// regard to case, and "EnglishA.dat" for anything else. No text is read from it.
std::string_view select_language_file(std::string_view lng_value);

}  // namespace salvora
