// Desktop sign-in and the token endpoint, as the app and its auth store call them.
#include <gtest/gtest.h>

#include <thread>

#include "server/server_crypto.h"
#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

// The client build's built-in key, which the server accepts by default.
constexpr const char* kAnonKey = TOLVANE_TEST_ANON_KEY;
const ApiError kInvalidGrant{400, "invalid_grant", "That refresh token is invalid, already used or revoked."};

httplib::Result start(httplib::Client& http, const std::string& deviceName, const std::string& verifier) {
  const nlohmann::json body{{"deviceName", deviceName}, {"codeChallenge", server::crypto::sha256Hex(verifier)}};
  return call(http, "POST", "/api/desktop/start", {}, body.dump());
}

httplib::Result poll(httplib::Client& http, const std::string& requestId, const std::string& verifier) {
  return call(http, "POST", "/api/desktop/token", {},
              nlohmann::json{{"requestId", requestId}, {"codeVerifier", verifier}}.dump());
}

httplib::Result refresh(httplib::Client& http, const std::string& refreshToken, const std::string& apiKey = kAnonKey,
                        const std::string& grantType = "refresh_token") {
  return call(http, "POST", "/auth/v1/token?grant_type=" + grantType,
              apiKey.empty() ? httplib::Headers{} : httplib::Headers{{"apikey", apiKey}},
              nlohmann::json{{"refresh_token", refreshToken}}.dump());
}

TEST(DesktopSignIn, PendingUntilApprovedOnTheConnectPageThenReadyOnceThenGone) {
  TestServer server;
  auto http = server.client();
  const std::string verifier = server::crypto::randomHex(32);
  const auto started = parseJson(start(*http, "Büro <PC>", verifier)->body);
  const std::string requestId = started["requestId"];
  EXPECT_EQ(started["connectUrl"], server.url("/connect?request=" + requestId));
  EXPECT_EQ(started["pollIntervalMs"], 1000);
  EXPECT_TRUE(started["expiresAt"].get<std::string>().ends_with("Z"));
  EXPECT_EQ(parseJson(poll(*http, requestId, verifier)->body), (nlohmann::json{{"status", "pending"}}));

  const auto cookie = server.webSession("ann@example.com");
  const std::string connect = "/connect?request=" + requestId;
  expectPage(http->Get(connect, cookie), 200, "<strong>Büro &lt;PC&gt;</strong>");
  const std::string csrf = server.visit(connect, cookie).csrf;
  const auto approve = [&] { return server.postForm("/connect", cookie, "request=" + requestId + "&csrf=" + csrf); };
  expectPage(approve(), 200, "You're signed in");
  expectPage(http->Get(connect, cookie), 200, "Already approved");

  // The wrong verifier never collects the tokens, even once approved.
  expectError(poll(*http, requestId, std::string(64, '0')),
              {403, "verifier_mismatch", "The code verifier doesn't match this sign-in request."});
  const auto ready = parseJson(poll(*http, requestId, verifier)->body);
  EXPECT_EQ(ready["status"], "ready");
  EXPECT_EQ(ready["email"], "ann@example.com");
  EXPECT_EQ(ready["refreshToken"].get<std::string>().size(), 64u);
  // The app reads the access token's expiry from its claims.
  const std::string access = ready["accessToken"];
  const auto payload = access.substr(access.find('.') + 1, access.rfind('.') - access.find('.') - 1);
  const auto claims = parseJson(*server::crypto::base64UrlDecode(payload));
  EXPECT_TRUE(claims["exp"].is_number_integer());
  EXPECT_EQ(claims["email"], "ann@example.com");
  EXPECT_EQ(parseJson(http->Get("/api/me", bearer(access))->body)["email"], "ann@example.com");

  expectError(poll(*http, requestId, verifier), {410, "sign_in_redeemed", "That sign-in link was already used."});
  expectPage(approve(), 410, "Start signing in from the app once more.");
  expectPage(http->Get(connect, cookie), 410, "That sign-in link expired. Try again.");
}

TEST(DesktopSignIn, AutoApproveHandsOutTokensAtTheFirstPoll) {
  TestServer server({"--auto-approve", "auto@example.com"});
  const auto user = server.signIn();
  EXPECT_EQ(user.email, "auto@example.com");
  EXPECT_EQ(parseJson(server.client()->Get("/api/me", bearer(user.accessToken))->body)["email"], "auto@example.com");
}

TEST(TokenRefresh, RotatesTheRefreshTokenOnEveryUseUntilRevoked) {
  TestServer server({"--anon-key", "custom-key"});
  const auto user = server.signIn();
  auto http = server.client();
  const ApiError noKey{401, "invalid_api_key", "The request didn't carry this server's API key."};
  expectError(refresh(*http, user.refreshToken, ""), noKey);
  expectError(refresh(*http, user.refreshToken, kAnonKey), noKey);
  expectError(refresh(*http, user.refreshToken, "custom-key", "password"),
              {400, "unsupported_grant_type", "Only the refresh_token grant is supported."});
  expectError(refresh(*http, "", "custom-key"), {400, "invalid_request", "The request needs a refresh_token."});

  // The refused attempts did not use the token up.
  const auto first = refresh(*http, user.refreshToken, "custom-key");
  ASSERT_EQ(first->status, 200) << first->body;
  const auto grant = parseJson(first->body);
  EXPECT_EQ(grant["user"]["email"], user.email);
  EXPECT_EQ(grant["expires_in"], 3600);
  EXPECT_TRUE(grant["expires_at"].is_number_integer());
  EXPECT_EQ(grant["token_type"], "bearer");
  EXPECT_NE(grant["refresh_token"], user.refreshToken);
  EXPECT_EQ(http->Get("/api/me", bearer(grant["access_token"]))->status, 200);

  expectError(refresh(*http, "f00d", "custom-key"), kInvalidGrant);
  const auto second = refresh(*http, grant["refresh_token"], "custom-key");
  ASSERT_EQ(second->status, 200);

  // Signing out revokes every refresh token of the sign-in.
  EXPECT_EQ(http->Post("/auth/v1/logout", bearer(user.accessToken), "", "application/json")->status, 204);
  expectError(refresh(*http, parseJson(second->body)["refresh_token"], "custom-key"), kInvalidGrant);
  expectError(http->Post("/auth/v1/logout", bearer("garbage"), "", "application/json"),
              {401, "unauthorized", "You're signed out of Tolvane."});
}

TEST(Expiry, SignInRequestsAndAccessTokensDieWithTheirLifetimeButRefreshTokensDoNot) {
  TestServer server({"--sign-in-ttl", "1", "--access-token-ttl", "1", "--auto-approve", "tester@example.com"});
  const auto user = server.signIn();
  auto http = server.client();
  const std::string requestId = parseJson(start(*http, "x", "v")->body)["requestId"];
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  expectError(poll(*http, requestId, "v"), {410, "sign_in_expired", "That sign-in link expired."});
  expectError(http->Get("/api/me", bearer(user.accessToken)),
              {401, "invalid_token", "Your Tolvane session has expired. Sign in again."});
  const auto renewed = refresh(*http, user.refreshToken);
  ASSERT_EQ(renewed->status, 200);
  EXPECT_EQ(parseJson(renewed->body)["expires_in"], 1);
}

TEST(ServerCommandLine, PrintsTheClientConfigurationAndRefusesBadFlags) {
  const auto program = builtProgram("server/tolvane-server").string();
  const auto config = runCommand({program, "--listen", "127.0.0.1:9123", "--print-client-config"});
  EXPECT_EQ(config.status, 0);
  EXPECT_EQ(config.out, std::string("TOLVANE_SITE_URL=http://127.0.0.1:9123\nTOLVANE_AUTH_URL=http://127.0.0.1:9123\n"
                                    "TOLVANE_ANON_KEY=") +
                            kAnonKey + "\n");
  const auto bad = runCommand({program, "--listen", "nowhere"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "tolvane-server: --listen needs HOST:PORT, not \"nowhere\".\n");
}

}  // namespace
}  // namespace tolvane::testing
