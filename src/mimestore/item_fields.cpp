#include "mimestore/item_fields.h"

#include <algorithm>

#include "format/byte_reader.h"
#include "format/prop_types.h"

namespace salvora::mime {

namespace {

// 4501-01-01 00:00 UTC, the FILETIME Outlook writes for "none".
constexpr std::uint64_t kNoneTime = 0x0CB34557A3DD4000ull;

}  // namespace

std::string prop_text(const pst::PropertyList& props, std::uint16_t id) {
  const pst::Property* p = pst::find_prop(props, id);
  if (!p) return {};
  std::string s;
  if (p->type() == kPtypString) s = p->AsString();
  else if (p->type() == kPtypString8 || p->type() == kPtypBinary) s.assign(p->data.begin(), p->data.end());
  s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
  return s;
}

std::optional<std::int64_t> prop_int(const pst::PropertyList& props, std::uint16_t id) {
  const pst::Property* p = pst::find_prop(props, id);
  if (!p || p->data.empty() || p->type() == kPtypString || p->type() == kPtypBinary) return std::nullopt;
  return p->AsInt();
}

std::optional<std::uint64_t> prop_time(const pst::PropertyList& props, std::uint16_t id) {
  const auto v = prop_int(props, id);
  if (!v || *v <= 0 || static_cast<std::uint64_t>(*v) >= kNoneTime) return std::nullopt;
  return static_cast<std::uint64_t>(*v);
}

std::optional<double> prop_double(const pst::PropertyList& props, std::uint16_t id) {
  const pst::Property* p = pst::find_prop(props, id);
  if (!p || p->type() != kPtypFloating64 || p->data.size() != 8) return std::nullopt;
  return load_f64(p->data, 0);
}

std::uint16_t NamedFields::IdOf(const pst::Guid& set, std::uint32_t lid) const {
  pst::PropertyName name;
  name.guid = set;
  name.lid = lid;
  return names_.Find(name).value_or(0);
}

const pst::Property* NamedFields::Find(const pst::Guid& set, std::uint32_t lid) const {
  const std::uint16_t id = IdOf(set, lid);
  return id ? pst::find_prop(props_, id) : nullptr;
}

std::string NamedFields::Text(const pst::Guid& set, std::uint32_t lid) const {
  const std::uint16_t id = IdOf(set, lid);
  return id ? prop_text(props_, id) : std::string();
}

std::optional<std::int64_t> NamedFields::Int(const pst::Guid& set, std::uint32_t lid) const {
  const std::uint16_t id = IdOf(set, lid);
  return id ? prop_int(props_, id) : std::nullopt;
}

std::optional<std::uint64_t> NamedFields::Time(const pst::Guid& set, std::uint32_t lid) const {
  const std::uint16_t id = IdOf(set, lid);
  return id ? prop_time(props_, id) : std::nullopt;
}

std::optional<double> NamedFields::Double(const pst::Guid& set, std::uint32_t lid) const {
  const std::uint16_t id = IdOf(set, lid);
  return id ? prop_double(props_, id) : std::nullopt;
}

}  // namespace salvora::mime
