#include "server/jwt.h"

#include <gtest/gtest.h>

#include "server/server_crypto.h"

namespace tolvane::server {
namespace {

std::string segment(const std::string& token, int index) {
  std::size_t start = 0;
  for (int i = 0; i < index; ++i) start = token.find('.', start) + 1;
  return token.substr(start, token.find('.', start) - start);
}

TEST(Jwt, SignedClaimsVerifyUntilTheyExpire) {
  const Jwt jwt("secret");
  const auto token = jwt.sign({{"sub", "abc"}, {"email", "a@example.com"}, {"exp", 1000}});
  const auto claims = jwt.verify(token, 999);
  ASSERT_TRUE(claims);
  EXPECT_EQ((*claims)["sub"], "abc");
  EXPECT_EQ((*claims)["email"], "a@example.com");
  EXPECT_FALSE(jwt.verify(token, 1000)) << "a token is dead at its exp second";
}

TEST(Jwt, TokenHasTheStandardHS256Form) {
  const auto token = Jwt("secret").sign({{"exp", 5}});
  const auto header = crypto::base64UrlDecode(segment(token, 0));
  ASSERT_TRUE(header);
  EXPECT_EQ(*header, R"({"alg":"HS256","typ":"JWT"})");
  // The signature is HMAC-SHA-256 over "header.payload", base64url without padding.
  const std::string input = segment(token, 0) + "." + segment(token, 1);
  EXPECT_EQ(segment(token, 2), crypto::base64UrlEncode(crypto::hmacSha256("secret", input)));
  EXPECT_EQ(token.find('='), std::string::npos);
}

TEST(Jwt, RefusesForgedAlteredAndMalformedTokens) {
  const Jwt jwt("secret");
  const auto token = jwt.sign({{"sub", "abc"}, {"exp", 1000}});
  EXPECT_FALSE(Jwt("other").verify(token, 0)) << "another key";

  const std::string forgedPayload = crypto::base64UrlEncode(R"({"sub":"evil","exp":1000})");
  EXPECT_FALSE(jwt.verify(segment(token, 0) + "." + forgedPayload + "." + segment(token, 2), 0));

  const std::string noneHeader = crypto::base64UrlEncode(R"({"alg":"none"})");
  EXPECT_FALSE(jwt.verify(noneHeader + "." + segment(token, 1) + ".", 0));

  EXPECT_FALSE(jwt.verify("", 0));
  EXPECT_FALSE(jwt.verify("a.b", 0));
  EXPECT_FALSE(jwt.verify("a.b.c.d", 0));
  EXPECT_FALSE(jwt.verify("!!!.???.***", 0));
}

TEST(Jwt, NeedsANumericExpiry) {
  const Jwt jwt("secret");
  EXPECT_FALSE(jwt.verify(jwt.sign({{"sub", "x"}}), 0));
  EXPECT_FALSE(jwt.verify(jwt.sign({{"sub", "x"}, {"exp", "2099"}}), 0));
  EXPECT_TRUE(jwt.verify(jwt.sign({{"exp", 10.5}}), 10));
}

TEST(Jwt, SignedPayloadWithAWrongAlgorithmHeaderIsRefused) {
  // Correctly signed, but the header claims another algorithm.
  const std::string header = crypto::base64UrlEncode(R"({"alg":"HS512","typ":"JWT"})");
  const std::string payload = crypto::base64UrlEncode(R"({"exp":100})");
  const std::string input = header + "." + payload;
  const std::string token = input + "." + crypto::base64UrlEncode(crypto::hmacSha256("secret", input));
  EXPECT_FALSE(Jwt("secret").verify(token, 0));
}

}  // namespace
}  // namespace tolvane::server
