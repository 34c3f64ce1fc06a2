#include "server/server_crypto.h"

#include <gtest/gtest.h>

namespace tolvane::server::crypto {
namespace {

// The digests agree with the app's own (the desktop sign-in's challenge is checked end to
// end by the account integration suite); the URL form round-trips through every JWT the
// tests sign. Here the strictness tus metadata relies on.
TEST(ServerCrypto, Base64RejectsMalformedText) {
  EXPECT_EQ(base64Decode("Zm8="), "fo");
  EXPECT_EQ(base64UrlEncode("\xfb\xff"), "-_8");
  // Missing padding, padding in the middle, a foreign character, non-zero leftover bits.
  for (const char* bad : {"Zm8", "Zm9=Zm8=", "Zm!=", "Zm9="}) EXPECT_FALSE(base64Decode(bad)) << bad;
  for (const char* bad : {"Zm8=", "Z"}) EXPECT_FALSE(base64UrlDecode(bad)) << bad;  // no padding in the URL form
}

}  // namespace
}  // namespace tolvane::server::crypto
