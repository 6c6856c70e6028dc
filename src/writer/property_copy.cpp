#include "writer/property_copy.h"

#include <algorithm>
#include <array>
#include <type_traits>
#include <variant>

#include "automation/member_ids.h"
#include "automation/schema_name.h"
#include "format/byte_reader.h"
#include "format/property_sets.h"
#include "format/property_value.h"
#include "format/prop_types.h"
#include "format/text.h"

namespace salvora {

namespace {

using ByteVec = std::vector<std::uint8_t>;

std::string hex4(std::uint32_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(4, '0');
  for (int i = 3; i >= 0; --i, v >>= 4) out[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
  return out;
}

std::string tag_text(std::uint16_t id, std::uint16_t type) { return "0x" + hex4(id) + hex4(type); }

// A stored value as the accessor takes it. Stored text passes as it is stored: converting it
// to UTF-8 and back would cost the copy most of its time, and could only lose. A FILETIME goes
// as its ticks: a DATE would round it.
Variant variant_of(const StoredValue& stored, std::uint32_t codepage) {
  return std::visit(
      [&](const auto& v) -> Variant {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::int64_t>) return Variant::Int64(v);
        else if constexpr (std::is_same_v<T, StoredErrorCode>) return Variant::Error(v.code);
        else if constexpr (std::is_same_v<T, StoredAppTime>) return Variant::Date(v.days);
        else if constexpr (std::is_same_v<T, StoredFiletime>) return Variant::Int64(static_cast<std::int64_t>(v.ticks));
        else if constexpr (std::is_same_v<T, StoredUtf16>) return Variant::Bytes(ByteVec(v.units.begin(), v.units.end()));
        else if constexpr (std::is_same_v<T, StoredText8>) return Variant(codepage_to_utf8(v.bytes, codepage));
        else if constexpr (std::is_same_v<T, StoredBinary>) return Variant::Bytes(ByteVec(v.bytes.begin(), v.bytes.end()));
        else return Variant(v);
      },
      stored);
}

// A property's value as the accessor takes it, or why it cannot be given.
std::optional<Variant> value_of(const PropertyEntry& e, const PropertyCopy& copy, std::string& why) {
  if (!e.value) {
    why = "its value could not be read from the source";
    return std::nullopt;
  }
  const Bytes bytes(*e.value);
  std::uint16_t type = e.type;
  // An ANSI store's strings are 8-bit whatever type they are given as.
  if (copy.ansi_file && (type & ~kPtypMultipleFlag) == kPtypString) type = static_cast<std::uint16_t>(type ^ 0x0001);
  if (!IsMultiValued(type)) {
    if (auto v = decode_stored_value(type, bytes)) return variant_of(*v, copy.codepage);
    why = "its stored value is too short for its type";
    return std::nullopt;
  }
  std::vector<StoredValue> stored;
  switch (decode_stored_values(type, bytes, stored)) {
    case ValueFault::kNone: break;
    case ValueFault::kPartialElement: why = "its stored values do not fill whole elements"; return std::nullopt;
    case ValueFault::kTooShort: why = "its stored value is too short for its type"; return std::nullopt;
    case ValueFault::kDamagedList: why = "its list of values is damaged"; return std::nullopt;
  }
  std::vector<Variant> items;
  items.reserve(stored.size());
  for (const auto& v : stored) items.push_back(variant_of(v, copy.codepage));
  return Variant::Array(std::move(items));
}

// The schema name of an entry, or why it has none.
std::optional<std::string> schema_of(const PropertyEntry& e, std::uint16_t type, const PropertyCopy& copy,
                                     std::string& why) {
  if (e.raw_id < 0x8000) return proptag_schema_name(e.raw_id, type);
  const NamedProperty* n = copy.names ? copy.names->Find(e.raw_id) : nullptr;
  const auto set = n ? copy.names->property_set(*n) : std::nullopt;
  if (!n || !set) {
    why = "the source's map of named properties does not name it";
    return std::nullopt;
  }
  if (n->kind == NamedProperty::kNumeric) return id_schema_name(*set, n->lid, type);
  if (!n->name || n->name->empty()) {
    why = "its name could not be read from the source";
    return std::nullopt;
  }
  return string_schema_name(*set, *n->name, type);
}

}  // namespace

bool copied_another_way(std::uint16_t raw_id, std::uint16_t type) {
  // Attachment data and embedded messages travel with the attachment; the source's table
  // bookkeeping is its own.
  if (type == kPtypObject || type == kPtypUnspecified || type == kPtypNull) return true;
  return raw_id == kPidAttachDataBinary || raw_id == kPidLtpRowId || raw_id == kPidLtpRowVer;
}

bool copy_brings(const SourceObject* source, std::initializer_list<std::uint16_t> ids) {
  return source && std::any_of(source->properties.begin(), source->properties.end(), [&](const PropertyEntry& e) {
           return e.value && std::find(ids.begin(), ids.end(), e.raw_id) != ids.end();
         });
}

std::vector<DroppedProperty> copy_properties(const DispatchPtr& object, const std::vector<PropertyEntry>& entries,
                                             const PropertyCopy& copy) {
  std::vector<DroppedProperty> dropped;
  if (!object) return dropped;
  std::vector<Variant> names;
  std::vector<Variant> values;
  names.reserve(entries.size());
  values.reserve(entries.size());
  for (const auto& e : entries) {
    if (copied_another_way(e.raw_id, e.type)) continue;
    std::string why;
    std::optional<std::string> name;
    const std::uint32_t key = std::uint32_t{e.raw_id} << 16 | e.type;
    if (copy.cache) {
      if (const auto hit = copy.cache->find(key); hit != copy.cache->end()) name = hit->second;
    }
    if (!name) {
      name = schema_of(e, e.type, copy, why);
      if (name && copy.cache) copy.cache->emplace(key, *name);
    }
    auto value = name ? value_of(e, copy, why) : std::nullopt;
    if (!name || !value) {
      dropped.push_back({name.value_or(tag_text(e.raw_id, e.type)), why});
      continue;
    }
    names.emplace_back(std::move(*name));
    values.push_back(std::move(*value));
  }
  if (names.empty()) return dropped;
  DispatchPtr accessor = get(object, dispid::kPropertyAccessor).dispatch_value();
  if (!accessor) {
    for (const auto& n : names) dropped.push_back({*n.string_value(), "the object has no property accessor"});
    return dropped;
  }
  // The arrays go across whole, not copied (as a list of arguments would copy the names kept
  // here for the report): they hold every value of the object.
  const std::array<Variant, 2> arguments = {Variant::Array(std::move(names)), Variant::Array(std::move(values))};
  const Variant result = accessor->invoke(dispid::kSetProperties, InvokeKind::kMethod, arguments);
  const std::vector<Variant>* errors = result.array_value();
  const std::vector<Variant>& sent = *arguments[0].array_value();
  for (std::size_t i = 0; errors && i < errors->size() && i < sent.size(); ++i) {
    const auto code = (*errors)[i].error_code();
    if (!code || *code == kAccessorComputed) continue;  // set, or the store's own to compute
    dropped.push_back({*sent[i].string_value(), "the PST could not store its value"});
  }
  return dropped;
}

void remove_unsourced(const DispatchPtr& item, const std::vector<PropertyEntry>& source, const PropertyCopy& copy) {
  // What the header import, the item writers and a new item's defaults put on an item.
  static constexpr std::pair<std::uint16_t, std::uint16_t> kRoad[] = {
      {0x0E04, kPtypString}, {0x0E03, kPtypString}, {0x0E02, kPtypString},    // display lists
      {0x0039, kPtypTime},   {0x0E06, kPtypTime},                             // submit, delivery
      {0x0C1A, kPtypString}, {0x0C1F, kPtypString}, {0x0C1E, kPtypString},    // sender
      {0x0C19, kPtypBinary}, {0x0C1D, kPtypBinary},
      {0x0042, kPtypString}, {0x0065, kPtypString}, {0x0064, kPtypString},    // sent representing
      {0x0041, kPtypBinary}, {0x003B, kPtypBinary},
      {0x0017, kPtypInteger32}, {0x0036, kPtypInteger32},                     // importance, sensitivity
      {0x003D, kPtypString}, {0x0E1D, kPtypString}, {0x0070, kPtypString},    // subject parts, topic
      {0x1016, kPtypInteger32}, {0x3FDE, kPtypInteger32}, {0x1080, kPtypInteger32},
      {0x0037, kPtypString}, {0x1000, kPtypString}, {0x1013, kPtypBinary},    // subject, bodies
      {0x0060, kPtypTime}, {0x0061, kPtypTime},                               // an appointment's ends
      {0x3001, kPtypString}, {0x3A4D, kPtypInteger16},                        // a contact's name, gender
      {0x3007, kPtypTime},   {0x3008, kPtypTime},                             // created, modified
  };
  // The item writers' named fields and the defaults a new appointment, task, journal entry,
  // note or contact is given.
  struct RoadName {
    std::array<std::uint8_t, 16> set;
    std::uint32_t lid;
    std::uint16_t type;
  };
  static constexpr RoadName kRoadNames[] = {
      {kPsetidAppointment, 0x8205, kPtypInteger32}, {kPsetidAppointment, 0x8208, kPtypString},
      {kPsetidAppointment, 0x820D, kPtypTime},      {kPsetidAppointment, 0x820E, kPtypTime},
      {kPsetidAppointment, 0x8213, kPtypInteger32}, {kPsetidAppointment, 0x8215, kPtypBoolean},
      {kPsetidAppointment, 0x8217, kPtypInteger32}, {kPsetidAppointment, 0x8223, kPtypBoolean},
      {kPsetidCommon, 0x8501, kPtypInteger32},      {kPsetidCommon, 0x8503, kPtypBoolean},
      {kPsetidCommon, 0x8516, kPtypTime},           {kPsetidCommon, 0x8517, kPtypTime},
      {kPsetidCommon, 0x853C, kPtypMultipleString}, {kPsetidCommon, 0x8534, kPtypString},
      {kPsetidTask, 0x8101, kPtypInteger32},        {kPsetidTask, 0x8102, kPtypFloating64},
      {kPsetidTask, 0x810F, kPtypTime},             {kPsetidTask, 0x811C, kPtypBoolean},
      {kPsetidLog, 0x8700, kPtypString},            {kPsetidLog, 0x8706, kPtypTime},
      {kPsetidLog, 0x8707, kPtypInteger32},         {kPsetidLog, 0x8708, kPtypTime},
      {kPsetidLog, 0x8712, kPtypString},            {kPsetidNote, 0x8B00, kPtypInteger32},
      {kPsetidNote, 0x8B02, kPtypInteger32},        {kPsetidNote, 0x8B03, kPtypInteger32},
      {kPsetidAddress, 0x8005, kPtypString},        {kPsetidAddress, 0x801B, kPtypString},
      {kPsetidAddress, 0x801C, kPtypString},        {kPsetidAddress, 0x8028, kPtypMultipleInteger32},
      {kPsetidAddress, 0x8029, kPtypInteger32},     {kPsetidAddress, 0x8045, kPtypString},
      {kPsetidAddress, 0x8046, kPtypString},        {kPsetidAddress, 0x8047, kPtypString},
      {kPsetidAddress, 0x8048, kPtypString},        {kPsetidAddress, 0x8049, kPtypString},
      {kPsetidAddress, 0x8080, kPtypString},        {kPsetidAddress, 0x8082, kPtypString},
      {kPsetidAddress, 0x8083, kPtypString},        {kPsetidAddress, 0x8084, kPtypString},
      {kPsetidAddress, 0x80D8, kPtypString},
  };
  // What the source has, gathered once: its tagged ids, and its numbered names.
  std::vector<std::uint16_t> tags;
  std::vector<std::pair<std::array<std::uint8_t, 16>, std::uint32_t>> numbered;
  std::string message_class;
  for (const auto& e : source) {
    if (e.raw_id < 0x8000) {
      tags.push_back(e.raw_id);
      if (e.raw_id == kPidMessageClass) message_class = value_text(e, copy.codepage, copy.ansi_file, true);
      continue;
    }
    const NamedProperty* n = copy.names ? copy.names->Find(e.raw_id) : nullptr;
    if (!n || n->kind != NamedProperty::kNumeric) continue;
    if (const auto set = copy.names->property_set(*n)) numbered.emplace_back(*set, n->lid);
  }
  std::sort(tags.begin(), tags.end());
  const auto has_tag = [&](std::uint16_t id) { return std::binary_search(tags.begin(), tags.end(), id); };
  const auto has_name = [&](const RoadName& r) {
    if (!copy.names) return true;  // unknown: leave the writer's value
    return std::any_of(numbered.begin(), numbered.end(), [&](const auto& n) { return n.second == r.lid && n.first == r.set; });
  };
  // Their schema names, made once.
  static const std::vector<std::string> kRoadSchema = [] {
    std::vector<std::string> out;
    for (const auto& [id, type] : kRoad) out.push_back(proptag_schema_name(id, type));
    return out;
  }();
  static const std::vector<std::string> kContactSchema = [] {
    std::vector<std::string> out;
    for (std::uint16_t id = 0x3A00; id <= 0x3A71; ++id) out.push_back(proptag_schema_name(id, kPtypString));
    return out;
  }();
  static const std::vector<std::string> kRoadNameSchema = [] {
    std::vector<std::string> out;
    for (const auto& r : kRoadNames) out.push_back(id_schema_name(r.set, r.lid, r.type));
    return out;
  }();
  std::vector<Variant> names;
  for (std::size_t i = 0; i < std::size(kRoad); ++i)
    if (!has_tag(kRoad[i].first)) names.emplace_back(kRoadSchema[i]);
  // The fields of the other kinds only where a writer of that kind can have put them: a
  // contact's fields are tags of their own range, the rest named.
  if (!message_class.starts_with("IPM.Note")) {
    if (message_class.starts_with("IPM.Contact") || message_class.starts_with("IPM.DistList")) {
      for (std::uint16_t id = 0x3A00; id <= 0x3A71; ++id)
        if (!has_tag(id)) names.emplace_back(kContactSchema[id - 0x3A00u]);
    }
    for (std::size_t i = 0; i < std::size(kRoadNames); ++i)
      if (!has_name(kRoadNames[i])) names.emplace_back(kRoadNameSchema[i]);
  }
  if (names.empty()) return;
  DispatchPtr accessor = get(item, dispid::kPropertyAccessor).dispatch_value();
  invoke(accessor, dispid::kDeleteProperties, InvokeKind::kMethod, {Variant::Array(std::move(names))});
}

void remove_unsourced_attachment(const DispatchPtr& attachment, const std::vector<PropertyEntry>& source) {
  static constexpr std::pair<std::uint16_t, std::uint16_t> kAdded[] = {
      {0x3001, kPtypString}, {0x3703, kPtypString}, {0x3704, kPtypString}, {0x3707, kPtypString},
      {0x3007, kPtypTime},   {0x3008, kPtypTime},   {0x370B, kPtypInteger32}};
  std::vector<Variant> names;
  for (const auto& [id, type] : kAdded) {
    if (std::none_of(source.begin(), source.end(), [&](const PropertyEntry& e) { return e.raw_id == id; }))
      names.emplace_back(proptag_schema_name(id, type));
  }
  if (names.empty() || !attachment) return;
  DispatchPtr accessor = get(attachment, dispid::kPropertyAccessor).dispatch_value();
  invoke(accessor, dispid::kDeleteProperties, InvokeKind::kMethod, {Variant::Array(std::move(names))});
}

std::vector<DroppedProperty> copy_recipients(const DispatchPtr& item, const SourceObject& source,
                                             const PropertyCopy& copy) {
  std::vector<DroppedProperty> dropped;
  DispatchPtr recipients = get(item, dispid::kRecipients).dispatch_value();
  if (!recipients) return dropped;
  for (std::int32_t n = get(recipients, dispid::kCount).int32_value().value_or(0); n > 0; --n)
    invoke(recipients, dispid::kRemove, InvokeKind::kMethod, {Variant(n)});
  for (const auto& row : source.recipients) {
    std::string name;
    std::int32_t type = 1;
    for (const auto& e : row) {
      if (e.raw_id == kPidDisplayName && e.value) name = value_text(e, copy.codepage, copy.ansi_file, true);
      if (e.raw_id == kPidRecipientType) type = value_i32(e).value_or(1);
    }
    DispatchPtr recipient = invoke(recipients, dispid::kAddRecipient, InvokeKind::kMethod, {Variant(name)}).dispatch_value();
    put(recipient, dispid::kRecipientType, Variant(type));
    auto lost = copy_properties(recipient, row, copy);
    dropped.insert(dropped.end(), lost.begin(), lost.end());
    // A row the source kept without an object type stays without one.
    if (std::none_of(row.begin(), row.end(), [](const PropertyEntry& e) { return e.raw_id == kPidObjectType; })) {
      DispatchPtr accessor = get(recipient, dispid::kPropertyAccessor).dispatch_value();
      invoke(accessor, dispid::kDeleteProperty, InvokeKind::kMethod,
             {Variant(proptag_schema_name(kPidObjectType, kPtypInteger32))});
    }
  }
  return dropped;
}

}  // namespace salvora
