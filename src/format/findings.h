#pragma once
// What a structure parser found wrong, and the tolerance its caller chose.
//
// Every parser of an on-disk structure reports each violation it meets to a Findings and goes
// on as far as the bytes allow. The caller's tolerance decides what a violation costs:
//   - salvage: the parser keeps whatever is still usable (a heap block with a broken page map
//     fails only the lookups into it, an internal block that is no data tree is taken as data,
//     a BTH index record pointing back into the tree is skipped) and the caller counts the
//     findings and names them to the user;
//   - strict: the same violations make the structure fail, and every finding is a line the
//     verifier prints or a reason the opener refuses the file.
// Reads past a buffer are refused under both: no parser ever reads outside its span.
//
// A Findings is a plain value used by one thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace salvora {

enum class Tolerance { kSalvage, kStrict };

// The line of a field whose value is not the one the rest of the file calls for, with both:
// "<field> is <found>, expected <expected>". Counts go in decimal, offsets and ids in hex.
std::string field_mismatch(std::string_view field, std::string_view found, std::string_view expected);
std::string field_mismatch(std::string_view field, std::uint64_t found, std::uint64_t expected);

class Findings {
 public:
  explicit Findings(Tolerance tolerance) : tolerance_(tolerance) {}

  bool strict() const { return tolerance_ == Tolerance::kStrict; }
  void add(std::string text);

  // Every finding under strict; under salvage the first kKeptWhenSalvaging (a damaged file can
  // repeat one fault for each of its blocks), while count() goes on counting.
  const std::vector<std::string>& items() const { return items_; }
  std::size_t count() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Hands the kept texts over and starts afresh.
  std::vector<std::string> take();

  static constexpr std::size_t kKeptWhenSalvaging = 64;

 private:
  Tolerance tolerance_;
  std::vector<std::string> items_;
  std::size_t count_ = 0;
};

}  // namespace salvora
