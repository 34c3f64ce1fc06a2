#include "kit/upload/tolvane_api.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kit/auth/auth_store.h"
#include "kit/auth/memory_session_storage.h"
#include "kit/net/http_error.h"
#include "kit/net/json_fields.h"
#include "kit/net/transport_error.h"
#include "kit/upload/local_upload_error.h"
#include "tests/kit/net/fake_http_transport.h"
#include "tests/kit/net/thrown.h"

namespace tolvane {
namespace {

using testing::FakeHTTPTransport;

constexpr const char* kSite = "https://tolvane.test";

class TolvaneAPITest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeHTTPTransport> http_ = std::make_shared<FakeHTTPTransport>();
  std::shared_ptr<AuthStore> auth_ = std::make_shared<AuthStore>(
      std::make_shared<MemorySessionStorage>(
          AuthSession{"access-1", "refresh-1", std::chrono::system_clock::now() + std::chrono::hours(1), "a@b.c"}),
      http_, *Url::parse("https://auth.tolvane.test/auth/v1"), "anon-key");
  TolvaneAPI api_{auth_, http_, *Url::parse(kSite)};
};

// Every call's method, path and JSON body as the service sees them, and what comes back.
TEST_F(TolvaneAPITest, CallsOnTheWire) {
  const std::string ticket =
      R"({"uid":"v1","libraryId":"lib","signature":"sig","expire":1780000000,"endpoint":"https://tus/"})";
  const char* recording = R"({"id":"r1","title":"Demo","durationSec":75,"createdAt":"2026-03-05T14:07:09.250Z",
    "views":3,"mine":true,"sharedWithTeam":false,"thumbnail":"https://t/1.jpg","shareUrl":"https://s/r1"})";
  std::vector<RecordingSummary> recordings;
  struct Case {
    std::function<void()> call;
    std::string answer;
    const char* method;
    const char* path;
    nlohmann::json body;
  };
  const Case cases[] = {
      {[&] { recordings = api_.library(100); }, std::string(R"({"recordings":[)") + recording + "]}", "GET",
       "/api/recordings?limit=100", nullptr},
      {[&] { api_.resignUploadTicket("v1"); }, ticket, "POST", "/api/stream/upload-url", {{"uid", "v1"}}},
      {[&] { api_.rename("v1", "New title"); }, R"({"ok":true})", "PATCH", "/api/recordings/v1",
       {{"title", "New title"}}},
      // Durations round half away from zero to whole seconds.
      {[&] { EXPECT_EQ(api_.saveRecording("v1", "Demo", 12.5), "https://s/v1"); },
       R"({"ok":true,"shareUrl":"https://s/v1"})", "POST", "/api/recordings",
       {{"uid", "v1"}, {"title", "Demo"}, {"durationSec", 13}}},
  };
  for (const auto& c : cases) {
    http_->enqueue(200, c.answer);
    c.call();
    const auto request = http_->lastRequest();
    EXPECT_EQ(request.method, c.method);
    EXPECT_EQ(request.url, kSite + std::string(c.path));
    EXPECT_EQ(request.header("Authorization"), "Bearer access-1");
    EXPECT_EQ(request.timeoutSec, 60);
    if (c.body.is_null()) {
      EXPECT_FALSE(request.body) << c.path;
      EXPECT_EQ(request.headers.size(), 1u) << c.path;
    } else {
      EXPECT_EQ(request.header("Content-Type"), "application/json");
      EXPECT_EQ(nlohmann::json::parse(*request.body).dump(), c.body.dump()) << "integers stay integers";
    }
  }
  ASSERT_EQ(recordings.size(), 1u);
  EXPECT_TRUE(recordings[0].mine);
  EXPECT_EQ(recordings[0].created(), parseISO8601WithFraction("2026-03-05T14:07:09.250Z"));

  EXPECT_THROW(api_.saveRecording("v1", "Demo", std::nan("")), LocalUploadError);
  EXPECT_EQ(testing::thrownWhat<LocalUploadError>([&] { api_.videoStatus("has space"); }),
            "Tolvane couldn't make a valid address for that request.");
}

TEST_F(TolvaneAPITest, AnyStatusButTwoHundredUnreadableBodiesAndTransportFailuresBecomeHTTPErrors) {
  http_->enqueue(200, R"({"pro":true,"lifetime":false,"admin":false})");
  EXPECT_EQ(api_.me(), (AccountInfo{std::nullopt, true, false, false}));
  http_->enqueue(200, R"({"email":"a@b.c","pro":"yes","lifetime":false,"admin":false})");
  EXPECT_EQ(testing::httpFailure([&] { api_.me(); }), "200 Tolvane sent back something unexpected.");
  http_->enqueue(201, R"({"error":"Created is not good enough.","code":"c201"})");
  EXPECT_EQ(testing::httpFailure([&] { api_.createUploadTicket("x"); }), "201 Created is not good enough. [c201]");
  http_->enqueue([](const HTTPRequest&) -> HTTPResponse {
    throw TransportError(TransportError::Kind::cannotConnect, "Could not connect to the server.");
  });
  EXPECT_EQ(testing::httpFailure([&] { api_.me(); }), "0 Could not connect to the server.");
}

TEST_F(TolvaneAPITest, A401IsRetriedOnceAfterAForcedRefresh) {
  http_->enqueue(401, R"({"error":"expired"})");
  http_->enqueue(200, R"({"access_token":"access-2","refresh_token":"refresh-2","expires_in":3600})");
  http_->enqueue(200, R"({"email":"a@b.c","pro":false,"lifetime":false,"admin":true})");
  EXPECT_TRUE(api_.me().admin);
  const auto all = http_->requests();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1].url, "https://auth.tolvane.test/auth/v1/token?grant_type=refresh_token");
  EXPECT_EQ(all[0].url, all[2].url);
  EXPECT_EQ(all[2].header("Authorization"), "Bearer access-2");

  // A second 401 is returned like any other status.
  http_->enqueue(401, R"({"error":"expired"})");
  http_->enqueue(200, R"({"access_token":"access-3"})");
  http_->enqueue(401, R"({"error":"Still not allowed."})");
  EXPECT_EQ(testing::httpFailure([&] { api_.rename("v1", "t"); }), "401 Still not allowed.");
}

}  // namespace
}  // namespace tolvane
