#include "server/server_crypto.h"

#include <gtest/gtest.h>

namespace tolvane::server::crypto {
namespace {

TEST(ServerCrypto, Sha256HexIsLowerCaseHex) {
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(ServerCrypto, HmacMatchesTheRfc4231Vector) {
  // RFC 4231 test case 2.
  const std::string mac = hmacSha256("Jefe", "what do ya want for nothing?");
  std::string hex;
  for (unsigned char c : mac) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
  EXPECT_EQ(hex, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(ServerCrypto, RandomHexHasTwoDigitsPerByteAndDiffers) {
  const auto a = randomHex(32);
  EXPECT_EQ(a.size(), 64u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(a, randomHex(32));
}

TEST(ServerCrypto, Base64RoundTripsEveryRemainder) {
  for (const std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar", "\xff\xfe\x00"}) {
    EXPECT_EQ(base64Decode(base64Encode(text)), text);
    EXPECT_EQ(base64UrlDecode(base64UrlEncode(text)), text);
  }
  EXPECT_EQ(base64Encode("fo"), "Zm8=");
  EXPECT_EQ(base64UrlEncode("\xfb\xff"), "-_8");
}

TEST(ServerCrypto, Base64RejectsMalformedText) {
  EXPECT_FALSE(base64Decode("Zm8"));     // missing padding
  EXPECT_FALSE(base64Decode("Zm9=Zm8="));  // padding in the middle
  EXPECT_FALSE(base64Decode("Zm!="));
  EXPECT_FALSE(base64UrlDecode("Zm8="));  // no padding in the URL form
  EXPECT_FALSE(base64UrlDecode("Z"));
  EXPECT_FALSE(base64Decode("Zm9="));  // leftover bits must be zero ("Zm8=" is canonical)
}

TEST(ServerCrypto, ConstantTimeEqualsComparesWholeTexts) {
  EXPECT_TRUE(constantTimeEquals("abc", "abc"));
  EXPECT_FALSE(constantTimeEquals("abc", "abd"));
  EXPECT_FALSE(constantTimeEquals("abc", "ab"));
}

}  // namespace
}  // namespace tolvane::server::crypto
