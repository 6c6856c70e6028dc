#pragma once
// The folder for the files a save writes on its way to the target store (the mail header, large
// bodies, attachments, the decompressed RTF).
//
// Each process gets a private folder, made with mode 0700 under $TMPDIR (when it is an absolute
// path) or /tmp, so another user can neither read the mail passing through it nor plant a file
// or link under one of its fixed names. The path always ends in '/'. The folder and its contents
// go when the process exits; a child made by fork() never removes its parent's folder. The
// folder's name holds the process id ("salvora-<pid>-XXXXXX"), so that what a killed process
// left is removed by a later start (remove_abandoned_temp_folders).

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace salvora {

class TempFolder {
 public:
  // Creates base/salvora-<pid>-XXXXXX; path() is empty when that failed.
  explicit TempFolder(const std::filesystem::path& base);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // Removes the folder with its contents, once, and only in the process that created it.
  void Remove();

 private:
  std::string path_;
  pid_t owner_ = 0;
  bool removed_ = false;
};

// Removes the folders under base named for a process of this program whose process is gone
// (kill(pid, 0) fails with ESRCH) and that belong to this user; a live process's folder and
// another user's are left alone. Returns how many were removed.
int remove_abandoned_temp_folders(const std::filesystem::path& base);

// $TMPDIR when it is an absolute path to a folder, else /tmp.
std::filesystem::path temp_base_folder();

// The process's private folder, created on first use (thread-safe) and removed at normal exit;
// its creation first removes the abandoned folders of dead processes. Empty when it could not
// be created.
const std::string& temp_folder();

// A path in the process's folder that no other call in this process returns:
// <folder><prefix>-<n>.bin. Empty when there is no private folder.
std::string new_temp_file_path(const std::string& prefix);

// Removes the process's folder now, for an exit that skips normal clean-up. Later calls to
// temp_folder() return the same path, which no longer exists.
void remove_temp_folder();

}  // namespace salvora
