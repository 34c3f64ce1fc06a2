// The pieces the server's defences are built from, with a clock the test moves by hand:
// password hashes, attempt throttling, refresh-token families and their grace (against a
// real SQLite file, also raced), Host and Origin parsing.
#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "server/account_store.h"
#include "server/attempt_limiter.h"
#include "server/database.h"
#include "server/password_hasher.h"
#include "server/request_guard.h"
#include "server/token_service.h"
#include "tests/support/temp_dir.h"

namespace tolvane::server {
namespace {

// Cheap parameters keep the sanitizer runs quick; the format is the same.
const PasswordHasher kFastHasher(PasswordHasher::Cost{1024, 8, 1});

TEST(PasswordHasher, VerifiesOnlyTheSamePasswordAndRefusesTamperedHashes) {
  const std::string stored = kFastHasher.hash("correct horse");
  EXPECT_TRUE(stored.starts_with("scrypt$1024$8$1$"));
  EXPECT_NE(kFastHasher.hash("correct horse"), stored) << "every hash has its own salt";
  EXPECT_TRUE(PasswordHasher::verify("correct horse", stored));
  EXPECT_FALSE(PasswordHasher::verify("correct horsf", stored));
  std::string otherCost = stored;
  otherCost.replace(7, 4, "2048");
  for (const auto& text : {std::string(), std::string("scrypt"), otherCost, stored.substr(0, stored.size() - 2),
                           "scrypt$1099511627776$8$1$" + stored.substr(stored.find('$', 16) + 1),
                           "bcrypt" + stored.substr(6), stored + "$", std::string("scrypt$1024$8$1$zz$00")}) {
    EXPECT_FALSE(PasswordHasher::verify("correct horse", text)) << text;
  }
}

TEST(AttemptLimiter, AllowsLimitAttemptsPerKeyInASlidingWindow) {
  int64_t now = 1000;
  AttemptLimiter limiter(3, 60, [&] { return now; });
  for (int i = 0; i < 3; ++i, now += 10) EXPECT_EQ(limiter.take("a"), 0);
  EXPECT_EQ(limiter.take("a"), 30);  // the first attempt (t=1000) leaves the window at 1060
  EXPECT_EQ(limiter.retryAfter("b"), 0);
  now = 1059;
  EXPECT_EQ(limiter.retryAfter("a"), 1);
  now = 1060;
  EXPECT_EQ(limiter.take("a"), 0);
  EXPECT_EQ(limiter.take("a"), 10);
  limiter.record("c");
  EXPECT_EQ(limiter.retryAfter("c"), 0);
}

class TokenFamilies : public ::testing::Test {
 protected:
  testing::TempDir dir;
  Database database{dir / "db.sqlite3"};
  AccountStore accounts{database, kFastHasher};
  int64_t now = 1'700'000'000;
  TokenService tokens{database, accounts, Jwt("key"), 3600, 30 * 86400, [this] { return now; }};
  Account pat = accounts.findOrCreate("pat@example.com");
};

TEST_F(TokenFamilies, AReusedTokenGetsTheSamePairWithinTheGraceThenRevokesTheFamily) {
  const auto signIn = tokens.issue(pat);
  const auto other = tokens.issue(pat);
  const auto next = tokens.refresh(signIn.refreshToken);
  ASSERT_TRUE(next);
  now += TokenService::graceSeconds;
  const auto again = tokens.refresh(signIn.refreshToken);
  ASSERT_TRUE(again);
  EXPECT_EQ(std::pair(again->refreshToken, again->accessToken), std::pair(next->refreshToken, next->accessToken));
  now += 1;
  EXPECT_FALSE(tokens.refresh(signIn.refreshToken)) << "past the grace the reuse is theft";
  EXPECT_FALSE(tokens.refresh(next->refreshToken));
  EXPECT_FALSE(tokens.authenticate(next->accessToken));
  EXPECT_TRUE(tokens.authenticate(other.accessToken)) << "another sign-in is its own family";
  EXPECT_TRUE(tokens.refresh(other.refreshToken));
}

TEST_F(TokenFamilies, RefreshTokensExpireAndSignOutEndsOnlyItsFamily) {
  const auto old = tokens.issue(pat);
  now += 30 * 86400;
  EXPECT_FALSE(tokens.refresh(old.refreshToken));
  const auto fresh = tokens.issue(pat);
  const auto kept = tokens.issue(pat);
  tokens.revokeFamily(tokens.authenticate(fresh.accessToken).value().familyId);
  EXPECT_FALSE(tokens.refresh(fresh.refreshToken));
  EXPECT_FALSE(tokens.authenticate(fresh.accessToken));
  EXPECT_TRUE(tokens.authenticate(kept.accessToken));
  // Purging waits until no access token of a family can still be valid.
  now += 30 * 86400;
  EXPECT_EQ(tokens.purgeExpired(), 1);
  now += 3600;
  EXPECT_EQ(tokens.purgeExpired(), 2);
}

TEST_F(TokenFamilies, ConcurrentRefreshesWithOneTokenRotateItOnce) {
  const auto grant = tokens.issue(pat);
  std::vector<std::optional<TokenGrant>> grants(8);
  {
    std::vector<std::jthread> threads;
    for (auto& result : grants) threads.emplace_back([&] { result = tokens.refresh(grant.refreshToken); });
  }
  // Within the grace every caller gets the one successor.
  for (const auto& result : grants) {
    ASSERT_TRUE(result);
    EXPECT_EQ(result->refreshToken, grants[0]->refreshToken);
  }
}

TEST(RequestGuard, ReadsHostNamesAndOriginsStrictly) {
  const std::pair<const char*, std::optional<std::string>> hosts[] = {
      {"Example.COM:8787", "example.com"}, {"a@b", std::nullopt}, {"[::1]x", std::nullopt}, {"a b", std::nullopt}};
  for (const auto& [header, host] : hosts) EXPECT_EQ(RequestGuard::hostName(header), host) << header;
  const std::pair<const char*, std::optional<std::string>> origins[] = {
      {"HTTPS://Site.example/page?x", "https://site.example"}, {"https://site.example:443", "https://site.example"},
      {"null", std::nullopt}, {"javascript://x", std::nullopt}, {"http://user@site.example", std::nullopt}};
  for (const auto& [url, origin] : origins) EXPECT_EQ(RequestGuard::origin(url), origin) << url;
}

}  // namespace
}  // namespace tolvane::server
