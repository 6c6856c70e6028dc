#include "format/text.h"

#include <iconv.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace salvora {

namespace {

// Writes cp as UTF-8 at p and returns the end: the hot loop below writes into a buffer sized
// for the worst case instead of growing a string byte by byte.
char* put_utf8(char* p, char32_t cp) {
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cp >> 6));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cp >> 12));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (cp >> 18));
    *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return p;
}

void append_utf8(std::string& out, char32_t cp) {
  char buf[4];
  out.append(buf, static_cast<std::size_t>(put_utf8(buf, cp) - buf));
}

constexpr char32_t kReplacement = 0xFFFD;

// Most text is ASCII: ascii_run(i, p) copies units i..i+Run-1 to p when all of them are ASCII
// and none is a NUL that would be dropped, and says whether it did.
template <std::size_t Run, typename UnitAt, typename AsciiRun>
std::string utf16_units_to_utf8(std::size_t count, UnitAt unit_at, AsciiRun ascii_run, bool drop_nul) {
  // A unit gives at most three bytes (U+FFFD for a lone surrogate); a pair gives four. The
  // buffer is not cleared first: a long body would pay for clearing three times its size.
  char small[256];
  std::unique_ptr<char[]> large;
  char* const start = count * 3 <= sizeof small ? small : (large = std::make_unique_for_overwrite<char[]>(count * 3)).get();
  char* p = start;
  for (std::size_t i = 0; i < count; ++i) {
    const char32_t u = unit_at(i);
    if (u < 0x80) {
      // A run of ASCII is tried only where one starts: text in other scripts would pay for a
      // failed try at every unit.
      if (i + Run <= count && ascii_run(i, p, drop_nul)) {
        do {
          i += Run;
          p += Run;
        } while (i + Run <= count && ascii_run(i, p, drop_nul));
        --i;  // the loop's step goes to the first unit after the run
      } else if (u != 0 || !drop_nul) {
        *p++ = static_cast<char>(u);
      }
    } else if (u < 0x800) {
      // Latin, Greek, Cyrillic, Hebrew, Arabic: two bytes, written here rather than by the
      // general case.
      *p++ = static_cast<char>(0xC0 | (u >> 6));
      *p++ = static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0xD800 || u > 0xDFFF) {
      // The rest of the BMP (Indic, CJK, symbols): three bytes.
      *p++ = static_cast<char>(0xE0 | (u >> 12));
      *p++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (u & 0x3F));
    } else if (u <= 0xDBFF) {
      const char32_t lo = i + 1 < count ? unit_at(i + 1) : 0;
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        p = put_utf8(p, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
      } else {
        p = put_utf8(p, kReplacement);
      }
    } else {
      p = put_utf8(p, kReplacement);  // a low surrogate without its high one
    }
  }
  return std::string(start, static_cast<std::size_t>(p - start));
}

// Decodes one UTF-8 sequence at text[i]; returns the code point and advances i. Invalid or
// overlong sequences yield U+FFFD and advance by one byte.
char32_t next_utf8(std::string_view text, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) { len = 2; cp = b0 & 0x1F; min = 0x80; }
  else if ((b0 & 0xF0) == 0xE0) { len = 3; cp = b0 & 0x0F; min = 0x800; }
  else if ((b0 & 0xF8) == 0xF0) { len = 4; cp = b0 & 0x07; min = 0x10000; }
  else { ++i; return kReplacement; }
  if (i + static_cast<std::size_t>(len) > text.size()) { ++i; return kReplacement; }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) { ++i; return kReplacement; }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { ++i; return kReplacement; }
  i += static_cast<std::size_t>(len);
  return cp;
}

std::string iconv_name(std::uint32_t codepage) {
  switch (codepage) {
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    case 28592: return "ISO-8859-2";
    case 28595: return "ISO-8859-5";
    case 28597: return "ISO-8859-7";
    case 28605: return "ISO-8859-15";
    case 65001: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 50220: case 50221: case 50222: return "ISO-2022-JP";
    case 51932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 54936: return "GB18030";
    case 10000: return "MACINTOSH";
    default: return "CP" + std::to_string(codepage);
  }
}

// iconv descriptors are not thread-safe; each conversion opens its own, and the answer to
// "does iconv know this code page" is remembered.
bool probe_codepage(std::uint32_t codepage) {
  static std::mutex mu;
  static std::unordered_map<std::uint32_t, bool> known;
  std::lock_guard lock(mu);
  auto it = known.find(codepage);
  if (it != known.end()) return it->second;
  iconv_t cd = iconv_open("UTF-8", iconv_name(codepage).c_str());
  const bool ok = cd != reinterpret_cast<iconv_t>(-1);
  if (ok) iconv_close(cd);
  known.emplace(codepage, ok);
  return ok;
}

}  // namespace

std::string utf16_to_utf8(std::span<const std::uint8_t> utf16le, bool drop_nul) {
  const std::size_t count = utf16le.size() / 2;
  const auto unit_at = [&](std::size_t i) { return static_cast<char32_t>(utf16le[2 * i] | (utf16le[2 * i + 1] << 8)); };
#if defined(__SSE2__)
  // Eight units at a time: each must have no bit above the seventh, and none may be a NUL to drop.
  return utf16_units_to_utf8<8>(
      count, unit_at,
      [&](std::size_t i, char* p, bool drop) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(utf16le.data() + 2 * i));
        const __m128i zero = _mm_setzero_si128();
        const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) != 0xFFFF) return false;
        if (drop && _mm_movemask_epi8(_mm_cmpeq_epi16(units, zero)) != 0) return false;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(units, units));
        return true;
      },
      drop_nul);
#else
  return utf16_units_to_utf8<4>(
      count, unit_at,
      [&](std::size_t i, char* p, bool drop) {
        std::uint64_t units;
        std::memcpy(&units, utf16le.data() + 2 * i, sizeof units);
        if ((units & 0xFF80FF80FF80FF80ULL) != 0) return false;
        const char c[4] = {static_cast<char>(units), static_cast<char>(units >> 16), static_cast<char>(units >> 32),
                           static_cast<char>(units >> 48)};
        if (drop && (c[0] == 0 || c[1] == 0 || c[2] == 0 || c[3] == 0)) return false;
        std::memcpy(p, c, 4);
        return true;
      },
      drop_nul);
#endif
}

std::string utf16_to_utf8(std::u16string_view text, bool drop_nul) {
  return utf16_units_to_utf8<1>(
      text.size(), [&](std::size_t i) { return static_cast<char32_t>(text[i]); },
      [](std::size_t, char*, bool) { return false; }, drop_nul);
}

namespace {

// Hands each UTF-16 unit of utf8 to emit, a surrogate pair for a code point past the BMP. Most
// text is ASCII: ascii8(i) may take bytes i..i+7 itself when all eight are ASCII, and says
// whether it did.
template <class Emit, class Ascii8>
void for_each_utf16_unit(std::string_view utf8, Emit emit, Ascii8 ascii8) {
  std::size_t i = 0;
  while (i < utf8.size()) {
    if (i + 8 <= utf8.size() && ascii8(i)) {
      i += 8;
      continue;
    }
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      emit(static_cast<char16_t>(b));
      ++i;
      continue;
    }
    char32_t cp = next_utf8(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      emit(static_cast<char16_t>(0xD800 + (cp >> 10)));
      emit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      emit(static_cast<char16_t>(cp));
    }
  }
}

// Writes the UTF-16LE units of utf8 at p, which has room for two bytes a byte of utf8, and
// returns the end.
std::uint8_t* put_utf16le(std::string_view utf8, std::uint8_t* p) {
  for_each_utf16_unit(
      utf8,
      [&p](char16_t u) {
        *p++ = static_cast<std::uint8_t>(u & 0xFF);
        *p++ = static_cast<std::uint8_t>(u >> 8);
      },
      [&p, utf8](std::size_t i) {
        std::uint64_t chunk;
        std::memcpy(&chunk, utf8.data() + i, sizeof chunk);
        if ((chunk & 0x8080808080808080ULL) != 0) return false;
        for (std::size_t k = 0; k < 8; ++k) {
          p[2 * k] = static_cast<std::uint8_t>(utf8[i + k]);
          p[2 * k + 1] = 0;
        }
        p += 16;
        return true;
      });
  return p;
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for_each_utf16_unit(utf8, [&out](char16_t u) { out.push_back(u); }, [](std::size_t) { return false; });
  return out;
}

void append_utf16le(std::string_view utf8, std::basic_string<std::uint8_t>& out) {
  // At most one unit per byte of UTF-8: room for all of them, then cut to what was written.
  const std::size_t start = out.size();
  out.resize(start + 2 * utf8.size());
  out.resize(static_cast<std::size_t>(put_utf16le(utf8, out.data() + start) - out.data()));
}

std::vector<std::uint8_t> utf8_to_utf16le(std::string_view utf8) {
  std::vector<std::uint8_t> out(2 * utf8.size());
  out.resize(static_cast<std::size_t>(put_utf16le(utf8, out.data()) - out.data()));
  return out;
}

std::string codepage_to_utf8(std::span<const std::uint8_t> bytes, std::uint32_t codepage) {
  if (codepage == 1200) return utf16_to_utf8(bytes);
  if (codepage == 65001) {
    return sanitize_utf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  if (!probe_codepage(codepage)) codepage = 1252;
  iconv_t cd = iconv_open("UTF-8", iconv_name(codepage).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // Without iconv's tables, Latin-1 is the closest reading of an 8-bit string.
    std::string out;
    for (auto b : bytes) append_utf8(out, b);
    return out;
  }
  std::string out;
  std::vector<char> buf(bytes.size() * 4 + 16);
  auto* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
  std::size_t in_left = bytes.size();
  while (in_left > 0) {
    char* o = buf.data();
    std::size_t o_left = buf.size();
    const std::size_t r = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(buf.data(), buf.size() - o_left);
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or truncated sequence: show it as one replacement character and go on.
      append_utf8(out, kReplacement);
      ++in;
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

std::string codepage_to_utf8(std::string_view bytes, std::uint32_t codepage) {
  return codepage_to_utf8(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), codepage);
}

std::string sanitize_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) append_utf8(out, next_utf8(text, i));
  return out;
}

}  // namespace salvora
