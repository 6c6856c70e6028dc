#pragma once
// A small mailbox written with the PST writer for the tests: folders at several depths,
// messages with Unicode text in many scripts, recipients, attachments (in memory, streamed
// from a file, embedded messages) and named properties.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pststore/pst/pst_writer.h"

namespace salvora::pst::testing {

struct SampleOptions {
  CryptMethod crypt = CryptMethod::kPermute;
  int messages_per_folder = 3;
  std::size_t big_attachment = 100000;  // bytes of the streamed attachment
  std::uint64_t checkpoint_bytes = 256ull << 20;
};

// One expected message as the peer dumps show it.
struct ExpectedMessage {
  std::string folder;   // path below the root folder
  std::string subject;
  std::string sender_name;
  std::size_t body_len = 0;
  std::vector<std::pair<std::string, std::uint64_t>> attachments;  // file name, size
};

std::vector<ExpectedMessage> WriteSampleMailbox(const std::string& path, const SampleOptions& options = {});

// A path in this process's scratch folder, which is removed when the test program ends.
std::string TempPath(const std::string& name);
// Removes a process's scratch folder: a forked child killed on purpose leaves its own behind.
void RemoveScratchOf(pid_t pid);

}  // namespace salvora::pst::testing
