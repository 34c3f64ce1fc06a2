// The tus endpoint as the app's uploader drives it: creation, HEAD, PATCH, OPTIONS and
// the ticket headers on every request.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

class TusTest : public ::testing::Test {
 protected:
  httplib::Result create(const std::string& length, const std::string& metadata = "filetype dmlkZW8vbXA0") {
    auto headers = tusHeaders(ticket);
    headers.emplace("Upload-Length", length);
    headers.emplace("Upload-Metadata", metadata);
    return http->Post("/tus/", headers, "", "application/offset+octet-stream");
  }
  httplib::Result head(const std::string& location) { return http->Head(location.c_str(), tusHeaders(ticket)); }
  httplib::Result patch(const std::string& location, int64_t offset, const std::string& bytes,
                        const std::string& contentType = "application/offset+octet-stream") {
    auto headers = tusHeaders(ticket);
    headers.emplace("Upload-Offset", std::to_string(offset));
    return http->Patch(location.c_str(), headers, bytes, contentType);
  }
  std::string offsetOf(const std::string& location) { return head(location)->get_header_value("Upload-Offset"); }

  TestServer server{{"--max-upload-size", "1000000000"}};
  std::unique_ptr<httplib::Client> http = server.client();
  SignedIn user = server.signIn();
  nlohmann::json ticket = server.ticket(user, "Tus");
};

TEST_F(TusTest, OptionsThenCreateHeadAndPatchInChunksUntilComplete) {
  const auto options = http->Options("/tus/");
  ASSERT_EQ(options->status, 204);
  EXPECT_EQ(options->get_header_value("Tus-Version"), "1.0.0");
  EXPECT_EQ(options->get_header_value("Tus-Resumable"), "1.0.0");
  EXPECT_EQ(options->get_header_value("Tus-Extension"), "creation");
  EXPECT_EQ(options->get_header_value("Tus-Max-Size"), "1000000000");

  const std::string movie = sampleMovie();
  const auto created = create(std::to_string(movie.size()), "filetype dmlkZW8vbXA0,title VGVzdA==");
  ASSERT_EQ(created->status, 201);
  const std::string location = created->get_header_value("Location");
  EXPECT_TRUE(location.starts_with("/tus/")) << "relative to the endpoint's host";
  EXPECT_EQ(created->get_header_value("Tus-Resumable"), "1.0.0");

  const auto state = head(location);
  ASSERT_EQ(state->status, 200);
  EXPECT_EQ(state->get_header_value("Upload-Offset"), "0");
  EXPECT_EQ(state->get_header_value("Upload-Length"), std::to_string(movie.size()));
  EXPECT_EQ(state->get_header_value("Cache-Control"), "no-store");

  const std::size_t third = movie.size() / 3;
  std::size_t offset = 0;
  for (std::size_t size : {third, third, movie.size() - 2 * third}) {
    const auto response = patch(location, int64_t(offset), movie.substr(offset, size));
    ASSERT_EQ(response->status, 204) << response->body;
    offset += size;
    EXPECT_EQ(response->get_header_value("Upload-Offset"), std::to_string(offset));
  }
  EXPECT_EQ(offsetOf(location), std::to_string(movie.size()));
  const auto status = http->Get(("/api/stream/video/" + ticket["uid"].get<std::string>()).c_str(),
                                bearer(user.accessToken));
  EXPECT_EQ(parseJson(status->body)["readyToStream"], true);
}

TEST_F(TusTest, CreationChecksTheLengthAndMetadata) {
  const std::vector<std::tuple<std::string, std::string, int>> cases{
      {"-1", "", 400}, {"ten", "", 400}, {"1e3", "", 400}, {"", "", 400}, {"99999999999999999999999", "", 400},
      {"9223372036854775807", "", 413}, {"1000000001", "", 413}, {"10", "title not*base64", 400},
      {"10", ",title VGVzdA==", 400}, {"10", "filetype", 201} /* a key alone is allowed */};
  for (const auto& [length, metadata, status] : cases) {
    EXPECT_EQ(create(length, metadata)->status, status) << length << " " << metadata;
  }
  auto headers = tusHeaders(ticket);
  EXPECT_EQ(http->Post("/tus/", headers, "", "application/offset+octet-stream")->status, 400) << "no Upload-Length";
  headers.emplace("Upload-Length", "10");
  headers.emplace("Upload-Defer-Length", "1");
  EXPECT_EQ(http->Post("/tus/", headers, "", "application/offset+octet-stream")->status, 400);
}

TEST_F(TusTest, RefusedPatchesChangeNothing) {
  const auto location = create("10")->get_header_value("Location");
  ASSERT_EQ(patch(location, 0, "12345")->status, 204);
  const auto behind = patch(location, 0, "abcde");
  EXPECT_EQ(behind->status, 409);
  EXPECT_EQ(behind->get_header_value("Upload-Offset"), "5");
  EXPECT_EQ(patch(location, 7, "abc")->status, 409);
  EXPECT_EQ(patch(location, 5, "67890", "application/octet-stream")->status, 415);
  EXPECT_EQ(patch(location, 5, "678901")->status, 400) << "past the upload's length";
  for (const char* offset : {"", "zero"}) {
    auto headers = tusHeaders(ticket);
    if (*offset != '\0') headers.emplace("Upload-Offset", offset);
    EXPECT_EQ(http->Patch(location.c_str(), headers, "67890", "application/offset+octet-stream")->status, 400) << offset;
  }
  EXPECT_EQ(http->Get(location.c_str(), tusHeaders(ticket))->status, 405);
  EXPECT_EQ(offsetOf(location), "5");
  // The connection stays usable after refusals that left a body unread.
  EXPECT_EQ(patch(location, 5, "67890")->status, 204);
}

TEST_F(TusTest, EveryRequestChecksTheTicketHeaders) {
  const auto location = create("10")->get_header_value("Location");
  const auto flipped = [&](const std::string& name) {
    std::string value = tusHeaders(ticket).find(name)->second;
    value.back() = value.back() == '1' ? '2' : '1';
    return value;
  };
  // A header to drop (no value) or to replace, and the status that follows.
  const std::vector<std::tuple<std::string, std::optional<std::string>, int>> cases{
      {"Tus-Resumable", std::nullopt, 412},
      {"Tus-Resumable", "0.2.2", 412},
      {"AuthorizationSignature", std::nullopt, 401},
      {"AuthorizationExpire", std::nullopt, 401},
      {"LibraryId", std::nullopt, 401},
      {"VideoId", std::nullopt, 401},
      {"AuthorizationSignature", flipped("AuthorizationSignature"), 403},
      {"AuthorizationExpire", flipped("AuthorizationExpire"), 403},
      {"LibraryId", flipped("LibraryId"), 403},
      {"VideoId", flipped("VideoId"), 403},
      {"AuthorizationExpire", "soon", 403},
  };
  for (const auto& [name, value, status] : cases) {
    const std::string what = name + ": " + value.value_or("(none)");
    auto headers = tusHeaders(ticket);
    headers.erase(name);
    if (value) headers.emplace(name, *value);
    const auto state = http->Head(location.c_str(), headers);
    EXPECT_EQ(state->status, status) << what;
    if (status == 412) {
      EXPECT_EQ(state->get_header_value("Tus-Version"), "1.0.0") << what;
    }
    if (status == 401) {
      auto creation = headers;
      creation.emplace("Upload-Length", "10");
      EXPECT_EQ(http->Post("/tus/", creation, "", "application/offset+octet-stream")->status, 401) << what;
    }
    headers.emplace("Upload-Offset", "0");
    EXPECT_EQ(http->Patch(location.c_str(), headers, "x", "application/offset+octet-stream")->status, status) << what;
  }
  // A valid ticket for another video does not open this upload.
  const auto otherVideo = tusHeaders(server.ticket(user, "Other"));
  EXPECT_EQ(http->Head(location.c_str(), otherVideo)->status, 403);
  EXPECT_EQ(offsetOf(location), "0") << "nothing was written";
  for (const char* path : {"/tus/0123456789abcdef0123456789abcdef", "/tus/../../etc/passwd", "/tus/%2e%2e%2fsecret",
                           "/tus/x"}) {
    EXPECT_EQ(head(path)->status, 404) << path;
    EXPECT_EQ(patch(path, 0, "x")->status, 404) << path;
  }
}

TEST_F(TusTest, AConnectionLostMidBodyKeepsWhatArrived) {
  const auto location = create("100000")->get_header_value("Location");
  std::string request = "PATCH " + location + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  for (const auto& [name, value] : tusHeaders(ticket)) request += name + ": " + value + "\r\n";
  request += "Upload-Offset: 0\r\nContent-Type: application/offset+octet-stream\r\nContent-Length: 100000\r\n\r\n";
  request += std::string(40000, 'k');

  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(server.port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(send(fd, request.data(), request.size(), 0), ssize_t(request.size()));
  close(fd);

  // The server notices the closed connection on its own time; wait for it to settle.
  std::string offset;
  for (int attempt = 0; attempt < 200 && offset != "40000"; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    offset = offsetOf(location);
  }
  EXPECT_EQ(offset, "40000");
  EXPECT_EQ(patch(location, 40000, std::string(60000, 'k'))->status, 204);
}

TEST(TusExpiry, ExpiredSignaturesAre403AndExpiredUploads410EvenAfterARestart) {
  TestServer server({"--ticket-ttl", "2", "--upload-ttl", "1"});
  const auto user = server.signIn();
  const auto ticket = server.ticket(user);
  const std::string location = server.createUpload(ticket, 10);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));

  EXPECT_EQ(server.client()->Head(location.c_str(), tusHeaders(ticket))->status, 403);
  const auto stale = server.patchUpload(location, ticket, 0, "x");
  EXPECT_EQ(stale->status, 403);
  EXPECT_EQ(stale->body, "The upload signature has expired.\n");

  // A restart clears the expired upload's file away; the upload still answers 410.
  const auto file = server.dataDirectory() / "data" / "uploads" / (location.substr(location.rfind('/') + 1) + ".bin");
  EXPECT_TRUE(std::filesystem::exists(file));
  for (bool restarted : {false, true}) {
    if (restarted) server.restart();
    EXPECT_EQ(std::filesystem::exists(file), !restarted);
    auto http = server.client();
    const auto fresh = http->Post("/api/stream/upload-url", bearer(user.accessToken),
                                  nlohmann::json{{"uid", ticket["uid"]}}.dump(), "application/json");
    EXPECT_EQ(http->Head(location.c_str(), tusHeaders(parseJson(fresh->body)))->status, 410);
  }
}

TEST(TusLargeUpload, ABodyLargerThanAnyBufferStreamsToDiskIntact) {
  TestServer server;
  const auto ticket = server.ticket(server.signIn());
  std::string bytes(48 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 2654435761u) >> 13);
  const std::string location = server.upload(ticket, bytes);
  const auto id = location.substr(location.rfind('/') + 1);
  EXPECT_EQ(readFile(server.dataDirectory() / "data" / "uploads" / (id + ".bin")), bytes);
}

}  // namespace
}  // namespace tolvane::testing
