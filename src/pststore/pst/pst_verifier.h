#pragma once
// PstVerifier: the structural rules of a Unicode PST that a strict reader or a repair tool
// checks, applied to a whole file. Used by `salvora-cli verify` and by the writer's tests.
//
// Checked: header fields and CRCs; every B-tree page (trailer, CRC, signature, entry sizes,
// key order and ranges, levels); every block (trailer, CRC, signature, size, data-tree totals,
// full non-last blocks); reference counts; the allocation maps against the pages and blocks
// really in use and the free-space total (when the header marks the maps valid); the map
// pages' trailers; the minimum nodes of a store; the store object and its entry ids; the
// name-to-id map; every folder's tables against its children; every message's recipient and
// attachment tables against its attachment objects, embedded messages included.

#include <string>
#include <vector>

#include "platform/file64.h"

namespace salvora::pst {

struct VerifyResult {
  bool opened = false;                  // false: not a Unicode PST or unreadable
  std::vector<std::string> violations;  // one line each
  std::vector<std::string> notes;       // facts worth telling that are no violation
  std::size_t blocks = 0, nodes = 0, folders = 0, messages = 0;
};

class PstVerifier {
 public:
  // `lock`: the advisory lock to read under; a program that verifies another's file takes the
  // shared one, so a file still being written is reported as in use rather than half read.
  static VerifyResult Verify(const std::string& path, CFile64::Lock lock = CFile64::Lock::kNone);
};

}  // namespace salvora::pst
