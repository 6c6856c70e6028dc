// Entry ids as the store object holds them: the NID is the last four bytes of the 24.
#include <gtest/gtest.h>

#include "format/byte_writer.h"
#include "format/entry_id.h"

namespace salvora {
namespace {

TEST(EntryId, FieldsInOrderShortBytesRefusedAndWrittenBack) {
  ByteWriter w;
  w.u32(0);
  for (std::uint8_t i = 1; i <= 16; ++i) w.u8(i);
  w.u32(kNidRootFolder.value);
  w.u8(0xEE);  // bytes past the entry id are not part of it
  const auto bytes = w.take();
  const auto id = EntryId::Parse(bytes);
  ASSERT_TRUE(id);
  EXPECT_EQ(id->flags, 0u);
  EXPECT_EQ(id->record_key[0], 1);
  EXPECT_EQ(id->record_key[15], 16);
  EXPECT_EQ(id->nid, kNidRootFolder);
  EXPECT_FALSE(EntryId::Parse(Bytes(bytes).first(EntryId::kSize - 1)));
  // Written back, it is the same bytes.
  EXPECT_EQ(id->Serialize(), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + EntryId::kSize));
}

}  // namespace
}  // namespace salvora
