#pragma once
// Finds the OST files under a folder for the search screen: every entry whose name contains
// ".ost" in any letter case (a.ost, b.OST, c.ost.old, and folders named so), reported one by one
// as found.
//
// Search runs on the caller's thread (a worker, for the screen) and calls back on that thread;
// RequestStop may be called from any other thread and ends the search at its next entry. With
// subfolders included, a subfolder is searched completely before the entries of its parent are
// reported. Symbolic links to folders are listed when their names match but never entered, and a
// folder already searched is not entered again, so link and mount loops end; folders that cannot
// be read contribute nothing. Qt-free.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace salvora::ui {

struct FoundEntry {
  std::string name;       // the entry's own name
  std::string full_path;  // folder and name; a folder ends in '/'
  std::string folder;     // the folder it was found in
  bool is_folder = false;
  std::uintmax_t size = 0;  // bytes; 0 for a folder
  std::time_t modified = 0;
};

struct FinderCallbacks {
  // A folder is about to be listed; found is the number of entries reported so far.
  std::function<void(const std::string& folder, int found)> folder_entered;
  // One more entry; found counts it.
  std::function<void(const FoundEntry& entry, int found)> entry_found;
};

class OstFileFinder {
 public:
  explicit OstFileFinder(FinderCallbacks callbacks) : callbacks_(std::move(callbacks)) {}

  // Searches the folder; returns the number of entries reported. A finder searches once: a stop
  // requested before the search began ends it at once.
  int Search(const std::filesystem::path& folder, bool include_subfolders);

  void RequestStop() { stop_.store(true); }
  bool stop_requested() const { return stop_.load(); }

 private:
  struct Walk;
  void SearchFolder(Walk& walk, const std::filesystem::path& folder);

  FinderCallbacks callbacks_;
  std::atomic<bool> stop_{false};
};

// True when the name contains ".ost" in any letter case.
bool matches_ost_pattern(std::string_view name);

// The result list's size column: whole kilobytes ("10 KB") from 10 KB on, else bytes ("10239 B").
std::string format_found_size(std::uintmax_t bytes);

// The result list's modified column in local time, e.g. "06-01-2008 09:05 PM".
std::string format_found_time(std::time_t when);

}  // namespace salvora::ui
