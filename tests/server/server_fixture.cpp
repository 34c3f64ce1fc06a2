#include "tests/server/server_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "server/server_crypto.h"

namespace tolvane::testing {
namespace {

const httplib::Response& require(const httplib::Result& response, int status, const std::string& what) {
  if (response && response->status == status) return *response;
  throw std::runtime_error(what + " failed: " + (response ? response->body : httplib::to_string(response.error())));
}

httplib::Headers cookieOf(const httplib::Response& response) {
  const std::string set = response.get_header_value("Set-Cookie");
  return {{"Cookie", set.substr(0, set.find(';'))}};
}

}  // namespace

TestServer::TestServer(std::vector<std::string> extraFlags) : port_(freeLoopbackPort()), flags_(std::move(extraFlags)) {
  start();
}

void TestServer::start() {
  std::vector<std::string> argv{builtProgram("server/tolvane-server").string(), "--listen",
                                "127.0.0.1:" + std::to_string(port_), "--data", dataDirectory().string()};
  argv.insert(argv.end(), flags_.begin(), flags_.end());
  process_ = std::make_unique<ChildProcess>(argv, std::map<std::string, std::string>{}, data_.path() / "server.log");
  if (!waitForPort(port_, std::chrono::seconds(20))) {
    throw std::runtime_error("tolvane-server did not start: " + readFile(data_.path() / "server.log"));
  }
}

void TestServer::stop() { process_.reset(); }

std::filesystem::path TestServer::uploadFile(const std::string& location) const {
  return dataDirectory() / "uploads" / (location.substr(location.rfind('/') + 1) + ".bin");
}

std::unique_ptr<httplib::Client> TestServer::client() const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", port_);
  client->set_read_timeout(60);
  return client;
}

void TestServer::addUser(const std::string& email) {
  if (std::lock_guard lock(usersMutex_); !users_.insert(email).second) return;  // signIn runs on many threads
  const auto added = runCommand({"sh", "-c", "printf '%s\\n' \"$1\" | \"$0\" user add \"$2\" --data \"$3\"",
                                 builtProgram("server/tolvane-server").string(), password, email,
                                 dataDirectory().string()});
  if (added.status != 0 && added.err.find("already exists") == std::string::npos) {
    throw std::runtime_error("user add failed: " + added.err);
  }
}

Visitor TestServer::visit(const std::string& page, const httplib::Headers& cookie) {
  const auto response = client()->Get(page, cookie);
  if (!response) throw std::runtime_error("GET " + page + " failed");
  Visitor visitor{response->has_header("Set-Cookie") ? cookieOf(*response) : cookie, {}};
  const std::string marker = "name=\"csrf\" value=\"";
  if (const auto at = response->body.find(marker); at != std::string::npos) {
    visitor.csrf = response->body.substr(at + marker.size(), 64);
  }
  return visitor;
}

httplib::Result TestServer::postForm(const std::string& path, httplib::Headers headers, const std::string& body) {
  if (!headers.contains("Origin")) headers.emplace("Origin", url());
  return client()->Post(path, headers, body, "application/x-www-form-urlencoded");
}

httplib::Headers TestServer::webSession(const std::string& email) {
  addUser(email);
  const Visitor visitor = visit();
  const auto response = postForm("/signin", visitor.cookie,
                                 "email=" + httplib::detail::encode_query_param(email) +
                                     "&password=" + httplib::detail::encode_query_param(password) +
                                     "&csrf=" + visitor.csrf);
  return cookieOf(require(response, 303, "web sign-in"));
}

SignedIn TestServer::signIn(const std::string& email) {
  const bool autoApprove = std::find(flags_.begin(), flags_.end(), "--auto-approve") != flags_.end();
  return signIn(autoApprove ? httplib::Headers{} : webSession(email));
}

SignedIn TestServer::signIn(const httplib::Headers& session) {
  auto http = client();
  const std::string verifier = server::crypto::randomHex(32);
  const std::string requestId = parseJson(require(startSignIn(*http, verifier), 200, "sign-in").body)["requestId"];
  if (!session.empty()) {
    // The user approves on the connect page, signed in to the web site with a cookie.
    const Visitor page = visit("/connect?request=" + requestId, session);
    require(postForm("/connect", session, "request=" + requestId + "&csrf=" + page.csrf), 200, "approving the sign-in");
  }
  const auto body = parseJson(require(pollSignIn(*http, requestId, verifier), 200, "poll").body);
  if (body["status"] != "ready") throw std::runtime_error("desktop sign-in not ready: " + body.dump());
  return SignedIn{body["accessToken"], body["refreshToken"], body["email"]};
}

nlohmann::json TestServer::ticket(const SignedIn& user, const std::string& name) {
  const auto response = call(*client(), "POST", "/api/stream/upload-url", bearer(user.accessToken),
                             nlohmann::json{{"name", name}}.dump());
  return parseJson(require(response, 200, "asking for an upload ticket").body);
}

httplib::Result TestServer::tusCreate(httplib::Headers headers, const std::optional<std::string>& length,
                                      const std::string& metadata) {
  if (length) headers.emplace("Upload-Length", *length);
  headers.emplace("Upload-Metadata", metadata);
  return client()->Post("/tus/", headers, "", tusBodyType);
}

std::string TestServer::createUpload(const nlohmann::json& ticket, int64_t length) {
  return require(tusCreate(tusHeaders(ticket), std::to_string(length)), 201, "tus creation").get_header_value("Location");
}

httplib::Result TestServer::patchUpload(const std::string& location, httplib::Headers headers,
                                        const std::optional<std::string>& offset, const std::string& bytes,
                                        const std::string& contentType) {
  if (offset) headers.emplace("Upload-Offset", *offset);
  return client()->Patch(location, headers, bytes, contentType);
}

std::string TestServer::upload(const nlohmann::json& ticket, const std::string& bytes) {
  const std::string location = createUpload(ticket, int64_t(bytes.size()));
  require(patchUpload(location, tusHeaders(ticket), "0", bytes), 204, "tus PATCH");
  return location;
}

void TestServer::save(const SignedIn& user, const std::string& uid, const std::string& title, int64_t durationSec) {
  require(call(*client(), "POST", "/api/recordings", bearer(user.accessToken),
               nlohmann::json{{"uid", uid}, {"title", title}, {"durationSec", durationSec}}.dump()),
          200, "saving " + uid);
}

httplib::Result call(httplib::Client& http, const std::string& method, const std::string& path,
                     const httplib::Headers& headers, const std::string& body) {
  httplib::Request request;
  request.method = method;
  request.path = path;
  request.headers = headers;
  if (method != "GET" && method != "HEAD") {
    request.body = body;
    request.set_header("Content-Type", "application/json");
  }
  return http.send(request);
}

httplib::Headers tusHeaders(const nlohmann::json& ticket) {
  return {{"Tus-Resumable", "1.0.0"},
          {"AuthorizationSignature", ticket["signature"].get<std::string>()},
          {"AuthorizationExpire", std::to_string(ticket["expire"].get<int64_t>())},
          {"LibraryId", ticket["libraryId"].get<std::string>()},
          {"VideoId", ticket["uid"].get<std::string>()}};
}

httplib::Headers bearer(const std::string& accessToken) { return {{"Authorization", "Bearer " + accessToken}}; }

httplib::Result startSignIn(httplib::Client& http, const std::string& verifier, const httplib::Headers& headers,
                            const std::string& deviceName) {
  const nlohmann::json body{{"deviceName", deviceName}, {"codeChallenge", server::crypto::sha256Hex(verifier)}};
  return call(http, "POST", "/api/desktop/start", headers, body.dump());
}

httplib::Result pollSignIn(httplib::Client& http, const std::string& requestId, const std::string& verifier) {
  return call(http, "POST", "/api/desktop/token", {},
              nlohmann::json{{"requestId", requestId}, {"codeVerifier", verifier}}.dump());
}

httplib::Result refresh(httplib::Client& http, const std::string& refreshToken, const std::string& apiKey,
                        const std::string& grantType) {
  return call(http, "POST", "/auth/v1/token?grant_type=" + grantType,
              apiKey.empty() ? httplib::Headers{} : httplib::Headers{{"apikey", apiKey}},
              nlohmann::json{{"refresh_token", refreshToken}}.dump());
}

nlohmann::json parseJson(const std::string& body) {
  auto value = nlohmann::json::parse(body, nullptr, false);
  if (value.is_discarded()) throw std::runtime_error("not JSON: " + body);
  return value;
}

void expectError(const httplib::Result& response, const ApiError& expected) {
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, expected.status) << response->body;
  EXPECT_EQ(parseJson(response->body), (nlohmann::json{{"error", expected.message}, {"code", expected.code}}));
}

void expectTusError(const httplib::Result& response, int status, const std::string& message) {
  ASSERT_TRUE(response);
  EXPECT_EQ(std::tuple(response->status, response->get_header_value("Tus-Resumable"), response->body),
            std::tuple(status, std::string("1.0.0"), message + "\n"));
}

std::vector<std::string> answerOf(const httplib::Result& response, const std::vector<std::string>& names) {
  if (!response) return {httplib::to_string(response.error())};
  std::vector<std::string> values{std::to_string(response->status)};
  for (const auto& name : names) values.push_back(response->get_header_value(name));
  return values;
}

void expectPage(const httplib::Result& response, int status, const std::string& part) {
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, status);
  EXPECT_NE(response->body.find(part), std::string::npos) << part << " missing from " << response->body;
}

const std::string& sampleMovie() {
  static const std::string bytes = [] {
    TempDir dir;
    const auto result = runCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                    "testsrc=duration=2:size=160x120:rate=15", "-pix_fmt", "yuv420p", "-c:v", "libx264",
                                    (dir / "sample.mp4").string()});
    if (result.status != 0) throw std::runtime_error("ffmpeg failed: " + result.err);
    return readFile(dir / "sample.mp4");
  }();
  return bytes;
}

}  // namespace tolvane::testing
