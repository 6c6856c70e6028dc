#pragma once
// The stores of mail files: the store server makes one for every store path that ends in
// kMboxSuffix or kEmlSuffix (see mime_writer.h for what each holds), and a PST for any other.
// A path that ends in kAllSuffix ("X.pst+mbox+eml") is one store written in every form at
// once, into X.pst, X.mbox and X.eml (fan_out_writer.h).

#include <string>
#include <string_view>
#include <vector>

namespace salvora::mime {

inline constexpr std::string_view kMboxSuffix = ".mbox";
inline constexpr std::string_view kEmlSuffix = ".eml";
inline constexpr std::string_view kAllSuffix = ".pst+mbox+eml";

// The files a store path names: the path itself, or for kAllSuffix its PST, mbox and EML forms.
std::vector<std::string> form_paths(const std::string& store_path);

// Registers them with the store server; safe to call more than once.
void register_mime_stores();

}  // namespace salvora::mime
