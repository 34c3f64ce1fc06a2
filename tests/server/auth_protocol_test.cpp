// Desktop sign-in and the token endpoint, as the app and its auth store call them.
#include <gtest/gtest.h>

#include <thread>

#include "server/server_crypto.h"
#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

// The client build's built-in key, which the server accepts by default.
constexpr const char* kAnonKey = TOLVANE_TEST_ANON_KEY;

httplib::Result postJson(httplib::Client& http, const std::string& path, const std::string& body,
                         const httplib::Headers& headers = {}) {
  return http.Post(path.c_str(), headers, body, "application/json");
}

httplib::Result poll(httplib::Client& http, const std::string& requestId, const std::string& verifier) {
  return postJson(http, "/api/desktop/token", nlohmann::json{{"requestId", requestId}, {"codeVerifier", verifier}}.dump());
}

httplib::Result refresh(httplib::Client& http, const std::string& refreshToken, const std::string& apiKey = kAnonKey) {
  httplib::Headers headers;
  if (!apiKey.empty()) headers.emplace("apikey", apiKey);
  return postJson(http, "/auth/v1/token?grant_type=refresh_token", nlohmann::json{{"refresh_token", refreshToken}}.dump(),
                  headers);
}

nlohmann::json jwtPayload(const std::string& token) {
  const auto first = token.find('.');
  const auto second = token.find('.', first + 1);
  return parseJson(*server::crypto::base64UrlDecode(token.substr(first + 1, second - first - 1)));
}

TEST(DesktopSignIn, PendingUntilApprovedOnTheConnectPageThenReadyOnceThenGone) {
  TestServer server;
  auto http = server.client();
  const std::string verifier = server::crypto::randomHex(32);
  const auto start = postJson(
      *http, "/api/desktop/start",
      nlohmann::json{{"deviceName", "Büro <PC>"}, {"codeChallenge", sha256Hex(verifier)}}.dump());
  ASSERT_EQ(start->status, 200);
  const auto started = parseJson(start->body);
  const std::string requestId = started["requestId"];
  EXPECT_EQ(started["connectUrl"], server.url("/connect?request=" + requestId));
  EXPECT_EQ(started["pollIntervalMs"], 1000);
  EXPECT_TRUE(started["expiresAt"].get<std::string>().ends_with("Z"));

  const auto pending = poll(*http, requestId, verifier);
  ASSERT_EQ(pending->status, 200);
  EXPECT_EQ(parseJson(pending->body), (nlohmann::json{{"status", "pending"}}));

  const httplib::Headers cookie{{"Cookie", server.webSession("Ann@Example.com")}};
  const auto page = http->Get(("/connect?request=" + requestId).c_str(), cookie);
  ASSERT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Büro &lt;PC&gt;"), std::string::npos) << "device name shown, escaped";
  const auto approve = [&] {
    return http->Post("/connect", cookie, "request=" + requestId, "application/x-www-form-urlencoded")->status;
  };
  ASSERT_EQ(approve(), 200);

  // The wrong verifier never collects the tokens, even once approved.
  expectError(poll(*http, requestId, std::string(64, '0')), 403, "verifier_mismatch");

  const auto ready = poll(*http, requestId, verifier);
  ASSERT_EQ(ready->status, 200);
  const auto body = parseJson(ready->body);
  EXPECT_EQ(body["status"], "ready");
  EXPECT_EQ(body["email"], "ann@example.com");
  const auto claims = jwtPayload(body["accessToken"]);
  EXPECT_EQ(claims["email"], "ann@example.com");
  EXPECT_TRUE(claims["sub"].is_string());
  EXPECT_TRUE(claims["exp"].is_number_integer());
  EXPECT_EQ(body["refreshToken"].get<std::string>().size(), 64u);

  expectError(poll(*http, requestId, verifier), 410, "sign_in_redeemed");
  EXPECT_EQ(approve(), 410) << "approving a redeemed request again is refused";
}

TEST(DesktopSignIn, AutoApproveHandsOutTokensAtTheFirstPoll) {
  TestServer server({"--auto-approve", "auto@example.com"});
  const auto user = server.signIn();
  EXPECT_EQ(user.email, "auto@example.com");
  EXPECT_EQ(parseJson(server.client()->Get("/api/me", bearer(user.accessToken))->body)["email"], "auto@example.com");
}

TEST(DesktopSignIn, ExpiredRequestsAnswer410) {
  TestServer server({"--sign-in-ttl", "1"});
  auto http = server.client();
  const auto started = postJson(*http, "/api/desktop/start",
                                nlohmann::json{{"deviceName", "x"}, {"codeChallenge", sha256Hex("v")}}.dump());
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  expectError(poll(*http, parseJson(started->body)["requestId"], "v"), 410, "sign_in_expired");
}

TEST(DesktopSignIn, BadRequestsGetJsonErrors) {
  TestServer server;
  auto http = server.client();
  const std::vector<std::tuple<std::string, std::string, int, std::string>> cases{
      {"/api/desktop/start", "{not json", 400, "invalid_json"},
      {"/api/desktop/start", "[1,2]", 400, "invalid_json"},
      {"/api/desktop/start", R"({"codeChallenge":")" + std::string(64, 'a') + "\"}", 400, "invalid_request"},
      {"/api/desktop/start", R"({"deviceName":"x","codeChallenge":12})", 400, "invalid_request"},
      // Base64 or upper-case challenges are not the SHA-256 hex the app sends.
      {"/api/desktop/start", R"({"deviceName":"x","codeChallenge":")" + std::string(64, 'A') + "\"}", 400,
       "invalid_request"},
      {"/api/desktop/start", std::string(100000, ' '), 413, "payload_too_large"},
      {"/api/desktop/token", R"({"requestId":"x"})", 400, "invalid_request"},
      {"/api/desktop/token", R"({"requestId":5,"codeVerifier":"v"})", 400, "invalid_request"},
      {"/api/desktop/token", R"({"requestId":"nope","codeVerifier":"v"})", 404, "not_found"},
  };
  for (const auto& [path, body, status, code] : cases) {
    SCOPED_TRACE(path + " " + body.substr(0, 80));
    expectError(postJson(*http, path, body), status, code);
  }
}

TEST(TokenRefresh, RotatesTheRefreshTokenOnEveryUseUntilRevoked) {
  TestServer server({"--anon-key", "custom-key"});
  const auto user = server.signIn();
  auto http = server.client();
  const httplib::Headers key{{"apikey", "custom-key"}};
  expectError(refresh(*http, user.refreshToken, ""), 401, "invalid_api_key");
  expectError(refresh(*http, user.refreshToken, kAnonKey), 401, "invalid_api_key");
  expectError(postJson(*http, "/auth/v1/token?grant_type=password",
                       nlohmann::json{{"refresh_token", user.refreshToken}}.dump(), key),
              400, "unsupported_grant_type");
  expectError(postJson(*http, "/auth/v1/token?grant_type=refresh_token", "{", key), 400, "invalid_json");
  expectError(postJson(*http, "/auth/v1/token?grant_type=refresh_token", R"({"refresh_token":7})", key), 400,
              "invalid_request");

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

  expectError(refresh(*http, user.refreshToken, "custom-key"), 400, "invalid_grant");
  expectError(refresh(*http, "f00d", "custom-key"), 400, "invalid_grant");
  const auto second = refresh(*http, grant["refresh_token"], "custom-key");
  ASSERT_EQ(second->status, 200);

  EXPECT_EQ(http->Post("/auth/v1/logout", bearer(user.accessToken), "", "application/json")->status, 204);
  expectError(refresh(*http, parseJson(second->body)["refresh_token"], "custom-key"), 400, "invalid_grant");
}

TEST(TokenRefresh, ExpiredAccessTokensAre401UntilRefreshed) {
  TestServer server({"--access-token-ttl", "1"});
  const auto user = server.signIn();
  auto http = server.client();
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  expectError(http->Get("/api/me", bearer(user.accessToken)), 401, "invalid_token");
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
