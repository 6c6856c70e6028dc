#pragma once
// convert over several files, each in a run of its own; see batch_convert.cpp.

#include "cli/command_line.h"

namespace salvora::cli {

int RunConvertBatch(const ParsedCommand& args);

}  // namespace salvora::cli
