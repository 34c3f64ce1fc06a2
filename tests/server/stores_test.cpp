// The account and token stores against a real SQLite file in a temporary directory.
#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "server/account_store.h"
#include "server/database.h"
#include "server/token_service.h"
#include "tests/support/temp_dir.h"

namespace tolvane::server {
namespace {

class StoresTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  Database database{dir / "db.sqlite3"};
  AccountStore accounts{database};
};

TEST_F(StoresTest, AccountsAreKnownByTheirNormalisedEmail) {
  const auto a = accounts.findOrCreate("  Alice@Example.COM ");
  EXPECT_EQ(a.email, "alice@example.com");
  EXPECT_EQ(accounts.findOrCreate("alice@example.com").id, a.id);
  EXPECT_NE(accounts.findOrCreate("bob@example.com").id, a.id);
  for (const char* bad : {"", "alice", "@example.com", "alice@", "a b@example.com", "a@b@c", "<a@b>"}) {
    EXPECT_THROW(accounts.findOrCreate(bad), std::invalid_argument) << bad;
  }
}

TEST_F(StoresTest, ConcurrentRefreshesWithOneTokenRotateItOnce) {
  TokenService tokens(database, accounts, Jwt("k"), 60, 3600, [] { return int64_t(1'700'000'000); });
  const auto grant = tokens.issue(accounts.findOrCreate("a@example.com"));
  std::vector<std::optional<TokenGrant>> grants(8);
  std::vector<std::thread> threads;
  for (auto& result : grants) {
    threads.emplace_back([&] { result = tokens.refresh(grant.refreshToken); });
  }
  for (auto& thread : threads) thread.join();
  // Within the grace every caller gets the one successor.
  for (const auto& result : grants) {
    ASSERT_TRUE(result);
    EXPECT_EQ(result->refreshToken, grants[0]->refreshToken);
  }
}

}  // namespace
}  // namespace tolvane::server
