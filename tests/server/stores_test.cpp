// The stores against a real SQLite file in a temporary directory.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "server/account_store.h"
#include "server/database.h"
#include "server/recording_store.h"
#include "server/server_crypto.h"
#include "server/sign_in_store.h"
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

TEST_F(StoresTest, RefreshTokensAreSingleUseAndRevocable) {
  TokenService tokens(database, accounts, Jwt("k"), 60);
  const auto account = accounts.findOrCreate("a@example.com");
  const auto first = tokens.issue(account);
  EXPECT_EQ(tokens.authenticate(first.accessToken)->id, account.id);

  const auto second = tokens.refresh(first.refreshToken);
  ASSERT_TRUE(second);
  EXPECT_NE(second->refreshToken, first.refreshToken);
  EXPECT_FALSE(tokens.refresh(first.refreshToken)) << "a used token is dead";
  EXPECT_FALSE(tokens.refresh("unknown"));
  EXPECT_FALSE(tokens.refresh(""));

  tokens.revokeAll(account.id);
  EXPECT_FALSE(tokens.refresh(second->refreshToken));
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

TEST_F(StoresTest, SignInRequestsAreApprovedOnceAndRedeemedOnce) {
  SignInStore signIns(database, 600);
  const auto account = accounts.findOrCreate("a@example.com");
  const auto request = signIns.start("box", std::string(64, 'a'));
  EXPECT_FALSE(signIns.redeem(request.id)) << "not approved yet";
  EXPECT_TRUE(signIns.approve(request.id, account.id));
  EXPECT_FALSE(signIns.approve(request.id, account.id));
  EXPECT_TRUE(signIns.redeem(request.id));
  EXPECT_FALSE(signIns.redeem(request.id));
  EXPECT_TRUE(signIns.find(request.id)->isRedeemed);
  EXPECT_FALSE(signIns.find("nope"));
}

TEST_F(StoresTest, RecordingLimitCountsTheAccountsOwnVideosOnly) {
  RecordingStore recordings(database);
  const auto alice = accounts.findOrCreate("alice@example.com");
  const auto bob = accounts.findOrCreate("bob@example.com");
  EXPECT_TRUE(recordings.create(alice.id, "one", 2));
  EXPECT_TRUE(recordings.create(alice.id, "two", 2));
  EXPECT_FALSE(recordings.create(alice.id, "three", 2));
  EXPECT_TRUE(recordings.create(bob.id, "one", 2));
  EXPECT_FALSE(recordings.create(bob.id, "x", 0));
}

TEST_F(StoresTest, LibraryListsSavedVideosNewestFirst) {
  RecordingStore recordings(database);
  const auto alice = accounts.findOrCreate("alice@example.com");
  const auto first = recordings.create(alice.id, "first", std::nullopt);
  const auto unsaved = recordings.create(alice.id, "unsaved", std::nullopt);
  const auto second = recordings.create(alice.id, "second", std::nullopt);
  recordings.save(first->uid, "First", 3);
  recordings.save(second->uid, "Second", 4);
  const auto library = recordings.library(alice.id, 10);
  ASSERT_EQ(library.size(), 2u);
  EXPECT_EQ(library[0].uid, second->uid);
  EXPECT_EQ(library[1].uid, first->uid);
  EXPECT_EQ(recordings.library(alice.id, 1).size(), 1u);
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
  EXPECT_EQ(signer.check(signature, "lib", 2000, "vid", 1999), UploadSigner::Check::valid);
  EXPECT_EQ(signer.check(signature, "lib", 2000, "vid", 2000), UploadSigner::Check::expired);
  EXPECT_EQ(signer.check(signature, "lib", 2000, "other", 0), UploadSigner::Check::mismatch);
  EXPECT_EQ(signer.check(signature, "lib2", 2000, "vid", 0), UploadSigner::Check::mismatch);
  EXPECT_EQ(signer.check(signature, "lib", 2001, "vid", 0), UploadSigner::Check::mismatch);
}

TEST_F(StoresTest, DataSurvivesReopening) {
  const auto id = accounts.findOrCreate("a@example.com").id;
  const auto secret = database.setting("s", [] { return std::string("first"); });
  Database reopened(dir / "db.sqlite3");
  EXPECT_EQ(AccountStore(reopened).byId(id)->email, "a@example.com");
  EXPECT_EQ(reopened.setting("s", [] { return std::string("second"); }), secret);
}

}  // namespace
}  // namespace tolvane::server
