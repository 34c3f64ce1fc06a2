// The update feed as a release manager and the desktop app meet it: key pair and
// publishing on the command line, the signed feed and its packages over loopback.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "kit/update/update_feed.h"
#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

using Strings = std::vector<std::string>;

CommandResult release(const Strings& arguments) {
  Strings argv = {builtProgram("server/tolvane-server").string(), "release"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return runCommand(argv);
}

// A small real .deb of that version, built by dpkg-deb from a tiny tree.
std::filesystem::path fakeDeb(const TempDir& dir, const std::string& version) {
  const auto tree = dir / ("tree-" + version);
  std::filesystem::create_directories(tree / "DEBIAN");
  std::filesystem::create_directories(tree / "usr/share/doc/tolvane");
  writeFile(tree / "DEBIAN/control", "Package: tolvane\nVersion: " + version +
                                          "\nArchitecture: amd64\nMaintainer: Test <test@example.invalid>\n"
                                          "Description: stand-in package\n");
  writeFile(tree / "usr/share/doc/tolvane/release", "release " + version + "\n");
  const auto deb = dir / ("tolvane_" + version + "_amd64.deb");
  const auto built = runCommand({"dpkg-deb", "--root-owner-group", "--build", tree.string(), deb.string()});
  EXPECT_EQ(built.status, 0) << built.err;
  return deb;
}

TEST(UpdateFeedProtocol, PublishedReleasesAreServedSignedAndDownloadable) {
  TestServer server;
  TempDir work;
  const auto http = server.client();
  EXPECT_EQ(http->Get("/updates/feed.json")->status, 404);  // nothing published yet

  ASSERT_EQ(release({"keygen", "--out", (work / "keys").string()}).status, 0);
  const auto keyFile = work / "keys/update-signing.key";
  struct stat status {};
  ASSERT_EQ(::stat(keyFile.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(release({"keygen", "--out", (work / "keys").string()}).status, 1);  // never overwrites a key
  std::string publicKey = readFile(work / "keys/update-signing.key.pub");
  publicKey.pop_back();  // the newline

  writeFile(work / "notes.txt", "Faster uploads.");
  const auto older = fakeDeb(work, "0.2.0"), newer = fakeDeb(work, "0.10.0");
  const Strings common = {"--notes", (work / "notes.txt").string(), "--key", keyFile.string(), "--data",
                          server.dataDirectory().string()};
  for (const auto& deb : {older, newer}) {
    Strings arguments = {"publish", deb.string()};
    arguments.insert(arguments.end(), common.begin(), common.end());
    const auto published = release(arguments);
    ASSERT_EQ(published.status, 0) << published.err;
  }
  // A version given on the command line instead of the package's own.
  Strings explicitVersion = {"publish", older.string(), "--version", "0.3.0", "--minimum-os", "debian 13"};
  explicitVersion.insert(explicitVersion.end(), common.begin(), common.end());
  ASSERT_EQ(release(explicitVersion).status, 0);

  const auto feedAnswer = http->Get("/updates/feed.json");
  ASSERT_EQ(feedAnswer->status, 200);
  EXPECT_EQ(feedAnswer->get_header_value("Content-Type"), "application/json");
  const UpdateFeedVerifier verifier(publicKey);
  const UpdateFeed feed = verifier.verify(feedAnswer->body, std::chrono::system_clock::now());
  ASSERT_EQ(feed.releases.size(), 3u);
  EXPECT_EQ(feed.releases[0].version, "0.10.0");  // newest first, compared number by number
  EXPECT_EQ(feed.releases[1].version, "0.3.0");
  EXPECT_EQ(feed.releases[1].minimumOS, "debian 13");
  EXPECT_EQ(feed.releases[2].notes, "Faster uploads.");
  EXPECT_EQ(feed.newestAfter("0.2.0")->packageURL, "packages/tolvane_0.10.0_amd64.deb");
  // The feed is good for thirty days.
  EXPECT_FALSE(
      verifier.verify(feedAnswer->body, std::chrono::system_clock::now() + std::chrono::hours(24 * 29)).releases.empty());
  EXPECT_ANY_THROW(verifier.verify(feedAnswer->body, std::chrono::system_clock::now() + std::chrono::hours(24 * 31)));

  const UpdateRelease& newest = feed.releases[0];
  const std::string packageURL = newest.packageURLRelativeTo(server.url("/updates/feed.json"));
  ASSERT_EQ(packageURL, server.url("/updates/packages/tolvane_0.10.0_amd64.deb"));
  const auto download = http->Get(packageURL.substr(server.url().size()));
  EXPECT_EQ(answerOf(download, {"Content-Type", "Accept-Ranges"}),
            (Strings{"200", "application/vnd.debian.binary-package", "bytes"}));
  writeFile(work / "download.deb", download->body);
  EXPECT_NO_THROW(verifier.verifyPackage(work / "download.deb", newest));
  const auto tail = http->Get(packageURL.substr(server.url().size()), {{"Range", "bytes=10-"}});
  EXPECT_EQ(tail->status, 206);
  EXPECT_EQ(tail->body, download->body.substr(10));

  // Only plain names of stored packages; the feed file, the key, dot files and paths
  // out of the folder are all not found.
  for (const std::string name : {"../feed.json", "..%2Ffeed.json", "%2e%2e/%2e%2e/tolvane-server.keys",
                                 ".tolvane_0.10.0_amd64.deb.partial", "sub/tolvane_0.10.0_amd64.deb", "missing.deb"}) {
    EXPECT_EQ(http->Get("/updates/packages/" + name)->status, 404) << name;
  }
}

TEST(UpdateFeedProtocol, PublishRefusesWhatItCannotSignOrDescribe) {
  TempDir work;
  writeFile(work / "notes.txt", "Notes.");
  writeFile(work / "bad.key", "not a key\n");
  writeFile(work / "not-a-deb.deb", "plain text");
  ASSERT_EQ(release({"keygen", "--out", work.path().string()}).status, 0);
  const std::string key = (work / "update-signing.key").string(), notes = (work / "notes.txt").string();
  const std::string data = (work / "data").string();
  struct Case {
    Strings arguments;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{"publish", (work / "not-a-deb.deb").string(), "--notes", notes, "--key", key, "--data", data}, 1,
       "isn't a Debian package with a version; pass --version."},
      {{"publish", (work / "not-a-deb.deb").string(), "--notes", notes, "--key", (work / "bad.key").string(),
        "--version", "1.0", "--data", data},
       1, "The private key isn't base64 of a 32-byte Ed25519 key."},
      {{"publish", (work / "missing.deb").string(), "--notes", notes, "--key", key, "--version", "1.0", "--data", data},
       1, "There is no package file"},
      {{"publish", (work / "not-a-deb.deb").string(), "--key", key}, 2, "publish needs --notes."},
      {{"publish"}, 2, "Usage: tolvane-server release"},
      {{"sign", "x"}, 2, "Usage: tolvane-server release"},
  };
  for (const auto& c : cases) {
    const auto result = release(c.arguments);
    EXPECT_EQ(result.status, c.status) << c.arguments[0];
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
  EXPECT_FALSE(std::filesystem::exists(work / "data/updates/feed.json"));  // nothing half-published
}

}  // namespace
}  // namespace tolvane::testing
