#pragma once
// The checks the first screen makes before it lets the recovery begin, so that a file that
// cannot be read or a destination that cannot be written is told at once, in the command
// line's words, and the user can choose again instead of finding out after a long analysis.

#include <QString>
#include <cstdint>

namespace salvora::ui {

// Empty when the file opens as an Outlook data file of a known version; else what is wrong with
// it (missing, a folder, not readable, in use, not an Outlook data file, unsupported).
QString source_problem(const QString& path);

// Empty when the PST can be written in the folder: it exists or can be made, it is writable,
// and the disk holds at least the source's size. The folder is not created here.
QString destination_problem(const QString& folder, std::uint64_t source_size);

}  // namespace salvora::ui
