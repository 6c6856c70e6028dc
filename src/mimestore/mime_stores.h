#pragma once
// The stores of mail files: the store server makes one for every store path that ends in
// kMboxSuffix or kEmlSuffix (see mime_writer.h for what each holds), and a PST for any other.

#include <string_view>

namespace salvora::mime {

inline constexpr std::string_view kMboxSuffix = ".mbox";
inline constexpr std::string_view kEmlSuffix = ".eml";

// Registers both with the store server; safe to call more than once.
void register_mime_stores();

}  // namespace salvora::mime
