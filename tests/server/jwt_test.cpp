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

std::string signedWithHeader(const std::string& headerJson, const std::string& payloadJson) {
  const std::string input = crypto::base64UrlEncode(headerJson) + "." + crypto::base64UrlEncode(payloadJson);
  return input + "." + crypto::base64UrlEncode(crypto::hmacSha256("secret", input));
}

TEST(Jwt, StandardHS256TokensVerifyUntilTheirExpirySecondAndForgedOrMalformedOnesNever) {
  const Jwt jwt("secret");
  const auto token = jwt.sign({{"sub", "abc"}, {"email", "a@example.com"}, {"exp", 1000}});
  // The signature is HMAC-SHA-256 over "header.payload", base64url without padding.
  EXPECT_EQ(token, signedWithHeader(R"({"alg":"HS256","typ":"JWT"})", *crypto::base64UrlDecode(segment(token, 1))));
  EXPECT_EQ(token.find('='), std::string::npos);
  const auto claims = jwt.verify(token, 999);
  ASSERT_TRUE(claims);
  EXPECT_EQ((*claims)["sub"], "abc");
  EXPECT_EQ((*claims)["email"], "a@example.com");
  EXPECT_FALSE(jwt.verify(token, 1000)) << "a token is dead at its exp second";
  EXPECT_TRUE(jwt.verify(jwt.sign({{"exp", 10.5}}), 10));

  const std::pair<std::string, std::string> forged[] = {
      {"another key", Jwt("other").sign({{"sub", "abc"}, {"exp", 1000}})},
      {"forged payload",
       segment(token, 0) + "." + crypto::base64UrlEncode(R"({"sub":"evil","exp":1000})") + "." + segment(token, 2)},
      {"alg none", crypto::base64UrlEncode(R"({"alg":"none"})") + "." + segment(token, 1) + "."},
      {"signed, but another algorithm", signedWithHeader(R"({"alg":"HS512","typ":"JWT"})", R"({"exp":100})")},
      {"no exp", jwt.sign({{"sub", "x"}})},
      {"text exp", jwt.sign({{"sub", "x"}, {"exp", "2099"}})},
      {"empty", ""}, {"two parts", "a.b"}, {"four parts", "a.b.c.d"}, {"not base64url", "!!!.???.***"}};
  for (const auto& [what, candidate] : forged) EXPECT_FALSE(jwt.verify(candidate, 0)) << what;
}

}  // namespace
}  // namespace tolvane::server
