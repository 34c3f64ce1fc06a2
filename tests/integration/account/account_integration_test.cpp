// The HTTP transport, service API, auth store and desktop sign-in against a real
// tolvane-server on loopback, and the account commands of tolvane-cli.
#include <atomic>
#include <latch>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kit/auth/auth_error.h"
#include "kit/auth/auth_store.h"
#include "kit/auth/desktop_sign_in.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/config/config.h"
#include "kit/upload/curl_http_client.h"
#include "kit/upload/http_error.h"
#include "kit/upload/tolvane_api.h"
#include "kit/upload/update_checker.h"
#include "tests/kit/upload/thrown.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::builtProgram;
using testing::ChildProcess;
using testing::TempDir;

constexpr const char* kEmail = "ada@example.com";

// Counts the requests that reach the token endpoint.
class CountingTransport final : public HTTPPerforming {
 public:
  explicit CountingTransport(std::shared_ptr<HTTPPerforming> inner) : inner_(std::move(inner)) {}
  HTTPResponse data(const HTTPRequest& request, std::stop_token stop = {}) override {
    if (request.url.find("/auth/v1/token") != std::string::npos) ++tokenRequests;
    return inner_->data(request, std::move(stop));
  }
  HTTPResponse upload(const HTTPRequest& request, std::span<const std::byte> body, std::stop_token stop = {}) override {
    return inner_->upload(request, body, std::move(stop));
  }
  std::atomic<int> tokenRequests{0};

 private:
  std::shared_ptr<HTTPPerforming> inner_;
};

class AccountIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto server = builtProgram("server/tolvane-server");
    if (!std::filesystem::exists(server)) {
      GTEST_SKIP() << "tolvane-server is not built at " << server.string() << "; nothing to sign in against";
    }
    port_ = testing::freeLoopbackPort();
    site_ = "http://127.0.0.1:" + std::to_string(port_);
    siteURL_ = *Url::parse(site_);
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{server.string(), "--listen", "127.0.0.1:" + std::to_string(port_), "--data",
                                 (dir_ / "server").string(), "--auto-approve", kEmail},
        std::map<std::string, std::string>{}, dir_ / "server.log");
    ASSERT_TRUE(testing::waitForPort(port_, std::chrono::seconds(15))) << testing::readFile(dir_ / "server.log");

    http_ = std::make_shared<CountingTransport>(std::make_shared<CurlHTTPClient>());
    storage_ = std::make_shared<MemorySessionStorage>();
    // The server answers the token endpoint itself, under the site URL.
    auth_ = std::make_shared<AuthStore>(storage_, http_, siteURL_, kAnonKey);
    api_ = std::make_shared<TolvaneAPI>(auth_, http_, siteURL_);
  }

  AuthSession signIn() {
    const DesktopSignIn signIn(http_, siteURL_);
    auto session = signIn.waitForApproval(signIn.start("integration-test"));
    auth_->adopt(session);
    return session;
  }

  // The server accepts the key built into the client unless told otherwise.
  const std::string kAnonKey = Config::supabaseAnonKey();
  TempDir dir_;
  int port_ = 0;
  std::string site_;
  Url siteURL_ = *Url::parse("http://127.0.0.1");
  std::unique_ptr<ChildProcess> server_;
  std::shared_ptr<CountingTransport> http_;
  std::shared_ptr<MemorySessionStorage> storage_;
  std::shared_ptr<AuthStore> auth_;
  std::shared_ptr<TolvaneAPI> api_;
};

TEST_F(AccountIntegrationTest, SignInWithAutoApproveThenUseTheAPI) {
  const auto session = signIn();
  EXPECT_EQ(session.email, kEmail);
  EXPECT_FALSE(session.accessToken.empty());
  EXPECT_GT(session.expiresAt, std::chrono::system_clock::now());

  EXPECT_EQ(api_->me().email, kEmail);
  EXPECT_TRUE(api_->library(100).empty());
  EXPECT_EQ(http_->tokenRequests.load(), 0);

  EXPECT_FALSE(UpdateChecker(http_, siteURL_).latest().version.empty());
}

TEST_F(AccountIntegrationTest, ARefreshRotatesBothTokens) {
  const auto before = signIn();
  const auto token = auth_->forceRefresh();
  const auto after = storage_->load();
  ASSERT_TRUE(after);
  EXPECT_EQ(after->accessToken, token);
  EXPECT_NE(after->accessToken, before.accessToken);
  EXPECT_NE(after->refreshToken, before.refreshToken);
  EXPECT_EQ(after->email, kEmail);
  EXPECT_EQ(api_->me().email, kEmail);

  // The spent refresh token no longer works.
  MemorySessionStorage stale(before);
  AuthStore replay(std::shared_ptr<SessionStorage>(&stale, [](SessionStorage*) {}), http_, siteURL_, kAnonKey);
  EXPECT_THROW(replay.forceRefresh(), AuthError);
  EXPECT_FALSE(stale.load());
}

TEST_F(AccountIntegrationTest, AnExpiredTokenIsRefreshedOnceForTwentyCallers) {
  auto session = signIn();
  session.expiresAt = std::chrono::system_clock::now() - std::chrono::seconds(1);
  storage_->save(session);

  constexpr int kCallers = 20;
  std::latch start(kCallers);
  std::vector<std::string> tokens(kCallers);  // a failure shows as its message, unlike every token
  {
    std::vector<std::jthread> callers;
    for (int i = 0; i < kCallers; ++i) {
      callers.emplace_back([&, i] {
        start.arrive_and_wait();
        try {
          tokens[static_cast<std::size_t>(i)] = auth_->validAccessToken();
        } catch (const std::exception& error) {
          tokens[static_cast<std::size_t>(i)] = error.what();
        }
      });
    }
  }
  EXPECT_EQ(http_->tokenRequests.load(), 1);
  for (const auto& token : tokens) EXPECT_EQ(token, tokens.front());
  EXPECT_NE(tokens.front(), session.accessToken);
  EXPECT_EQ(api_->me().email, kEmail);
}

TEST_F(AccountIntegrationTest, ARevokedRefreshTokenSignsTheUserOut) {
  const auto session = signIn();
  std::vector<std::optional<AuthSession>> changes;
  auth_->setOnChange([&](const std::optional<AuthSession>& change) { changes.push_back(change); });

  // Signing out on the server revokes every token of the account.
  HTTPRequest revoke;
  revoke.method = "POST";
  revoke.url = site_ + "/auth/v1/logout";
  revoke.headers = {{"Authorization", "Bearer " + session.accessToken}, {"apikey", kAnonKey}};
  ASSERT_EQ(http_->data(revoke).status, 204);

  EXPECT_EQ(testing::thrownWhat<AuthError>([&] { auth_->forceRefresh(); }),
            "Tolvane couldn't refresh your sign-in: your session expired, please sign in again");
  EXPECT_FALSE(auth_->isSignedIn());
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], std::nullopt);
  EXPECT_THROW(api_->me(), AuthError);
}

TEST_F(AccountIntegrationTest, TheCLISignsInShowsTheAccountAndSignsOut) {
  const std::map<std::string, std::string> env = {{"TOLVANE_SITE_URL", site_},
                                                  {"XDG_CONFIG_HOME", (dir_ / "config").string()},
                                                  {"DBUS_SESSION_BUS_ADDRESS", ""},
                                                  {"DISPLAY", ""},
                                                  {"WAYLAND_DISPLAY", ""}};
  const auto cli = builtProgram("app/cli/tolvane-cli").string();

  const auto login = testing::runCommand({cli, "login"}, env);
  ASSERT_EQ(login.status, 0) << login.err;
  EXPECT_NE(login.out.find(site_), std::string::npos) << login.out;
  EXPECT_NE(login.out.find("Signed in as ada@example.com."), std::string::npos) << login.out;
  EXPECT_TRUE(std::filesystem::exists(dir_ / "config" / "tolvane" / "session.json"));

  const auto whoami = testing::runCommand({cli, "whoami"}, env);
  EXPECT_EQ(whoami.status, 0) << whoami.err;
  EXPECT_NE(whoami.out.find("E-mail: ada@example.com"), std::string::npos) << whoami.out;
  EXPECT_NE(whoami.out.find("Plan:"), std::string::npos) << whoami.out;

  const auto library = testing::runCommand({cli, "library", "--limit", "5", "--json"}, env);
  EXPECT_EQ(library.status, 0) << library.err;
  EXPECT_EQ(nlohmann::json::parse(library.out), nlohmann::json::array());

  const auto logout = testing::runCommand({cli, "logout"}, env);
  EXPECT_EQ(logout.status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "config" / "tolvane" / "session.json"));
  const auto after = testing::runCommand({cli, "whoami"}, env);
  EXPECT_EQ(after.status, 1);
  EXPECT_EQ(after.err, "tolvane-cli: You're signed out of Tolvane.\n");
}

}  // namespace
}  // namespace tolvane
