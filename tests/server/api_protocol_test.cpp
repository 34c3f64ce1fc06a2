// The service API as the app's client calls it: every route, its answers and its errors.
#include <gtest/gtest.h>

#include "server/jwt.h"
#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

void expectError(const httplib::Result& response, int status, const std::string& code) {
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, status) << response->body;
  const auto body = parseJson(response->body);
  EXPECT_TRUE(body["error"].is_string()) << response->body;
  EXPECT_EQ(body["code"], code) << response->body;
}

class ApiTest : public ::testing::Test {
 protected:
  httplib::Result get(const std::string& path, const SignedIn& user) {
    return http->Get(path.c_str(), bearer(user.accessToken));
  }
  httplib::Result post(const std::string& path, const SignedIn& user, const std::string& body) {
    return http->Post(path.c_str(), bearer(user.accessToken), body, "application/json");
  }
  httplib::Result patch(const std::string& path, const SignedIn& user, const std::string& body) {
    return http->Patch(path.c_str(), bearer(user.accessToken), body, "application/json");
  }
  nlohmann::json save(const SignedIn& user, const std::string& uid, const std::string& title, int64_t duration) {
    const auto response =
        post("/api/recordings", user, nlohmann::json{{"uid", uid}, {"title", title}, {"durationSec", duration}}.dump());
    EXPECT_EQ(response->status, 200) << response->body;
    return parseJson(response->body);
  }

  TestServer server;
  std::unique_ptr<httplib::Client> http = server.client();
  SignedIn alice = server.signIn("alice@example.com");
};

TEST_F(ApiTest, EveryRouteButTheReleaseCheckNeedsAValidBearerToken) {
  const auto uid = server.ticket(alice)["uid"].get<std::string>();
  const std::vector<std::pair<std::string, std::string>> routes{
      {"GET", "/api/me"},
      {"GET", "/api/recordings?limit=100"},
      {"POST", "/api/stream/upload-url"},
      {"POST", "/api/recordings"},
      {"GET", "/api/stream/video/" + uid},
      {"PATCH", "/api/recordings/" + uid}};
  const std::string otherServersToken =
      server::Jwt("another secret").sign({{"sub", "x"}, {"email", "x@example.com"}, {"exp", 4102444800}});
  for (const auto& [method, path] : routes) {
    for (const std::string& authorization : {std::string(), std::string("Bearer garbage"), "Bearer " + otherServersToken,
                                             "Basic " + alice.accessToken}) {
      httplib::Request request;
      request.method = method;
      request.path = path;
      if (!authorization.empty()) request.set_header("Authorization", authorization);
      if (method != "GET") request.body = R"({"name":"x","uid":"x","title":"x","durationSec":1})";
      const auto response = http->send(request);
      ASSERT_TRUE(response) << method << " " << path;
      EXPECT_EQ(response->status, 401) << method << " " << path << " " << authorization;
      EXPECT_TRUE(parseJson(response->body)["error"].is_string());
    }
  }
  const auto latest = http->Get("/api/mac/latest");
  EXPECT_EQ(latest->status, 200);
}

TEST_F(ApiTest, MeDescribesTheAccount) {
  const auto me = get("/api/me", alice);
  ASSERT_EQ(me->status, 200);
  EXPECT_EQ(parseJson(me->body),
            (nlohmann::json{{"email", "alice@example.com"}, {"pro", false}, {"lifetime", false}, {"admin", false}}));
}

TEST_F(ApiTest, UploadTicketsForANewNameOrAnExistingUid) {
  const auto ticket = server.ticket(alice, "Demo");
  const std::string uid = ticket["uid"];
  EXPECT_EQ(uid.size(), 36u);
  EXPECT_EQ(ticket["endpoint"], server.url("/tus/"));
  EXPECT_EQ(ticket["signature"].get<std::string>().size(), 64u);
  EXPECT_TRUE(ticket["libraryId"].is_string());
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  EXPECT_GT(ticket["expire"].get<int64_t>(), now.count() + 86000) << "valid for a day";

  const auto resigned = post("/api/stream/upload-url", alice, nlohmann::json{{"uid", uid}}.dump());
  ASSERT_EQ(resigned->status, 200);
  EXPECT_EQ(parseJson(resigned->body)["uid"], uid);

  expectError(post("/api/stream/upload-url", alice, "{}"), 400, "invalid_request");
  expectError(post("/api/stream/upload-url", alice, R"({"name":"a","uid":"b"})"), 400, "invalid_request");
  expectError(post("/api/stream/upload-url", alice, R"({"name":42})"), 400, "invalid_request");
  expectError(post("/api/stream/upload-url", alice, R"({"uid":["x"]})"), 400, "invalid_request");
  expectError(post("/api/stream/upload-url", alice, R"({"name":)"), 400, "invalid_json");
  expectError(post("/api/stream/upload-url", alice, R"("just a string")"), 400, "invalid_json");
  expectError(post("/api/stream/upload-url", alice, R"({"uid":"00000000-0000-4000-8000-000000000000"})"), 404,
              "not_found");
  expectError(post("/api/stream/upload-url", alice, R"({"uid":"../../etc/passwd"})"), 404, "not_found");
}

TEST_F(ApiTest, SavedRecordingsAppearInTheLibraryNewestFirst) {
  const std::string first = server.ticket(alice, "one")["uid"];
  const std::string unsaved = server.ticket(alice, "two")["uid"];
  const std::string second = server.ticket(alice, "three")["uid"];
  const auto saved = save(alice, first, "First take", 13);
  EXPECT_EQ(saved, (nlohmann::json{{"ok", true}, {"shareUrl", server.url("/v/" + first)}}));
  save(alice, second, "Second take", 4);

  const auto listed = get("/api/recordings?limit=100", alice);
  ASSERT_EQ(listed->status, 200);
  const auto recordings = parseJson(listed->body)["recordings"];
  ASSERT_EQ(recordings.size(), 2u);
  EXPECT_EQ(recordings[0]["id"], second);
  EXPECT_EQ(recordings[1]["id"], first);
  const auto& entry = recordings[1];
  EXPECT_EQ(entry["title"], "First take");
  EXPECT_EQ(entry["durationSec"], 13);
  EXPECT_EQ(entry["views"], 0);
  EXPECT_EQ(entry["mine"], true);
  EXPECT_EQ(entry["sharedWithTeam"], false);
  EXPECT_EQ(entry["shareUrl"], server.url("/v/" + first));
  EXPECT_TRUE(entry["thumbnail"].get<std::string>().starts_with(server.url("/v/")));
  EXPECT_TRUE(entry["createdAt"].get<std::string>().ends_with("Z"));

  EXPECT_EQ(parseJson(get("/api/recordings?limit=1", alice)->body)["recordings"].size(), 1u);
  for (const char* limit : {"0", "-1", "abc", "1.5", ""}) {
    expectError(get(std::string("/api/recordings?limit=") + limit, alice), 400, "invalid_request");
  }
}

TEST_F(ApiTest, SavingChecksItsFields) {
  const std::string uid = server.ticket(alice)["uid"];
  for (const char* body : {R"({"title":"t","durationSec":1})", R"({"uid":"UID","durationSec":1})",
                           R"({"uid":"UID","title":"t"})", R"({"uid":"UID","title":"t","durationSec":12.5})",
                           R"({"uid":"UID","title":"t","durationSec":"12"})", R"({"uid":"UID","title":5,"durationSec":1})",
                           R"({"uid":"UID","title":"t","durationSec":-1})"}) {
    std::string text = body;
    if (const auto at = text.find("UID"); at != std::string::npos) text.replace(at, 3, uid);
    expectError(post("/api/recordings", alice, text), 400, "invalid_request");
  }
  expectError(post("/api/recordings", alice, "nope"), 400, "invalid_json");
  expectError(post("/api/recordings", alice,
                   R"({"uid":"00000000-0000-4000-8000-000000000000","title":"t","durationSec":1})"),
              404, "not_found");
}

TEST_F(ApiTest, RenameChangesTheTitle) {
  const std::string uid = server.ticket(alice)["uid"];
  save(alice, uid, "Old", 1);
  const auto renamed = patch("/api/recordings/" + uid, alice, R"({"title":"  New title "})");
  ASSERT_EQ(renamed->status, 200);
  EXPECT_EQ(parseJson(renamed->body), (nlohmann::json{{"ok", true}}));
  EXPECT_EQ(parseJson(get("/api/recordings?limit=5", alice)->body)["recordings"][0]["title"], "New title");

  expectError(patch("/api/recordings/" + uid, alice, R"({"title":"   "})"), 400, "invalid_request");
  expectError(patch("/api/recordings/" + uid, alice, R"({"title":null})"), 400, "invalid_request");
  expectError(patch("/api/recordings/" + uid, alice, R"({})"), 400, "invalid_request");
  expectError(patch("/api/recordings/" + uid, alice, "{"), 400, "invalid_json");
  for (const char* path : {"/api/recordings/../../etc/passwd", "/api/recordings/%2e%2e%2fsecret",
                           "/api/recordings/00000000-0000-4000-8000-000000000000",
                           "/api/recordings/ABCDEF00-0000-4000-8000-000000000000"}) {
    expectError(patch(path, alice, R"({"title":"x"})"), 404, "not_found");
  }
}

TEST_F(ApiTest, VideoStatusIsReadyOnlyForACompletePlayableMovie) {
  const auto ticket = server.ticket(alice, "Clip");
  const std::string uid = ticket["uid"];
  auto status = parseJson(get("/api/stream/video/" + uid, alice)->body);
  EXPECT_EQ(status, (nlohmann::json{{"uid", uid}, {"name", "Clip"}, {"durationSec", 0.0}, {"readyToStream", false}}));

  server.upload(ticket, sampleMovie());
  status = parseJson(get("/api/stream/video/" + uid, alice)->body);
  EXPECT_EQ(status["readyToStream"], true);
  EXPECT_NEAR(status["durationSec"].get<double>(), 2.0, 0.1);

  const auto junk = server.ticket(alice, "Junk");
  server.upload(junk, std::string(5000, 'x'));
  EXPECT_EQ(parseJson(get("/api/stream/video/" + junk["uid"].get<std::string>(), alice)->body)["readyToStream"], false);

  expectError(get("/api/stream/video/../../../etc/passwd", alice), 404, "not_found");
  expectError(get("/api/stream/video/00000000-0000-4000-8000-000000000000", alice), 404, "not_found");
}

TEST_F(ApiTest, OneUserNeverSeesRenamesOrUploadsIntoAnothersRecordings) {
  const auto bob = server.signIn("bob@example.com");
  const auto ticket = server.ticket(alice, "Alice's");
  const std::string uid = ticket["uid"];
  server.upload(ticket, sampleMovie());
  save(alice, uid, "Alice's", 2);

  EXPECT_TRUE(parseJson(get("/api/recordings?limit=100", bob)->body)["recordings"].empty());
  expectError(get("/api/stream/video/" + uid, bob), 404, "not_found");
  expectError(patch("/api/recordings/" + uid, bob, R"({"title":"Bob's now"})"), 404, "not_found");
  expectError(post("/api/stream/upload-url", bob, nlohmann::json{{"uid", uid}}.dump()), 404, "not_found");
  expectError(post("/api/recordings", bob, nlohmann::json{{"uid", uid}, {"title", "mine"}, {"durationSec", 1}}.dump()),
              404, "not_found");

  // Bob's own valid ticket does not open Alice's upload.
  const auto bobsTicket = server.ticket(bob);
  const std::string alicesUpload = server.upload(server.ticket(alice), std::string(10, 'a'));
  auto headers = tusHeaders(bobsTicket);
  EXPECT_EQ(http->Head(alicesUpload.c_str(), headers)->status, 403);
  headers.emplace("Upload-Offset", "10");
  EXPECT_EQ(http->Patch(alicesUpload.c_str(), headers, "x", "application/offset+octet-stream")->status, 403);

  const auto recordings = parseJson(get("/api/recordings?limit=100", alice)->body)["recordings"];
  ASSERT_EQ(recordings.size(), 1u);
  EXPECT_EQ(recordings[0]["title"], "Alice's");
}

TEST(ApiLimits, TheRecordingLimitAnswers403LimitReached) {
  TestServer server({"--recording-limit", "1"});
  const auto user = server.signIn();
  const auto ticket = server.ticket(user);
  auto http = server.client();
  const auto refused = http->Post("/api/stream/upload-url", bearer(user.accessToken), R"({"name":"second"})",
                                  "application/json");
  expectError(refused, 403, "limit_reached");
  // Fresh signatures for the recording it already has are still given.
  const auto resigned = http->Post("/api/stream/upload-url", bearer(user.accessToken),
                                   nlohmann::json{{"uid", ticket["uid"]}}.dump(), "application/json");
  EXPECT_EQ(resigned->status, 200);
}

TEST(ApiRelease, LatestReleaseComesFromTheFlags) {
  TestServer server({"--latest-version", "2.4.1", "--latest-download-url", "https://example.com/t.deb",
                     "--latest-page-url", "https://example.com/releases"});
  const auto response = server.client()->Get("/api/mac/latest");
  ASSERT_EQ(response->status, 200);
  EXPECT_EQ(parseJson(response->body), (nlohmann::json{{"version", "2.4.1"},
                                                       {"available", true},
                                                       {"downloadUrl", "https://example.com/t.deb"},
                                                       {"pageUrl", "https://example.com/releases"}}));
  TestServer unavailable({"--latest-unavailable"});
  EXPECT_EQ(parseJson(unavailable.client()->Get("/api/mac/latest")->body)["available"], false);
}

TEST(ApiRouting, UnknownEndpointsAnswerJson404) {
  TestServer server;
  const auto response = server.client()->Get("/api/nothing-here");
  expectError(response, 404, "not_found");
}

}  // namespace
}  // namespace tolvane::testing
