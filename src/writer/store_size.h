#pragma once
// Sizes of the PSTs a save writes: the limit a user gives to split at ("45G", "500M"), the
// largest PST Outlook opens without a change to its settings, and how large a source's PST is
// likely to be.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ndb/ost_context.h"

namespace salvora {

// Outlook's default largest Unicode PST: 50 GB.
inline constexpr std::uint64_t kOutlookPstLimit = 50ull << 30;
// A limit below this leaves no room beside the folders and tables every PST begins with.
inline constexpr std::uint64_t kSmallestSplitSize = 512ull << 10;

// A size as a user writes it: bytes, or a whole number with K, M or G (powers of 1024, either
// case, "B" or "iB" after them allowed): "45G", "500M", "2000K", "1048576". Empty for anything
// else, for 0 and past 2^62.
std::optional<std::uint64_t> parse_store_size(std::string_view text);
// "45G", "500M", "2000K" or bytes: the shortest exact form, which parse_store_size reads back.
std::string store_size_text(std::uint64_t bytes);
// "51.2 GB": for messages.
std::string readable_size(std::uint64_t bytes);

// The PST a source is likely to give: the inflated bytes of the source's blocks and a tenth
// more. Loads the block index of the opened context; 0 when it cannot be read.
std::uint64_t predicted_pst_size(OstContext& context);

}  // namespace salvora
