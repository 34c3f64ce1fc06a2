// The server keeps its data across restarts and serves many clients at once.
#include <gtest/gtest.h>

#include <thread>

#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

TEST(Durability, AccountsTokensUploadsAndLibrarySurviveARestart) {
  TestServer server;
  const auto user = server.signIn("keep@example.com");
  const auto ticket = server.ticket(user, "Kept");
  const auto headers = tusHeaders(ticket);
  const std::string movie = sampleMovie(), location = server.createUpload(ticket, int64_t(movie.size()));
  ASSERT_EQ(server.patchUpload(location, headers, "0", movie.substr(0, 4000))->status, 204);

  server.restart();
  EXPECT_EQ(server.client()->Get("/api/me", bearer(user.accessToken))->status, 200) << "access tokens stay valid";
  EXPECT_EQ(server.client()->Head(location, headers)->get_header_value("Upload-Offset"), "4000");
  ASSERT_EQ(server.patchUpload(location, headers, "4000", movie.substr(4000))->status, 204);
  server.save(user, ticket["uid"], "Kept", 2);

  server.restart();
  auto http = server.client();
  const auto refreshed = refresh(*http, user.refreshToken);
  ASSERT_EQ(refreshed->status, 200);
  const auto access = bearer(parseJson(refreshed->body)["access_token"]);
  const auto recordings = parseJson(http->Get("/api/recordings?limit=10", access)->body)["recordings"];
  ASSERT_EQ(recordings.size(), 1u);
  EXPECT_EQ(recordings[0]["title"], "Kept");
  // The finished upload is probed as a playable movie of two seconds.
  auto status = parseJson(http->Get("/api/stream/video/" + ticket["uid"].get<std::string>(), access)->body);
  EXPECT_NEAR(status["durationSec"].get<double>(), 2.0, 0.1);
  status.erase("durationSec");
  EXPECT_EQ(status, (nlohmann::json{{"uid", ticket["uid"]}, {"name", "Kept"}, {"readyToStream", true}}));
}

TEST(Durability, ASecondServerOnTheSamePortRefusesToStart) {
  TestServer server;
  TempDir other;
  const std::string address = "127.0.0.1:" + std::to_string(server.port());
  ChildProcess second({builtProgram("server/tolvane-server").string(), "--listen", address, "--data",
                       (other / "data").string()},
                      {}, other / "server.log");
  EXPECT_EQ(second.wait(std::chrono::seconds(20)), 1) << "it must not share the port with the first";
  EXPECT_NE(readFile(other / "server.log").find("Couldn't listen on " + address + "; is another server using it?"),
            std::string::npos);
  EXPECT_EQ(server.client()->Get("/")->status, 200) << "the first server keeps serving";
}

TEST(Concurrency, ManyClientsSignInUploadAndListAtOnce) {
  TestServer server;
  std::vector<std::string> failures(24);
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < failures.size(); ++i) {
      threads.emplace_back([&, i] {
        try {
          const std::string email = "user" + std::to_string(i) + "@example.com";
          const auto user = server.signIn(email);
          const auto ticket = server.ticket(user);
          server.upload(ticket, std::string(200000 + i, char('a' + i)));
          server.save(user, ticket["uid"], email, int64_t(i));
          const auto listed = parseJson(server.client()->Get("/api/recordings", bearer(user.accessToken))->body);
          if (listed["recordings"].size() != 1 || listed["recordings"][0]["title"] != email) failures[i] = listed.dump();
        } catch (const std::exception& error) {
          failures[i] = error.what();
        }
      });
    }
  }
  EXPECT_EQ(failures, std::vector<std::string>(failures.size())) << "one entry per client";
}

}  // namespace
}  // namespace tolvane::testing
