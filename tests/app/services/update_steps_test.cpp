#include <gtest/gtest.h>
#include <pthread.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "app/services/child_command.h"
#include "app/services/installed_package.h"
#include "app/services/update_downloader.h"
#include "app/services/update_installer.h"
#include "kit/update/ed25519_key.h"
#include "kit/update/feed_signer.h"
#include "kit/update/update_error.h"
#include "tests/kit/net/fake_http_transport.h"
#include "tests/support/temp_dir.h"
#include "tests/support/thrown.h"

// The updater's blocking steps on real files: the download into the cache and its
// check against the signed release, and the install through a stand-in installer.

namespace tolvane::testing {
namespace {

const std::string kFeedURL = "http://127.0.0.1:9/updates/feed.json";
const std::string kPackageURL = "http://127.0.0.1:9/updates/packages/tolvane_9.1.0_amd64.deb";
const std::string kRunning = "9.0.0";

class UpdateStepsTest : public ::testing::Test {
 protected:
  UpdateStepsTest() {
    writeFile(dir_ / "built.deb", packageBytes_);
    UpdateRelease described;
    described.version = "9.1.0";
    described.packageURL = "packages/tolvane_9.1.0_amd64.deb";
    release_ = signer_.describePackage(dir_ / "built.deb", described);
    http_->setFallback([this](const HTTPRequest& request) {
      if (request.url == kPackageURL) return HTTPResponse{200, {}, served_};
      return HTTPResponse{404, {}, "not here"};
    });
    // The stand-in installer writes down its arguments and exits with the status in a file.
    writeFile(dir_ / "installer", "#!/bin/sh\necho \"$@\" >> '" + (dir_ / "calls").string() +
                                      "'\nexit $(cat '" + (dir_ / "status").string() + "')\n");
    std::filesystem::permissions(dir_ / "installer", std::filesystem::perms::owner_all);
    writeFile(dir_ / "status", "0");
  }

  std::filesystem::path download() const { return downloader_.download(release_, *Url::parse(kFeedURL)); }
  std::vector<std::filesystem::path> cacheFiles() const {
    std::vector<std::filesystem::path> files;
    if (!std::filesystem::exists(dir_ / "cache")) return files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_ / "cache")) files.push_back(entry.path().filename());
    return files;
  }
  std::string calls() const {
    return std::filesystem::exists(dir_ / "calls") ? readFile(dir_ / "calls") : std::string();
  }

  TempDir dir_;
  FeedSigner signer_{Ed25519Key::generateKeyPair().privateKeyBase64};
  std::shared_ptr<const UpdateFeedVerifier> verifier_ =
      std::make_shared<const UpdateFeedVerifier>(signer_.publicKeyBase64());
  std::string packageBytes_ = std::string(70000, 'p') + "the package";
  std::string served_ = packageBytes_;
  UpdateRelease release_;
  std::shared_ptr<FakeHTTPTransport> http_ = std::make_shared<FakeHTTPTransport>();
  UpdateDownloader downloader_{http_, verifier_, dir_ / "cache"};
  UpdateInstaller installer_{verifier_, {(dir_ / "installer").string()}};
};

// A good package is fetched once (from the URL resolved against the feed's), lands under
// its own name with no partial file left, and is reused while it still verifies; a kept
// copy that changed on disk is fetched again.
TEST_F(UpdateStepsTest, AVerifiedDownloadIsKeptAndReused) {
  const auto file = download();
  EXPECT_EQ(file, dir_ / "cache" / "tolvane_9.1.0.deb");
  EXPECT_EQ(readFile(file), packageBytes_);
  EXPECT_EQ(cacheFiles(), std::vector<std::filesystem::path>{"tolvane_9.1.0.deb"});
  ASSERT_EQ(http_->requestCount(), 1u);
  EXPECT_EQ(http_->lastRequest().url, kPackageURL);

  EXPECT_EQ(download(), file);
  EXPECT_EQ(http_->requestCount(), 1u) << "a verified copy is not downloaded again";

  writeFile(file, std::string(packageBytes_.size(), 'x'));
  EXPECT_EQ(readFile(download()), packageBytes_);
  EXPECT_EQ(http_->requestCount(), 2u);
}

// Whatever is wrong with what arrives, the error says so and nothing is left in the cache.
TEST_F(UpdateStepsTest, AFailedDownloadLeavesNothingBehind) {
  struct Case {
    const char* name;
    std::string served;
    std::string packageURL;
    std::string version;
    const char* error;  // a part of the message
  };
  std::string tampered = packageBytes_;
  tampered[100] = 'q';
  const Case cases[] = {
      {"tampered bytes", tampered, release_.packageURL, "9.1.0", "deleted"},
      {"short file", packageBytes_.substr(1), release_.packageURL, "9.1.0", "deleted"},
      {"missing on the server", packageBytes_, "packages/gone.deb", "9.1.0", "answered 404"},
      {"version not fit for a file name", packageBytes_, release_.packageURL, "../../9.1.0", "not a package version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    served_ = c.served;
    UpdateRelease release = release_;
    release.packageURL = c.packageURL;
    release.version = c.version;
    const auto error = testing::thrownWhat<UpdateError>([&] { downloader_.download(release, *Url::parse(kFeedURL)); });
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_TRUE(cacheFiles().empty());
  }
}

// Only a newer, verifying package reaches the installer, with its absolute path; a
// failed install is one sentence and keeps the file for the next attempt.
TEST_F(UpdateStepsTest, InstallerGetsOnlyANewerVerifiedPackageAndAFailureKeepsIt) {
  const auto file = download();
  for (const std::string running : {"9.1.0", "9.2"}) {
    EXPECT_THROW(installer_.install(file, release_, running), UpdateError) << running;
  }
  EXPECT_EQ(calls(), "");

  writeFile(dir_ / "status", "1");
  EXPECT_EQ(testing::thrownWhat<UpdateError>([&] { installer_.install(file, release_, kRunning); }),
            "Tolvane 9.1.0 could not be installed (the installer ended with status 1).");
  EXPECT_EQ(calls(), file.string() + "\n");
  EXPECT_EQ(readFile(file), packageBytes_) << "kept for the next attempt";

  writeFile(dir_ / "status", "0");
  installer_.install(file, release_, kRunning);
  EXPECT_EQ(calls(), file.string() + "\n" + file.string() + "\n");
  downloader_.discardAll();
  EXPECT_TRUE(cacheFiles().empty());

  // A file changed after its download is refused before the installer runs.
  writeFile(file, packageBytes_ + "!");
  EXPECT_THROW(installer_.install(file, release_, kRunning), UpdateError);
  EXPECT_EQ(calls(), file.string() + "\n" + file.string() + "\n");
}

// The application blocks its termination signals in every thread; a child it starts
// must still be stoppable by them.
TEST(ChildCommandTest, ChildrenCanBeTerminatedThoughTheParentBlocksTheSignal) {
  sigset_t blocked;
  sigset_t previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  const auto result = ChildCommand::run({"sh", "-c", "kill -TERM $$; echo survived"});
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  EXPECT_EQ(result.exitStatus, -1) << result.output;
  EXPECT_EQ(result.output.find("survived"), std::string::npos);

  const auto echoed = ChildCommand::run({"sh", "-c", "echo out; echo err >&2; exit 3"});
  EXPECT_EQ(echoed.exitStatus, 3);
  EXPECT_EQ(echoed.output, "out\nerr\n");
  EXPECT_EQ(ChildCommand::run({"/nonexistent/program"}).exitStatus, -1);
}

TEST(InstalledPackageTest, ReadsTheOwnerFromDpkgAndTrustsOnlyOurPackage) {
  const std::pair<const char*, const char*> lines[] = {
      {"tolvane: /usr/bin/tolvane\n", "tolvane"},
      {"tolvane:amd64: /usr/bin/tolvane\n", "tolvane"},
      {"tolvane-server: /usr/bin/tolvane-server", "tolvane-server"},
      {"tolvane, other: /usr/bin/tolvane", ""},
      {"diversion by foo from: /usr/bin/tolvane", ""},
      {"", ""},
  };
  for (const auto& [line, package] : lines) EXPECT_EQ(InstalledPackage::owningPackage(line), package) << line;

  {
    // This test program is no package's file.
    ScopedEnv noInstaller("TOLVANE_UPDATE_INSTALLER", nullptr);
    const auto here = InstalledPackage::detect(kRunning);
    EXPECT_FALSE(here.installable);
    EXPECT_FALSE(here.reason.empty());
    EXPECT_EQ(here.executable, std::filesystem::canonical("/proc/self/exe"));
  }
  ScopedEnv installer("TOLVANE_UPDATE_INSTALLER", "/bin/true");
  EXPECT_TRUE(InstalledPackage::detect(kRunning).installable);
  EXPECT_EQ(UpdateInstaller::defaultCommand(), std::vector<std::string>{"/bin/true"});
}

}  // namespace
}  // namespace tolvane::testing
