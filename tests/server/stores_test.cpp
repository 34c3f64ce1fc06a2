// The stores against a real SQLite file in a temporary directory.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "server/account_store.h"
#include "server/database.h"
#include "server/recording_store.h"
#include "server/server_crypto.h"
#include "server/token_service.h"
#include "server/tus_store.h"
#include "server/upload_signer.h"
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

TEST_F(StoresTest, ConcurrentRefreshesWithOneTokenYieldOneGrant) {
  TokenService tokens(database, accounts, Jwt("k"), 60);
  const auto grant = tokens.issue(accounts.findOrCreate("a@example.com"));
  std::atomic<int> successes{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      if (tokens.refresh(grant.refreshToken)) ++successes;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(successes.load(), 1);
}

TEST_F(StoresTest, TusOffsetIsTheFileSizeAndOneWriterAtATime) {
  RecordingStore recordings(database);
  TusStore uploads(database, dir / "uploads", 60);
  const auto video = recordings.create(accounts.findOrCreate("a@example.com").id, "v", std::nullopt);
  const auto upload = uploads.create(video->uid, 10, "");
  EXPECT_TRUE(TusStore::isValidId(upload.id));
  EXPECT_EQ(uploads.offset(upload), 0);
  testing::writeFile(uploads.path(upload.id), "12345");
  EXPECT_EQ(uploads.offset(*uploads.find(upload.id)), 5);
  {
    auto lease = uploads.lease(upload.id);
    ASSERT_TRUE(lease);
    EXPECT_FALSE(uploads.lease(upload.id));
  }
  EXPECT_TRUE(uploads.lease(upload.id));
  for (const char* bad : {"", "../../etc/passwd", "ABCDEF0123456789abcdef0123456789", "0123"}) {
    EXPECT_FALSE(uploads.find(bad)) << bad;
  }
}

TEST_F(StoresTest, UploadSignatureIsSha256OfLibrarySecretExpiryAndVideo) {
  const UploadSigner signer("lib", "secret");
  EXPECT_EQ(signer.signature(1700000000, "vid"), crypto::sha256Hex("libsecret1700000000vid"));
  const auto signature = signer.signature(2000, "vid");
  using Check = UploadSigner::Check;
  const std::vector<std::tuple<std::string, int64_t, std::string, int64_t, Check>> cases{
      {"lib", 2000, "vid", 1999, Check::valid},     {"lib", 2000, "vid", 2000, Check::expired},
      {"lib", 2000, "other", 0, Check::mismatch},   {"lib2", 2000, "vid", 0, Check::mismatch},
      {"lib", 2001, "vid", 0, Check::mismatch}};
  for (const auto& [library, expire, video, now, expected] : cases) {
    EXPECT_EQ(signer.check(signature, library, expire, video, now), expected) << library << expire << video << now;
  }
}

}  // namespace
}  // namespace tolvane::server
