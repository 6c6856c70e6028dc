#include "pststore/property_values.h"

#include <cmath>
#include <type_traits>
#include <variant>

#include "format/byte_writer.h"
#include "format/filetime.h"
#include "format/multi_value.h"
#include "format/property_value.h"
#include "format/prop_types.h"
#include "format/text.h"
#include "pststore/call_guard.h"

namespace salvora::store {

namespace {

using ByteVec = std::vector<std::uint8_t>;

std::optional<std::int64_t> integer_of(const Variant& v) {
  if (auto i = v.int64_value()) return i;
  if (auto i = v.int32_value()) return *i;
  return std::nullopt;
}

std::optional<double> number_of(const Variant& v) {
  if (auto d = v.double_value()) return d;
  if (auto d = v.date_value()) return d;
  if (auto i = v.int32_value()) return *i;
  return std::nullopt;
}

// One value of a single-valued type in stored form; empty when the variant does not fit.
std::optional<ByteVec> stored_element(std::uint16_t type, const Variant& v) {
  switch (type) {
    case kPtypInteger16:
      if (auto i = v.int32_value(); i && *i >= -32768 && *i <= 65535) return le_bytes(static_cast<std::int16_t>(*i));
      return std::nullopt;
    case kPtypInteger32:
      if (auto i = v.int32_value()) return le_bytes(*i);
      return std::nullopt;
    case kPtypErrorCode:
      if (auto e = v.error_code()) return le_bytes(*e);
      if (auto i = v.int32_value()) return le_bytes(*i);
      return std::nullopt;
    case kPtypFloating32:
      if (auto d = number_of(v)) return le_bytes(static_cast<float>(*d));
      return std::nullopt;
    case kPtypFloating64:
    case kPtypFloatingTime:
      if (auto d = number_of(v)) return le_bytes(*d);
      return std::nullopt;
    case kPtypCurrency:
    case kPtypInteger64:
      if (auto i = integer_of(v)) return le_bytes(*i);
      return std::nullopt;
    case kPtypBoolean:
      if (auto b = v.bool_value()) return ByteVec{static_cast<std::uint8_t>(*b ? 1 : 0)};
      if (auto i = v.int32_value()) return ByteVec{static_cast<std::uint8_t>(*i != 0 ? 1 : 0)};
      return std::nullopt;
    case kPtypTime: {
      if (auto i = v.int64_value()) return le_bytes(*i);
      std::optional<double> d = v.date_value();
      if (!d) d = v.double_value();
      if (!d || !std::isfinite(*d)) return std::nullopt;
      return le_bytes(date_to_filetime(*d));
    }
    case kPtypString8:
    case kPtypString:
      if (const std::string* s = v.string_value()) return utf8_to_utf16le(*s);
      // Text already in its stored form, UTF-16LE, as a copy of a stored string passes it.
      if (const ByteVec* b = v.bytes_value(); b && b->size() % 2 == 0) return *b;
      return std::nullopt;
    case kPtypGuid:
      if (const ByteVec* b = v.bytes_value(); b && b->size() == 16) return *b;
      return std::nullopt;
    case kPtypBinary:
    case kPtypServerId:
    case kPtypRestriction:
    case kPtypRuleAction:
      if (const ByteVec* b = v.bytes_value()) return *b;
      if (const std::string* s = v.string_value()) return ByteVec(s->begin(), s->end());
      return std::nullopt;
    default: return std::nullopt;
  }
}

// 8-bit strings arrive as text and are kept as Unicode, the only strings this store writes.
std::uint16_t stored_type(std::uint16_t type) {
  if (type == kPtypString8) return kPtypString;
  if (type == kPtypMultipleString8) return kPtypMultipleString;
  return type;
}

// What an accessor gives for a stored value: text as UTF-8, a time as its FILETIME ticks, so
// that a value read and set again is the value it was. The store keeps no 8-bit text.
Variant variant_of(const StoredValue& stored) {
  return std::visit(
      [](const auto& v) -> Variant {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::int64_t>) return Variant::Int64(v);
        else if constexpr (std::is_same_v<T, StoredErrorCode>) return Variant::Error(v.code);
        else if constexpr (std::is_same_v<T, StoredAppTime>) return Variant::Date(v.days);
        else if constexpr (std::is_same_v<T, StoredFiletime>) return Variant::Int64(static_cast<std::int64_t>(v.ticks));
        else if constexpr (std::is_same_v<T, StoredUtf16>) return Variant(utf16_to_utf8(v.units));
        else if constexpr (std::is_same_v<T, StoredText8>) return Variant();
        else if constexpr (std::is_same_v<T, StoredBinary>) return Variant::Bytes(ByteVec(v.bytes.begin(), v.bytes.end()));
        else return Variant(v);
      },
      stored);
}

}  // namespace

pst::Property property_from_value(MemberId member, std::uint16_t id, std::uint16_t type, const Variant& value) {
  const std::uint16_t stored = stored_type(type);
  const auto refuse = [&]() -> pst::Property {
    bad(member, "cannot store a value of type " + std::string(type_name(value.type())) + " as property type 0x" +
                    std::to_string(type));
  };
  if (!IsMultiValued(type)) {
    auto bytes = stored_element(type, value);
    if (!bytes) return refuse();
    return pst::Property::Raw(PropTag(id, stored), std::move(*bytes));
  }
  const std::vector<Variant>* items = value.array_value();
  if (!items) return refuse();
  const auto element_type = static_cast<std::uint16_t>(type & ~kPtypMultipleFlag);
  std::vector<ByteVec> stored_items;
  stored_items.reserve(items->size());
  for (const Variant& item : *items) {
    auto bytes = stored_element(element_type, item);
    if (!bytes) return refuse();
    stored_items.push_back(std::move(*bytes));
  }
  return pst::Property::Multi(id, stored, stored_items);
}

Variant value_from_property(const pst::Property& property) {
  const std::uint16_t type = property.type();
  if (!IsMultiValued(type)) {
    const auto v = decode_stored_value(type, property.data);
    return v ? variant_of(*v) : Variant();
  }
  std::vector<StoredValue> stored;
  if (decode_stored_values(type, property.data, stored) != ValueFault::kNone) return {};
  std::vector<Variant> items;
  items.reserve(stored.size());
  for (const auto& v : stored) items.push_back(variant_of(v));
  return Variant::Array(std::move(items));
}

}  // namespace salvora::store
