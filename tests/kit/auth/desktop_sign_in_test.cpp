#include "kit/auth/desktop_sign_in.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kit/base/errors.h"
#include "kit/net/json_fields.h"
#include "kit/net/transport_error.h"
#include "tests/kit/net/fake_http_transport.h"
#include "tests/kit/net/thrown.h"

namespace tolvane {
namespace {

using std::chrono::seconds;

const Date kNow = Date(seconds(1780000000));
const std::string kLinkExpired = "410 That sign-in link expired. Try again.";

class DesktopSignInTest : public ::testing::Test {
 protected:
  std::shared_ptr<testing::FakeHTTPTransport> http_ = std::make_shared<testing::FakeHTTPTransport>();
  std::atomic<Date> now_{kNow};
  DesktopSignIn signIn_{http_, *Url::parse("https://tolvane.test"), [this] { return now_.load(); }};

  SignInRequest request(double pollIntervalSec = 0.001) const {
    return {"req-1", std::string(64, 'a'), "https://tolvane.test/connect/req-1", kNow + seconds(600), pollIntervalSec};
  }
  std::string failure(const std::function<void()>& call) { return testing::httpFailure(call); }
};

// Tokens with payloads such as {"exp":1780000000}, in base64url without padding.
TEST(DesktopSignInHelpers, ExpiryOfJWT) {
  const std::pair<std::string, std::optional<Date>> cases[] = {
      {"h.eyJleHAiOjE3ODAwMDAwMDB9.s", Date(seconds(1780000000))},     // {"exp":1780000000}: no padding
      {"h.eyJleHAiOjE3ODAwMDAwMDAgfQ.s", Date(seconds(1780000000))},  // two "=" left out
      {"h.eyJleHAiOiJzb29uIn0.s", std::nullopt},
      {"onlyonesegment", std::nullopt},
      {"header..eyJleHAiOjV9", Date(seconds(5))},  // empty pieces dropped
  };
  for (const auto& [token, expiry] : cases) EXPECT_EQ(DesktopSignIn::expiryOfJWT(token), expiry) << token;
}

// What the answers of the start and poll endpoints become. The requests themselves, and a
// complete answer, are judged against tolvane-server by the integration suites (their
// sign-ins go through here).
TEST_F(DesktopSignInTest, StartAndPollAnswers) {
  // Defaults for what the answer leaves out or garbles:
  http_->enqueue(200, R"({"requestId":"r","expiresAt":"next week","connectUrl":"https://x.test/c"})");
  const auto defaulted = signIn_.start("pc");
  EXPECT_EQ(std::tie(defaulted.pollIntervalSec, defaulted.expiresAt), std::tuple(2.0, kNow + seconds(600)));
  http_->enqueue(500, "{}");
  http_->enqueue(200, R"({"requestId":"r","expiresAt":"x","connectUrl":"not a link"})");
  EXPECT_EQ(failure([&] { signIn_.start("pc"); }), "500 Couldn't reach Tolvane to start sign-in.");
  EXPECT_EQ(failure([&] { signIn_.start("pc"); }), "200 Tolvane sent back a sign-in link we couldn't read.");

  const std::string access = "h.eyJleHAiOjE3ODAwMDcyMDB9.s";  // {"exp":1780007200}
  http_->enqueue(200, R"({"status":"ready","accessToken":"a"})");
  http_->enqueue(200, nlohmann::json{{"status", "ready"}, {"accessToken", access}, {"refreshToken", "r"},
                                     {"email", "ada@example.com"}}
                          .dump());
  http_->enqueue(200, R"({"status":"ready","accessToken":"opaque","refreshToken":"r"})");
  EXPECT_EQ(signIn_.poll(request()), std::nullopt) << "ready without a refresh token keeps waiting";
  EXPECT_EQ(signIn_.poll(request()), (AuthSession{access, "r", Date(seconds(1780007200)), "ada@example.com"}));
  EXPECT_EQ(signIn_.poll(request()), (AuthSession{"opaque", "r", kNow + seconds(3600), std::nullopt}));
  http_->enqueue(410, "{}");
  http_->enqueue(404, "{}");
  http_->enqueue(200, "<html>");
  EXPECT_EQ(failure([&] { signIn_.poll(request()); }), kLinkExpired);
  EXPECT_EQ(failure([&] { signIn_.poll(request()); }), "404 Sign-in check failed.");
  EXPECT_THROW(signIn_.poll(request()), DecodingError);
}

TEST_F(DesktopSignInTest, WaitingRidesOutFailuresUntilApprovalAndEndsWhenTheRequestIsGoneOrOnCancellation) {
  http_->enqueue(500, "{}");
  http_->enqueue([](const HTTPRequest&) -> HTTPResponse {
    throw TransportError(TransportError::Kind::cannotConnect, "Could not connect to the server.");
  });
  http_->enqueue(200, "garbage");
  http_->enqueue(200, R"({"status":"pending"})");
  http_->enqueue(200, R"({"status":"ready","accessToken":"a","refreshToken":"r"})");
  EXPECT_EQ(signIn_.waitForApproval(request()).accessToken, "a");
  EXPECT_EQ(http_->requestCount(), 5u);

  // A gone or expired request ends the wait at once, as does expiry passing between polls.
  http_->enqueue(200, R"({"status":"pending"})");
  http_->enqueue(410, "{}");
  EXPECT_EQ(failure([&] { signIn_.waitForApproval(request()); }), kLinkExpired);
  EXPECT_EQ(http_->requestCount(), 7u);
  http_->setFallback([this](const HTTPRequest&) {
    now_ = kNow + seconds(601);
    return HTTPResponse{200, {}, R"({"status":"pending"})"};
  });
  EXPECT_EQ(failure([&] { signIn_.waitForApproval(request()); }).substr(0, 4), "410 ");
  EXPECT_EQ(http_->requestCount(), 8u);

  // Cancelled while sleeping between polls of a long interval.
  now_ = kNow;
  http_->setFallback([](const HTTPRequest&) { return HTTPResponse{200, {}, R"({"status":"pending"})"}; });
  std::stop_source later;
  std::jthread canceller([&] {
    while (http_->requestCount() == 8) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    later.request_stop();
  });
  EXPECT_THROW(signIn_.waitForApproval(request(3600), later.get_token()), CancellationError);
}

}  // namespace
}  // namespace tolvane
