#pragma once
// The activity and recovery logs: plain text, one line per call, each call appending a CR LF and
// then its text, so a file begins with an empty line.
//
// Every call reads the log's folder from the settings, opens the file, appends and closes it, so
// a new "LogPath" takes effect with the next line and lines survive the process being ended at
// any moment. A log that has grown past kLogSizeCap bytes is started afresh before the line is
// appended. Callable from any thread: writers in one process take turns, and each line is one
// append, so lines of two processes never mix.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "platform/settings.h"

namespace salvora {

enum class LogSelector : int { kActivity = 0, kRecovery = 1 };

inline constexpr std::string_view kActivityLogFile = "Activity Log.txt";
inline constexpr std::string_view kRecoveryLogFile = "Recovery Log.txt";
inline constexpr std::uint64_t kLogSizeCap = 4096;
inline constexpr std::size_t kMaxLogLineChars = 299;

class ActivityLog {
 public:
  explicit ActivityLog(SettingsStore settings) : settings_(std::move(settings)) {}

  // The file that the next line of the log goes to: the folder of its setting ("LogPath" or
  // "Recovery Log"), or "FilePath" when that is empty or not an existing folder. Empty when
  // both are empty.
  std::filesystem::path ResolvePath(LogSelector log) const;

  // Appends CR LF and the text (cut at a NUL and to kMaxLogLineChars characters). False when
  // the line could not be written; the line is then lost and nothing else happens.
  bool WriteLine(LogSelector log, std::string_view text) const;

 private:
  SettingsStore settings_;
};

// One line to a log of this process, with the user's settings file.
bool write_log_line(LogSelector log, std::string_view text);

}  // namespace salvora
