#pragma once
// Property values across the automation boundary: what a property accessor takes for a
// property of a given type, and what it gives back.
//
//   PT_I2, PT_LONG            int32
//   PT_R4, PT_DOUBLE          double (an int32 is taken too)
//   PT_CURRENCY, PT_I8        int64 (an int32 is taken too)
//   PT_APPTIME                DATE (a double is taken too)
//   PT_ERROR                  error code (an int32 is taken too)
//   PT_BOOLEAN                bool (an int32 is taken too)
//   PT_STRING8, PT_UNICODE    string; always stored as Unicode. The bytes of a string in its
//                             stored form (UTF-16LE) are taken too, so a copy need not convert.
//   PT_SYSTIME                int64, the FILETIME to the 100 ns (a DATE would round it), so a
//                             time read and set again is unchanged; a DATE is taken too, as UTC
//   PT_CLSID                  16 bytes
//   PT_BINARY and the other binary forms (PT_SVREID, restrictions, rule actions)   bytes
//   multi-valued types        an array of the element's values
//
// PT_OBJECT and PT_NULL values are not properties an accessor can set.

#include <cstdint>
#include <string>

#include "automation/dispatch.h"
#include "pststore/pst/property.h"

namespace salvora::store {

// The value in stored form; throws AutomationError (kBadArgument, naming member) for a value
// the type cannot take.
pst::Property property_from_value(MemberId member, std::uint16_t id, std::uint16_t type, const Variant& value);
// The value of a stored property; empty for a type an accessor does not give.
Variant value_from_property(const pst::Property& property);

}  // namespace salvora::store
