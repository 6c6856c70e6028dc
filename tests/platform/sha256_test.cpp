#include <gtest/gtest.h>

#include <string>

#include "platform/sha256.h"

namespace salvora {
namespace {

TEST(Sha256, KnownDigestsAndChunking) {
  EXPECT_EQ(Sha256().HexDigest(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  Sha256 abc;
  abc.Update(std::string("abc"));
  EXPECT_EQ(abc.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes forces the length into a second padding block.
  const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  Sha256 whole;
  whole.Update(two);
  EXPECT_EQ(whole.HexDigest(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  Sha256 pieces;
  for (char c : two) pieces.Update(std::string(1, c));
  EXPECT_EQ(pieces.HexDigest(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
}  // namespace salvora
