#pragma once
// Which code page an ANSI store's 8-bit strings are written in, when its objects do not say.
//
// An object of an old store may name its code page (PR_MESSAGE_CODEPAGE, or the Internet code
// page of its body); most name none, and their strings are in the code page of the Windows that
// wrote them. Read in the wrong one they become mojibake, and once stored as Unicode that cannot
// be undone. So before a pass reads anything it looks at a sample of the strings of objects
// that name none and reads them in each common code page: bytes a code page cannot decode, and
// characters outside the scripts it is written in, tell the right one from the wrong ones.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ndb/ost_context.h"

namespace salvora {

// How well a set of strings reads in one code page: 1.0 when every character beyond ASCII is a
// letter of the code page's own scripts, lower for each one that is not, below 0 when bytes do
// not decode at all.
struct CodepageReading {
  std::uint32_t codepage = 0;
  double score = 0;
  std::size_t undecodable = 0;  // strings with a byte sequence the code page does not define
};
CodepageReading ReadStrings(const std::vector<std::string>& samples, std::uint32_t codepage);

struct CodepageChoice {
  std::uint32_t given = 1252;   // the code page the caller had
  std::uint32_t chosen = 1252;  // the one to read objects that name none with
  bool given_by_user = false;   // given is what the user asked for, not a default
  std::size_t sampled = 0;      // strings beyond ASCII looked at
  CodepageReading given_reading;
  CodepageReading best;         // the best reading found (may be the given one)
  // What the user should hear, one line, or empty when the given code page reads well.
  std::string message;
};

// Strings beyond ASCII of objects that name no code page, and the code pages the others name
// with how many objects name each.
struct CodepageSample {
  std::vector<std::string> strings;
  std::map<std::uint32_t, std::size_t> named;
};
CodepageChoice ChooseCodepage(const CodepageSample& sample, std::uint32_t given, bool given_by_user);

// Samples the 8-bit strings of the store's objects that name no code page (the indexes must be
// loaded) and picks the code page they read best in. A code page the user gave is kept and only
// questioned in the message; a default is replaced when another reads markedly better or the
// objects themselves name one. Unicode stores are left as they are.
CodepageChoice ChooseCodepage(const OstContext& context, std::uint32_t given, bool given_by_user);

// "932 (Japanese)".
std::string CodepageLabel(std::uint32_t codepage);

// The Windows code page an Internet code page (an object's PR_INTERNET_CPID) stands for in an
// ANSI store's 8-bit strings; 0 when it says nothing about them (UTF-8, UTF-16, unknown).
std::uint32_t AnsiCodepageOf(std::uint32_t internet_codepage);

}  // namespace salvora
