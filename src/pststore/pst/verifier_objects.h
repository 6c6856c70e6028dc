#pragma once
// The messaging-level half of PstVerifier: minimum nodes, store object, name-to-id map,
// folders against their tables, messages against their recipient and attachment tables.

#include "pststore/pst/pst_file_reader.h"
#include "pststore/pst/pst_verifier.h"

namespace salvora::pst {

void check_objects(const PstFileReader& reader, VerifyResult& out);

}  // namespace salvora::pst
