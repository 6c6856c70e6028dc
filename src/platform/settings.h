#pragma once
// The program's settings: a handful of string values in one section of an INI file.
//
// The values live in section [SVOST_PST] of settings.ini under $XDG_CONFIG_HOME/salvora/
// (~/.config/salvora/ when the variable is unset or not absolute). A value is at most
// kMaxSettingChars characters; a missing file, section or value, or a longer value, reads as
// the empty string. Writes replace the file atomically, so a reader on another thread or in
// another process sees either the old or the new file, never half of one. A SettingsStore holds
// only the file's path: every Read goes to the file, so a value written by one store is seen by
// every other. Safe to use from any thread.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace salvora {

inline constexpr std::string_view kSettingsKey = "SVOST_PST";
inline constexpr std::size_t kMaxSettingChars = 259;

// The value names.
inline constexpr std::string_view kFilePathValue = "FilePath";         // install folder
inline constexpr std::string_view kLogPathValue = "LogPath";           // folder of the activity log
inline constexpr std::string_view kRecoveryLogValue = "Recovery Log";  // folder of the recovery log
inline constexpr std::string_view kReportFileValue = "RPTFile";        // full path of the report
inline constexpr std::string_view kLanguageFileValue = "LngFile";      // language file name

// What an installation puts into a fresh settings file.
struct InstalledSettings {
  std::string install_folder;  // becomes FilePath
  std::string log_folder;      // becomes LogPath and Recovery Log; created when missing
};

class SettingsStore {
 public:
  explicit SettingsStore(std::filesystem::path file) : file_(std::move(file)) {}

  // The user's settings file; empty when neither XDG_CONFIG_HOME nor a home folder is known.
  static std::filesystem::path DefaultFile();
  // The default log folder: $XDG_STATE_HOME/salvora, or ~/.local/state/salvora.
  static std::filesystem::path DefaultLogFolder();

  const std::filesystem::path& file() const { return file_; }

  // The value, or "" when it is missing or longer than kMaxSettingChars characters. Names are
  // compared without regard to case, as the registry does.
  std::string Read(std::string_view name) const;

  // Sets the value, creating the folder, file and section as needed. Refuses (returns false)
  // a text that would not read back as written: longer than kMaxSettingChars characters, with a
  // line break or NUL, or with blanks at either end. Other sections and lines are kept.
  bool Write(std::string_view name, std::string_view text);

  // First start: when the settings file does not exist, writes the values an installation
  // would have put there and creates the log folder. Returns true when it wrote the file.
  bool InstallDefaults(const InstalledSettings& installed);

 private:
  std::filesystem::path file_;
};

}  // namespace salvora
