#pragma once

#include <cctype>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kit/auth/desktop_sign_in.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane::testing {

// tolvane-server on a loopback port with a data folder of its own, approving every
// desktop sign-in for `email` at once. It keeps both across a restart.
class ServerProcess {
 public:
  static constexpr const char* email = "tester@example.com";

  explicit ServerProcess(std::vector<std::string> flags = {}) : flags_(std::move(flags)) {}

  static std::filesystem::path program() { return builtProgram("server/tolvane-server"); }
  int port() const { return port_; }
  const std::filesystem::path& dataDirectory() const { return data_.path(); }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // `siteURL` is where clients reach it, when that is not its own address (a proxy).
  void start(const std::string& siteURL = "") {
    std::vector<std::string> argv = {program().string(), "--listen", "127.0.0.1:" + std::to_string(port_), "--data",
                                     data_.path().string(), "--auto-approve", email,
                                     "--site-url", siteURL.empty() ? url() : siteURL};
    argv.insert(argv.end(), flags_.begin(), flags_.end());
    process_ = std::make_unique<ChildProcess>(argv, std::map<std::string, std::string>{}, data_ / "server.log");
    ASSERT_TRUE(waitForPort(port_, std::chrono::seconds(20))) << readFile(data_ / "server.log");
  }
  void kill() {
    process_->kill(SIGKILL);
    process_->wait(std::chrono::seconds(10));
  }

  // The bytes the server stored for the upload at `uploadURL`.
  std::string storedFile(const std::string& uploadURL) const {
    const std::string id = uploadURL.substr(uploadURL.rfind('/') + 1);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(data_.path())) {
      if (entry.is_regular_file() && entry.path().filename().string().starts_with(id)) return readFile(entry.path());
    }
    return {};
  }

  // The update signing key's public half, as a client is given it; the key pair is made
  // on first use.
  std::string releasePublicKey() {
    if (!std::filesystem::exists(releaseKey())) {
      const auto made = runCommand({program().string(), "release", "keygen", "--out", release_.path().string()});
      EXPECT_EQ(made.status, 0) << made.err;
    }
    std::string publicKey = readFile(release_ / "update-signing.key.pub");
    while (!publicKey.empty() && std::isspace(static_cast<unsigned char>(publicKey.back()))) publicKey.pop_back();
    return publicKey;
  }

  // Publishes `package` as release `version` of the update feed, signed with that key;
  // returns the key's public half.
  std::string publishRelease(const std::filesystem::path& package, const std::string& version,
                             const std::string& notes = "Faster uploads.") {
    std::string publicKey = releasePublicKey();
    writeFile(release_ / "notes.txt", notes);
    const auto published =
        runCommand({program().string(), "release", "publish", package.string(), "--version", version, "--notes",
                    (release_ / "notes.txt").string(), "--key", releaseKey().string(), "--data", data_.path().string()});
    EXPECT_EQ(published.status, 0) << published.out << published.err;
    return publicKey;
  }

  // A session through the desktop sign-in, which the server approves at the first poll.
  static AuthSession signIn(std::shared_ptr<HTTPPerforming> http, const std::string& siteURL) {
    const DesktopSignIn signIn(std::move(http), *Url::parse(siteURL));
    return signIn.waitForApproval(signIn.start("Integration test"));
  }

 private:
  std::filesystem::path releaseKey() const { return release_ / "update-signing.key"; }

  TempDir data_;
  TempDir release_;
  int port_ = freeLoopbackPort();
  std::vector<std::string> flags_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace tolvane::testing
