#include "engine/codepage_probe.h"

#include <algorithm>
#include <array>

#include "content/property_ids.h"
#include "engine/object_reader.h"
#include "format/text.h"

namespace salvora {

namespace {

constexpr std::uint16_t kTypeString8 = 0x001E;
constexpr std::uint16_t kInternetCodepageId = 0x3FDE;  // PR_INTERNET_CPID

// Enough strings to tell the code pages apart, few enough objects that a large store does not
// wait for it.
constexpr std::size_t kMaxObjects = 4000;
constexpr std::size_t kMaxStrings = 2000;
constexpr std::size_t kMaxSampleBytes = 256 * 1024;

// A reading must beat the given code page's by this much before it replaces it: on text that
// reads well in both (Western text read as Japanese, say) the given one stays.
constexpr double kMarkedlyBetter = 0.25;
// A reading that is itself this poor is no answer, however much worse the given one is.
constexpr double kReadsWell = 0.5;

// The code pages of Windows's ANSI text, in the order a tie is settled in.
constexpr std::array<std::uint32_t, 13> kCommonCodepages = {1252, 1250, 1251, 1253, 1254, 1255, 1256,
                                                            1257, 874,  932,  936,  949,  950};

struct Range {
  char32_t first, last;
};

enum class Script { kLatin, kCyrillic, kGreek, kHebrew, kArabic, kThai, kJapanese, kChinese, kKorean };

Script script_of(std::uint32_t codepage) {
  switch (codepage) {
    case 1251: return Script::kCyrillic;
    case 1253: return Script::kGreek;
    case 1255: return Script::kHebrew;
    case 1256: return Script::kArabic;
    case 874: return Script::kThai;
    case 932: return Script::kJapanese;
    case 936: case 950: return Script::kChinese;
    case 949: return Script::kKorean;
    default: return Script::kLatin;
  }
}

constexpr Range kHan[] = {{0x3000, 0x303F}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF}, {0xF900, 0xFAFF}, {0xFF01, 0xFF5E}};

bool in(char32_t c, std::initializer_list<Range> ranges) {
  return std::any_of(ranges.begin(), ranges.end(), [c](const Range& r) { return c >= r.first && c <= r.last; });
}

bool is_han(char32_t c) {
  return std::any_of(std::begin(kHan), std::end(kHan), [c](const Range& r) { return c >= r.first && c <= r.last; });
}

// A letter of the scripts the code page is written in.
bool native(char32_t c, Script script) {
  switch (script) {
    case Script::kLatin: return (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) || in(c, {{0x1E00, 0x1EFF}});
    case Script::kCyrillic: return in(c, {{0x0400, 0x04FF}});
    case Script::kGreek: return in(c, {{0x0370, 0x03FF}});
    case Script::kHebrew: return in(c, {{0x0590, 0x05FF}});
    case Script::kArabic: return in(c, {{0x0600, 0x06FF}, {0x0750, 0x077F}});
    case Script::kThai: return in(c, {{0x0E00, 0x0E7F}});
    // Half-width katakana are left out on purpose: they are rare in Japanese text and are what
    // Chinese and Korean text turns into when read as Japanese.
    case Script::kJapanese: return is_han(c) || in(c, {{0x3040, 0x30FF}});
    case Script::kChinese: return is_han(c);
    case Script::kKorean: return is_han(c) || in(c, {{0xAC00, 0xD7AF}, {0x3130, 0x318F}});
  }
  return false;
}

// Signs any text may hold (no-break space, currency, quotes, dashes, the trade mark): they
// neither speak for a code page nor against it.
bool neutral(char32_t c) { return in(c, {{0xA0, 0xBF}, {0x2000, 0x206F}, {0x20A0, 0x20CF}, {0x2100, 0x214F}}); }

std::vector<char32_t> code_points(const std::string& utf8) {
  std::vector<char32_t> out;
  const std::u16string u16 = utf8_to_utf16(utf8);
  for (std::size_t i = 0; i < u16.size(); ++i) {
    char32_t c = u16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u16.size()) c = 0x10000 + ((c - 0xD800) << 10) + (u16[++i] - 0xDC00);
    out.push_back(c);
  }
  return out;
}

struct Tally {
  std::size_t native = 0, odd = 0, invalid = 0;
};

bool ascii_letter(char32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Scripts whose words are written without Latin letters in them.
bool alphabet_of_its_own(Script script) {
  return script == Script::kCyrillic || script == Script::kGreek || script == Script::kHebrew ||
         script == Script::kArabic || script == Script::kThai;
}

void tally_string(const std::vector<char32_t>& text, Script script, Tally& t) {
  // In a Latin script a letter beyond ASCII stands among ASCII letters; three or more in a row
  // are the mark of a multi-byte text read one byte at a time. In Cyrillic, Greek and the like
  // it is the other way round: a letter beside a Latin one is Western text misread.
  // Signs count in a run (a misread lead byte is often one) but are not scored.
  std::size_t run = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] >= 0x80) {
      ++run;
      continue;
    }
    for (std::size_t k = i - run; k < i; ++k) {
      const char32_t c = text[k];
      if (neutral(c)) continue;
      const bool beside_latin = (k > 0 && ascii_letter(text[k - 1])) || (k + 1 < text.size() && ascii_letter(text[k + 1]));
      if (c == 0xFFFD) ++t.invalid;
      else if (!native(c, script)) ++t.odd;
      else if (script == Script::kLatin && run >= 3) ++t.odd;
      else if (alphabet_of_its_own(script) && beside_latin) ++t.odd;
      else ++t.native;
    }
    run = 0;
  }
}

std::string_view language_of(std::uint32_t codepage) {
  switch (codepage) {
    case 874: return "Thai";
    case 932: return "Japanese";
    case 936: return "Simplified Chinese";
    case 949: return "Korean";
    case 950: return "Traditional Chinese";
    case 1250: return "Central European";
    case 1251: return "Cyrillic";
    case 1252: return "Western European";
    case 1253: return "Greek";
    case 1254: return "Turkish";
    case 1255: return "Hebrew";
    case 1256: return "Arabic";
    case 1257: return "Baltic";
    case 1258: return "Vietnamese";
    default: return {};
  }
}

struct Sample : CodepageSample {
  std::size_t bytes = 0;
  bool full() const { return strings.size() >= kMaxStrings || bytes >= kMaxSampleBytes; }
};

std::uint32_t named_codepage(const PropertyBlock& block) {
  if (const auto* e = block.find(content_pid::kMessageCodepage)) {
    if (auto cp = value_i32(*e); cp && *cp > 0) return static_cast<std::uint32_t>(*cp);
  }
  if (const auto* e = block.find(kInternetCodepageId)) {
    if (auto cp = value_i32(*e); cp && *cp > 0) return AnsiCodepageOf(static_cast<std::uint32_t>(*cp));
  }
  return 0;
}

void sample_object(const LoadedObject& object, Sample& sample) {
  for (const auto& block : object.properties.blocks) {
    if (const std::uint32_t cp = named_codepage(block); cp != 0) {
      ++sample.named[cp];
      return;
    }
  }
  for (const auto& block : object.properties.blocks) {
    for (const auto& e : block.entries) {
      if (e.type != kTypeString8 || !e.value) continue;
      const auto& v = *e.value;
      const auto end = std::find(v.begin(), v.end(), std::uint8_t{0});
      if (std::none_of(v.begin(), end, [](std::uint8_t b) { return b >= 0x80; })) continue;
      sample.strings.emplace_back(v.begin(), end);
      sample.bytes += sample.strings.back().size();
      if (sample.full()) return;
    }
  }
}

Sample take_sample(const OstContext& context) {
  Sample sample;
  if (!context.nodes) return sample;
  std::size_t objects = 0;
  for (const NodeRecord& node : context.nodes->nodes()) {
    if (objects >= kMaxObjects || sample.full() || context.stopped()) break;
    const std::uint8_t type = node.nid.type();
    if (type != 0x02 && type != 0x04 && type != 0x08) continue;  // folders, messages, hidden items
    ++objects;
    ReadObjectOptions options;
    options.listing = true;
    if (auto object = ReadObject(context, node, options)) sample_object(*object, sample);
  }
  return sample;
}

}  // namespace

CodepageReading ReadStrings(const std::vector<std::string>& samples, std::uint32_t codepage) {
  CodepageReading reading;
  reading.codepage = codepage;
  const Script script = script_of(codepage);
  Tally t;
  for (const auto& s : samples) {
    const std::size_t invalid_before = t.invalid;
    tally_string(code_points(codepage_to_utf8(std::string_view(s), codepage)), script, t);
    if (t.invalid > invalid_before) ++reading.undecodable;
  }
  const auto native = static_cast<double>(t.native), odd = static_cast<double>(t.odd),
             invalid = static_cast<double>(t.invalid);
  const double counted = native + odd + invalid;
  reading.score = counted == 0 ? 1.0 : (native - odd - 3.0 * invalid) / counted;
  return reading;
}

std::string CodepageLabel(std::uint32_t codepage) {
  const std::string_view language = language_of(codepage);
  std::string label = std::to_string(codepage);
  if (!language.empty()) label.append(" (").append(language).append(")");
  return label;
}

std::uint32_t AnsiCodepageOf(std::uint32_t internet_codepage) {
  switch (internet_codepage) {
    case 874: case 932: case 936: case 949: case 950:
    case 1250: case 1251: case 1252: case 1253: case 1254: case 1255: case 1256: case 1257: case 1258:
      return internet_codepage;
    case 50220: case 50221: case 50222: case 51932: return 932;   // ISO-2022-JP, EUC-JP
    case 20936: case 52936: case 54936: return 936;              // GB2312, HZ, GB18030
    case 51949: return 949;                                        // EUC-KR
    case 28591: case 28605: case 20127: return 1252;               // Latin-1, Latin-9, ASCII
    case 28592: return 1250;
    case 28595: case 20866: case 21866: return 1251;               // ISO-8859-5, KOI8-R, KOI8-U
    case 28597: return 1253;
    default: return 0;
  }
}

CodepageChoice ChooseCodepage(const OstContext& context, std::uint32_t given, bool given_by_user) {
  if (!context.is_ansi()) {
    CodepageChoice choice;
    choice.given = choice.chosen = given;
    choice.given_by_user = given_by_user;
    return choice;
  }
  return ChooseCodepage(take_sample(context), given, given_by_user);
}

CodepageChoice ChooseCodepage(const CodepageSample& sample, std::uint32_t given, bool given_by_user) {
  CodepageChoice choice;
  choice.given = choice.chosen = given;
  choice.given_by_user = given_by_user;
  choice.sampled = sample.strings.size();
  choice.given_reading = choice.best = ReadStrings(sample.strings, given);

  // The code page most of the objects that name one name: the store's own word on the others.
  std::uint32_t named = 0;
  std::size_t named_count = 0;
  for (const auto& [cp, count] : sample.named) {
    if (count > named_count) named = cp, named_count = count;
  }
  std::vector<std::uint32_t> order;
  if (named != 0 && named != given) order.push_back(named);
  for (auto cp : kCommonCodepages) {
    if (cp != given && cp != named) order.push_back(cp);
  }
  CodepageReading named_reading;
  for (auto cp : order) {
    const CodepageReading r = ReadStrings(sample.strings, cp);
    if (cp == named) named_reading = r;
    if (r.score > choice.best.score) choice.best = r;
  }

  const std::string given_label = CodepageLabel(given);
  const bool markedly_better = choice.best.codepage != given && choice.best.score >= kReadsWell &&
                               choice.best.score >= choice.given_reading.score + kMarkedlyBetter;
  if (!given_by_user && named != 0 && named != given && named_reading.score >= choice.given_reading.score) {
    choice.chosen = named;
    choice.message = "its objects name code page " + CodepageLabel(named) +
                     " for their 8-bit text; the objects that name none are read in it too";
  } else if (markedly_better && !given_by_user) {
    choice.chosen = choice.best.codepage;
    choice.message = "its 8-bit text names no code page and reads as code page " +
                     CodepageLabel(choice.chosen) + ", not " + given_label + "; it is read as " +
                     std::to_string(choice.chosen);
  } else if (markedly_better) {
    choice.message = "its 8-bit text reads better as code page " + CodepageLabel(choice.best.codepage) +
                     " than as the given " + given_label;
  } else if (choice.given_reading.undecodable > 0) {
    choice.message = std::to_string(choice.given_reading.undecodable) + " of " + std::to_string(choice.sampled) +
                     " 8-bit strings sampled do not decode in code page " + given_label +
                     " nor read better in another common one";
  }
  return choice;
}

}  // namespace salvora
