#include "kit/update/update_feed.h"

#include <gtest/gtest.h>

#include <functional>

#include "kit/base/iso8601.h"
#include "kit/update/ed25519_key.h"
#include "kit/update/feed_signer.h"
#include "kit/update/update_encoding.h"
#include "tests/support/temp_dir.h"
#include "tests/support/thrown.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;
using testing::writeFile;

const Date kNow = *parseISO8601("2026-12-07T12:00:00Z");

std::string thrownBy(const std::function<void()>& action) { return testing::thrownWhat<UpdateError>(action); }

// A payload re-wrapped with the given signature, so a test can change bytes and keep
// the original signature (or the reverse).
std::string envelope(std::string_view payload, std::string_view signatureBase64) {
  return nlohmann::json{{"feed", update_encoding::base64Encode(payload)}, {"signature", signatureBase64}}.dump();
}

nlohmann::json parsed(const std::string& document) { return nlohmann::json::parse(document); }

std::string payloadOf(const std::string& document) {
  return *update_encoding::base64Decode(parsed(document)["feed"].get<std::string>());
}

class UpdateFeedTest : public ::testing::Test {
 protected:
  UpdateFeedTest()
      : keys_(Ed25519Key::generateKeyPair()), signer_(keys_.privateKeyBase64), verifier_(keys_.publicKeyBase64) {
    writeFile(package_, "!<arch>\nthe package's bytes");
    release_ = signer_.describePackage(
        package_, UpdateRelease{.version = "1.2.0", .minimumOS = "debian 12", .packageURL = "packages/tolvane_1.2.0.deb",
                                .sha256 = {}, .signature = {}, .notes = "Fixes.", .publishedAt = "2026-12-06T08:00:00Z"});
  }

  std::string signedFeed(Date generatedAt, std::chrono::seconds lifetime = 30 * 24h) const {
    return signer_.document({release_}, generatedAt, lifetime);
  }

  Ed25519Key::KeyPair keys_;
  FeedSigner signer_;
  UpdateFeedVerifier verifier_;
  TempDir dir_;
  std::filesystem::path package_ = dir_ / "tolvane_1.2.0.deb";
  UpdateRelease release_;
};

TEST_F(UpdateFeedTest, AcceptsOnlyAFreshFeedSignedByTheTrustedKey) {
  const std::string good = signedFeed(kNow - 1h);
  const std::string payload = payloadOf(good);
  const std::string signature = parsed(good)["signature"];
  std::string tamperedPayload = payload;
  tamperedPayload.replace(tamperedPayload.find("1.2.0"), 5, "9.9.9");
  std::string flipped = *update_encoding::base64Decode(signature);
  flipped[10] = static_cast<char>(flipped[10] ^ 0x01);
  const auto otherKeys = Ed25519Key::generateKeyPair();
  const Ed25519Key key = Ed25519Key::fromPrivateKey(keys_.privateKeyBase64);
  const std::string byOtherKey = FeedSigner(otherKeys.privateKeyBase64).document({release_}, kNow - 1h, 30 * 24h);

  struct Case {
    const char* name;
    std::string document;
    std::string notBefore;
    std::string error;  // empty: accepted
  };
  const Case cases[] = {
      {"good", good, "", ""},
      {"good, same generation as the last one", good, formatISO8601(kNow - 1h), ""},
      {"good, not-before unreadable", good, "yesterday", ""},
      {"tampered payload", envelope(tamperedPayload, signature), "",
       "The update feed's signature doesn't match the update key."},
      {"tampered signature", envelope(payload, update_encoding::base64Encode(flipped)), "",
       "The update feed's signature doesn't match the update key."},
      {"short signature", envelope(payload, update_encoding::base64Encode("short")), "",
       "The update feed's signature doesn't match the update key."},
      {"signed by another key", byOtherKey, "", "The update feed's signature doesn't match the update key."},
      {"unsigned", nlohmann::json{{"feed", parsed(good)["feed"]}}.dump(), "", "The update feed isn't signed."},
      {"expired", signedFeed(kNow - 31 * 24h), "", "The update feed expired at 2026-12-06T12:00:00Z."},
      {"replayed older feed", signedFeed(kNow - 2h), formatISO8601(kNow - 1h),
       "The update feed from 2026-12-07T10:00:00Z is older than the one already seen from 2026-12-07T11:00:00Z."},
      {"not JSON", "<html>", "", "The update feed isn't JSON."},
      {"JSON but not an object", "[1,2]", "", "The update feed isn't JSON."},
      {"payload not base64", envelope("x", signature).replace(9, 4, "!!!!"), "", "The update feed isn't valid base64."},
      {"signed garbage", envelope("{not json", update_encoding::base64Encode(key.sign("{not json"))), "",
       "The update feed's contents aren't JSON."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.error.empty()) {
      const UpdateFeed feed = verifier_.verify(c.document, kNow, c.notBefore);
      ASSERT_EQ(feed.releases.size(), 1u);
      EXPECT_EQ(feed.releases[0], release_);
      EXPECT_EQ(feed.generatedAt, "2026-12-07T11:00:00Z");
    } else {
      EXPECT_EQ(thrownBy([&] { verifier_.verify(c.document, kNow, c.notBefore); }), c.error);
    }
  }
}

TEST_F(UpdateFeedTest, SignedButMalformedReleasesAreRefused) {
  const Ed25519Key key = Ed25519Key::fromPrivateKey(keys_.privateKeyBase64);
  // A feed the trusted key really signed, with one field of its release changed first.
  const auto signedWith = [&](const std::function<void(nlohmann::json&)>& change) {
    nlohmann::json payload = parsed(payloadOf(signedFeed(kNow)));
    change(payload["releases"][0]);
    const std::string bytes = payload.dump();
    return envelope(bytes, update_encoding::base64Encode(key.sign(bytes)));
  };
  const std::pair<std::function<void(nlohmann::json&)>, std::string> cases[] = {
      {[](auto& r) { r.erase("sha256"); }, "The update feed's release has no \"sha256\"."},
      {[](auto& r) { r["sha256"] = "ABC"; }, "The update feed's SHA-256 of 1.2.0 isn't 64 hex digits."},
      {[](auto& r) { r["size"] = -1; }, "The update feed's \"size\" isn't a byte count."},
      {[](auto& r) { r["size"] = "12"; }, "The update feed's \"size\" isn't a byte count."},
      {[](auto& r) { r["signature"] = "AAAA"; }, "The update feed's signature of 1.2.0 isn't an Ed25519 signature."},
      {[](auto& r) { r["publishedAt"] = "today"; }, "The update feed's \"publishedAt\" isn't an ISO 8601 date."},
      {[](auto& r) { r["version"] = ""; }, "The update feed lists a release without a version or package."},
  };
  for (const auto& [change, error] : cases) {
    EXPECT_EQ(thrownBy([&] { verifier_.verify(signedWith(change), kNow); }), error);
  }
}

TEST_F(UpdateFeedTest, PackagesMustMatchSizeHashAndSignature) {
  const auto otherSigner = FeedSigner(Ed25519Key::generateKeyPair().privateKeyBase64);
  EXPECT_NO_THROW(verifier_.verifyPackage(package_, release_));

  struct Case {
    const char* name;
    std::string bytes;
    std::function<void(UpdateRelease&)> change;
    std::string error;
  };
  const Case cases[] = {
      {"truncated", "!<arch>\nthe package's byte", nullptr,
       "The downloaded package of 1.2.0 is 26 bytes; the feed says 27."},
      {"same size, other bytes", "!<arch>\nthe package's BYTES", nullptr,
       "The downloaded package of 1.2.0 doesn't match the feed's SHA-256."},
      {"feed lists another hash", "!<arch>\nthe package's bytes", [](auto& r) { r.sha256 = std::string(64, '0'); },
       "The downloaded package of 1.2.0 doesn't match the feed's SHA-256."},
      // Bytes and hash agree, as a compromised mirror could arrange, but the signature is not ours.
      {"tampered, hash updated", "!<arch>\nthe package's BYTES",
       [&](auto& r) { r.sha256 = update_encoding::sha256Hex("!<arch>\nthe package's BYTES"); },
       "The downloaded package of 1.2.0 isn't signed by the update key."},
      {"signed by another key", "!<arch>\nthe package's bytes",
       [&](auto& r) { r.signature = otherSigner.describePackage(package_, r).signature; },
       "The downloaded package of 1.2.0 isn't signed by the update key."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = dir_ / "download.deb";
    writeFile(file, c.bytes);
    UpdateRelease release = release_;
    if (c.change) c.change(release);
    EXPECT_EQ(thrownBy([&] { verifier_.verifyPackage(file, release); }), c.error);
  }
  EXPECT_EQ(thrownBy([&] { verifier_.verifyPackage(dir_ / "missing.deb", release_); }),
            "Couldn't read the downloaded package " + (dir_ / "missing.deb").string() + ": No such file or directory.");
}

TEST(Ed25519Key, BadKeyTextIsAClearError) {
  const auto keys = Ed25519Key::generateKeyPair();
  EXPECT_EQ(Ed25519Key::fromPrivateKey(keys.privateKeyBase64 + "\n").publicKeyBase64(), keys.publicKeyBase64);
  for (const std::string& text : std::vector<std::string>{"", "not base64!", "AAAA", keys.publicKeyBase64 + "AAAA"}) {
    EXPECT_EQ(thrownBy([&] { UpdateFeedVerifier{text}; }), "The public key isn't base64 of a 32-byte Ed25519 key.");
    EXPECT_EQ(thrownBy([&] { FeedSigner{text}; }), "The private key isn't base64 of a 32-byte Ed25519 key.");
  }
  EXPECT_EQ(thrownBy([&] { Ed25519Key::fromPublicKey(keys.publicKeyBase64).sign("x"); }),
            "Signing needs the private key; only the public key was given.");
}

TEST(UpdateFeed, NewestAfterAndPackageURLs) {
  const auto release = [](std::string version, std::string url) {
    UpdateRelease r;
    r.version = std::move(version);
    r.packageURL = std::move(url);
    return r;
  };
  const UpdateFeed feed{.generatedAt = {}, .expiresAt = {},
                        .releases = {release("1.9.0", "a"), release("1.10.0", "b"), release("1.2", "c")}};
  EXPECT_EQ(feed.newestAfter("1.2.0")->version, "1.10.0");
  EXPECT_FALSE(feed.newestAfter("1.10").has_value());
  EXPECT_FALSE(feed.newestAfter("2.0").has_value());

  const std::tuple<const char*, const char*, const char*> urls[] = {
      {"packages/t.deb", "http://127.0.0.1:8080/updates/feed.json", "http://127.0.0.1:8080/updates/packages/t.deb"},
      {"/dl/t.deb", "https://tolvane.example/updates/feed.json?x=1", "https://tolvane.example/dl/t.deb"},
      {"https://cdn.example/t.deb", "https://tolvane.example/updates/feed.json", "https://cdn.example/t.deb"},
      {"t.deb", "https://tolvane.example", "https://tolvane.example/t.deb"},
  };
  for (const auto& [url, feedURL, expected] : urls) {
    EXPECT_EQ(release("1", url).packageURLRelativeTo(feedURL), expected) << url;
  }
}

}  // namespace
}  // namespace tolvane
