// The HTTP transport, service API, auth store and desktop sign-in against a real
// tolvane-server on loopback, and the account and update commands of tolvane-cli.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kit/auth/auth_error.h"
#include "kit/auth/auth_store.h"
#include "kit/auth/file_session_storage.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/config/config.h"
#include "kit/net/curl_http_client.h"
#include "kit/upload/tolvane_api.h"
#include "kit/update/update_checker.h"
#include "tests/integration/server_process.h"
#include "tests/kit/net/thrown.h"

namespace tolvane {
namespace {

using testing::ServerProcess;

class AccountIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(ServerProcess::program())) {
      GTEST_SKIP() << "tolvane-server is not built at " << ServerProcess::program() << "; nothing to sign in against";
    }
    server_.start();
  }

  ServerProcess server_;
  testing::TempDir dir_;
};

// The client's requests and the server's answers agree: the fakes of tests/kit judge the
// client and tests/server the server, each on its own.
TEST_F(AccountIntegrationTest, TheAPIAndTheRefreshThatRotatesBothTokensWorkAgainstTheServer) {
  const auto http = std::make_shared<CurlHTTPClient>();
  const auto site = *Url::parse(server_.url());
  const auto storage = std::make_shared<MemorySessionStorage>();
  // The server answers the token endpoint itself, under the site URL.
  const auto auth = std::make_shared<AuthStore>(storage, http, site.appendingPathComponent("auth/v1"), Config::authAnonKey());
  TolvaneAPI api(auth, http, site);
  const auto first = ServerProcess::signIn(http, server_.url());
  auth->adopt(first);
  EXPECT_EQ(api.me().email, ServerProcess::email);
  EXPECT_TRUE(api.library(100).empty());
  EXPECT_FALSE(UpdateChecker(http, site).latest().version.empty());

  const std::string refreshed = auth->forceRefresh();
  EXPECT_EQ(storage->load()->accessToken, refreshed);
  EXPECT_NE(storage->load()->accessToken, first.accessToken);
  EXPECT_NE(storage->load()->refreshToken, first.refreshToken);
  EXPECT_EQ(api.me().email, ServerProcess::email);
  // Once its successor was used too (past the server's grace for lost answers), the
  // spent refresh token is refused, which reads as a session that has ended.
  auth->forceRefresh();
  const auto stale = std::make_shared<MemorySessionStorage>(first);
  AuthStore replay(stale, http, site.appendingPathComponent("auth/v1"), Config::authAnonKey());
  EXPECT_EQ(testing::thrownWhat<AuthError>([&] { replay.forceRefresh(); }),
            "Tolvane couldn't refresh your sign-in: your session expired, please sign in again");
  EXPECT_FALSE(stale->load());
}

TEST_F(AccountIntegrationTest, TheCLISignsInShowsTheAccountAndSignsOut) {
  const std::map<std::string, std::string> env = {{"TOLVANE_SITE_URL", server_.url()},
                                                  {"XDG_CONFIG_HOME", (dir_ / "config").string()},
                                                  {"DBUS_SESSION_BUS_ADDRESS", ""},
                                                  {"DISPLAY", ""},
                                                  {"WAYLAND_DISPLAY", ""}};
  const auto cli = [&](std::vector<std::string> words) {
    words.insert(words.begin(), testing::builtProgram("app/cli/tolvane-cli").string());
    return testing::runCommand(words, env);
  };
  const auto sessionFile = dir_ / "config" / "tolvane" / "session.json";

  const auto login = cli({"login"});
  ASSERT_EQ(login.status, 0) << login.err;
  EXPECT_NE(login.out.find(server_.url()), std::string::npos) << login.out;
  EXPECT_NE(login.out.find("Signed in as tester@example.com."), std::string::npos) << login.out;
  EXPECT_TRUE(std::filesystem::exists(sessionFile));

  const auto whoami = cli({"whoami"});
  EXPECT_EQ(whoami.status, 0) << whoami.err;
  EXPECT_NE(whoami.out.find("E-mail: tester@example.com"), std::string::npos) << whoami.out;
  EXPECT_NE(whoami.out.find("Plan:"), std::string::npos) << whoami.out;
  const auto library = cli({"library", "--limit", "5", "--json"});
  EXPECT_EQ(library.status, 0) << library.err;
  EXPECT_EQ(nlohmann::json::parse(library.out), nlohmann::json::array());

  // Signing out ends the sign-in at the server too: a copy of its refresh token is worthless.
  const auto signedIn = FileSessionStorage(sessionFile).load();
  ASSERT_TRUE(signedIn);
  EXPECT_EQ(cli({"logout"}).status, 0);
  EXPECT_FALSE(std::filesystem::exists(sessionFile));
  AuthStore copy(std::make_shared<MemorySessionStorage>(*signedIn), std::make_shared<CurlHTTPClient>(),
                 Url::parse(server_.url())->appendingPathComponent("auth/v1"), Config::authAnonKey());
  EXPECT_THROW(copy.forceRefresh(), AuthError);
  const auto after = cli({"whoami"});
  EXPECT_EQ(after.status, 1);
  EXPECT_EQ(after.err, "tolvane-cli: You're signed out of Tolvane.\n");
}

// `update check` trusts only a feed signed with the key it was given, and names the
// newer release the server published.
TEST_F(AccountIntegrationTest, TheCLIChecksTheServersSignedUpdateFeed) {
  const auto run = [&](std::vector<std::string> words, const char* publicKey = "") {
    return testing::runCommand(words, {{"TOLVANE_SITE_URL", server_.url()}, {"TOLVANE_UPDATE_PUBLIC_KEY", publicKey}});
  };
  const std::string cli = testing::builtProgram("app/cli/tolvane-cli").string();
  const auto unpublished = run({cli, "update", "check"});
  EXPECT_EQ(unpublished.status, 1);
  EXPECT_EQ(unpublished.err, "tolvane-cli: Couldn't check for updates: The site answered HTTP 404 for " +
                                 server_.url() + "/updates/feed.json.\n");

  testing::writeFile(dir_ / "tolvane_99.0.0_amd64.deb", "stand-in package");
  const std::string publicKey = server_.publishRelease(dir_ / "tolvane_99.0.0_amd64.deb", "99.0.0", "Quicker start.");

  const auto newer = run({cli, "update", "check"}, publicKey.c_str());
  EXPECT_EQ(newer.status, 0) << newer.err;
  EXPECT_TRUE(newer.out.starts_with("Tolvane 99.0.0 is available")) << newer.out;
  const auto json = nlohmann::json::parse(run({cli, "update", "check", "--json"}, publicKey.c_str()).out);
  EXPECT_EQ(json["update"]["packageURL"], server_.url() + "/updates/packages/tolvane_99.0.0_amd64.deb");
  EXPECT_EQ(json["update"]["notes"], "Quicker start.");
  // The built-in key did not sign this feed.
  const auto untrusted = run({cli, "update", "check"});
  EXPECT_EQ(untrusted.status, 1);
  EXPECT_EQ(untrusted.err,
            "tolvane-cli: Couldn't check for updates: The update feed's signature doesn't match the update key.\n");
}

}  // namespace
}  // namespace tolvane
