#include "content/rtf_to_text.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "format/text.h"
#include "platform/file64.h"

namespace salvora {
namespace {

enum class Kind {
  kChar,           // emits the character in value
  kDestination,    // a group that holds no body text
  kFontTable,      // no body text either, but the fonts' code pages are read from it
  kProperty,       // formatting: consumed, no effect on the text
  kBin,            // binary data follows: the parameter counts its bytes
  kHex,            // \'hh
  kIgnorable,      // \* : an unknown control word right after it starts a skipped group
  kUnicode,        // \uN (without a parameter it is the old underline property)
  kUnicodeSkip,    // \ucN: fallback characters after each \uN
  kFont,           // \fN: selects a font, or in the font table names the one being described
  kDefaultFont,    // \deffN
  kDocCodePage,    // \ansicpgN
  kFixedCodePage,  // \ansi, \mac, \pc, \pca: the document's character set by name
  kFontCharset,    // \fcharsetN in the font table
  kFontCodePage,   // \cpgN in the font table
  kFromHtml,       // \fromhtml1: the document carries an HTML body in its groups and text
  kHtmlRtf,        // \htmlrtf, \htmlrtf0: what only the RTF rendering shows begins or ends
  kHtmlTag,        // \*\htmltagN: a group holding the HTML's markup
};

struct Keyword {
  std::string_view word;
  Kind kind;
  std::int32_t value = 0;
};

// Searched in order by exact, case-sensitive comparison. A backslash before a line break is a
// paragraph mark; the typographic characters keep their own code points rather than being
// flattened to ASCII.
constexpr Keyword kKeywords[] = {
    {"b", Kind::kProperty}, {"u", Kind::kUnicode}, {"i", Kind::kProperty}, {"li", Kind::kProperty},
    {"ri", Kind::kProperty}, {"fi", Kind::kProperty}, {"cols", Kind::kProperty}, {"sbknone", Kind::kProperty},
    {"sbkcol", Kind::kProperty}, {"sbkeven", Kind::kProperty}, {"sbkodd", Kind::kProperty},
    {"sbkpage", Kind::kProperty}, {"pgnx", Kind::kProperty}, {"pgny", Kind::kProperty},
    {"pgndec", Kind::kProperty}, {"pgnucrm", Kind::kProperty}, {"pgnlcrm", Kind::kProperty},
    {"pgnucltr", Kind::kProperty}, {"pgnlcltr", Kind::kProperty}, {"qc", Kind::kProperty},
    {"ql", Kind::kProperty}, {"qr", Kind::kProperty}, {"qj", Kind::kProperty}, {"paperw", Kind::kProperty},
    {"paperh", Kind::kProperty}, {"margl", Kind::kProperty}, {"margr", Kind::kProperty},
    {"margt", Kind::kProperty}, {"margb", Kind::kProperty}, {"pgnstart", Kind::kProperty},
    {"facingp", Kind::kProperty}, {"landscape", Kind::kProperty},
    {"par", Kind::kChar, '\n'}, {"\n", Kind::kChar, '\n'}, {"\r", Kind::kChar, '\n'}, {"tab", Kind::kChar, '\t'},
    {"ldblquote", Kind::kChar, 0x201C}, {"rdblquote", Kind::kChar, 0x201D},
    {"bin", Kind::kBin}, {"*", Kind::kIgnorable}, {"'", Kind::kHex},
    {"author", Kind::kDestination}, {"buptim", Kind::kDestination}, {"colortbl", Kind::kDestination},
    {"comment", Kind::kDestination}, {"creatim", Kind::kDestination}, {"doccomm", Kind::kDestination},
    {"fonttbl", Kind::kFontTable}, {"footer", Kind::kDestination}, {"footerf", Kind::kDestination},
    {"footerl", Kind::kDestination}, {"footerr", Kind::kDestination}, {"footnote", Kind::kDestination},
    {"ftncn", Kind::kDestination}, {"ftnsep", Kind::kDestination}, {"ftnsepc", Kind::kDestination},
    {"header", Kind::kDestination}, {"headerf", Kind::kDestination}, {"headerl", Kind::kDestination},
    {"headerr", Kind::kDestination}, {"info", Kind::kDestination}, {"keywords", Kind::kDestination},
    {"operator", Kind::kDestination}, {"pict", Kind::kDestination}, {"printim", Kind::kDestination},
    {"private1", Kind::kDestination}, {"revtim", Kind::kDestination}, {"rxe", Kind::kDestination},
    {"stylesheet", Kind::kDestination}, {"subject", Kind::kDestination}, {"tc", Kind::kDestination},
    {"title", Kind::kDestination}, {"txe", Kind::kDestination}, {"xe", Kind::kDestination},
    {"{", Kind::kChar, '{'}, {"}", Kind::kChar, '}'}, {"\\", Kind::kChar, '\\'},
    // Destinations that writers leave unmarked but that hold no body text either.
    {"fldinst", Kind::kDestination}, {"nonshppict", Kind::kDestination}, {"objdata", Kind::kDestination},
    {"pntxta", Kind::kDestination}, {"pntxtb", Kind::kDestination}, {"listtable", Kind::kDestination},
    {"listoverridetable", Kind::kDestination}, {"revtbl", Kind::kDestination}, {"rsidtbl", Kind::kDestination},
    {"filetbl", Kind::kDestination},
    // Characters that would otherwise vanish and join the words around them.
    {"line", Kind::kChar, '\n'}, {"cell", Kind::kChar, '\t'}, {"row", Kind::kChar, '\n'},
    {"lquote", Kind::kChar, 0x2018}, {"rquote", Kind::kChar, 0x2019}, {"emdash", Kind::kChar, 0x2014},
    {"endash", Kind::kChar, 0x2013}, {"bullet", Kind::kChar, 0x2022}, {"~", Kind::kChar, 0x00A0},
    {"_", Kind::kChar, 0x2011},
    // What the text's bytes mean.
    {"uc", Kind::kUnicodeSkip}, {"f", Kind::kFont}, {"deff", Kind::kDefaultFont},
    {"ansicpg", Kind::kDocCodePage}, {"ansi", Kind::kFixedCodePage, 1252}, {"mac", Kind::kFixedCodePage, 10000},
    {"pc", Kind::kFixedCodePage, 437}, {"pca", Kind::kFixedCodePage, 850}, {"fcharset", Kind::kFontCharset},
    {"cpg", Kind::kFontCodePage},
    // HTML carried in RTF. Its \*\mhtmltag groups repeat a tag with the links as the sender wrote
    // them; the \*\htmltag beside each is the one the HTML is made of.
    {"fromhtml", Kind::kFromHtml}, {"htmlrtf", Kind::kHtmlRtf}, {"htmltag", Kind::kHtmlTag},
    {"mhtmltag", Kind::kDestination},
};

const Keyword* find_keyword(std::string_view word) {
  for (const Keyword& k : kKeywords) {
    if (k.word == word) return &k;
  }
  return nullptr;
}

// The Windows code page of a font character set; 0 where the document's own code page applies
// (the default character set). ANSI is Western whatever the document's code page: a Japanese
// document writes a no-break space as \'a0 in an fcharset0 font. Symbol fonts are read as Western
// too, which keeps their bullets and dashes near what they show.
std::uint32_t charset_codepage(std::int32_t charset) {
  switch (charset) {
    case 0: return 1252;
    case 2: return 1252;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return 0;
  }
}

// RTF text is 8-bit: a UTF-16 code page cannot describe its bytes.
std::uint32_t usable_codepage(std::int64_t cp) {
  if (cp <= 0 || cp > 65535 || cp == 1200 || cp == 1201) return 1252;
  return static_cast<std::uint32_t>(cp);
}

bool is_letter(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(std::uint8_t c) { return c >= '0' && c <= '9'; }

constexpr std::size_t kMaxKeywordLetters = 31;
constexpr std::int32_t kMaxFallbackSkip = 1 << 16;

class RtfReader {
 public:
  // With html, a document that carries an HTML body gives that HTML instead of its text.
  RtfReader(Bytes in, std::string& out, bool html = false) : in_(in), out_(out), want_html_(html) {}
  bool carried_html() const { return html_; }

  RtfTextResult Run() {
    const RtfTextResult r = Loop();
    Flush();
    if (high_surrogate_ != 0) AppendCodePoint(0xFFFD);
    return r;
  }

 private:
  enum class Dest : std::uint8_t { kNormal, kSkip, kFontTable };
  enum class Input : std::uint8_t { kNormal, kBinary, kHex };
  // What a group saves and its end restores.
  struct State {
    Dest dest = Dest::kNormal;
    Input input = Input::kNormal;
    std::int32_t font = -1;
    std::int32_t uc = 1;
    bool rtf_only = false;  // between \htmlrtf and \htmlrtf0: no part of the carried HTML
    bool html_tag = false;  // in an \htmltag group: markup, read in the document's code page
  };
  struct Font {
    std::uint32_t charset_cp = 0;
    std::uint32_t cpg = 0;  // an explicit \cpg wins over the character set
  };

  RtfTextResult Loop() {
    while (pos_ < in_.size()) {
      const std::uint8_t c = in_[pos_++];
      RtfTextResult r = RtfTextResult::kOk;
      if (state_.input == Input::kBinary) {
        r = TextByte(c);
      } else if (c == '\r' || c == '\n') {
        continue;
      } else if (c == '\\') {
        r = ControlWord();
      } else if (c == '{') {
        r = OpenGroup();
      } else if (c == '}') {
        r = CloseGroup();
      } else if (state_.input == Input::kHex) {
        r = HexDigit(c);
      } else {
        r = TextByte(c);
      }
      if (r != RtfTextResult::kOk) return r;
    }
    return stack_.empty() ? RtfTextResult::kOk : RtfTextResult::kUnmatchedBrace;
  }

  RtfTextResult OpenGroup() {
    if (stack_.size() >= static_cast<std::size_t>(kMaxRtfGroupDepth)) return RtfTextResult::kStackOverflow;
    stack_.push_back(state_);
    state_.input = Input::kNormal;
    fallback_left_ = 0;  // fallback characters never reach past a group boundary
    return RtfTextResult::kOk;
  }

  RtfTextResult CloseGroup() {
    if (stack_.empty()) return RtfTextResult::kStackUnderflow;
    state_ = stack_.back();
    stack_.pop_back();
    fallback_left_ = 0;
    return RtfTextResult::kOk;
  }

  RtfTextResult HexDigit(std::uint8_t c) {
    int digit;
    if (is_digit(c)) digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return RtfTextResult::kInvalidHex;
    hex_value_ = hex_value_ * 16 + digit;
    if (--hex_nibbles_ > 0) return RtfTextResult::kOk;
    const auto byte = static_cast<std::uint8_t>(hex_value_);
    state_.input = Input::kNormal;
    hex_nibbles_ = 2;
    hex_value_ = 0;
    return TextByte(byte);
  }

  RtfTextResult TextByte(std::uint8_t c) {
    if (state_.input == Input::kBinary && --binary_left_ <= 0) state_.input = Input::kNormal;
    EmitByte(c);
    return RtfTextResult::kOk;
  }

  RtfTextResult ControlWord() {
    if (pos_ >= in_.size()) return RtfTextResult::kEndOfFileInControlWord;
    if (!is_letter(in_[pos_])) {
      const std::string_view symbol(reinterpret_cast<const char*>(&in_[pos_]), 1);
      ++pos_;
      Apply(symbol, false, false, 0);
      return RtfTextResult::kOk;
    }
    const std::size_t start = pos_;
    while (pos_ < in_.size() && is_letter(in_[pos_])) ++pos_;
    const std::string_view word(reinterpret_cast<const char*>(&in_[start]), pos_ - start);

    // A minus sign belongs to the parameter only when digits follow it.
    bool negative = false;
    if (pos_ + 1 < in_.size() && in_[pos_] == '-' && is_digit(in_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    bool has_param = false;
    std::int64_t value = 0;
    while (pos_ < in_.size() && is_digit(in_[pos_])) {
      has_param = true;
      // Overlong parameters saturate instead of overflowing.
      value = std::min<std::int64_t>(value * 10 + (in_[pos_] - '0'), INT32_MAX);
      ++pos_;
    }
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
    const auto param = static_cast<std::int32_t>(negative ? -value : value);
    // A word longer than any known one is read whole and then treated as unknown, so its tail
    // never shows up as text.
    Apply(word, word.size() > kMaxKeywordLetters, has_param, param);
    return RtfTextResult::kOk;
  }

  void Apply(std::string_view word, bool too_long, bool has_param, std::int32_t param) {
    const Keyword* k = too_long ? nullptr : find_keyword(word);
    // Inside the fallback of a \uN every control word counts as one skipped character; a \'hh
    // counts when its byte is complete.
    if (fallback_left_ > 0 && !(k != nullptr && k->kind == Kind::kHex)) {
      --fallback_left_;
      ignorable_ = false;
      // Binary data must never be read as RTF, even where its control word is skipped.
      if (k != nullptr && k->kind == Kind::kBin) StartBinary(has_param, param);
      return;
    }
    if (k == nullptr) {
      if (ignorable_) state_.dest = Dest::kSkip;
      ignorable_ = false;
      return;
    }
    ignorable_ = false;
    const bool in_font_table = state_.dest == Dest::kFontTable;
    switch (k->kind) {
      case Kind::kChar:
        if (k->value < 0x80) EmitByte(static_cast<std::uint8_t>(k->value));
        else EmitCodePoint(static_cast<std::uint32_t>(k->value));
        break;
      case Kind::kDestination: state_.dest = Dest::kSkip; break;
      case Kind::kFontTable:
        if (state_.dest == Dest::kNormal) state_.dest = Dest::kFontTable;
        break;
      case Kind::kProperty: break;
      case Kind::kBin:
        // Also in a skipped group: the bytes of a picture must not be read as RTF.
        StartBinary(has_param, param);
        break;
      case Kind::kHex:
        if (state_.dest != Dest::kSkip) {
          state_.input = Input::kHex;
          hex_nibbles_ = 2;
          hex_value_ = 0;
        }
        break;
      case Kind::kIgnorable:
        if (state_.dest != Dest::kSkip) ignorable_ = true;
        break;
      case Kind::kUnicode:
        // Fallback characters are counted only where text is shown; elsewhere counting would
        // swallow the control words of a skipped group.
        if (has_param && state_.dest == Dest::kNormal) {
          // N is one UTF-16 unit, written signed (-4 for U+FFFC); a damaged N outside 16 bits
          // keeps its low 16 bits, as a 16-bit reader would, rather than make no character.
          EmitCodePoint(static_cast<std::uint16_t>(param));
          fallback_left_ = state_.uc;
        }
        break;
      case Kind::kUnicodeSkip:
        if (has_param) state_.uc = std::clamp(param, 0, kMaxFallbackSkip);
        break;
      case Kind::kFont:
        if (!has_param) break;
        if (in_font_table) defining_font_ = param;
        else state_.font = param;
        break;
      case Kind::kDefaultFont:
        if (has_param) default_font_ = param;
        break;
      case Kind::kDocCodePage:
        if (has_param) doc_cp_ = usable_codepage(param);
        break;
      case Kind::kFixedCodePage: doc_cp_ = static_cast<std::uint32_t>(k->value); break;
      case Kind::kFontCharset:
        if (in_font_table && has_param && defining_font_ >= 0) fonts_[defining_font_].charset_cp = charset_codepage(param);
        break;
      case Kind::kFontCodePage:
        if (in_font_table && has_param && defining_font_ >= 0) fonts_[defining_font_].cpg = usable_codepage(param);
        break;
      case Kind::kFromHtml:
        if (want_html_ && (!has_param || param == 1) && stack_.size() == 1) html_ = true;
        break;
      case Kind::kHtmlRtf: state_.rtf_only = !has_param || param != 0; break;
      case Kind::kHtmlTag:
        // Markup is no text: the text of such a document shows without it.
        if (html_ && state_.dest == Dest::kNormal) state_.html_tag = true;
        else state_.dest = Dest::kSkip;
        break;
    }
  }

  void StartBinary(bool has_param, std::int32_t count) {
    // A missing or zero count reads nothing: no byte after it is taken for data.
    if (!has_param || count <= 0) return;
    state_.input = Input::kBinary;
    binary_left_ = count;
  }

  std::uint32_t CurrentCodePage() const {
    if (state_.html_tag) return doc_cp_;
    const std::int32_t font = state_.font >= 0 ? state_.font : default_font_;
    if (font >= 0) {
      if (auto it = fonts_.find(font); it != fonts_.end()) {
        if (it->second.cpg != 0) return it->second.cpg;
        if (it->second.charset_cp != 0) return it->second.charset_cp;
      }
    }
    return doc_cp_;
  }

  // Bytes collect until the code page changes or a character of another kind comes, so that
  // the two bytes of a double-byte character are converted together.
  void EmitByte(std::uint8_t c) {
    if (state_.dest != Dest::kNormal) return;
    if (fallback_left_ > 0) {
      --fallback_left_;
      return;
    }
    if (c == 0 || Hidden()) return;
    DropLoneHighSurrogate();
    const std::uint32_t cp = CurrentCodePage();
    if (!pending_.empty() && pending_cp_ != cp) Flush();
    pending_cp_ = cp;
    pending_.push_back(c);
  }

  // What only the RTF rendering of a document that carries HTML shows is no part of the HTML.
  bool Hidden() const { return html_ && state_.rtf_only && !state_.html_tag; }

  void EmitCodePoint(std::uint32_t cp) {
    if (state_.dest != Dest::kNormal || cp == 0 || Hidden()) return;
    Flush();
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      DropLoneHighSurrogate();
      high_surrogate_ = cp;
      return;
    }
    if (cp >= 0xDC00 && cp <= 0xDFFF) {
      if (high_surrogate_ == 0) {
        AppendCodePoint(0xFFFD);
        return;
      }
      AppendCodePoint(0x10000 + ((high_surrogate_ - 0xD800) << 10) + (cp - 0xDC00));
      high_surrogate_ = 0;
      return;
    }
    DropLoneHighSurrogate();
    AppendCodePoint(cp);
  }

  void DropLoneHighSurrogate() {
    if (high_surrogate_ == 0) return;
    Flush();
    high_surrogate_ = 0;
    AppendCodePoint(0xFFFD);
  }

  void Flush() {
    if (pending_.empty()) return;
    const bool ascii = std::all_of(pending_.begin(), pending_.end(), [](std::uint8_t b) { return b < 0x80; });
    if (ascii) out_.append(pending_.begin(), pending_.end());
    else out_ += codepage_to_utf8(Bytes(pending_.data(), pending_.size()), pending_cp_);
    pending_.clear();
  }

  void AppendCodePoint(std::uint32_t cp) {
    if (cp < 0x80) {
      out_ += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out_ += static_cast<char>(0xC0 | (cp >> 6));
      out_ += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out_ += static_cast<char>(0xE0 | (cp >> 12));
      out_ += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out_ += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out_ += static_cast<char>(0xF0 | (cp >> 18));
      out_ += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out_ += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out_ += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  Bytes in_;
  std::size_t pos_ = 0;
  std::string& out_;
  bool want_html_ = false;
  bool html_ = false;  // the document said \fromhtml1 and HTML was asked for

  State state_;
  std::vector<State> stack_;
  bool ignorable_ = false;
  int hex_nibbles_ = 2;
  int hex_value_ = 0;
  std::int64_t binary_left_ = 0;
  std::int32_t fallback_left_ = 0;
  std::uint32_t high_surrogate_ = 0;

  std::uint32_t doc_cp_ = 1252;
  std::int32_t default_font_ = -1;
  std::int32_t defining_font_ = -1;
  std::map<std::int32_t, Font> fonts_;

  std::vector<std::uint8_t> pending_;
  std::uint32_t pending_cp_ = 1252;
};

}  // namespace

RtfTextResult rtf_to_text(Bytes rtf, std::string& text) { return RtfReader(rtf, text).Run(); }

bool rtf_carried_html(Bytes rtf, std::string& html) {
  std::string out;
  RtfReader reader(rtf, out, true);
  reader.Run();
  if (!reader.carried_html() || out.empty()) return false;
  html += out;
  return true;
}

RtfTextResult rtf_to_text(CFile64& file, std::string& text) {
  const std::uint64_t length = file.GetLength();
  const std::uint64_t position = file.GetPosition();
  std::vector<std::uint8_t> data(length > position ? static_cast<std::size_t>(length - position) : 0);
  std::size_t got = 0;
  while (got < data.size()) {
    const std::size_t n = file.Read(data.data() + got, data.size() - got);
    if (n == 0) break;  // the file shrank while we read it: convert what is there
    got += n;
  }
  data.resize(got);
  return rtf_to_text(Bytes(data.data(), data.size()), text);
}

}  // namespace salvora
