#include "pststore/pst/name_map.h"

#include <algorithm>
#include <stdexcept>

#include "format/byte_writer.h"
#include "format/crc.h"
#include "format/name_id.h"
#include "format/text.h"

namespace salvora::pst {

namespace {

// The hash key of a name: its numeric id, or the CRC of its UTF-16LE string.
std::uint32_t HashKey(const PropertyName& n) {
  return n.lid ? *n.lid : ComputeCrc(utf8_to_utf16le(n.name));
}

}  // namespace

std::uint16_t NameToIdMap::Register(const PropertyName& name) {
  if (auto id = Find(name)) return *id;
  if (names_.size() >= 0x7FFF) throw std::length_error("name-to-id map is full");
  const auto id = static_cast<std::uint16_t>(0x8000 + names_.size());
  names_.push_back(name);
  index_.emplace(KeyOf(name), id);
  dirty_ = true;
  return id;
}

std::optional<std::uint16_t> NameToIdMap::Find(const PropertyName& name) const {
  auto it = index_.find(KeyOf(name));
  if (it == index_.end()) return std::nullopt;
  return it->second;
}

PropertyList NameToIdMap::ToProperties() const {
  ByteWriter guids, entries, strings;
  std::vector<Guid> guid_list;
  std::map<std::uint32_t, ByteWriter> buckets;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    const PropertyName& n = names_[i];
    std::uint16_t wguid;
    if (n.guid == kPsMapi) {
      wguid = 1;
    } else if (n.guid == kPsPublicStrings) {
      wguid = 2;
    } else {
      std::size_t g = 0;
      while (g < guid_list.size() && guid_list[g] != n.guid) ++g;
      if (g == guid_list.size()) {
        guid_list.push_back(n.guid);
        guids.bytes(n.guid);
      }
      wguid = static_cast<std::uint16_t>(3 + g);
    }
    NameIdRecord record{n.lid.value_or(0), !n.lid.has_value(), wguid, static_cast<std::uint16_t>(i)};
    if (record.is_string) {
      record.value = static_cast<std::uint32_t>(strings.size());
      const auto text = utf8_to_utf16le(n.name);
      strings.u32(static_cast<std::uint32_t>(text.size()));
      strings.bytes(text);
      strings.pad_to((strings.size() + 3) / 4 * 4);
    }
    record.Serialize(entries);
    NameIdRecord hashed = record;
    hashed.value = HashKey(n);
    hashed.Serialize(buckets[(hashed.value ^ record.word()) % kNameBucketCount]);
  }
  PropertyList out;
  out.push_back(Property::Int32(kPidNameidBucketCount, static_cast<std::int32_t>(kNameBucketCount)));
  out.push_back(Property::Binary(kPidNameidStreamGuid, guids.data()));
  out.push_back(Property::Binary(kPidNameidStreamEntry, entries.data()));
  out.push_back(Property::Binary(kPidNameidStreamString, strings.data()));
  // Outlook stores only the buckets that hold records.
  for (const auto& [b, w] : buckets) out.push_back(Property::Binary(static_cast<std::uint16_t>(0x1000 + b), w.data()));
  return out;
}

NameToIdMap NameToIdMap::FromProperties(const PropertyList& props, std::vector<std::string>* problems) {
  auto report = [&](const std::string& s) {
    if (problems) problems->push_back("name-to-id map: " + s);
  };
  NameToIdMap map;
  const Property* count = find_prop(props, kPidNameidBucketCount);
  if (!count || count->AsInt() != kNameBucketCount) report("PidTagNameidBucketCount missing or not 251");
  const Property* g = find_prop(props, kPidNameidStreamGuid);
  const Property* e = find_prop(props, kPidNameidStreamEntry);
  const Property* s = find_prop(props, kPidNameidStreamString);
  if (!g || !e || !s) {
    report("a stream property is missing");
    return map;
  }
  if (g->data.size() % 16 != 0 || e->data.size() % NameIdRecord::kSize != 0) report("stream sizes are not whole records");
  if (e->data.empty()) report("no entries (libpff refuses to open such a store)");
  const std::vector<NameIdRecord> records = parse_name_id_records(e->data);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const NameIdRecord& record = records[i];
    const std::uint16_t wguid = record.guid_index;
    const std::uint32_t pid = record.value;
    PropertyName n;
    if (record.prop_index != i) report("entry " + std::to_string(i) + " has wPropIdx " + std::to_string(record.prop_index));
    if (wguid == 1) n.guid = kPsMapi;
    else if (wguid == 2) n.guid = kPsPublicStrings;
    else if (wguid >= 3 && (wguid - 3u) * 16 + 16 <= g->data.size())
      std::copy_n(g->data.begin() + (wguid - 3) * 16, 16, n.guid.begin());
    else if (wguid != 0 || !record.is_string) report("entry " + std::to_string(i) + " names a GUID outside the stream");
    if (record.is_string) {
      const auto stored = parse_name_id_string(s->data, pid);
      if (!stored || !stored->whole()) {
        report("entry " + std::to_string(i) + " names a string outside the stream");
        continue;
      }
      n.name = utf16_to_utf8(stored->text);
    } else {
      n.lid = pid;
    }
    // The hash record must sit in the bucket its key and word select.
    NameIdRecord hashed = record;
    hashed.value = HashKey(n);
    const Property* bucket =
        find_prop(props, static_cast<std::uint16_t>(0x1000 + (hashed.value ^ record.word()) % kNameBucketCount));
    const auto in_bucket = parse_name_id_records(bucket ? Bytes(bucket->data) : Bytes{});
    if (std::find(in_bucket.begin(), in_bucket.end(), hashed) == in_bucket.end())
      report("entry " + std::to_string(i) + " has no record in its hash bucket");
    map.names_.push_back(n);
    map.index_.emplace(KeyOf(n), static_cast<std::uint16_t>(0x8000 + i));
  }
  map.dirty_ = false;
  return map;
}

}  // namespace salvora::pst
