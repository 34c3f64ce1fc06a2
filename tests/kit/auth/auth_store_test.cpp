#include "kit/auth/auth_store.h"

#include <atomic>
#include <latch>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kit/auth/auth_error.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/base/errors.h"
#include "kit/net/transport_error.h"
#include "tests/kit/net/fake_http_transport.h"
#include "tests/kit/net/thrown.h"

namespace tolvane {
namespace {

using std::chrono::seconds;
using testing::FakeHTTPTransport;

const Date kNow = Date(seconds(1780000000));

class AuthStoreTest : public ::testing::Test {
 protected:
  AuthStoreTest()
      : storage_(std::make_shared<MemorySessionStorage>()),
        http_(std::make_shared<FakeHTTPTransport>()),
        store_(storage_, http_, *Url::parse("https://auth.tolvane.test/auth/v1"), "anon.key.jwt", [this] { return now_.load(); }) {
    store_.setOnChange([this](const std::optional<AuthSession>& session) {
      std::lock_guard lock(changesMutex_);
      changes_.push_back(session);
    });
  }

  void signIn(seconds expiresIn, std::optional<std::string> email = "ada@example.com") {
    storage_->save(AuthSession{"old-access", "old-refresh", kNow + expiresIn, std::move(email)});
  }
  std::vector<std::optional<AuthSession>> changes() {
    std::lock_guard lock(changesMutex_);
    return changes_;
  }

  std::atomic<Date> now_{kNow};
  std::shared_ptr<MemorySessionStorage> storage_;
  std::shared_ptr<FakeHTTPTransport> http_;
  AuthStore store_;
  std::mutex changesMutex_;
  std::vector<std::optional<AuthSession>> changes_;
};

TEST_F(AuthStoreTest, RefreshesWithinFiveMinutesOfExpiryAndAnAnswerWithOnlyAnAccessTokenLastsAnHour) {
  signIn(seconds(301));
  EXPECT_EQ(store_.validAccessToken(), "old-access");
  EXPECT_EQ(http_->requestCount(), 0u);

  signIn(seconds(300));
  http_->enqueue(200, R"({"access_token":"new-access"})");
  EXPECT_EQ(store_.validAccessToken(), "new-access");
  const auto request = http_->lastRequest();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.url, "https://auth.tolvane.test/auth/v1/token?grant_type=refresh_token");
  EXPECT_EQ(request.timeoutSec, 60);
  EXPECT_EQ(request.headers, (HTTPHeaders{{"Content-Type", "application/json"}, {"apikey", "anon.key.jwt"}}));
  EXPECT_EQ(nlohmann::json::parse(*request.body), nlohmann::json({{"refresh_token", "old-refresh"}}));
  EXPECT_EQ(storage_->load(), (AuthSession{"new-access", "old-refresh", kNow + seconds(3600), "ada@example.com"}));
  EXPECT_EQ(changes(), std::vector{storage_->load()});
}

// A refresh answer renews the session, ends it (a refused refresh token) or leaves it as it was.
TEST_F(AuthStoreTest, RefreshAnswersRenewEndOrKeepTheSession) {
  const AuthSession kept{"old-access", "old-refresh", kNow + seconds(10), "ada@example.com"};
  const std::string expired = "Tolvane couldn't refresh your sign-in: your session expired, please sign in again";
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
      {400, R"({"error":"invalid_grant"})", expired, std::nullopt},
      {401, R"({"error":"invalid_grant"})", expired, std::nullopt},
      {500, "oops", failed(500), kept},
      {200, R"({"access_token":""})", failed(200), kept},
      {200, "not json", failed(200), kept},
      {200, R"({"access_token":5})", failed(200), kept},
  };
  for (const auto& [status, body, outcome, stored] : cases) {
    signIn(seconds(10));
    http_->enqueue(status, body);
    std::string token;
    const std::string error = testing::thrownWhat<AuthError>([&] { token = store_.validAccessToken(); });
    EXPECT_EQ(token.empty() ? error : token, outcome) << body;
    EXPECT_EQ(storage_->load(), stored) << body;
    if (stored != kept) {
      EXPECT_EQ(changes().back(), stored) << body;
    }
  }

  signIn(seconds(10));
  http_->enqueue([](const HTTPRequest&) -> HTTPResponse {
    throw TransportError(TransportError::Kind::timedOut, "The request timed out.");
  });
  EXPECT_THROW(store_.forceRefresh(), TransportError);
  EXPECT_EQ(storage_->load(), kept);
}

TEST_F(AuthStoreTest, SignedOutCallersAreToldSoAndAdoptAndSignOutReportChanges) {
  EXPECT_EQ(testing::thrownWhat<AuthError>([&] { store_.validAccessToken(); }), "You're signed out of Tolvane.");
  EXPECT_THROW(store_.forceRefresh(), AuthError);
  EXPECT_EQ(http_->requestCount(), 0u);

  changes_.clear();
  const AuthSession session{"a", "r", kNow + seconds(3600), std::nullopt};
  store_.adopt(session);
  EXPECT_TRUE(store_.isSignedIn());
  store_.signOut();
  store_.signOut();
  EXPECT_FALSE(store_.isSignedIn());
  EXPECT_EQ(changes(), (std::vector<std::optional<AuthSession>>{session, std::nullopt, std::nullopt}));
}

// Callers that arrive while a refresh is under way wait for it and share its outcome.
TEST_F(AuthStoreTest, ConcurrentCallersShareOneRefreshAndItsOutcome) {
  const std::pair<HTTPResponse, std::string> answers[] = {
      {{200, {}, R"({"access_token":"shared","refresh_token":"r2","expires_in":3600})"}, "shared"},
      {{401, {}, "{}"}, "Tolvane couldn't refresh your sign-in: your session expired, please sign in again"}};
  for (const auto& answer : answers) {
    signIn(seconds(0));
    const std::size_t before = http_->requestCount();
    std::latch requestArrived(1);
    std::atomic<bool> release{false};
    http_->enqueue([&](const HTTPRequest&) {
      requestArrived.count_down();
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return answer.first;
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
    EXPECT_EQ(outcomes, std::vector<std::string>(outcomes.size(), answer.second));
    EXPECT_EQ(http_->requestCount(), before + 1);
  }
}

TEST_F(AuthStoreTest, SignOutDuringARefreshCancelsItAndLeavesNoSession) {
  signIn(seconds(0));
  std::latch requestArrived(1);
  http_->enqueue([&](const HTTPRequest&) {
    requestArrived.count_down();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return HTTPResponse{200, {}, R"({"access_token":"too-late"})"};
  });
  std::string outcome;
  std::jthread caller([&] {
    try {
      store_.forceRefresh();
      outcome = "token";
    } catch (const CancellationError&) {
      outcome = "cancelled";
    }
  });
  requestArrived.wait();
  store_.signOut();
  caller.join();
  EXPECT_EQ(outcome, "cancelled");
  EXPECT_FALSE(storage_->load());
}

}  // namespace
}  // namespace tolvane
