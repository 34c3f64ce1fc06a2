#include "tests/server/server_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "server/server_crypto.h"

namespace tolvane::testing {

TestServer::TestServer(std::vector<std::string> extraFlags) : port_(freeLoopbackPort()), flags_(std::move(extraFlags)) {
  start();
}

TestServer::~TestServer() { stop(); }

void TestServer::start() {
  std::vector<std::string> argv{builtProgram("server/tolvane-server").string(), "--listen",
                                "127.0.0.1:" + std::to_string(port_), "--data", (data_.path() / "data").string()};
  argv.insert(argv.end(), flags_.begin(), flags_.end());
  process_ = std::make_unique<ChildProcess>(argv, std::map<std::string, std::string>{},
                                            data_.path() / "server.log");
  if (!waitForPort(port_, std::chrono::seconds(20))) {
    throw std::runtime_error("tolvane-server did not start: " + readFile(data_.path() / "server.log"));
  }
}

void TestServer::stop() {
  if (process_) process_->stop();
  process_.reset();
}

void TestServer::restart() {
  stop();
  start();
}

bool TestServer::autoApproves() const {
  return std::find(flags_.begin(), flags_.end(), "--auto-approve") != flags_.end();
}

std::string TestServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::unique_ptr<httplib::Client> TestServer::client() const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", port_);
  client->set_read_timeout(60);
  return client;
}

std::string TestServer::webSession(const std::string& email) {
  auto http = client();
  const auto response = http->Post("/signin", "email=" + email + "&next=/library", "application/x-www-form-urlencoded");
  if (!response || response->status != 303) throw std::runtime_error("web sign-in failed");
  const std::string setCookie = response->get_header_value("Set-Cookie");
  return setCookie.substr(0, setCookie.find(';'));
}

SignedIn TestServer::signIn(const std::string& email) {
  auto http = client();
  const std::string verifier = server::crypto::randomHex(32);
  const auto started = http->Post("/api/desktop/start",
                                  nlohmann::json{{"deviceName", "test box"}, {"codeChallenge", sha256Hex(verifier)}}.dump(),
                                  "application/json");
  if (!started || started->status != 200) throw std::runtime_error("desktop sign-in did not start");
  const std::string requestId = parseJson(started->body)["requestId"];
  if (!autoApproves()) {
    // The user approves on the connect page, signed in to the web site with a cookie.
    const auto approved = http->Post("/connect", {{"Cookie", webSession(email)}}, "request=" + requestId,
                                     "application/x-www-form-urlencoded");
    if (!approved || approved->status != 200) throw std::runtime_error("approving the sign-in failed");
  }
  const auto polled = http->Post("/api/desktop/token",
                                 nlohmann::json{{"requestId", requestId}, {"codeVerifier", verifier}}.dump(),
                                 "application/json");
  const auto body = parseJson(polled ? polled->body : "");
  if (body["status"] != "ready") throw std::runtime_error("desktop sign-in not ready: " + body.dump());
  return SignedIn{body["accessToken"], body["refreshToken"], body["email"]};
}

nlohmann::json TestServer::ticket(const SignedIn& user, const std::string& name) {
  auto http = client();
  const auto response =
      http->Post("/api/stream/upload-url", bearer(user.accessToken), nlohmann::json{{"name", name}}.dump(), "application/json");
  if (!response || response->status != 200) throw std::runtime_error("no upload ticket");
  return parseJson(response->body);
}

std::string TestServer::createUpload(const nlohmann::json& ticket, int64_t length) {
  auto headers = tusHeaders(ticket);
  headers.emplace("Upload-Length", std::to_string(length));
  headers.emplace("Upload-Metadata", "filetype dmlkZW8vbXA0,title VGVzdA==");
  const auto created = client()->Post("/tus/", headers, "", "application/offset+octet-stream");
  if (!created || created->status != 201) throw std::runtime_error("tus creation failed");
  return created->get_header_value("Location");
}

httplib::Result TestServer::patchUpload(const std::string& location, const nlohmann::json& ticket, int64_t offset,
                                        const std::string& bytes) {
  auto headers = tusHeaders(ticket);
  headers.emplace("Upload-Offset", std::to_string(offset));
  return client()->Patch(location, headers, bytes, "application/offset+octet-stream");
}

std::string TestServer::upload(const nlohmann::json& ticket, const std::string& bytes) {
  const std::string location = createUpload(ticket, int64_t(bytes.size()));
  const auto patched = patchUpload(location, ticket, 0, bytes);
  if (!patched || patched->status != 204) throw std::runtime_error("tus PATCH failed");
  return location;
}

void TestServer::save(const SignedIn& user, const std::string& uid, const std::string& title, int64_t durationSec) {
  const auto response =
      client()->Post("/api/recordings", bearer(user.accessToken),
                     nlohmann::json{{"uid", uid}, {"title", title}, {"durationSec", durationSec}}.dump(), "application/json");
  if (!response || response->status != 200) throw std::runtime_error("saving " + uid + " failed");
}

httplib::Headers tusHeaders(const nlohmann::json& ticket) {
  return {{"Tus-Resumable", "1.0.0"},
          {"AuthorizationSignature", ticket["signature"].get<std::string>()},
          {"AuthorizationExpire", std::to_string(ticket["expire"].get<int64_t>())},
          {"LibraryId", ticket["libraryId"].get<std::string>()},
          {"VideoId", ticket["uid"].get<std::string>()}};
}

httplib::Headers bearer(const std::string& accessToken) { return {{"Authorization", "Bearer " + accessToken}}; }

nlohmann::json parseJson(const std::string& body) {
  auto value = nlohmann::json::parse(body, nullptr, false);
  if (value.is_discarded()) throw std::runtime_error("not JSON: " + body);
  return value;
}

void expectError(const httplib::Result& response, int status, const std::string& code) {
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, status) << response->body;
  const auto body = parseJson(response->body);
  EXPECT_TRUE(body["error"].is_string() && !body["error"].get<std::string>().empty()) << response->body;
  EXPECT_EQ(body["code"], code) << response->body;
}

std::string sha256Hex(const std::string& text) { return server::crypto::sha256Hex(text); }

const std::string& sampleMovie() {
  static const std::string bytes = [] {
    TempDir dir;
    const auto file = dir / "sample.mp4";
    const auto result = runCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                    "testsrc=duration=2:size=160x120:rate=15", "-pix_fmt", "yuv420p", "-c:v", "libx264",
                                    file.string()});
    if (result.status != 0) throw std::runtime_error("ffmpeg failed: " + result.err);
    return readFile(file);
  }();
  return bytes;
}

}  // namespace tolvane::testing
