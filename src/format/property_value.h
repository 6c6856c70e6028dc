#pragma once
// A property value as its stored bytes mean it, for every single-valued type and for the
// elements of a multi-valued one. The reader of a source object and the PST store both turn
// stored bytes into values through here, so they cannot disagree on what the bytes say.
//
// A PtypTime is a FILETIME: an unsigned count of 100 ns ticks, decoded to the tick. Turning it
// into a DATE, which keeps milliseconds, is a choice of whoever shows the value, never of the
// decoding. Text stays in its stored encoding (the caller knows the code page of 8-bit text and
// whether it needs UTF-8 at all). Views into the stored bytes must not outlive them.

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "format/byte_reader.h"

namespace salvora {

struct StoredErrorCode {
  std::int32_t code = 0;
  bool operator==(const StoredErrorCode&) const = default;
};
// PtypFloatingTime: days since 1899-12-30, as an OLE DATE counts them.
struct StoredAppTime {
  double days = 0;
  bool operator==(const StoredAppTime&) const = default;
};
struct StoredFiletime {
  std::uint64_t ticks = 0;
  bool operator==(const StoredFiletime&) const = default;
};
// PtypString: whole UTF-16LE code units (an odd last byte left out).
struct StoredUtf16 {
  Bytes units;
};
// PtypString8: the bytes before any trailing terminators.
struct StoredText8 {
  Bytes bytes;
};
// PtypGuid (its 16 bytes), PtypBinary and the other binary forms.
struct StoredBinary {
  Bytes bytes;
};

// Integer16 and Integer32 as int32_t (sign-extended), Currency and Integer64 as int64_t,
// Floating32 and Floating64 as double.
using StoredValue = std::variant<std::int32_t, std::int64_t, double, bool, StoredErrorCode, StoredAppTime,
                                 StoredFiletime, StoredUtf16, StoredText8, StoredBinary>;

enum class ValueFault {
  kNone,
  kTooShort,        // fewer bytes than the type's width, or a type without a stored value
  kPartialElement,  // a fixed-width list that does not end on a whole element
  kDamagedList,     // a variable-width list whose count or offsets do not fit
};

// One value of a single-valued type (for a multi-valued type, pass its element type).
std::optional<StoredValue> decode_stored_value(std::uint16_t type, Bytes stored);

// The elements of a multi-valued value, in order, appended to out; on a fault, out is left as
// it was.
ValueFault decode_stored_values(std::uint16_t type, Bytes stored, std::vector<StoredValue>& out);

}  // namespace salvora
