// The service API as the app's client calls it: every route, its answers and its errors.
#include <gtest/gtest.h>

#include "server/jwt.h"
#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

constexpr const char* kNoSuchUid = "00000000-0000-4000-8000-000000000000";

class ApiTest : public ::testing::Test {
 protected:
  httplib::Result send(const std::string& method, const std::string& path, const SignedIn& user,
                       const std::string& body = "") {
    return send(method, path, "Bearer " + user.accessToken, body);
  }
  httplib::Result send(const std::string& method, const std::string& path, const std::string& authorization,
                       const std::string& body) {
    httplib::Request request;
    request.method = method;
    request.path = path;
    if (!authorization.empty()) request.set_header("Authorization", authorization);
    if (method != "GET") {
      request.body = body;
      request.set_header("Content-Type", "application/json");
    }
    return http->send(request);
  }
  nlohmann::json library(const SignedIn& user) {
    return parseJson(send("GET", "/api/recordings?limit=100", user)->body)["recordings"];
  }

  TestServer server;
  std::unique_ptr<httplib::Client> http = server.client();
  SignedIn alice = server.signIn("alice@example.com");
};

TEST_F(ApiTest, EveryRouteButTheReleaseCheckNeedsAValidBearerToken) {
  const auto uid = server.ticket(alice)["uid"].get<std::string>();
  const std::vector<std::pair<std::string, std::string>> routes{
      {"GET", "/api/me"},           {"GET", "/api/recordings?limit=100"}, {"POST", "/api/stream/upload-url"},
      {"POST", "/api/recordings"},  {"GET", "/api/stream/video/" + uid},  {"PATCH", "/api/recordings/" + uid}};
  const std::string otherServersToken =
      server::Jwt("another secret").sign({{"sub", "x"}, {"email", "x@example.com"}, {"exp", 4102444800}});
  for (const auto& [method, path] : routes) {
    for (const std::string& authorization : {std::string(), std::string("Bearer garbage"), "Bearer " + otherServersToken,
                                             "Basic " + alice.accessToken}) {
      const auto response = send(method, path, authorization, R"({"name":"x","uid":"x","title":"x","durationSec":1})");
      ASSERT_TRUE(response) << method << " " << path;
      EXPECT_EQ(response->status, 401) << method << " " << path << " " << authorization;
      EXPECT_TRUE(parseJson(response->body)["error"].is_string());
    }
  }
  EXPECT_EQ(http->Get("/api/mac/latest")->status, 200);
  expectError(http->Get("/api/nothing-here"), 404, "not_found");
  EXPECT_EQ(parseJson(send("GET", "/api/me", alice)->body),
            (nlohmann::json{{"email", "alice@example.com"}, {"pro", false}, {"lifetime", false}, {"admin", false}}));
}

TEST_F(ApiTest, BadRequestsGetJsonErrorsAndChangeNothing) {
  const std::string uid = server.ticket(alice)["uid"];
  server.save(alice, uid, "Kept", 1);
  const std::string recording = "/api/recordings/" + uid;
  const std::string saveUid = R"({"uid":")" + uid + R"(",)";
  struct Case {
    std::string method, path, body;
    int status;
    std::string code;
  };
  const std::vector<Case> cases{
      {"POST", "/api/stream/upload-url", "{}", 400, "invalid_request"},
      {"POST", "/api/stream/upload-url", R"({"name":"a","uid":"b"})", 400, "invalid_request"},
      {"POST", "/api/stream/upload-url", R"({"name":42})", 400, "invalid_request"},
      {"POST", "/api/stream/upload-url", R"({"uid":["x"]})", 400, "invalid_request"},
      {"POST", "/api/stream/upload-url", R"({"name":)", 400, "invalid_json"},
      {"POST", "/api/stream/upload-url", R"("just a string")", 400, "invalid_json"},
      {"POST", "/api/stream/upload-url", std::string(R"({"uid":")") + kNoSuchUid + "\"}", 404, "not_found"},
      {"POST", "/api/stream/upload-url", R"({"uid":"../../etc/passwd"})", 404, "not_found"},
      {"POST", "/api/recordings", R"({"title":"t","durationSec":1})", 400, "invalid_request"},
      {"POST", "/api/recordings", saveUid + R"("durationSec":1})", 400, "invalid_request"},
      {"POST", "/api/recordings", saveUid + R"("title":"t"})", 400, "invalid_request"},
      {"POST", "/api/recordings", saveUid + R"("title":"t","durationSec":12.5})", 400, "invalid_request"},
      {"POST", "/api/recordings", saveUid + R"("title":"t","durationSec":"12"})", 400, "invalid_request"},
      {"POST", "/api/recordings", saveUid + R"("title":5,"durationSec":1})", 400, "invalid_request"},
      {"POST", "/api/recordings", saveUid + R"("title":"t","durationSec":-1})", 400, "invalid_request"},
      {"POST", "/api/recordings", "nope", 400, "invalid_json"},
      {"POST", "/api/recordings", std::string(R"({"uid":")") + kNoSuchUid + R"(","title":"t","durationSec":1})", 404,
       "not_found"},
      {"PATCH", recording, R"({"title":"   "})", 400, "invalid_request"},
      {"PATCH", recording, R"({"title":null})", 400, "invalid_request"},
      {"PATCH", recording, "{}", 400, "invalid_request"},
      {"PATCH", recording, "{", 400, "invalid_json"},
      {"PATCH", "/api/recordings/../../etc/passwd", R"({"title":"x"})", 404, "not_found"},
      {"PATCH", "/api/recordings/%2e%2e%2fsecret", R"({"title":"x"})", 404, "not_found"},
      {"PATCH", std::string("/api/recordings/") + kNoSuchUid, R"({"title":"x"})", 404, "not_found"},
      {"PATCH", "/api/recordings/ABCDEF00-0000-4000-8000-000000000000", R"({"title":"x"})", 404, "not_found"},
      {"GET", "/api/stream/video/../../../etc/passwd", "", 404, "not_found"},
      {"GET", std::string("/api/stream/video/") + kNoSuchUid, "", 404, "not_found"},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.method + " " + item.path + " " + item.body);
    expectError(send(item.method, item.path, alice, item.body), item.status, item.code);
  }
  for (const char* limit : {"0", "-1", "abc", "1.5", ""}) {
    expectError(send("GET", std::string("/api/recordings?limit=") + limit, alice), 400, "invalid_request");
  }
  const auto recordings = library(alice);
  ASSERT_EQ(recordings.size(), 1u);
  EXPECT_EQ(recordings[0]["title"], "Kept");
  EXPECT_EQ(recordings[0]["durationSec"], 1);
}

TEST_F(ApiTest, TicketsSavesRenamesAndTheLibraryNewestFirst) {
  const auto ticket = server.ticket(alice, "one");
  const std::string first = ticket["uid"];
  EXPECT_EQ(first.size(), 36u);
  EXPECT_EQ(ticket["endpoint"], server.url("/tus/"));
  EXPECT_EQ(ticket["signature"].get<std::string>().size(), 64u);
  EXPECT_TRUE(ticket["libraryId"].is_string());
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  EXPECT_GT(ticket["expire"].get<int64_t>(), now.count() + 86000) << "valid for a day";
  const auto resigned = send("POST", "/api/stream/upload-url", alice, nlohmann::json{{"uid", first}}.dump());
  ASSERT_EQ(resigned->status, 200);
  EXPECT_EQ(parseJson(resigned->body)["uid"], first);

  server.ticket(alice, "unsaved");
  const std::string second = server.ticket(alice, "three")["uid"];
  const auto saved = send("POST", "/api/recordings", alice,
                          nlohmann::json{{"uid", first}, {"title", "First take"}, {"durationSec", 13}}.dump());
  ASSERT_EQ(saved->status, 200);
  EXPECT_EQ(parseJson(saved->body), (nlohmann::json{{"ok", true}, {"shareUrl", server.url("/v/" + first)}}));
  server.save(alice, second, "Second take", 4);

  const auto renamed = send("PATCH", "/api/recordings/" + first, alice, R"({"title":"  New title "})");
  ASSERT_EQ(renamed->status, 200);
  EXPECT_EQ(parseJson(renamed->body), (nlohmann::json{{"ok", true}}));

  const auto recordings = library(alice);
  ASSERT_EQ(recordings.size(), 2u);
  EXPECT_EQ(recordings[0]["id"], second);
  auto entry = recordings[1];
  EXPECT_TRUE(entry["thumbnail"].get<std::string>().starts_with(server.url("/v/")));
  EXPECT_TRUE(entry["createdAt"].get<std::string>().ends_with("Z"));
  entry.erase("thumbnail");
  entry.erase("createdAt");
  EXPECT_EQ(entry, (nlohmann::json{{"id", first}, {"title", "New title"}, {"durationSec", 13}, {"views", 0},
                                   {"mine", true}, {"sharedWithTeam", false}, {"shareUrl", server.url("/v/" + first)}}));
  EXPECT_EQ(parseJson(send("GET", "/api/recordings?limit=1", alice)->body)["recordings"].size(), 1u);
}

TEST_F(ApiTest, VideoStatusIsReadyOnlyForACompletePlayableMovie) {
  const auto ticket = server.ticket(alice, "Clip");
  const std::string uid = ticket["uid"];
  auto status = parseJson(send("GET", "/api/stream/video/" + uid, alice)->body);
  EXPECT_EQ(status, (nlohmann::json{{"uid", uid}, {"name", "Clip"}, {"durationSec", 0.0}, {"readyToStream", false}}));

  server.upload(ticket, sampleMovie());
  status = parseJson(send("GET", "/api/stream/video/" + uid, alice)->body);
  EXPECT_EQ(status["readyToStream"], true);
  EXPECT_NEAR(status["durationSec"].get<double>(), 2.0, 0.1);

  const auto junk = server.ticket(alice, "Junk");
  server.upload(junk, std::string(5000, 'x'));
  EXPECT_EQ(parseJson(send("GET", "/api/stream/video/" + junk["uid"].get<std::string>(), alice)->body)["readyToStream"],
            false);
}

TEST_F(ApiTest, OneUserNeverSeesRenamesOrUploadsIntoAnothersRecordings) {
  const auto bob = server.signIn("bob@example.com");
  const auto ticket = server.ticket(alice, "Alice's");
  const std::string uid = ticket["uid"];
  server.upload(ticket, sampleMovie());
  server.save(alice, uid, "Alice's", 2);

  EXPECT_TRUE(library(bob).empty());
  expectError(send("GET", "/api/stream/video/" + uid, bob), 404, "not_found");
  expectError(send("PATCH", "/api/recordings/" + uid, bob, R"({"title":"Bob's now"})"), 404, "not_found");
  expectError(send("POST", "/api/stream/upload-url", bob, nlohmann::json{{"uid", uid}}.dump()), 404, "not_found");
  expectError(send("POST", "/api/recordings", bob,
                   nlohmann::json{{"uid", uid}, {"title", "mine"}, {"durationSec", 1}}.dump()),
              404, "not_found");

  // Bob's own valid ticket does not open Alice's upload.
  const auto bobsTicket = server.ticket(bob);
  const std::string alicesUpload = server.upload(server.ticket(alice), std::string(10, 'a'));
  EXPECT_EQ(http->Head(alicesUpload.c_str(), tusHeaders(bobsTicket))->status, 403);
  EXPECT_EQ(server.patchUpload(alicesUpload, bobsTicket, 10, "x")->status, 403);

  const auto recordings = library(alice);
  ASSERT_EQ(recordings.size(), 1u);
  EXPECT_EQ(recordings[0]["title"], "Alice's");
}

TEST(ApiFlags, RecordingLimitAndLatestReleaseComeFromTheFlags) {
  TestServer server({"--recording-limit", "1", "--latest-version", "2.4.1", "--latest-download-url",
                     "https://example.com/t.deb", "--latest-page-url", "https://example.com/releases"});
  const auto user = server.signIn();
  const auto ticket = server.ticket(user);
  auto http = server.client();
  expectError(http->Post("/api/stream/upload-url", bearer(user.accessToken), R"({"name":"second"})", "application/json"),
              403, "limit_reached");
  // The limit counts the account's own recordings only.
  EXPECT_NO_THROW(server.ticket(server.signIn("other@example.com")));
  // Fresh signatures for the recording it already has are still given.
  EXPECT_EQ(http->Post("/api/stream/upload-url", bearer(user.accessToken), nlohmann::json{{"uid", ticket["uid"]}}.dump(),
                       "application/json")
                ->status,
            200);

  const auto latest = http->Get("/api/mac/latest");
  ASSERT_EQ(latest->status, 200);
  EXPECT_EQ(parseJson(latest->body), (nlohmann::json{{"version", "2.4.1"},
                                                     {"available", true},
                                                     {"downloadUrl", "https://example.com/t.deb"},
                                                     {"pageUrl", "https://example.com/releases"}}));
  TestServer unavailable({"--latest-unavailable"});
  EXPECT_EQ(parseJson(unavailable.client()->Get("/api/mac/latest")->body)["available"], false);
}

}  // namespace
}  // namespace tolvane::testing
