// Desktop sign-in and the token endpoint, as the app and its auth store call them.
#include <gtest/gtest.h>

#include <thread>

#include "server/server_crypto.h"
#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

const ApiError kInvalidGrant{400, "invalid_grant", "That refresh token is invalid, already used or revoked."};

TEST(DesktopSignIn, PendingUntilApprovedOnTheConnectPageThenReadyOnceThenGone) {
  TestServer server;
  auto http = server.client();
  const std::string verifier = server::crypto::randomHex(32);
  const auto started = parseJson(startSignIn(*http, verifier, {}, "Büro <PC>")->body);
  const std::string requestId = started["requestId"], connect = "/connect?request=" + requestId;
  EXPECT_EQ(started["connectUrl"], server.url(connect));
  EXPECT_EQ(started["pollIntervalMs"], 1000);
  EXPECT_TRUE(started["expiresAt"].get<std::string>().ends_with("Z"));
  EXPECT_EQ(parseJson(pollSignIn(*http, requestId, verifier)->body), (nlohmann::json{{"status", "pending"}}));

  const auto cookie = server.webSession("ann@example.com");
  expectPage(http->Get(connect, cookie), 200, "<strong>Büro &lt;PC&gt;</strong>");
  const std::string csrf = server.visit(connect, cookie).csrf;
  const auto approve = [&] { return server.postForm("/connect", cookie, "request=" + requestId + "&csrf=" + csrf); };
  expectPage(approve(), 200, "You're signed in");
  expectPage(http->Get(connect, cookie), 200, "Already approved");

  // The wrong verifier never collects the tokens, even once approved.
  expectError(pollSignIn(*http, requestId, std::string(64, '0')),
              {403, "verifier_mismatch", "The code verifier doesn't match this sign-in request."});
  const auto ready = parseJson(pollSignIn(*http, requestId, verifier)->body);
  EXPECT_EQ(ready["status"], "ready");
  EXPECT_EQ(ready["email"], "ann@example.com");
  EXPECT_EQ(parseJson(http->Get("/api/me", bearer(ready["accessToken"]))->body)["email"], "ann@example.com");

  expectError(pollSignIn(*http, requestId, verifier), {410, "sign_in_redeemed", "That sign-in link was already used."});
  expectPage(approve(), 410, "Start signing in from the app once more.");
  expectPage(http->Get(connect, cookie), 410, "That sign-in link expired. Try again.");
}

TEST(TokenRefresh, RotatesTheRefreshTokenOnEveryUseUntilRevoked) {
  TestServer server({"--anon-key", "custom-key"});
  const auto user = server.signIn();
  auto http = server.client();
  const ApiError noKey{401, "invalid_api_key", "The request didn't carry this server's API key."};
  expectError(refresh(*http, user.refreshToken, ""), noKey);
  expectError(refresh(*http, user.refreshToken, TOLVANE_TEST_ANON_KEY), noKey);
  expectError(refresh(*http, user.refreshToken, "custom-key", "password"),
              {400, "unsupported_grant_type", "Only the refresh_token grant is supported."});
  expectError(refresh(*http, "", "custom-key"), {400, "invalid_request", "The request needs a refresh_token."});
  expectError(refresh(*http, "f00d", "custom-key"), kInvalidGrant);
  // The refused attempts did not use the token up. (Rotation itself is AccountIntegrationTest's.)
  const auto grant = refresh(*http, user.refreshToken, "custom-key");
  ASSERT_EQ(grant->status, 200) << grant->body;
  EXPECT_EQ(parseJson(grant->body)["expires_in"], 3600);
  // Signing out revokes every refresh token of the sign-in.
  EXPECT_EQ(http->Post("/auth/v1/logout", bearer(user.accessToken), "", "application/json")->status, 204);
  expectError(refresh(*http, parseJson(grant->body)["refresh_token"], "custom-key"), kInvalidGrant);
  expectError(http->Post("/auth/v1/logout", bearer("garbage"), "", "application/json"),
              {401, "unauthorized", "You're signed out of Tolvane."});
}

TEST(Expiry, SignInRequestsAndAccessTokensDieWithTheirLifetimeButRefreshTokensDoNot) {
  TestServer server({"--sign-in-ttl", "1", "--access-token-ttl", "1", "--auto-approve", "tester@example.com"});
  const auto user = server.signIn();
  auto http = server.client();
  const std::string requestId = parseJson(startSignIn(*http, "v")->body)["requestId"];
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  expectError(pollSignIn(*http, requestId, "v"), {410, "sign_in_expired", "That sign-in link expired."});
  expectError(http->Get("/api/me", bearer(user.accessToken)),
              {401, "invalid_token", "Your Tolvane session has expired. Sign in again."});
  const auto renewed = refresh(*http, user.refreshToken);
  ASSERT_EQ(renewed->status, 200);
  EXPECT_EQ(parseJson(renewed->body)["expires_in"], 1);
}

// The flags' own refusals are ServerOptions'; here the exit status scripts rely on.
TEST(ServerCommandLine, PrintsTheClientConfigurationAndRefusesBadFlags) {
  const auto program = builtProgram("server/tolvane-server").string();
  const auto config = runCommand({program, "--listen", "127.0.0.1:9123", "--print-client-config"});
  EXPECT_EQ(config.status, 0);
  EXPECT_EQ(config.out, "TOLVANE_SITE_URL=http://127.0.0.1:9123\nTOLVANE_AUTH_URL=http://127.0.0.1:9123\n"
                        "TOLVANE_ANON_KEY=" TOLVANE_TEST_ANON_KEY "\n");
  const auto bad = runCommand({program, "--listen", "nowhere"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "tolvane-server: --listen needs HOST:PORT, not \"nowhere\".\n");
}

}  // namespace
}  // namespace tolvane::testing
