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

using Strings = std::vector<std::string>;

class TusTest : public ::testing::Test {
 protected:
  std::string offsetOf(const std::string& path) { return http->Head(path, headers)->get_header_value("Upload-Offset"); }

  TestServer server{{"--max-upload-size", "1000000000"}};
  std::unique_ptr<httplib::Client> http = server.client();
  SignedIn user = server.signIn();
  httplib::Headers headers = tusHeaders(server.ticket(user, "Tus"));
  std::string location = server.tusCreate(headers, "10")->get_header_value("Location");
};

TEST_F(TusTest, OptionsCreationAndHeadAnswerWithTheTusHeaders) {
  EXPECT_EQ(answerOf(http->Options("/tus/"), {"Tus-Version", "Tus-Extension", "Tus-Max-Size"}),
            (Strings{"204", "1.0.0", "creation", "1000000000"}));
  const std::string metadata = "filetype dmlkZW8vbXA0,title VGVzdA==";
  const auto other = tusHeaders(server.ticket(user));  // another video: this one's would abandon `location`
  const auto created = server.tusCreate(other, "5000", metadata);
  EXPECT_EQ(answerOf(created, {"Tus-Resumable", "Upload-Offset"}), (Strings{"201", "1.0.0", "0"}));
  const std::string movieAt = created->get_header_value("Location");
  EXPECT_TRUE(movieAt.starts_with("/tus/")) << "relative to the endpoint's host";
  EXPECT_EQ(answerOf(http->Head(movieAt, other), {"Upload-Offset", "Upload-Length", "Upload-Metadata", "Cache-Control"}),
            (Strings{"200", "0", "5000", metadata, "no-store"}));
  EXPECT_EQ(answerOf(server.patchUpload(location, headers, "0", "12345"), {"Upload-Offset"}), (Strings{"204", "5"}));
}

TEST_F(TusTest, RefusedCreationsAndPatchesChangeNothing) {
  const std::string length = "The upload needs an Upload-Length of zero or more bytes.";
  const std::vector<std::tuple<std::optional<std::string>, std::string, int, std::string>> creations{
      {std::nullopt, "", 400, length},
      {"-1", "", 400, length},
      {"99999999999999999999999", "", 400, length},
      {"1000000001", "", 413, "The upload is larger than this server accepts."},
      {"10", "title not*base64", 400, "The Upload-Metadata header is malformed."}};
  for (const auto& [uploadLength, uploadMetadata, status, message] : creations) {
    SCOPED_TRACE(uploadLength.value_or("(none)") + " " + uploadMetadata);
    const auto response = server.tusCreate(headers, uploadLength, uploadMetadata);
    expectTusError(response, status, message);
    EXPECT_EQ(response->get_header_value("Tus-Max-Size"), status == 413 ? "1000000000" : "");
  }
  // (Another video's upload: a second upload of the same video would abandon the first.)
  EXPECT_EQ(server.tusCreate(tusHeaders(server.ticket(user)), "10", "filetype")->status, 201) << "a key alone is allowed";
  auto deferred = headers;
  deferred.emplace("Upload-Defer-Length", "1");
  expectTusError(server.tusCreate(deferred, "10"), 400, "Deferred upload lengths are not supported.");

  ASSERT_EQ(server.patchUpload(location, headers, "0", "12345")->status, 204);
  const std::vector<std::tuple<std::string, std::string, std::string, int, std::string>> patches{
      {"7", "abc", tusBodyType, 409, "The Upload-Offset doesn't match the 5 bytes this server holds."},
      {"5", "67890", "application/octet-stream", 415, "PATCH bodies must be sent as application/offset+octet-stream."},
      {"5", "678901", tusBodyType, 400, "The request body goes past the upload's length."},
      {"zero", "67890", tusBodyType, 400, "The request needs an Upload-Offset of zero or more bytes."}};
  for (const auto& [uploadOffset, bytes, contentType, status, message] : patches) {
    SCOPED_TRACE(uploadOffset + " " + bytes + " " + contentType);
    const auto response = server.patchUpload(location, headers, uploadOffset, bytes, contentType);
    expectTusError(response, status, message);
    EXPECT_EQ(response->get_header_value("Upload-Offset"), status == 409 ? "5" : "");
  }
  const auto get = http->Get(location, headers);
  expectTusError(get, 405, "Use HEAD or PATCH on an upload.");
  EXPECT_EQ(get->get_header_value("Allow"), "HEAD, PATCH, OPTIONS");
  EXPECT_EQ(offsetOf(location), "5");
  // The connection stays usable after refusals that left a body unread.
  EXPECT_EQ(server.patchUpload(location, headers, "5", "67890")->status, 204);
}

TEST_F(TusTest, EveryRequestChecksTheTicketHeaders) {
  // A header to drop (no value) or to replace, and the status that follows.
  std::vector<std::tuple<std::string, std::optional<std::string>, int>> cases{
      {"Tus-Resumable", std::nullopt, 412}, {"Tus-Resumable", "0.2.2", 412}, {"AuthorizationExpire", "soon", 403}};
  for (const char* name : {"AuthorizationSignature", "AuthorizationExpire", "LibraryId", "VideoId"}) {
    std::string flipped = headers.find(name)->second;
    flipped.back() = flipped.back() == '1' ? '2' : '1';
    cases.emplace_back(name, std::nullopt, 401);
    cases.emplace_back(name, flipped, 403);
  }
  for (const auto& [name, value, status] : cases) {
    SCOPED_TRACE(name + ": " + value.value_or("(none)"));
    auto changed = headers;
    changed.erase(name);
    if (value) changed.emplace(name, *value);
    EXPECT_EQ(answerOf(http->Head(location, changed), {"Tus-Version"}),
              (Strings{std::to_string(status), status == 412 ? "1.0.0" : ""}));
    EXPECT_EQ(server.tusCreate(changed, "10")->status, status);
    expectTusError(server.patchUpload(location, changed, "0", "x"), status,
                   status == 412   ? "This server speaks tus 1.0.0; send \"Tus-Resumable: 1.0.0\"."
                   : status == 401 ? "The upload request lacks the " + name + " header."
                                   : "The upload signature is not valid.");
  }
  // A valid ticket for another video does not open this upload.
  const auto otherVideo = tusHeaders(server.ticket(user, "Other"));
  EXPECT_EQ(http->Head(location, otherVideo)->status, 403);
  expectTusError(server.patchUpload(location, otherVideo, "0", "x"), 403, "This upload belongs to another video.");
  EXPECT_EQ(offsetOf(location), "0") << "nothing was written";
  for (const char* path : {"/tus/0123456789abcdef0123456789abcdef", "/tus/%2e%2e%2fsecret"}) {
    EXPECT_EQ(http->Head(path, headers)->status, 404) << path;
    expectTusError(server.patchUpload(path, headers, "0", "x"), 404, "There is no such upload.");
  }
}

TEST_F(TusTest, StorageFailuresAnswer500OneWriterAtATimeAndAConnectionLostMidBodyKeepsWhatArrived) {
  std::filesystem::remove(server.uploadFile(location));
  expectTusError(server.patchUpload(location, headers, "0", "12345"), 500, "The server couldn't store the upload.");
  // (A new upload of the same video abandons `location`.)
  const auto big = server.tusCreate(headers, "100000")->get_header_value("Location");
  std::string request = "PATCH " + big + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
  request += "Upload-Offset: 0\r\nContent-Type: application/offset+octet-stream\r\nContent-Length: 100000\r\n\r\n";
  request += std::string(40000, 'k');
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(uint16_t(server.port())),
                      .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(send(fd, request.data(), request.size(), 0), ssize_t(request.size()));
  // Probes with a wrong offset until the answer settles on `message`: the server takes up
  // and lets go of the cut-off request on its own time.
  const auto settlesOn = [&](const std::string& message) {
    auto probe = server.patchUpload(big, headers, "1", "x");
    for (int attempt = 0; attempt < 200 && probe && probe->body != message + "\n"; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      probe = server.patchUpload(big, headers, "1", "x");
    }
    expectTusError(probe, 409, message);
  };
  // While that request waits for the rest of its body, it alone writes the upload.
  settlesOn("Another request is writing this upload right now.");
  close(fd);
  settlesOn("The Upload-Offset doesn't match the 40000 bytes this server holds.");
  EXPECT_EQ(server.patchUpload(big, headers, "40000", std::string(60000, 'k'))->status, 204);

  std::filesystem::remove_all(server.dataDirectory() / "uploads");
  expectError(server.tusCreate(headers, "10"),
              {500, "internal_error", "Tolvane's server ran into a problem. Try again later."});
}

TEST(TusExpiry, ExpiredSignaturesAre403AndExpiredUploads410EvenAfterARestart) {
  TestServer server({"--ticket-ttl", "2", "--upload-ttl", "1"});
  const auto user = server.signIn();
  const auto ticket = server.ticket(user);
  const std::string location = server.createUpload(ticket, 10);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  EXPECT_EQ(server.client()->Head(location, tusHeaders(ticket))->status, 403);
  expectTusError(server.patchUpload(location, tusHeaders(ticket), "0", "x"), 403, "The upload signature has expired.");
  // A restart clears the expired upload's file away; the upload still answers 410.
  for (bool restarted : {false, true}) {
    if (restarted) server.restart();
    EXPECT_EQ(std::filesystem::exists(server.uploadFile(location)), !restarted);
    const auto fresh = call(*server.client(), "POST", "/api/stream/upload-url", bearer(user.accessToken),
                            nlohmann::json{{"uid", ticket["uid"]}}.dump());
    const auto freshHeaders = tusHeaders(parseJson(fresh->body));
    EXPECT_EQ(server.client()->Head(location, freshHeaders)->status, 410);
    expectTusError(server.patchUpload(location, freshHeaders, "0", "x"), 410, "This upload has expired.");
  }
}

}  // namespace
}  // namespace tolvane::testing
