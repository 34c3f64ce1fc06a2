// Desktop sign-in and the token endpoint, as the app and its auth store call them.
#include <gtest/gtest.h>

#include <thread>

#include "server/server_crypto.h"
#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

// The client build's built-in key, which the server accepts by default.
constexpr const char* kAnonKey = TOLVANE_TEST_ANON_KEY;

void expectErrorBody(const httplib::Result& response, int status, const std::string& code) {
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, status) << response->body;
  const auto body = parseJson(response->body);
  EXPECT_TRUE(body["error"].is_string() && !body["error"].get<std::string>().empty()) << response->body;
  EXPECT_EQ(body["code"], code) << response->body;
}

struct Started {
  std::string verifier;
  std::string requestId;
  nlohmann::json body;
};

Started startSignIn(httplib::Client& http) {
  Started started;
  started.verifier = server::crypto::randomHex(32);
  const auto response = http.Post(
      "/api/desktop/start",
      nlohmann::json{{"deviceName", "Büro <PC>"}, {"codeChallenge", sha256Hex(started.verifier)}}.dump(),
      "application/json");
  EXPECT_EQ(response->status, 200);
  started.body = parseJson(response->body);
  started.requestId = started.body["requestId"];
  return started;
}

httplib::Result poll(httplib::Client& http, const std::string& requestId, const std::string& verifier) {
  return http.Post("/api/desktop/token", nlohmann::json{{"requestId", requestId}, {"codeVerifier", verifier}}.dump(),
                   "application/json");
}

httplib::Result refresh(httplib::Client& http, const std::string& refreshToken, const std::string& apiKey = kAnonKey) {
  httplib::Headers headers;
  if (!apiKey.empty()) headers.emplace("apikey", apiKey);
  return http.Post("/auth/v1/token?grant_type=refresh_token", headers,
                   nlohmann::json{{"refresh_token", refreshToken}}.dump(), "application/json");
}

nlohmann::json jwtPayload(const std::string& token) {
  const auto first = token.find('.');
  const auto second = token.find('.', first + 1);
  return parseJson(*server::crypto::base64UrlDecode(token.substr(first + 1, second - first - 1)));
}

TEST(DesktopSignIn, PendingUntilApprovedOnTheConnectPageThenReadyOnceThenGone) {
  TestServer server;
  auto http = server.client();
  const auto started = startSignIn(*http);
  EXPECT_EQ(started.body["connectUrl"], server.url("/connect?request=" + started.requestId));
  EXPECT_EQ(started.body["pollIntervalMs"], 1000);
  EXPECT_TRUE(started.body["expiresAt"].get<std::string>().ends_with("Z"));

  auto pending = poll(*http, started.requestId, started.verifier);
  ASSERT_EQ(pending->status, 200);
  EXPECT_EQ(parseJson(pending->body), (nlohmann::json{{"status", "pending"}}));

  const httplib::Headers cookie{{"Cookie", server.webSession("Ann@Example.com")}};
  const auto page = http->Get(("/connect?request=" + started.requestId).c_str(), cookie);
  ASSERT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Büro &lt;PC&gt;"), std::string::npos) << "device name shown, escaped";
  const auto approved = http->Post("/connect", cookie, "request=" + started.requestId, "application/x-www-form-urlencoded");
  ASSERT_EQ(approved->status, 200);

  // The wrong verifier never collects the tokens, even once approved.
  expectErrorBody(poll(*http, started.requestId, std::string(64, '0')), 403, "verifier_mismatch");

  const auto ready = poll(*http, started.requestId, started.verifier);
  ASSERT_EQ(ready->status, 200);
  const auto body = parseJson(ready->body);
  EXPECT_EQ(body["status"], "ready");
  EXPECT_EQ(body["email"], "ann@example.com");
  const auto claims = jwtPayload(body["accessToken"]);
  EXPECT_EQ(claims["email"], "ann@example.com");
  EXPECT_TRUE(claims["sub"].is_string());
  EXPECT_TRUE(claims["exp"].is_number_integer());
  EXPECT_EQ(body["refreshToken"].get<std::string>().size(), 64u);

  expectErrorBody(poll(*http, started.requestId, started.verifier), 410, "sign_in_redeemed");
  // Approving a redeemed request again is refused.
  EXPECT_EQ(http->Post("/connect", cookie, "request=" + started.requestId, "application/x-www-form-urlencoded")->status,
            410);
}

TEST(DesktopSignIn, AutoApproveHandsOutTokensAtTheFirstPoll) {
  TestServer server({"--auto-approve", "auto@example.com"});
  const auto user = server.signIn();
  EXPECT_EQ(user.email, "auto@example.com");
  const auto me = server.client()->Get("/api/me", bearer(user.accessToken));
  EXPECT_EQ(parseJson(me->body)["email"], "auto@example.com");
}

TEST(DesktopSignIn, ExpiredRequestsAnswer410) {
  TestServer server({"--sign-in-ttl", "1"});
  auto http = server.client();
  const auto started = startSignIn(*http);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  expectErrorBody(poll(*http, started.requestId, started.verifier), 410, "sign_in_expired");
}

TEST(DesktopSignIn, BadRequestsGetJsonErrors) {
  TestServer server;
  auto http = server.client();
  const auto post = [&](const std::string& path, const std::string& body) {
    return http->Post(path.c_str(), body, "application/json");
  };
  expectErrorBody(post("/api/desktop/start", "{not json"), 400, "invalid_json");
  expectErrorBody(post("/api/desktop/start", "[1,2]"), 400, "invalid_json");
  expectErrorBody(post("/api/desktop/start", R"({"codeChallenge":")" + std::string(64, 'a') + "\"}"), 400,
                  "invalid_request");
  expectErrorBody(post("/api/desktop/start", R"({"deviceName":"x","codeChallenge":12})"), 400, "invalid_request");
  // Base64 or upper-case challenges are not the SHA-256 hex the app sends.
  expectErrorBody(post("/api/desktop/start", R"({"deviceName":"x","codeChallenge":")" + std::string(64, 'A') + "\"}"),
                  400, "invalid_request");
  expectErrorBody(post("/api/desktop/token", R"({"requestId":"x"})"), 400, "invalid_request");
  expectErrorBody(post("/api/desktop/token", R"({"requestId":5,"codeVerifier":"v"})"), 400, "invalid_request");
  expectErrorBody(post("/api/desktop/token", R"({"requestId":"nope","codeVerifier":"v"})"), 404, "not_found");
  expectErrorBody(post("/api/desktop/start", std::string(100000, ' ')), 413, "payload_too_large");
}

TEST(TokenRefresh, RotatesTheRefreshTokenOnEveryUse) {
  TestServer server;
  const auto user = server.signIn();
  auto http = server.client();

  const auto first = refresh(*http, user.refreshToken);
  ASSERT_EQ(first->status, 200) << first->body;
  const auto grant = parseJson(first->body);
  EXPECT_EQ(grant["user"]["email"], user.email);
  EXPECT_EQ(grant["expires_in"], 3600);
  EXPECT_TRUE(grant["expires_at"].is_number_integer());
  EXPECT_EQ(grant["token_type"], "bearer");
  EXPECT_NE(grant["refresh_token"], user.refreshToken);
  EXPECT_EQ(server.client()->Get("/api/me", bearer(grant["access_token"]))->status, 200);

  expectErrorBody(refresh(*http, user.refreshToken), 400, "invalid_grant");
  expectErrorBody(refresh(*http, "f00d"), 400, "invalid_grant");
  EXPECT_EQ(refresh(*http, grant["refresh_token"])->status, 200);
}

TEST(TokenRefresh, RevokedTokensAreRefused) {
  TestServer server;
  const auto user = server.signIn();
  auto http = server.client();
  EXPECT_EQ(http->Post("/auth/v1/logout", bearer(user.accessToken), "", "application/json")->status, 204);
  expectErrorBody(refresh(*http, user.refreshToken), 400, "invalid_grant");
}

TEST(TokenRefresh, NeedsTheAnonymousKeyTheGrantTypeAndAToken) {
  TestServer server({"--anon-key", "custom-key"});
  const auto user = server.signIn();
  auto http = server.client();
  expectErrorBody(refresh(*http, user.refreshToken, ""), 401, "invalid_api_key");
  expectErrorBody(refresh(*http, user.refreshToken, kAnonKey), 401, "invalid_api_key");
  expectErrorBody(http->Post("/auth/v1/token?grant_type=password", {{"apikey", "custom-key"}},
                             nlohmann::json{{"refresh_token", user.refreshToken}}.dump(), "application/json"),
                  400, "unsupported_grant_type");
  const httplib::Headers key{{"apikey", "custom-key"}};
  expectErrorBody(http->Post("/auth/v1/token?grant_type=refresh_token", key, "{", "application/json"), 400,
                  "invalid_json");
  expectErrorBody(http->Post("/auth/v1/token?grant_type=refresh_token", key, R"({"refresh_token":7})", "application/json"),
                  400, "invalid_request");
  // The refused attempts did not use the token up.
  EXPECT_EQ(refresh(*http, user.refreshToken, "custom-key")->status, 200);
}

TEST(TokenRefresh, ExpiredAccessTokensAre401UntilRefreshed) {
  TestServer server({"--access-token-ttl", "1"});
  const auto user = server.signIn();
  auto http = server.client();
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  expectErrorBody(http->Get("/api/me", bearer(user.accessToken)), 401, "invalid_token");
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
