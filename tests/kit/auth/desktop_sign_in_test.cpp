#include "kit/auth/desktop_sign_in.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kit/base/errors.h"
#include "kit/net/http_error.h"
#include "kit/net/json_fields.h"
#include "kit/net/transport_error.h"
#include "tests/kit/net/fake_http_transport.h"
#include "tests/kit/net/thrown.h"

namespace tolvane {
namespace {

using std::chrono::seconds;
using testing::FakeHTTPTransport;

const Date kNow = Date(seconds(1780000000));

// base64url without padding, as in a JSON Web Token.
std::string base64url(const std::string& text) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    unsigned n = 0;
    for (std::size_t k = i; k < i + 3; ++k) n = n << 8 | (k < text.size() ? static_cast<unsigned char>(text[k]) : 0u);
    // 1, 2 or 3 bytes left make 2, 3 or 4 characters.
    const std::size_t chars = std::min<std::size_t>(text.size() - i, 3) + 1;
    for (std::size_t c = 0; c < chars; ++c) out += alphabet[(n >> (18 - 6 * c)) & 63];
  }
  return out;
}

std::string jwt(const std::string& payload) { return base64url(R"({"alg":"HS256"})") + "." + base64url(payload) + ".sig"; }

class DesktopSignInTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeHTTPTransport> http_ = std::make_shared<FakeHTTPTransport>();
  std::atomic<Date> now_{kNow};
  DesktopSignIn signIn_{http_, *Url::parse("https://tolvane.test"), [this] { return now_.load(); }};

  SignInRequest request(double pollIntervalSec = 0.001) const {
    return {"req-1", std::string(64, 'a'), "https://tolvane.test/connect/req-1", kNow + seconds(600), pollIntervalSec};
  }
};

TEST(DesktopSignInHelpers, CodeChallengeIsLowerCaseHexSHA256) {
  EXPECT_EQ(DesktopSignIn::sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const auto verifier = DesktopSignIn::randomHex(32);
  EXPECT_EQ(verifier.size(), 64u);
  EXPECT_EQ(verifier.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(verifier, DesktopSignIn::randomHex(32));
}

TEST(DesktopSignInHelpers, ExpiryOfJWT) {
  // Payload lengths that need no padding, one "=" and two "=".
  for (const std::string payload : {R"({"exp":1780000000})", R"({"exp":1780000000 })", R"({"exp":1780000000  })"}) {
    EXPECT_EQ(DesktopSignIn::expiryOfJWT(jwt(payload)), Date(seconds(1780000000))) << payload;
  }
  EXPECT_EQ(base64url(R"({"exp":1780000000 })").size() % 4, 2u) << "this payload needs two \"=\"";
  EXPECT_EQ(DesktopSignIn::expiryOfJWT(jwt(R"({"sub":"x","exp":1.5e9})")), Date(seconds(1500000000)));
  EXPECT_FALSE(DesktopSignIn::expiryOfJWT("onlyonesegment"));
  EXPECT_FALSE(DesktopSignIn::expiryOfJWT(jwt(R"({"exp":"soon"})")));
  EXPECT_FALSE(DesktopSignIn::expiryOfJWT(jwt(R"([1])")));
  EXPECT_FALSE(DesktopSignIn::expiryOfJWT("a.!!!.c"));
  EXPECT_EQ(DesktopSignIn::expiryOfJWT("header.." + base64url(R"({"exp":5})")), Date(seconds(5))) << "empty pieces dropped";
}

TEST_F(DesktopSignInTest, StartSendsTheHashOfTheVerifierAndReadsTheAnswer) {
  http_->enqueue(200, R"({"requestId":"req-1","expiresAt":"2026-06-01T10:00:00Z",
                          "connectUrl":"https://tolvane.test/connect/req-1","pollIntervalMs":1500})");
  const auto started = signIn_.start("ada-laptop");
  const auto sent = http_->lastRequest();
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.url, "https://tolvane.test/api/desktop/start");
  EXPECT_EQ(sent.headers, (HTTPHeaders{{"Content-Type", "application/json"}}));
  const nlohmann::json body = {{"deviceName", "ada-laptop"}, {"codeChallenge", DesktopSignIn::sha256Hex(started.codeVerifier)}};
  EXPECT_EQ(nlohmann::json::parse(*sent.body), body);
  EXPECT_EQ(started.requestId, "req-1");
  EXPECT_EQ(started.connectURL, "https://tolvane.test/connect/req-1");
  EXPECT_EQ(started.expiresAt, parseISO8601WithFraction("2026-06-01T10:00:00Z"));
  EXPECT_EQ(started.pollIntervalSec, 1.5);
  EXPECT_EQ(started.codeVerifier.size(), 64u);

  // Defaults for what the answer leaves out or garbles.
  http_->enqueue(200, R"({"requestId":"r","expiresAt":"next week","connectUrl":"https://x.test/c"})");
  const auto defaulted = signIn_.start("pc");
  EXPECT_EQ(defaulted.pollIntervalSec, 2.0);
  EXPECT_EQ(defaulted.expiresAt, kNow + seconds(600));

  http_->enqueue(500, "{}");
  EXPECT_EQ(testing::httpFailure([&] { signIn_.start("pc"); }), "500 Couldn't reach Tolvane to start sign-in.");
  http_->enqueue(200, R"({"requestId":"r","expiresAt":"x","connectUrl":"not a link"})");
  EXPECT_EQ(testing::httpFailure([&] { signIn_.start("pc"); }),
            "0 Tolvane sent back a sign-in link we couldn't read.");
  http_->enqueue(200, R"({"requestId":"r","connectUrl":"https://x.test/c"})");
  EXPECT_THROW(signIn_.start("pc"), DecodingError);
}

TEST_F(DesktopSignInTest, PollPresentsTheVerifierAndReadsTheAnswer) {
  const std::string access = jwt(R"({"exp":1780007200})");
  http_->enqueue(200, R"({"status":"pending"})");
  http_->enqueue(200, R"({"status":"ready","accessToken":"a"})");
  http_->enqueue(200, nlohmann::json{{"status", "ready"}, {"accessToken", access}, {"refreshToken", "r"},
                                     {"email", "ada@example.com"}}
                          .dump());
  http_->enqueue(200, R"({"status":"ready","accessToken":"opaque","refreshToken":"r"})");

  EXPECT_EQ(signIn_.poll(request()), std::nullopt);
  const auto sent = http_->lastRequest();
  EXPECT_EQ(sent.url, "https://tolvane.test/api/desktop/token");
  EXPECT_EQ(nlohmann::json::parse(*sent.body),
            nlohmann::json({{"requestId", "req-1"}, {"codeVerifier", std::string(64, 'a')}}));

  EXPECT_EQ(signIn_.poll(request()), std::nullopt) << "ready without a refresh token keeps waiting";
  EXPECT_EQ(signIn_.poll(request()), (AuthSession{access, "r", Date(seconds(1780007200)), "ada@example.com"}));
  EXPECT_EQ(signIn_.poll(request()), (AuthSession{"opaque", "r", kNow + seconds(3600), std::nullopt}));

  http_->enqueue(410, "{}");
  http_->enqueue(404, "{}");
  http_->enqueue(200, "<html>");
  EXPECT_EQ(testing::httpFailure([&] { signIn_.poll(request()); }), "410 That sign-in link expired. Try again.");
  EXPECT_EQ(testing::httpFailure([&] { signIn_.poll(request()); }), "404 Sign-in check failed.");
  EXPECT_THROW(signIn_.poll(request()), DecodingError);
}

TEST_F(DesktopSignInTest, WaitingRidesOutFailuresUntilApprovalAndEndsWhenTheRequestIsGone) {
  http_->enqueue(500, "{}");
  http_->enqueue([](const HTTPRequest&) -> HTTPResponse {
    throw TransportError(TransportError::Kind::cannotConnect, "Could not connect to the server.");
  });
  http_->enqueue(200, "garbage");
  http_->enqueue(200, R"({"status":"pending"})");
  http_->enqueue(200, R"({"status":"ready","accessToken":"a","refreshToken":"r"})");
  EXPECT_EQ(signIn_.waitForApproval(request()).accessToken, "a");
  EXPECT_EQ(http_->requestCount(), 5u);

  // A gone or expired request ends the wait at once.
  http_->enqueue(200, R"({"status":"pending"})");
  http_->enqueue(410, "{}");
  EXPECT_EQ(testing::httpFailure([&] { signIn_.waitForApproval(request()); }),
            "410 That sign-in link expired. Try again.");
  EXPECT_EQ(http_->requestCount(), 7u);
  auto expired = request();
  expired.expiresAt = kNow;
  EXPECT_THROW(signIn_.waitForApproval(expired), HTTPError);
  EXPECT_EQ(http_->requestCount(), 7u);

  // Expiry passing between polls.
  http_->setFallback([this](const HTTPRequest&) {
    now_ = kNow + seconds(601);
    return HTTPResponse{200, {}, R"({"status":"pending"})"};
  });
  EXPECT_EQ(testing::httpFailure([&] { signIn_.waitForApproval(request()); }).substr(0, 4), "410 ");
  EXPECT_EQ(http_->requestCount(), 8u);
}

TEST_F(DesktopSignInTest, CancellationEndsTheWait) {
  http_->setFallback([](const HTTPRequest&) { return HTTPResponse{200, {}, R"({"status":"pending"})"}; });
  std::stop_source stop;
  stop.request_stop();
  EXPECT_THROW(signIn_.waitForApproval(request(), stop.get_token()), CancellationError);
  EXPECT_EQ(http_->requestCount(), 0u);

  // Cancelled while sleeping between polls of a long interval.
  std::stop_source later;
  std::jthread canceller([&] {
    while (http_->requestCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    later.request_stop();
  });
  EXPECT_THROW(signIn_.waitForApproval(request(3600), later.get_token()), CancellationError);
}

}  // namespace
}  // namespace tolvane
