// Entry ids inside an item that name objects of the source: the PST's, or out of the copy, and
// a distribution list that stays whole and consistent when one of its contacts is not copied.
#include "writer/item_links.h"

#include <gtest/gtest.h>

#include "format/byte_writer.h"
#include "format/crc.h"
#include "format/multi_value.h"
#include "format/prop_types.h"

namespace salvora {
namespace {

using ByteVec = std::vector<std::uint8_t>;

constexpr StoreKey kSource = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr std::uint8_t kPstKeyByte = 0xEE;
constexpr Nid kList(0x200024), kContactIn(0x200044), kContactOut(0x200064), kSentItems(0x8062);

ByteVec entry_id(const StoreKey& key, Nid nid) {
  ByteWriter w(24);
  w.u32(0);
  w.bytes(key);
  w.u32(nid.value);
  return w.take();
}
ByteVec pst_id(Nid nid) {
  StoreKey key;
  key.fill(kPstKeyByte);
  return entry_id(key, Nid(nid.value + 0x1000));
}
ByteVec wrapped(const ByteVec& id) {
  ByteVec out = {0, 0, 0, 0, 0xC0, 0x91, 0xAD, 0xD3, 0x51, 0x9D, 0xCF, 0x11, 0xA4, 0xA9, 0x00, 0xAA, 0x00, 0x47, 0xFA, 0xA4, 0xC3};
  out.insert(out.end(), id.begin(), id.end());
  return out;
}
ByteVec contact_book(const ByteVec& id) {
  ByteWriter w(60);
  w.u32(0);
  w.bytes(std::array<std::uint8_t, 16>{0xFE, 0x42, 0xAA, 0x0A, 0x18, 0xC7, 0x1A, 0x10, 0xE8, 0x85, 0x0B, 0x65, 0x1C, 0x24, 0, 0});
  w.u32(3);  // version
  w.u32(4);  // type
  w.u32(0);  // index
  w.u32(static_cast<std::uint32_t>(id.size()));
  w.bytes(id);
  return w.take();
}
ByteVec one_off(char tag) { return {0, 0, 0, 0, 0x81, 0x2B, static_cast<std::uint8_t>(tag)}; }

PropertyEntry entry(std::uint16_t raw_id, std::uint16_t type, ByteVec value) {
  PropertyEntry e;
  e.raw_id = raw_id;
  e.type = type;
  e.value = std::move(value);
  return e;
}
ByteVec u32_bytes(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}
const PropertyEntry* find(const std::vector<PropertyEntry>& entries, std::uint16_t raw_id) {
  for (const auto& e : entries)
    if (e.raw_id == raw_id) return &e;
  return nullptr;
}
std::vector<ByteVec> items(const PropertyEntry& e) {
  std::vector<ByteVec> out;
  const auto stored = parse_variable_multi(*e.value);
  for (Bytes b : stored.value_or(std::vector<Bytes>{})) out.emplace_back(b.begin(), b.end());
  return out;
}

// The address set's members (0x8000), one-off members (0x8001) and checksum (0x8002).
NamedPropertyMap address_names() {
  ByteWriter table(24);
  const std::uint32_t lids[] = {0x8055, 0x8054, 0x804C};
  for (std::uint16_t i = 0; i < 3; ++i) {
    table.u32(lids[i]);
    table.u16(3 << 1);  // the first GUID of the stream
    table.u16(i);
  }
  const ByteVec t = table.take();
  NamedPropertyMap map = NamedPropertyMap::FromStreams(Bytes(t), Bytes());
  const std::array<std::uint8_t, 16> address = {0x04, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  map.set_guid_stream(Bytes(address));
  return map;
}

MadeObjectLookup made_of(std::initializer_list<Nid> made) {
  std::vector<Nid> list(made);
  return [list](Nid nid) -> std::optional<ByteVec> {
    for (Nid m : list)
      if (m == nid) return pst_id(nid);
    return std::nullopt;
  };
}

TEST(ItemLinks, AListKeepsEveryMemberAndItsChecksumFollows) {
  const NamedPropertyMap names = address_names();
  ASSERT_NE(names.Find(0x8002), nullptr);
  ASSERT_EQ(names.Find(0x8002)->lid, 0x804Cu);
  SourceObject list;
  const ByteVec in = wrapped(entry_id(kSource, kContactIn)), out = wrapped(entry_id(kSource, kContactOut));
  const ByteVec elsewhere = wrapped(entry_id(StoreKey{}, kContactOut));  // another store's: as it is
  list.properties = {entry(0x8000, kPtypMultipleBinary, serialize_variable_multi({in, out, one_off('c'), elsewhere})),
                     entry(0x8001, kPtypMultipleBinary, serialize_variable_multi({one_off('a'), one_off('b'), one_off('c'), one_off('d')})),
                     entry(0x8002, kPtypInteger32, u32_bytes(0))};
  const auto dropped = relink_object(list, kSource, kList, &names, made_of({kContactIn}));
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_NE(dropped[0].reason.find("kept by its address"), std::string::npos) << dropped[0].reason;
  const auto members = items(*find(list.properties, 0x8000));
  ASSERT_EQ(members.size(), 4u);
  EXPECT_EQ(members[0], wrapped(pst_id(kContactIn)));
  EXPECT_EQ(members[1], one_off('b'));  // the contact not copied: its address
  EXPECT_EQ(members[3], elsewhere);
  ByteVec all;
  for (const auto& m : members) all.insert(all.end(), m.begin(), m.end());
  EXPECT_EQ(*find(list.properties, 0x8002)->value, u32_bytes(ComputeCrc(all)));

  // Without an address beside it, the member leaves both lists, which stay side by side.
  list.properties[1].value = serialize_variable_multi({one_off('a'), ByteVec{}, one_off('c'), one_off('d')});
  list.properties[0].value = serialize_variable_multi({in, out, one_off('c'), elsewhere});
  relink_object(list, kSource, kList, &names, made_of({kContactIn}));
  EXPECT_EQ(items(*find(list.properties, 0x8000)).size(), 3u);
  EXPECT_EQ(items(*find(list.properties, 0x8001)), (std::vector<ByteVec>{one_off('a'), one_off('c'), one_off('d')}));
}

TEST(ItemLinks, SingleIdsAreTheObjectsMadeOrLeftOutAndNamed) {
  SourceObject mail;
  mail.properties = {entry(0x0E0A, kPtypBinary, entry_id(kSource, kSentItems)),         // made
                     entry(0x8010, kPtypBinary, entry_id(kSource, kContactOut)),        // not made
                     entry(0x8011, kPtypBinary, entry_id(kSource, kList)),              // itself
                     entry(kPidEntryId, kPtypBinary, entry_id(kSource, kList)),         // the store's own
                     entry(0x3013, kPtypBinary, ByteVec(24, 0x01))};                    // no id at all
  mail.recipients = {{entry(kPidEntryId, kPtypBinary, contact_book(entry_id(kSource, kContactIn)))}};
  const auto dropped = relink_object(mail, kSource, kList, nullptr, made_of({kSentItems, kContactIn}));
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].property, "0x80100102");
  EXPECT_EQ(*find(mail.properties, 0x0E0A)->value, pst_id(kSentItems));
  EXPECT_EQ(find(mail.properties, 0x8011), nullptr);
  EXPECT_EQ(*find(mail.properties, kPidEntryId)->value, entry_id(kSource, kList));
  EXPECT_EQ(*find(mail.properties, 0x3013)->value, ByteVec(24, 0x01));
  EXPECT_EQ(*mail.recipients[0][0].value, contact_book(pst_id(kContactIn)));
}

TEST(ItemLinks, LinkedObjectsListsWhatAnItemNamesButItself) {
  SourceObject list;
  list.properties = {entry(0x8000, kPtypMultipleBinary,
                           serialize_variable_multi({wrapped(entry_id(kSource, kContactOut)), one_off('x')})),
                     entry(0x8011, kPtypBinary, entry_id(kSource, kList))};
  list.recipients = {{entry(kPidEntryId, kPtypBinary, entry_id(kSource, kContactIn))}};
  EXPECT_EQ(linked_objects(list, kSource, kList), (std::vector<Nid>{kContactOut, kContactIn}));
  EXPECT_TRUE(linked_objects(list, StoreKey{}, kList).empty());
}

}  // namespace
}  // namespace salvora
