#include "server/server_crypto.h"

#include <gtest/gtest.h>

namespace tolvane::server::crypto {
namespace {

TEST(ServerCrypto, DigestsMatchKnownVectors) {
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // RFC 4231 test case 2.
  std::string hex;
  for (unsigned char c : hmacSha256("Jefe", "what do ya want for nothing?")) {
    hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
  }
  EXPECT_EQ(hex, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

// The URL form round-trips through every JWT the tests sign; here its alphabet and the
// strictness tus metadata relies on.
TEST(ServerCrypto, Base64RejectsMalformedText) {
  EXPECT_EQ(base64Decode("Zm8="), "fo");
  EXPECT_EQ(base64UrlEncode("\xfb\xff"), "-_8");
  // Missing padding, padding in the middle, a foreign character, non-zero leftover bits.
  for (const char* bad : {"Zm8", "Zm9=Zm8=", "Zm!=", "Zm9="}) EXPECT_FALSE(base64Decode(bad)) << bad;
  for (const char* bad : {"Zm8=", "Z"}) EXPECT_FALSE(base64UrlDecode(bad)) << bad;  // no padding in the URL form
}

}  // namespace
}  // namespace tolvane::server::crypto
