#include "pststore/property_values.h"

#include <cmath>
#include <cstring>

#include "format/byte_reader.h"
#include "format/filetime.h"
#include "format/multi_value.h"
#include "format/prop_types.h"
#include "format/text.h"
#include "pststore/call_guard.h"

namespace salvora::store {

namespace {

using ByteVec = std::vector<std::uint8_t>;

template <class T>
ByteVec little_endian(T v) {
  ByteVec out(sizeof(T));
  std::memcpy(out.data(), &v, sizeof(T));  // the hosts we build for are little-endian
  return out;
}

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
      if (auto i = v.int32_value(); i && *i >= -32768 && *i <= 65535) return little_endian(static_cast<std::int16_t>(*i));
      return std::nullopt;
    case kPtypInteger32:
      if (auto i = v.int32_value()) return little_endian(*i);
      return std::nullopt;
    case kPtypErrorCode:
      if (auto e = v.error_code()) return little_endian(*e);
      if (auto i = v.int32_value()) return little_endian(*i);
      return std::nullopt;
    case kPtypFloating32:
      if (auto d = number_of(v)) return little_endian(static_cast<float>(*d));
      return std::nullopt;
    case kPtypFloating64:
    case kPtypFloatingTime:
      if (auto d = number_of(v)) return little_endian(*d);
      return std::nullopt;
    case kPtypCurrency:
    case kPtypInteger64:
      if (auto i = integer_of(v)) return little_endian(*i);
      return std::nullopt;
    case kPtypBoolean:
      if (auto b = v.bool_value()) return ByteVec{static_cast<std::uint8_t>(*b ? 1 : 0)};
      if (auto i = v.int32_value()) return ByteVec{static_cast<std::uint8_t>(*i != 0 ? 1 : 0)};
      return std::nullopt;
    case kPtypTime: {
      if (auto i = v.int64_value()) return little_endian(*i);
      std::optional<double> d = v.date_value();
      if (!d) d = v.double_value();
      if (!d || !std::isfinite(*d)) return std::nullopt;
      return little_endian(date_to_filetime(*d));
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

Variant element_value(std::uint16_t type, Bytes bytes) {
  const auto fits = [&](std::size_t n) { return bytes.size() >= n; };
  switch (type) {
    case kPtypInteger16: return fits(2) ? Variant(static_cast<std::int32_t>(static_cast<std::int16_t>(load_u16(bytes, 0)))) : Variant();
    case kPtypInteger32: return fits(4) ? Variant(static_cast<std::int32_t>(load_u32(bytes, 0))) : Variant();
    case kPtypErrorCode: return fits(4) ? Variant::Error(static_cast<std::int32_t>(load_u32(bytes, 0))) : Variant();
    case kPtypFloating32: {
      if (!fits(4)) return {};
      float f;
      std::memcpy(&f, bytes.data(), 4);
      return static_cast<double>(f);
    }
    case kPtypFloating64:
    case kPtypFloatingTime: {
      if (!fits(8)) return {};
      double d;
      std::memcpy(&d, bytes.data(), 8);
      return type == kPtypFloatingTime ? Variant::Date(d) : Variant(d);
    }
    case kPtypCurrency:
    case kPtypInteger64: return fits(8) ? Variant::Int64(static_cast<std::int64_t>(load_u64(bytes, 0))) : Variant();
    case kPtypBoolean: return fits(1) ? Variant(bytes[0] != 0) : Variant();
    case kPtypTime: return fits(8) ? Variant::Date(filetime_to_date(load_u64(bytes, 0))) : Variant();
    case kPtypString: return utf16_to_utf8(bytes);
    case kPtypGuid:
    case kPtypBinary:
    case kPtypServerId:
    case kPtypRestriction:
    case kPtypRuleAction: return Variant::Bytes(ByteVec(bytes.begin(), bytes.end()));
    default: return {};
  }
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
  if (!IsMultiValued(type)) return element_value(type, property.data);
  const auto element_type = static_cast<std::uint16_t>(type & ~kPtypMultipleFlag);
  std::vector<Variant> items;
  if (const std::uint32_t width = FixedPropSize(type); width != 0) {
    for (std::size_t at = 0; at + width <= property.data.size(); at += width)
      items.push_back(element_value(element_type, Bytes(property.data).subspan(at, width)));
    return Variant::Array(std::move(items));
  }
  const auto stored = parse_variable_multi(property.data);
  if (!stored) return {};
  for (const Bytes item : *stored) items.push_back(element_value(element_type, item));
  return Variant::Array(std::move(items));
}

}  // namespace salvora::store
