#include "kit/auth/auth_store.h"

#include <atomic>
#include <latch>
#include <thread>

#include <gtest/gtest.h>

#include "kit/auth/auth_error.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/base/errors.h"
#include "kit/net/transport_error.h"
#include "tests/kit/net/fake_http_transport.h"
#include "tests/kit/net/thrown.h"

namespace tolvane {
namespace {

using std::chrono::seconds;
using Sessions = std::vector<std::optional<AuthSession>>;

const Date kNow = Date(seconds(1780000000));
const std::string kExpired = "Tolvane couldn't refresh your sign-in: your session expired, please sign in again";

// A session storage that counts its reads and writes: each is a keyring round trip.
struct CountingStorage final : SessionStorage {
  std::optional<AuthSession> load() override { return ++loads, stored.load(); }
  void save(const std::optional<AuthSession>& session) override { ++saves, stored.save(session); }
  MemorySessionStorage stored;
  std::atomic<int> loads{0}, saves{0};
};

class AuthStoreTest : public ::testing::Test {
 protected:
  AuthStoreTest() {
    store_.setOnChange([this](const std::optional<AuthSession>& session) {
      std::lock_guard lock(changesMutex_);
      changes_.push_back(session);
    });
  }

  void signIn(seconds expiresIn) { store_.adopt({"old-access", "old-refresh", kNow + expiresIn, "ada@example.com"}); }
  std::optional<AuthSession> lastChange() {
    std::lock_guard lock(changesMutex_);
    return changes_.back();
  }
  AuthStore::Now clock() {
    return [this] {
      // Runs a test's step at the next reading, once.
      if (onClockRead_) std::exchange(onClockRead_, nullptr)();
      return kNow;
    };
  }

  std::function<void()> onClockRead_;
  std::shared_ptr<CountingStorage> storage_ = std::make_shared<CountingStorage>();
  std::shared_ptr<testing::FakeHTTPTransport> http_ = std::make_shared<testing::FakeHTTPTransport>();
  const Url backend_ = *Url::parse("https://auth.tolvane.test/auth/v1");
  AuthStore store_{storage_, http_, backend_, "anon.key.jwt", clock()};
  std::mutex changesMutex_;
  Sessions changes_;
};

TEST_F(AuthStoreTest, RefreshesWithinFiveMinutesOfExpiryAndAnAnswerWithOnlyAnAccessTokenLastsAnHour) {
  signIn(seconds(301));
  EXPECT_EQ(store_.validAccessToken(), "old-access");
  EXPECT_EQ(http_->requestCount(), 0u);
  signIn(seconds(300));
  http_->enqueue(200, R"({"access_token":"new-access"})");
  EXPECT_EQ(store_.validAccessToken(), "new-access");
  // The path and body are judged against the server by the account integration suite.
  EXPECT_EQ(http_->lastRequest().headers, (HTTPHeaders{{"Content-Type", "application/json"}, {"apikey", "anon.key.jwt"}}));
  EXPECT_EQ(storage_->load(), (AuthSession{"new-access", "old-refresh", kNow + seconds(3600), "ada@example.com"}));
  EXPECT_EQ(lastChange(), storage_->load());
}

// A refresh answer renews the session, ends it (a refused refresh token) or leaves it as
// it was (a failure the next call may get past).
TEST_F(AuthStoreTest, RefreshAnswersRenewEndOrKeepTheSession) {
  const AuthSession kept{"old-access", "old-refresh", kNow + seconds(10), "ada@example.com"};
  const auto failed = [](int status) {
    return "Tolvane couldn't refresh your sign-in: network error (" + std::to_string(status) + ")";
  };
  const std::tuple<int, const char*, std::string, std::optional<AuthSession>> cases[] = {
      // expires_at wins over expires_in, and the user's email replaces the old one.
      {200, R"({"access_token":"a2","refresh_token":"r2","expires_in":60,"expires_at":1790000000,
                "user":{"email":"new@example.com"}})",
       "a2", AuthSession{"a2", "r2", Date(seconds(1790000000)), "new@example.com"}},
      {200, R"({"access_token":"a3","expires_in":60,"user":{}})", "a3",
       AuthSession{"a3", "old-refresh", kNow + seconds(60), "ada@example.com"}},
      {400, R"({"error":"invalid_grant"})", kExpired, std::nullopt},
      {500, "oops", failed(500), kept},
      {200, R"({"access_token":""})", failed(200), kept},
  };
  for (const auto& [status, body, outcome, stored] : cases) {
    signIn(seconds(10));
    http_->enqueue(status, body);
    std::string token;
    const std::string error = testing::thrownWhat<AuthError>([&] { token = store_.validAccessToken(); });
    EXPECT_EQ(token.empty() ? error : token, outcome) << body;
    EXPECT_EQ(storage_->load(), stored) << body;
    EXPECT_EQ(lastChange(), stored) << body;
  }
  signIn(seconds(10));
  http_->enqueue([](const HTTPRequest&) -> HTTPResponse {
    throw TransportError(TransportError::Kind::timedOut, "The request timed out.");
  });
  EXPECT_THROW(store_.forceRefresh(), TransportError);
  EXPECT_EQ(storage_->load(), kept);
}

TEST_F(AuthStoreTest, SignedOutCallersAreToldSoAndTheStorageIsReadOnceAndWrittenOnEachChange) {
  EXPECT_EQ(testing::thrownWhat<AuthError>([&] { store_.validAccessToken(); }), "You're signed out of Tolvane.");
  EXPECT_THROW(store_.forceRefresh(), AuthError);
  EXPECT_EQ(http_->requestCount(), 0u);
  const AuthSession session{"a", "r", kNow + seconds(3600), "ada@example.com"};
  store_.adopt(session);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::tuple(store_.email(), store_.validAccessToken()), std::tuple("ada@example.com", "a"));
  store_.signOut();
  store_.signOut();
  EXPECT_FALSE(store_.isSignedIn());
  EXPECT_EQ(changes_, (Sessions{session, std::nullopt, std::nullopt}));
  EXPECT_EQ(std::pair(storage_->loads.load(), storage_->saves.load()), std::pair(1, 3));
}

// A sign-in or sign-out made while a refresh is out wins over the refresh's answer,
// whenever that answer lands: a late token or a refusal of the old refresh token
// never replaces or deletes the newer state.
TEST_F(AuthStoreTest, SignInSignOutOrAnotherProcessesRotationDuringARefreshWinsOverItsAnswer) {
  const AuthSession adopted{"adopted", "adopted-refresh", kNow + seconds(3600), "bob@example.com"};
  for (const int status : {200, 400}) {
    signIn(seconds(0));
    http_->enqueue([&](const HTTPRequest&) {
      store_.adopt(adopted);
      return HTTPResponse{status, {}, R"({"access_token":"late"})"};
    });
    EXPECT_EQ(store_.forceRefresh(), "adopted");
    EXPECT_EQ(storage_->load(), adopted);
    EXPECT_EQ(lastChange(), adopted);
  }
  // Signing out just as the answer is applied (the clock is read for its expiry).
  signIn(seconds(0));
  http_->enqueue(200, R"({"access_token":"late"})");
  onClockRead_ = [this] { store_.signOut(); };
  EXPECT_THROW(store_.forceRefresh(), CancellationError);
  EXPECT_FALSE(storage_->load());
  EXPECT_EQ(lastChange(), std::nullopt);

  // The desktop application and the CLI share one stored item: when one rotated the
  // refresh token, the other's refused refresh takes up the newer session.
  signIn(seconds(0));
  AuthStore other(storage_, http_, backend_, "anon.key.jwt", clock());
  http_->enqueue(200, R"({"access_token":"other-access","refresh_token":"r2","expires_in":3600})");
  EXPECT_EQ(other.forceRefresh(), "other-access");
  http_->enqueue(400, R"({"error":"invalid_grant"})");
  EXPECT_EQ(store_.validAccessToken(), "other-access");
  EXPECT_EQ(store_.session(), (AuthSession{"other-access", "r2", kNow + seconds(3600), "ada@example.com"}));
  EXPECT_EQ(storage_->load(), store_.session());
}

// Callers that arrive while a refresh is under way wait for it and share its outcome.
TEST_F(AuthStoreTest, ConcurrentCallersShareOneRefreshAndItsOutcome) {
  const std::pair<HTTPResponse, std::string> answers[] = {
      {{200, {}, R"({"access_token":"shared","refresh_token":"r2","expires_in":3600})"}, "shared"},
      {{401, {}, "{}"}, kExpired}};
  for (const auto& [response, outcome] : answers) {
    signIn(seconds(0));
    const std::size_t before = http_->requestCount();
    std::latch requestArrived(1);
    std::atomic<bool> release{false};
    http_->enqueue([&](const HTTPRequest&) {
      requestArrived.count_down();
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return response;
    });
    std::vector<std::string> outcomes(8);
    {
      std::vector<std::jthread> callers;
      for (std::size_t i = 0; i < outcomes.size(); ++i) {
        callers.emplace_back([&, i] {
          if (i > 0) requestArrived.wait();
          try {
            outcomes[i] = i % 2 == 0 ? store_.validAccessToken() : store_.forceRefresh();
          } catch (const std::exception& error) {
            outcomes[i] = error.what();
          }
        });
      }
      requestArrived.wait();
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the waiters join
      release = true;
    }
    EXPECT_EQ(outcomes, std::vector<std::string>(outcomes.size(), outcome));
    EXPECT_EQ(http_->requestCount(), before + 1);
  }
}

}  // namespace
}  // namespace tolvane
