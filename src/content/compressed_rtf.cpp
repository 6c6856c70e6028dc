#include "content/compressed_rtf.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "format/byte_writer.h"
#include "format/crc.h"
#include "platform/file64.h"

namespace salvora {

namespace {

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kDictionarySize = 4096;

// The dictionary's initial contents (MS-OXRTFCP 2.1.2.1): 207 bytes.
constexpr std::string_view kInitialDictionary =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern "
    "\\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0"
    "\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
static_assert(kInitialDictionary.size() == 207);

// Runs the LZ77 stream of contents into out. Returns true when the end-of-stream reference was
// met: a reference whose offset is the current write position.
bool InflateLzfu(Bytes contents, ByteVector& out) {
  std::array<std::uint8_t, kDictionarySize> dict{};
  std::copy(kInitialDictionary.begin(), kInitialDictionary.end(), dict.begin());
  std::size_t write = kInitialDictionary.size();
  std::size_t i = 0;
  while (i < contents.size()) {
    const std::uint8_t control = contents[i++];
    for (int bit = 0; bit < 8; ++bit) {
      if (i >= contents.size()) return false;
      if ((control & (1 << bit)) == 0) {
        const std::uint8_t b = contents[i++];
        dict[write] = b;
        write = (write + 1) % kDictionarySize;
        out.push_back(b);
        continue;
      }
      if (contents.size() - i < 2) return false;
      const std::uint16_t ref = static_cast<std::uint16_t>((contents[i] << 8) | contents[i + 1]);
      i += 2;
      const std::size_t offset = ref >> 4;
      const std::size_t length = (ref & 0xF) + 2u;
      if (offset == write) return true;
      // Byte by byte: a reference may overlap the bytes it is writing.
      for (std::size_t j = 0; j < length; ++j) {
        const std::uint8_t b = dict[(offset + j) % kDictionarySize];
        dict[write] = b;
        write = (write + 1) % kDictionarySize;
        out.push_back(b);
      }
    }
  }
  return false;
}

}  // namespace

RtfResult decompress_rtf(Bytes value) {
  RtfResult result;
  ByteReader r(value);
  const std::uint32_t comp_size = r.u32();
  result.raw_size = r.u32();
  const std::uint32_t type = r.u32();
  const std::uint32_t crc = r.u32();
  if (!r.ok()) return result;

  // COMPSIZE counts the contents plus the 12 header bytes after itself; a value shorter than
  // it claims is read as far as it goes.
  const std::size_t declared = comp_size >= 12 ? comp_size - 12u : 0;
  const Bytes contents = value.subspan(kHeaderSize, std::min(declared, value.size() - kHeaderSize));

  if (type == kRtfUncompressed) {
    // Stored as it is: running it through the dictionary would garble it.
    const std::size_t n = std::min<std::size_t>(result.raw_size, contents.size());
    result.rtf.assign(contents.begin(), contents.begin() + static_cast<std::ptrdiff_t>(n));
    result.crc_ok = crc == 0;
    result.size_ok = n == result.raw_size;
    result.status = n == result.raw_size ? RtfStatus::kOk : RtfStatus::kTruncated;
    return result;
  }
  if (type != kRtfCompressed) {
    result.status = RtfStatus::kUnknownType;
    return result;
  }
  result.crc_ok = ComputeCrc(contents) == crc && contents.size() == declared;
  result.rtf.reserve(std::min<std::size_t>(result.raw_size, contents.size() * 8));
  const bool ended = InflateLzfu(contents, result.rtf);
  result.size_ok = result.rtf.size() == result.raw_size;
  result.status = ended ? RtfStatus::kOk : RtfStatus::kTruncated;
  return result;
}

ByteVector compress_rtf(Bytes rtf) {
  ByteVector contents;
  contents.reserve(rtf.size() + rtf.size() / 8 + 3);
  std::size_t control_at = 0;
  std::size_t tokens = 8;
  const auto next_token = [&] {
    if (tokens == 8) {
      control_at = contents.size();
      contents.push_back(0);
      tokens = 0;
    }
    ++tokens;
  };
  for (std::uint8_t b : rtf) {
    next_token();
    contents.push_back(b);
  }
  // The end: a reference to the current write position, length bits zero.
  next_token();
  contents[control_at] = static_cast<std::uint8_t>(contents[control_at] | (1 << (tokens - 1)));
  const std::size_t end = (kInitialDictionary.size() + rtf.size()) % kDictionarySize;
  contents.push_back(static_cast<std::uint8_t>(end >> 4));
  contents.push_back(static_cast<std::uint8_t>((end & 0x0F) << 4));

  ByteVector out(kHeaderSize);
  store_u32(out, 0, static_cast<std::uint32_t>(contents.size() + kHeaderSize - 4));
  store_u32(out, 4, static_cast<std::uint32_t>(rtf.size()));
  store_u32(out, 8, kRtfCompressed);
  store_u32(out, 12, ComputeCrc(contents));
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}

int decompress_rtf(Bytes value, const std::string& output_path) {
  const RtfResult result = decompress_rtf(value);
  if (!result.usable()) return 1;
  try {
    CFile64 file;
    if (!file.Open(output_path, CFile64::Access::kCreate)) return 1;
    if (!result.rtf.empty()) file.Write(result.rtf.data(), result.rtf.size());
    file.Close();
  } catch (const CFileException&) {
    return 1;
  }
  return 0;
}

}  // namespace salvora
