#include "format/property_value.h"

#include "format/multi_value.h"
#include "format/prop_types.h"

namespace salvora {

std::optional<StoredValue> decode_stored_value(std::uint16_t type, Bytes b) {
  const auto fits = [&](std::size_t n) { return b.size() >= n; };
  switch (type) {
    case kPtypInteger16: if (fits(2)) return std::int32_t{static_cast<std::int16_t>(load_u16(b, 0))}; break;
    case kPtypInteger32: if (fits(4)) return static_cast<std::int32_t>(load_u32(b, 0)); break;
    case kPtypErrorCode: if (fits(4)) return StoredErrorCode{static_cast<std::int32_t>(load_u32(b, 0))}; break;
    case kPtypFloating32: if (fits(4)) return double{load_f32(b, 0)}; break;
    case kPtypFloating64: if (fits(8)) return load_f64(b, 0); break;
    case kPtypFloatingTime: if (fits(8)) return StoredAppTime{load_f64(b, 0)}; break;
    case kPtypCurrency:
    case kPtypInteger64: if (fits(8)) return static_cast<std::int64_t>(load_u64(b, 0)); break;
    case kPtypTime: if (fits(8)) return StoredFiletime{load_u64(b, 0)}; break;
    case kPtypBoolean: if (fits(1)) return b[0] != 0; break;
    case kPtypString: return StoredUtf16{b.first(b.size() - b.size() % 2)};
    case kPtypString8: {
      std::size_t n = b.size();
      while (n > 0 && b[n - 1] == 0) --n;
      return StoredText8{b.first(n)};
    }
    case kPtypGuid: if (fits(16)) return StoredBinary{b.first(16)}; break;
    case kPtypBinary:
    case kPtypServerId:
    case kPtypRestriction:
    case kPtypRuleAction: return StoredBinary{b};
    default: break;
  }
  return std::nullopt;
}

ValueFault decode_stored_values(std::uint16_t type, Bytes stored, std::vector<StoredValue>& out) {
  const auto element_type = static_cast<std::uint16_t>(type & ~kPtypMultipleFlag);
  const std::size_t before = out.size();
  const auto add = [&](Bytes item) {
    auto v = decode_stored_value(element_type, item);
    if (v) out.push_back(std::move(*v));
    return v.has_value();
  };
  const auto fail = [&](ValueFault fault) {
    out.resize(before);
    return fault;
  };
  if (const std::uint32_t width = FixedPropSize(type); width != 0) {
    if (stored.size() % width != 0) return fail(ValueFault::kPartialElement);
    for (std::size_t at = 0; at < stored.size(); at += width)
      if (!add(stored.subspan(at, width))) return fail(ValueFault::kTooShort);
    return ValueFault::kNone;
  }
  const auto items = parse_variable_multi(stored);
  if (!items) return fail(ValueFault::kDamagedList);
  for (const Bytes item : *items)
    if (!add(item)) return fail(ValueFault::kTooShort);
  return ValueFault::kNone;
}

}  // namespace salvora
