// The service API as the app's client calls it: every route, its answers and its errors.
#include <gtest/gtest.h>

#include "server/jwt.h"
#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

const ApiError kNoRecording{404, "not_found", "There is no such recording."};

class ApiTest : public ::testing::Test {
 protected:
  httplib::Result send(const std::string& method, const std::string& path, const SignedIn& user,
                       const std::string& body = "") {
    return call(*http, method, path, bearer(user.accessToken), body);
  }
  nlohmann::json library(const SignedIn& user, int limit = 100) {
    return parseJson(send("GET", "/api/recordings?limit=" + std::to_string(limit), user)->body)["recordings"];
  }

  TestServer server;
  std::unique_ptr<httplib::Client> http = server.client();
  SignedIn alice = server.signIn("alice@example.com");
};

TEST_F(ApiTest, EveryRouteButTheReleaseCheckNeedsAValidBearerToken) {
  const auto uid = server.ticket(alice)["uid"].get<std::string>();
  const std::string otherServersToken =
      server::Jwt("another secret").sign({{"sub", "x"}, {"email", "x@example.com"}, {"exp", 4102444800}});
  const std::pair<std::string, ApiError> authorizations[] = {
      {"Basic " + alice.accessToken, {401, "unauthorized", "Sign in to Tolvane to continue."}},
      {"Bearer " + otherServersToken, {401, "invalid_token", "Your Tolvane session has expired. Sign in again."}}};
  for (const auto& [method, path] : std::vector<std::pair<std::string, std::string>>{
           {"GET", "/api/me"},          {"GET", "/api/recordings?limit=100"}, {"POST", "/api/stream/upload-url"},
           {"POST", "/api/recordings"}, {"GET", "/api/stream/video/" + uid},  {"PATCH", "/api/recordings/" + uid}}) {
    for (const auto& [authorization, answer] : authorizations) {
      SCOPED_TRACE(method + " " + path + " " + answer.code);
      expectError(call(*http, method, path, {{"Authorization", authorization}},
                       R"({"name":"x","uid":"x","title":"x","durationSec":1})"),
                  answer);
    }
  }
  EXPECT_EQ(http->Get("/api/linux/latest")->status, 200);
  expectError(http->Get("/api/nothing-here"), {404, "not_found", "There is no such endpoint."});
  EXPECT_EQ(parseJson(send("GET", "/api/me", alice)->body),
            (nlohmann::json{{"email", "alice@example.com"}, {"pro", false}, {"lifetime", false}, {"admin", false}}));
}

TEST_F(ApiTest, BadRequestsGetJsonErrorsAndChangeNothing) {
  const std::string uid = server.ticket(alice)["uid"];
  server.save(alice, uid, "Kept", 1);
  const std::string saveUid = R"({"uid":")" + uid + R"(",)", longText(1001, 'x');
  const ApiError notObject{400, "invalid_json", "The request body must be a JSON object."};
  const auto invalid = [](const char* message) { return ApiError{400, "invalid_request", message}; };
  const ApiError saveNeeds = invalid("Saving a recording needs a uid, a title and a whole number durationSec.");
  const std::tuple<std::string, std::string, std::string, ApiError> cases[] = {
      {"POST", "/api/stream/upload-url", R"({"name":"a","uid":"b"})",
       invalid("Ask for an upload with either a name or a uid.")},
      {"POST", "/api/stream/upload-url", R"({"name":")" + longText + "\"}",
       invalid("The name must be a string of at most 1000 characters.")},
      {"POST", "/api/stream/upload-url", R"({"uid":["x"]})", invalid("The uid must be a string.")},
      {"POST", "/api/stream/upload-url", R"({"name":)", {400, "invalid_json", "The request body isn't valid JSON."}},
      {"POST", "/api/stream/upload-url", R"("just a string")", notObject},
      {"POST", "/api/stream/upload-url", R"({"uid":"00000000-0000-4000-8000-000000000000"})", kNoRecording},
      {"POST", "/api/recordings", R"({"title":"t","durationSec":1})", saveNeeds},
      {"POST", "/api/recordings", saveUid + R"("title":"t","durationSec":12.5})", saveNeeds},
      {"POST", "/api/recordings", saveUid + R"("title":")" + longText + R"(","durationSec":1})",
       invalid("The title must be at most 1000 characters.")},
      {"PATCH", "/api/recordings/" + uid, R"({"title":"   "})",
       invalid("The title must be a non-empty string of at most 1000 characters.")},
      {"PATCH", "/api/recordings/ABCDEF00-0000-4000-8000-000000000000", R"({"title":"x"})", kNoRecording},
      {"GET", "/api/stream/video/../../../etc/passwd", "", kNoRecording},
      {"GET", "/api/recordings?limit=1.5", "", invalid("The limit must be a whole number of at least 1.")},
      // The desktop sign-in needs no token; the one sent along changes nothing.
      {"POST", "/api/desktop/start", "[1,2]", notObject},
      {"POST", "/api/desktop/start", R"({"deviceName":")" + std::string(201, 'd') + "\"}",
       invalid("The request needs a deviceName of at most 200 characters.")},
      // Base64 or upper-case challenges are not the SHA-256 hex the app sends.
      {"POST", "/api/desktop/start", R"({"deviceName":"x","codeChallenge":")" + std::string(64, 'A') + "\"}",
       invalid("The codeChallenge must be 64 lower-case hexadecimal characters.")},
      {"POST", "/api/desktop/start", std::string(100000, ' '),
       {413, "payload_too_large", "The request body is too large."}},
      {"POST", "/api/desktop/token", R"({"requestId":5,"codeVerifier":"v"})",
       invalid("The request needs a requestId and a codeVerifier.")},
      {"POST", "/api/desktop/token", R"({"requestId":"nope","codeVerifier":"v"})",
       {404, "not_found", "There is no such sign-in request."}},
  };
  for (const auto& [method, path, body, answer] : cases) {
    SCOPED_TRACE(method + " " + path + " " + body.substr(0, 80));
    expectError(send(method, path, alice, body), answer);
  }
  const auto recordings = library(alice);
  ASSERT_EQ(recordings.size(), 1u);
  EXPECT_EQ(recordings[0]["title"], "Kept");
  EXPECT_EQ(recordings[0]["durationSec"], 1);
}

TEST_F(ApiTest, TicketsSavesRenamesAndTheLibraryNewestFirst) {
  const auto ticket = server.ticket(alice, "one");
  const std::string first = ticket["uid"];
  EXPECT_EQ(ticket["endpoint"], server.url("/tus/"));
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  EXPECT_GT(ticket["expire"].get<int64_t>(), now.count() + 86000) << "valid for a day";

  server.ticket(alice, "unsaved");
  const std::string second = server.ticket(alice, "three")["uid"];
  const auto saved = send("POST", "/api/recordings", alice,
                          nlohmann::json{{"uid", first}, {"title", "First take"}, {"durationSec", 13}}.dump());
  EXPECT_EQ(parseJson(saved->body), (nlohmann::json{{"ok", true}, {"shareUrl", server.url("/v/" + first)}}));
  server.save(alice, second, "  ", 4);  // a blank title keeps the name the recording was created with
  const auto renamed = send("PATCH", "/api/recordings/" + first, alice, R"({"title":"  New title "})");
  EXPECT_EQ(parseJson(renamed->body), (nlohmann::json{{"ok", true}}));

  const auto recordings = library(alice);
  ASSERT_EQ(recordings.size(), 2u);
  EXPECT_EQ(recordings[0]["id"], second);
  EXPECT_EQ(recordings[0]["title"], "three");
  auto entry = recordings[1];
  EXPECT_TRUE(entry["thumbnail"].get<std::string>().starts_with(server.url("/v/")));
  EXPECT_TRUE(entry["createdAt"].get<std::string>().ends_with("Z"));
  entry.erase("thumbnail");
  entry.erase("createdAt");
  EXPECT_EQ(entry, (nlohmann::json{{"id", first}, {"title", "New title"}, {"durationSec", 13}, {"views", 0},
                                   {"mine", true}, {"sharedWithTeam", false}, {"shareUrl", server.url("/v/" + first)}}));
  EXPECT_EQ(library(alice, 1).size(), 1u);

  // One user never sees, renames or uploads into another's recordings.
  const auto bob = server.signIn("bob@example.com");
  EXPECT_TRUE(library(bob).empty());
  for (const auto& [method, path, body] : std::vector<std::tuple<std::string, std::string, nlohmann::json>>{
           {"GET", "/api/stream/video/" + first, nullptr},
           {"PATCH", "/api/recordings/" + first, {{"title", "Bob's now"}}},
           {"POST", "/api/stream/upload-url", {{"uid", first}}},
           {"POST", "/api/recordings", {{"uid", first}, {"title", "mine"}, {"durationSec", 1}}}}) {
    expectError(send(method, path, bob, body.dump()), kNoRecording);
  }
  EXPECT_EQ(library(alice)[1]["title"], "New title");
}

TEST(ApiFlags, RecordingLimitAndLatestReleaseComeFromTheFlags) {
  TestServer server({"--recording-limit", "1", "--latest-version", "2.4.1", "--latest-download-url",
                     "https://example.com/t.deb", "--latest-page-url", "https://example.com/releases"});
  const auto user = server.signIn();
  const auto ticket = server.ticket(user);
  const auto ask = [&](const nlohmann::json& body) {
    return call(*server.client(), "POST", "/api/stream/upload-url", bearer(user.accessToken), body.dump());
  };
  expectError(ask({{"name", "second"}}),
              {403, "limit_reached",
               "You've reached the number of recordings your Tolvane account can hold. Delete some to upload more."});
  // Fresh signatures for the recording it already has are still given, and the limit
  // counts the account's own recordings only.
  EXPECT_EQ(ask({{"uid", ticket["uid"]}})->status, 200);
  EXPECT_NO_THROW(server.ticket(server.signIn("other@example.com")));
  EXPECT_EQ(parseJson(server.client()->Get("/api/linux/latest")->body),
            (nlohmann::json{{"version", "2.4.1"}, {"available", true}, {"downloadUrl", "https://example.com/t.deb"},
                            {"pageUrl", "https://example.com/releases"}}));
}

}  // namespace
}  // namespace tolvane::testing
