// The tus endpoint as the app's uploader drives it: creation, HEAD, PATCH, OPTIONS and
// the ticket headers on every request.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "tests/server/server_fixture.h"

namespace tolvane::testing {
namespace {

class TusTest : public ::testing::Test {
 protected:
  httplib::Result create(int64_t length, httplib::Headers extra = {}) {
    auto headers = tusHeaders(ticket);
    headers.emplace("Upload-Length", std::to_string(length));
    headers.emplace("Upload-Metadata", "filetype dmlkZW8vbXA0,title VGVzdA==");
    for (auto& [name, value] : extra) {
      headers.erase(name);
      headers.emplace(name, value);
    }
    return http->Post("/tus/", headers, "", "application/offset+octet-stream");
  }
  std::string createdLocation(int64_t length) {
    const auto response = create(length);
    EXPECT_EQ(response->status, 201);
    return response->get_header_value("Location");
  }
  httplib::Result head(const std::string& location) { return http->Head(location.c_str(), tusHeaders(ticket)); }
  httplib::Result patch(const std::string& location, int64_t offset, const std::string& bytes) {
    auto headers = tusHeaders(ticket);
    headers.emplace("Upload-Offset", std::to_string(offset));
    return http->Patch(location.c_str(), headers, bytes, "application/offset+octet-stream");
  }

  TestServer server{{"--max-upload-size", "1000000000"}};
  std::unique_ptr<httplib::Client> http = server.client();
  SignedIn user = server.signIn();
  nlohmann::json ticket = server.ticket(user, "Tus");
};

TEST_F(TusTest, OptionsDescribesTheServer) {
  const auto response = http->Options("/tus/");
  ASSERT_EQ(response->status, 204);
  EXPECT_EQ(response->get_header_value("Tus-Version"), "1.0.0");
  EXPECT_EQ(response->get_header_value("Tus-Resumable"), "1.0.0");
  EXPECT_EQ(response->get_header_value("Tus-Extension"), "creation");
  EXPECT_EQ(response->get_header_value("Tus-Max-Size"), "1000000000");
}

TEST_F(TusTest, CreateHeadAndPatchInChunksUntilComplete) {
  const std::string movie = sampleMovie();
  const auto created = create(int64_t(movie.size()));
  ASSERT_EQ(created->status, 201);
  const std::string location = created->get_header_value("Location");
  EXPECT_TRUE(location.starts_with("/tus/")) << "relative to the endpoint's host";
  EXPECT_EQ(created->get_header_value("Tus-Resumable"), "1.0.0");

  auto state = head(location);
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
  EXPECT_EQ(head(location)->get_header_value("Upload-Offset"), std::to_string(movie.size()));
  const auto status = http->Get(("/api/stream/video/" + ticket["uid"].get<std::string>()).c_str(),
                                bearer(user.accessToken));
  EXPECT_EQ(parseJson(status->body)["readyToStream"], true);
}

TEST_F(TusTest, AWrongOffsetIs409AndChangesNothing) {
  const auto location = createdLocation(10);
  ASSERT_EQ(patch(location, 0, "12345")->status, 204);
  const auto behind = patch(location, 0, "abcde");
  EXPECT_EQ(behind->status, 409);
  EXPECT_EQ(behind->get_header_value("Upload-Offset"), "5");
  EXPECT_EQ(patch(location, 7, "abc")->status, 409);
  EXPECT_EQ(head(location)->get_header_value("Upload-Offset"), "5");
  EXPECT_EQ(patch(location, 5, "67890")->status, 204);
}

TEST_F(TusTest, EveryRequestChecksTheTicketHeaders) {
  const auto location = createdLocation(10);
  // Without "Tus-Resumable: 1.0.0" the server names the version it speaks.
  for (const char* version : {"", "0.2.2"}) {
    auto headers = tusHeaders(ticket);
    headers.erase("Tus-Resumable");
    if (*version != '\0') headers.emplace("Tus-Resumable", version);
    const auto response = http->Head(location.c_str(), headers);
    EXPECT_EQ(response->status, 412);
    EXPECT_EQ(response->get_header_value("Tus-Version"), "1.0.0");
  }
  for (const char* missing : {"AuthorizationSignature", "AuthorizationExpire", "LibraryId", "VideoId"}) {
    auto headers = tusHeaders(ticket);
    headers.erase(missing);
    EXPECT_EQ(http->Head(location.c_str(), headers)->status, 401) << missing;
    headers.emplace("Upload-Length", "10");
    EXPECT_EQ(http->Post("/tus/", headers, "", "application/offset+octet-stream")->status, 401) << missing;
  }
  for (const char* header : {"AuthorizationSignature", "AuthorizationExpire", "LibraryId", "VideoId"}) {
    auto headers = tusHeaders(ticket);
    std::string value = headers.find(header)->second;
    value.back() = value.back() == '1' ? '2' : '1';
    headers.erase(header);
    headers.emplace(header, value);
    EXPECT_EQ(http->Head(location.c_str(), headers)->status, 403) << header;
    headers.emplace("Upload-Offset", "0");
    EXPECT_EQ(http->Patch(location.c_str(), headers, "x", "application/offset+octet-stream")->status, 403) << header;
  }
  auto headers = tusHeaders(ticket);
  headers.erase("AuthorizationExpire");
  headers.emplace("AuthorizationExpire", "soon");
  EXPECT_EQ(http->Head(location.c_str(), headers)->status, 403);
  EXPECT_EQ(head(location)->get_header_value("Upload-Offset"), "0") << "nothing was written";
}

TEST_F(TusTest, CreationChecksTheLengthAndMetadata) {
  for (const char* length : {"-1", "ten", "1e3", "", "99999999999999999999999"}) {
    EXPECT_EQ(create(0, {{"Upload-Length", length}})->status, 400) << length;
  }
  auto headers = tusHeaders(ticket);
  EXPECT_EQ(http->Post("/tus/", headers, "", "application/offset+octet-stream")->status, 400) << "no Upload-Length";
  const auto huge = create(0, {{"Upload-Length", "9223372036854775807"}});
  EXPECT_EQ(huge->status, 413);
  EXPECT_EQ(create(1000000001)->status, 413);
  EXPECT_EQ(create(10, {{"Upload-Metadata", "title not*base64"}})->status, 400);
  EXPECT_EQ(create(10, {{"Upload-Metadata", ",title VGVzdA=="}})->status, 400);
  EXPECT_EQ(create(10, {{"Upload-Metadata", "filetype"}})->status, 201) << "a key alone is allowed";
  EXPECT_EQ(create(10, {{"Upload-Defer-Length", "1"}})->status, 400);
}

TEST_F(TusTest, PatchNeedsTheOffsetStreamTypeAndAnOffset) {
  const auto location = createdLocation(10);
  auto headers = tusHeaders(ticket);
  headers.emplace("Upload-Offset", "0");
  EXPECT_EQ(http->Patch(location.c_str(), headers, "12345", "application/octet-stream")->status, 415);
  auto noOffset = tusHeaders(ticket);
  EXPECT_EQ(http->Patch(location.c_str(), noOffset, "12345", "application/offset+octet-stream")->status, 400);
  noOffset.emplace("Upload-Offset", "zero");
  EXPECT_EQ(http->Patch(location.c_str(), noOffset, "12345", "application/offset+octet-stream")->status, 400);
  EXPECT_EQ(patch(location, 0, "12345678901")->status, 400) << "past the upload's length";
  EXPECT_EQ(head(location)->get_header_value("Upload-Offset"), "0");
  // The connection stays usable after refusals that left a body unread.
  EXPECT_EQ(patch(location, 0, "1234567890")->status, 204);
}

TEST_F(TusTest, UnknownUploadsAre404AndTraversalFindsNothing) {
  for (const char* path : {"/tus/0123456789abcdef0123456789abcdef", "/tus/../../etc/passwd", "/tus/%2e%2e%2fsecret",
                           "/tus/x"}) {
    EXPECT_EQ(head(path)->status, 404) << path;
    EXPECT_EQ(patch(path, 0, "x")->status, 404) << path;
  }
  EXPECT_EQ(http->Get(createdLocation(1).c_str(), tusHeaders(ticket))->status, 405);
}

TEST_F(TusTest, ASignatureForAnotherVideoCannotTouchThisUpload) {
  const auto location = createdLocation(10);
  const auto otherTicket = server.ticket(user, "Other");
  EXPECT_EQ(http->Head(location.c_str(), tusHeaders(otherTicket))->status, 403);
}

TEST_F(TusTest, AConnectionLostMidBodyKeepsWhatArrived) {
  const auto location = createdLocation(100000);
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
    offset = head(location)->get_header_value("Upload-Offset");
  }
  EXPECT_EQ(offset, "40000");
  EXPECT_EQ(patch(location, 40000, std::string(60000, 'k'))->status, 204);
}

TEST(TusExpiry, ExpiredSignaturesAre403AndExpiredUploads410) {
  TestServer server({"--ticket-ttl", "2", "--upload-ttl", "1"});
  const auto user = server.signIn();
  auto http = server.client();
  const auto ticket = server.ticket(user);
  auto headers = tusHeaders(ticket);
  headers.emplace("Upload-Length", "10");
  const auto created = http->Post("/tus/", headers, "", "application/offset+octet-stream");
  ASSERT_EQ(created->status, 201);
  const std::string location = created->get_header_value("Location");
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));

  EXPECT_EQ(http->Head(location.c_str(), tusHeaders(ticket))->status, 403);
  auto staleHeaders = tusHeaders(ticket);
  staleHeaders.emplace("Upload-Offset", "0");
  const auto stale = http->Patch(location.c_str(), staleHeaders, "x", "application/offset+octet-stream");
  EXPECT_EQ(stale->status, 403);
  EXPECT_EQ(stale->body, "The upload signature has expired.\n");

  const auto fresh = http->Post("/api/stream/upload-url", bearer(user.accessToken),
                                nlohmann::json{{"uid", ticket["uid"]}}.dump(), "application/json");
  EXPECT_EQ(http->Head(location.c_str(), tusHeaders(parseJson(fresh->body)))->status, 410);

  // A restart clears the expired upload's file away; the upload still answers 410.
  const auto file = server.dataDirectory() / "data" / "uploads" / (location.substr(location.rfind('/') + 1) + ".bin");
  EXPECT_TRUE(std::filesystem::exists(file));
  server.restart();
  http = server.client();
  EXPECT_FALSE(std::filesystem::exists(file));
  const auto again = http->Post("/api/stream/upload-url", bearer(user.accessToken),
                                nlohmann::json{{"uid", ticket["uid"]}}.dump(), "application/json");
  EXPECT_EQ(http->Head(location.c_str(), tusHeaders(parseJson(again->body)))->status, 410);
}

TEST(TusLargeUpload, ABodyLargerThanAnyBufferStreamsToDiskIntact) {
  TestServer server;
  const auto user = server.signIn();
  const auto ticket = server.ticket(user);
  std::string bytes(48 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 2654435761u) >> 13);
  const std::string location = server.upload(ticket, bytes);
  const auto id = location.substr(location.rfind('/') + 1);
  EXPECT_EQ(readFile(server.dataDirectory() / "data" / "uploads" / (id + ".bin")), bytes);
}

}  // namespace
}  // namespace tolvane::testing
