#pragma once
// The command line's JSON output is the program's one JSON writer, kept in platform/.

#include "platform/json_text.h"

namespace salvora::cli {

using salvora::json_string;
using salvora::JsonObject;

}  // namespace salvora::cli
