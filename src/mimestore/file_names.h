#pragma once
// Names of the files and folders the mbox and message-file stores make, safe on every file
// system a user may copy them to: no '/', '\\' or the characters Windows refuses, no control
// characters, no leading or trailing dots and spaces, whole UTF-8 characters only, at most
// kMaxNameBytes bytes, and never "." or "..".

#include <cstddef>
#include <string>
#include <string_view>

namespace salvora::mime {

inline constexpr std::size_t kMaxNameBytes = 120;

// A name made safe; fallback when nothing of it is left.
std::string safe_name(std::string_view text, std::string_view fallback);

// folder/stem + ext, or folder/stem (2) + ext... for the first name nothing has yet; the file
// is created (empty, mode 0600) so that no other writer takes it. Throws CFileException.
std::string create_unique_file(const std::string& folder, const std::string& stem, const std::string& ext);

}  // namespace salvora::mime
