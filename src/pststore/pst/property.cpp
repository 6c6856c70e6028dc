#include "pststore/pst/property.h"

#include <algorithm>

#include "format/byte_writer.h"
#include "format/multi_value.h"
#include "format/text.h"

namespace salvora::pst {


Property Property::Int16(std::uint16_t id, std::int16_t v) { return {PropTag(id, kPtypInteger16), le_bytes(v)}; }
Property Property::Int32(std::uint16_t id, std::int32_t v) { return {PropTag(id, kPtypInteger32), le_bytes(v)}; }
Property Property::Bool(std::uint16_t id, bool v) { return {PropTag(id, kPtypBoolean), {static_cast<std::uint8_t>(v ? 1 : 0)}}; }
Property Property::Int64(std::uint16_t id, std::int64_t v) { return {PropTag(id, kPtypInteger64), le_bytes(v)}; }
Property Property::Float(std::uint16_t id, float v) { return {PropTag(id, kPtypFloating32), le_bytes(v)}; }
Property Property::Double(std::uint16_t id, double v) { return {PropTag(id, kPtypFloating64), le_bytes(v)}; }
Property Property::Currency(std::uint16_t id, std::int64_t v) { return {PropTag(id, kPtypCurrency), le_bytes(v)}; }
Property Property::Time(std::uint16_t id, std::uint64_t ft) { return {PropTag(id, kPtypTime), le_bytes(ft)}; }
Property Property::Guid(std::uint16_t id, const std::array<std::uint8_t, 16>& g) {
  return {PropTag(id, kPtypGuid), {g.begin(), g.end()}};
}
Property Property::String(std::uint16_t id, std::string_view utf8) { return {PropTag(id, kPtypString), utf8_to_utf16le(utf8)}; }
Property Property::Binary(std::uint16_t id, Bytes bytes) { return {PropTag(id, kPtypBinary), {bytes.begin(), bytes.end()}}; }
Property Property::MultiString(std::uint16_t id, const std::vector<std::string>& utf8) {
  std::vector<std::vector<std::uint8_t>> items;
  for (const auto& s : utf8) items.push_back(utf8_to_utf16le(s));
  return {PropTag(id, kPtypMultipleString), serialize_variable_multi(items)};
}
Property Property::MultiBinary(std::uint16_t id, const std::vector<std::vector<std::uint8_t>>& items) {
  return {PropTag(id, kPtypMultipleBinary), serialize_variable_multi(items)};
}
Property Property::Multi(std::uint16_t id, std::uint16_t multi_type,
                         const std::vector<std::vector<std::uint8_t>>& items) {
  if (FixedPropSize(multi_type) == 0) return {PropTag(id, multi_type), serialize_variable_multi(items)};
  std::vector<std::uint8_t> packed;
  for (const auto& item : items) packed.insert(packed.end(), item.begin(), item.end());
  return {PropTag(id, multi_type), std::move(packed)};
}
Property Property::MultiInt32(std::uint16_t id, const std::vector<std::int32_t>& items) {
  ByteWriter w;
  for (auto v : items) w.u32(static_cast<std::uint32_t>(v));
  return {PropTag(id, kPtypMultipleInteger32), w.take()};
}
Property Property::MultiTime(std::uint16_t id, const std::vector<std::uint64_t>& items) {
  ByteWriter w;
  for (auto v : items) w.u64(v);
  return {PropTag(id, kPtypMultipleTime), w.take()};
}

std::int64_t Property::AsInt() const {
  switch (data.size()) {
    case 1: return data[0];
    case 2: return static_cast<std::int16_t>(load_u16(data, 0));
    case 4: return static_cast<std::int32_t>(load_u32(data, 0));
    case 8: return static_cast<std::int64_t>(load_u64(data, 0));
    default: return 0;
  }
}

std::string Property::AsString() const { return utf16_to_utf8(data); }

const Property* find_prop(const PropertyList& props, std::uint16_t id) {
  for (const auto& p : props)
    if (p.id() == id) return &p;
  return nullptr;
}

void set_prop(PropertyList& props, Property p) {
  for (auto& q : props) {
    if (q.id() == p.id()) {
      q = std::move(p);
      return;
    }
  }
  props.push_back(std::move(p));
}

void copy_prop(PropertyList& props, const Property& p) {
  for (auto& q : props) {
    if (q.id() == p.id()) {
      q.tag = p.tag;
      q.data = p.data;
      return;
    }
  }
  props.push_back(p);
}

void normalize_props(PropertyList& props) {
  std::stable_sort(props.begin(), props.end(), [](const Property& a, const Property& b) { return a.id() < b.id(); });
  // Keep the last of equal ids: the caller's later value overrides an earlier one.
  PropertyList out;
  for (auto& p : props) {
    if (!out.empty() && out.back().id() == p.id()) out.back() = std::move(p);
    else out.push_back(std::move(p));
  }
  props = std::move(out);
}

bool is_inline_pc_value(std::uint16_t type) {
  switch (type) {
    case kPtypInteger16: case kPtypInteger32: case kPtypFloating32: case kPtypErrorCode: case kPtypBoolean: return true;
    default: return false;
  }
}

std::uint8_t table_cell_size(std::uint16_t type) {
  switch (type) {
    case kPtypInteger16: return 2;
    case kPtypInteger32: case kPtypFloating32: case kPtypErrorCode: return 4;
    case kPtypBoolean: return 1;
    case kPtypInteger64: case kPtypTime: case kPtypFloating64: case kPtypCurrency: case kPtypFloatingTime: return 8;
    default: return 4;  // an HNID
  }
}

PackedProps::PackedProps(const PropertyList& props) {
  ByteWriter w;
  for (const auto& p : props) {
    w.u32(p.tag);
    w.u32(static_cast<std::uint32_t>(p.data.size()));
    w.bytes(p.data);
  }
  blob_ = w.take();
  blob_.shrink_to_fit();
}

PackedProps PackedProps::FromBlob(std::vector<std::uint8_t> blob) {
  PackedProps out;
  out.blob_ = std::move(blob);
  return out;
}

PropertyList PackedProps::Unpack() const {
  PropertyList out;
  ByteReader r(blob_);
  while (r.remaining() >= 8) {
    Property p;
    p.tag = r.u32();
    const Bytes b = r.bytes(r.u32());
    p.data.assign(b.begin(), b.end());
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace salvora::pst
