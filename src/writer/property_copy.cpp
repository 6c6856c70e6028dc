#include "writer/property_copy.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "automation/member_ids.h"
#include "automation/schema_name.h"
#include "format/byte_reader.h"
#include "format/multi_value.h"
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

// A stored 8-bit string ends where its terminator does, if it carries one.
std::string text8(Bytes bytes, std::uint32_t codepage) {
  std::size_t n = bytes.size();
  while (n > 0 && bytes[n - 1] == 0) --n;
  return codepage_to_utf8(bytes.first(n), codepage);
}

template <class T>
T load(Bytes bytes) {
  T v{};
  std::memcpy(&v, bytes.data(), sizeof v);
  return v;
}

// One value of a single-valued type from its stored bytes; empty when they are too short.
std::optional<Variant> element(std::uint16_t type, Bytes b, const PropertyCopy& copy) {
  const auto need = [&](std::size_t n) { return b.size() >= n; };
  switch (type) {
    case kPtypInteger16: if (need(2)) return Variant(static_cast<std::int32_t>(load<std::int16_t>(b))); break;
    case kPtypInteger32: if (need(4)) return Variant(load<std::int32_t>(b)); break;
    case kPtypErrorCode: if (need(4)) return Variant::Error(load<std::int32_t>(b)); break;
    case kPtypFloating32: if (need(4)) return Variant(static_cast<double>(load<float>(b))); break;
    case kPtypFloating64: if (need(8)) return Variant(load<double>(b)); break;
    case kPtypFloatingTime: if (need(8)) return Variant::Date(load<double>(b)); break;
    case kPtypCurrency:
    case kPtypInteger64:
    case kPtypTime:  // a FILETIME goes as its ticks: a DATE would round it
      if (need(8)) return Variant::Int64(load<std::int64_t>(b));
      break;
    case kPtypBoolean: if (need(1)) return Variant(b[0] != 0); break;
    // Stored text passes as it is stored: converting it to UTF-8 and back would cost the copy
    // most of its time, and could only lose.
    case kPtypString: return Variant::Bytes(ByteVec(b.begin(), b.end() - static_cast<std::ptrdiff_t>(b.size() % 2)));
    case kPtypString8: return Variant(text8(b, copy.codepage));
    case kPtypGuid: if (need(16)) return Variant::Bytes(ByteVec(b.begin(), b.begin() + 16)); break;
    case kPtypBinary:
    case kPtypServerId:
    case kPtypRestriction:
    case kPtypRuleAction: return Variant::Bytes(ByteVec(b.begin(), b.end()));
    default: break;
  }
  return std::nullopt;
}

// A property's value as the accessor takes it, or why it cannot be given.
std::optional<Variant> value_of(const PropertyEntry& e, const PropertyCopy& copy, std::string& why) {
  if (!e.value) {
    why = "its value could not be read from the source";
    return std::nullopt;
  }
  Bytes bytes(*e.value);
  std::uint16_t type = e.type;
  // An ANSI store's strings are 8-bit whatever type they are given as.
  if (copy.ansi_file && (type & ~kPtypMultipleFlag) == kPtypString) type = static_cast<std::uint16_t>(type ^ 0x0001);
  if (!IsMultiValued(type)) {
    if (auto v = element(type, bytes, copy)) return v;
    why = "its stored value is too short for its type";
    return std::nullopt;
  }
  const auto base = static_cast<std::uint16_t>(type & ~kPtypMultipleFlag);
  std::vector<Variant> items;
  const auto add = [&](Bytes item) {
    auto v = element(base, item, copy);
    if (!v) return false;
    items.push_back(std::move(*v));
    return true;
  };
  if (const std::uint32_t width = FixedPropSize(type); width != 0) {
    if (bytes.size() % width != 0) {
      why = "its stored values do not fill whole elements";
      return std::nullopt;
    }
    for (std::size_t at = 0; at < bytes.size(); at += width)
      if (!add(bytes.subspan(at, width))) return std::nullopt;
    return Variant::Array(std::move(items));
  }
  const auto stored = parse_variable_multi(bytes);
  bool sound = stored.has_value();
  for (std::size_t i = 0; sound && i < stored->size(); ++i) sound = add((*stored)[i]);
  if (!sound) {
    why = "its list of values is damaged";
    return std::nullopt;
  }
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
  static constexpr std::array<std::uint8_t, 16> kAppointment = {0x02, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  static constexpr std::array<std::uint8_t, 16> kTask = {0x03, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  static constexpr std::array<std::uint8_t, 16> kAddress = {0x04, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  static constexpr std::array<std::uint8_t, 16> kCommon = {0x08, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  static constexpr std::array<std::uint8_t, 16> kLog = {0x0A, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  static constexpr std::array<std::uint8_t, 16> kNote = {0x0E, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  static constexpr RoadName kRoadNames[] = {
      {kAppointment, 0x8205, kPtypInteger32}, {kAppointment, 0x8208, kPtypString},
      {kAppointment, 0x820D, kPtypTime},      {kAppointment, 0x820E, kPtypTime},
      {kAppointment, 0x8213, kPtypInteger32}, {kAppointment, 0x8215, kPtypBoolean},
      {kAppointment, 0x8217, kPtypInteger32}, {kAppointment, 0x8223, kPtypBoolean},
      {kCommon, 0x8501, kPtypInteger32},      {kCommon, 0x8503, kPtypBoolean},
      {kCommon, 0x8516, kPtypTime},           {kCommon, 0x8517, kPtypTime},
      {kCommon, 0x853C, kPtypMultipleString}, {kCommon, 0x8534, kPtypString},
      {kTask, 0x8101, kPtypInteger32},        {kTask, 0x8102, kPtypFloating64},
      {kTask, 0x810F, kPtypTime},             {kTask, 0x811C, kPtypBoolean},
      {kLog, 0x8700, kPtypString},            {kLog, 0x8706, kPtypTime},
      {kLog, 0x8707, kPtypInteger32},         {kLog, 0x8708, kPtypTime},
      {kLog, 0x8712, kPtypString},            {kNote, 0x8B00, kPtypInteger32},
      {kNote, 0x8B02, kPtypInteger32},        {kNote, 0x8B03, kPtypInteger32},
      {kAddress, 0x8005, kPtypString},        {kAddress, 0x801B, kPtypString},
      {kAddress, 0x801C, kPtypString},        {kAddress, 0x8028, kPtypMultipleInteger32},
      {kAddress, 0x8029, kPtypInteger32},     {kAddress, 0x8045, kPtypString},
      {kAddress, 0x8046, kPtypString},        {kAddress, 0x8047, kPtypString},
      {kAddress, 0x8048, kPtypString},        {kAddress, 0x8049, kPtypString},
      {kAddress, 0x8080, kPtypString},        {kAddress, 0x8082, kPtypString},
      {kAddress, 0x8083, kPtypString},        {kAddress, 0x8084, kPtypString},
      {kAddress, 0x80D8, kPtypString},
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
