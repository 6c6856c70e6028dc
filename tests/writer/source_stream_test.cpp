// An attachment streamed from the source's blocks: its bytes in order, its size known from the
// index, and from a damaged data tree whatever can still be read, then a failure the writer
// reports.

#include "writer/source_stream.h"

#include <gtest/gtest.h>

#include "support/ndb_builder.h"

namespace salvora {
namespace {

using namespace salvora::testing;

std::string read_all(ByteStream& stream) {
  std::string out;
  std::uint8_t buf[7];  // small on purpose: reads cross block ends
  for (std::size_t n; (n = stream.read(buf)) > 0;) out.append(reinterpret_cast<const char*>(buf), n);
  return out;
}

TEST(SourceValueStream, WholeTreesPartsOfDamagedOnesAndMissingValues) {
  NdbBuilder b(FileLayout::kUnicode, CryptMethod::kPermute);
  const Bid a = b.AddBlock(ByteVector(100, 'a'));
  const Bid c = b.AddBlock(ByteVector(50, 'c'));
  const Bid first = b.AddDataTree({a, c}, 1, 150);
  const Bid whole = b.AddDataTree({first, b.AddDataTree({b.AddBlock(ByteVector(20, 'z'))}, 1, 20)}, 2, 170);
  // The second half of this tree is a data tree the index does not have.
  const Bid damaged = b.AddDataTree({first, Bid(0x7F02)}, 2, 300);
  b.AddNode(Nid(0x21), whole, Bid(), Nid());

  OstContext ctx;
  ASSERT_EQ(OpenStore(ctx, b.WriteTemp("source-stream.pst")), 0);
  ASSERT_EQ(LoadBlockIndex(ctx), 0);

  SourceValueStream stream(ctx, whole);
  EXPECT_EQ(stream.size(), 170u);
  EXPECT_EQ(read_all(stream), std::string(100, 'a') + std::string(50, 'c') + std::string(20, 'z'));
  EXPECT_FALSE(stream.failed());

  SourceValueStream plain(ctx, c);
  EXPECT_EQ(read_all(plain), std::string(50, 'c'));

  // What the damaged tree still holds comes out, then the stream says it failed.
  SourceValueStream partial(ctx, damaged);
  EXPECT_FALSE(partial.size());
  EXPECT_EQ(read_all(partial), std::string(100, 'a') + std::string(50, 'c'));
  EXPECT_TRUE(partial.failed());

  SourceValueStream missing(ctx, Bid(0x9904));
  EXPECT_EQ(read_all(missing), "");
  EXPECT_TRUE(missing.failed());
}

}  // namespace
}  // namespace salvora
