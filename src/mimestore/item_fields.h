#pragma once
// Reading the values of a message as the store hands it over (tagged properties in their stored
// form, named ones under the ids the store's name map gave them) for the writers of mail,
// vCard and iCalendar text.

#include <cstdint>
#include <optional>
#include <string>

#include "pststore/pst/message_spec.h"
#include "pststore/pst/name_map.h"

namespace salvora::mime {

// The text of a string (either width) or binary value, without NUL characters; empty when
// absent.
std::string prop_text(const pst::PropertyList& props, std::uint16_t id);
// A 16-, 32- or 64-bit integer, boolean or time value.
std::optional<std::int64_t> prop_int(const pst::PropertyList& props, std::uint16_t id);
// A time (FILETIME) that is set: absent, zero and the "none" values of Outlook (4501-01-01 and
// later) read as empty.
std::optional<std::uint64_t> prop_time(const pst::PropertyList& props, std::uint16_t id);
std::optional<double> prop_double(const pst::PropertyList& props, std::uint16_t id);

// The named values of one message, by property set and LID. The map must outlive it.
class NamedFields {
 public:
  NamedFields(const pst::PropertyList& props, const pst::NameToIdMap& names) : props_(props), names_(names) {}
  const pst::Property* Find(const pst::Guid& set, std::uint32_t lid) const;
  std::string Text(const pst::Guid& set, std::uint32_t lid) const;
  std::optional<std::int64_t> Int(const pst::Guid& set, std::uint32_t lid) const;
  std::optional<std::uint64_t> Time(const pst::Guid& set, std::uint32_t lid) const;
  std::optional<double> Double(const pst::Guid& set, std::uint32_t lid) const;

 private:
  std::uint16_t IdOf(const pst::Guid& set, std::uint32_t lid) const;
  const pst::PropertyList& props_;
  const pst::NameToIdMap& names_;
};

}  // namespace salvora::mime
