// Stored property bytes to values: the one decoding the source copy and the store share.
#include <gtest/gtest.h>

#include <variant>

#include "format/byte_writer.h"
#include "format/multi_value.h"
#include "format/prop_types.h"
#include "format/property_value.h"

namespace salvora {
namespace {

template <class T>
T decoded(std::uint16_t type, const ByteVector& stored) {
  const auto v = decode_stored_value(type, stored);
  EXPECT_TRUE(v && std::holds_alternative<T>(*v)) << std::hex << type;
  return v && std::holds_alternative<T>(*v) ? std::get<T>(*v) : T{};
}

ByteVector bytes_of(Bytes b) { return {b.begin(), b.end()}; }

// A time is a FILETIME to the tick: sub-millisecond ticks, which a DATE would round away, and
// values past the signed range both come back as stored.
TEST(StoredValue, TimeKeepsEveryTick) {
  for (const std::uint64_t ticks : {0x01D0'1234'5678'9ABFull, 0x8000'0000'0000'0001ull, ~0ull, 0ull})
    EXPECT_EQ(decoded<StoredFiletime>(kPtypTime, le_bytes(ticks)).ticks, ticks);
}

TEST(StoredValue, FixedWidthTypesFromLittleEndianBytes) {
  EXPECT_EQ(decoded<std::int32_t>(kPtypInteger16, {0xFE, 0xFF}), -2);
  EXPECT_EQ(decoded<std::int32_t>(kPtypInteger32, le_bytes(std::int32_t{-7})), -7);
  EXPECT_EQ(decoded<std::int64_t>(kPtypCurrency, le_bytes(std::int64_t{-123456789012})), -123456789012);
  EXPECT_EQ(decoded<double>(kPtypFloating32, le_bytes(1.5f)), 1.5);
  EXPECT_EQ(decoded<double>(kPtypFloating64, le_bytes(-2.25)), -2.25);
  EXPECT_EQ(decoded<StoredAppTime>(kPtypFloatingTime, le_bytes(45383.5)).days, 45383.5);
  EXPECT_EQ(decoded<StoredErrorCode>(kPtypErrorCode, le_bytes(std::uint32_t{0x8004010F})).code,
            static_cast<std::int32_t>(0x8004010F));
  EXPECT_TRUE(decoded<bool>(kPtypBoolean, {2}));
  // Too short for the type, or a type with no stored value.
  for (const std::uint16_t type : {kPtypInteger16, kPtypInteger32, kPtypFloating64, kPtypTime, kPtypGuid})
    EXPECT_FALSE(decode_stored_value(type, ByteVector{1})) << std::hex << type;
  EXPECT_FALSE(decode_stored_value(kPtypObject, ByteVector(8)));
}

TEST(StoredValue, TextStaysInItsStoredEncoding) {
  EXPECT_EQ(bytes_of(decoded<StoredUtf16>(kPtypString, {'a', 0, 'b', 0, 'c'}).units), (ByteVector{'a', 0, 'b', 0}));
  EXPECT_EQ(bytes_of(decoded<StoredText8>(kPtypString8, {'h', 'i', 0, 0}).bytes), (ByteVector{'h', 'i'}));
  EXPECT_EQ(decoded<StoredBinary>(kPtypGuid, ByteVector(17, 7)).bytes.size(), 16u);
}

TEST(StoredValue, ListsDecodeWholeOrNotAtAll) {
  std::vector<StoredValue> out = {true};
  EXPECT_EQ(decode_stored_values(kPtypMultipleTime, le_bytes(std::uint64_t{5}), out), ValueFault::kNone);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(std::get<StoredFiletime>(out[1]).ticks, 5u);
  EXPECT_EQ(decode_stored_values(kPtypMultipleInteger32, ByteVector(6), out), ValueFault::kPartialElement);
  EXPECT_EQ(decode_stored_values(kPtypMultipleBinary, ByteVector{9, 0, 0, 0}, out), ValueFault::kDamagedList);
  EXPECT_EQ(decode_stored_values(kPtypMultipleGuid, ByteVector(24), out), ValueFault::kPartialElement);
  EXPECT_EQ(out.size(), 2u);  // nothing of a refused list is kept
  EXPECT_EQ(decode_stored_values(kPtypMultipleString, serialize_variable_multi({{'x', 0}, {}}), out), ValueFault::kNone);
  EXPECT_EQ(out.size(), 4u);
}

}  // namespace
}  // namespace salvora
