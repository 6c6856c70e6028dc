#pragma once
// The faithful copy: after an item writer has put its fields on a new object, every property
// the source object has goes onto that object through its PropertyAccessor, so the PST holds the
// object as the source held it. The store refuses the properties it computes itself (entry
// ids, sizes, counts, its own bookkeeping); those are expected and not losses. A value the store
// cannot take, or one the source could not give, is a loss, and named.

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "automation/dispatch.h"
#include "content/named_property_map.h"
#include "content/property_block.h"
#include "engine/source_object.h"

namespace salvora {

// Schema names already made, by stored id and type: the same properties come back item after
// item, and a named one's name is long to make. Valid for one source's map of names.
using SchemaNameCache = std::unordered_map<std::uint32_t, std::string>;

struct PropertyCopy {
  const NamedPropertyMap* names = nullptr;  // the source's; null: named properties are lost
  bool ansi_file = false;
  std::uint32_t codepage = 1252;
  SchemaNameCache* cache = nullptr;  // may be null
};

// Why a property did not reach the copy, for the user: "0x0037001F: ...".
struct DroppedProperty {
  std::string property;  // its schema name, or its tag when it has none
  std::string reason;
};

// Ids left out on purpose: the value travels another way (an attachment's data, an embedded
// message) or belongs to the source's own tables.
bool copied_another_way(std::uint16_t raw_id, std::uint16_t type);

// Whether source (may be null) has a readable value of one of ids. The copy puts it on the
// object byte for byte, so a value an item writer would choose and convert for the same
// property is only replaced: the writers leave such values to the copy.
bool copy_brings(const SourceObject* source, std::initializer_list<std::uint16_t> ids);

// Puts every entry on object's PropertyAccessor in one SetProperties call. Returns what could
// not be copied.
std::vector<DroppedProperty> copy_properties(const DispatchPtr& object, const std::vector<PropertyEntry>& entries,
                                             const PropertyCopy& copy);

// The properties the item writers' road gives an item (the imported header's sender, times
// and display lists, the writers' fields and defaults) that the source object lacks are taken
// off again, so the copy has no more than the source had. The store derives a few of its own
// (search key, flags, times) whatever is done here.
void remove_unsourced(const DispatchPtr& item, const std::vector<PropertyEntry>& source, const PropertyCopy& copy);

// The same for an attachment: the names, times and position its Add gave it that the source
// attachment lacks.
void remove_unsourced_attachment(const DispatchPtr& attachment, const std::vector<PropertyEntry>& source);

// The recipients of item made those of the source, row for row in the source's order and with
// each row's type: rows already there (from an imported header, a display list) are replaced.
std::vector<DroppedProperty> copy_recipients(const DispatchPtr& item, const SourceObject& source,
                                             const PropertyCopy& copy);

}  // namespace salvora
