#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane::testing {

inline constexpr const char* tusBodyType = "application/offset+octet-stream";

// What a finished desktop sign-in hands to the app.
struct SignedIn { std::string accessToken, refreshToken, email; };
// A browser on a page of the site: its cookie header and the page's CSRF token.
struct Visitor { httplib::Headers cookie; std::string csrf; };
// A JSON error answer of the service: its status and body {"error": message, "code": code}.
struct ApiError { int status; std::string code, message; };

// A tolvane-server process on a free loopback port with its own data directory, started
// with the given extra flags.
class TestServer {
 public:
  // The password of every account the fixture makes.
  static constexpr const char* password = "correct horse battery";

  explicit TestServer(std::vector<std::string> extraFlags = {});
  ~TestServer() { stop(); }
  // Stops the process and starts it again on the same port and data directory.
  void restart() { stop(); start(); }

  int port() const { return port_; }
  std::string url(const std::string& path = "") const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::filesystem::path dataDirectory() const { return data_.path() / "data"; }
  // The file that holds the upload at `location` ("/tus/{id}").
  std::filesystem::path uploadFile(const std::string& location) const;
  std::unique_ptr<httplib::Client> client() const;

  // The app's desktop sign-in: start, approve (through the web sign-in form and the
  // connect page, unless the server runs with --auto-approve), poll once. Or approved in
  // the browser session `session` (a webSession cookie).
  SignedIn signIn(const std::string& email = "tester@example.com");
  SignedIn signIn(const httplib::Headers& session);
  // Makes an account with `password` through `tolvane-server user add` (if missing).
  void addUser(const std::string& email);
  // Opens `page` with the cookie (a fresh visitor when empty); the cookie afterwards and
  // the page's form token.
  Visitor visit(const std::string& page = "/", const httplib::Headers& cookie = {});
  // A form POST as the site's own page sends it (with its Origin) unless `headers`
  // names another Origin.
  httplib::Result postForm(const std::string& path, httplib::Headers headers, const std::string& body);
  // A web session cookie header for `email`, signed in through the sign-in form.
  httplib::Headers webSession(const std::string& email);

  // POST /api/stream/upload-url with {"name": name}; the parsed ticket.
  nlohmann::json ticket(const SignedIn& user, const std::string& name = "Recording");
  // tus creation under `headers` (see tusHeaders) of `length` bytes (none: no Upload-Length).
  httplib::Result tusCreate(httplib::Headers headers, const std::optional<std::string>& length,
                            const std::string& metadata = "filetype dmlkZW8vbXA0");
  // A tus creation that must succeed; the upload's path ("/tus/...").
  std::string createUpload(const nlohmann::json& ticket, int64_t length);
  // One tus PATCH of `bytes` at `offset` (none: without an Upload-Offset).
  httplib::Result patchUpload(const std::string& location, httplib::Headers headers,
                              const std::optional<std::string>& offset, const std::string& bytes,
                              const std::string& contentType = tusBodyType);
  // Uploads `bytes` through tus under `ticket` in one PATCH; the upload's path.
  std::string upload(const nlohmann::json& ticket, const std::string& bytes);
  // POST /api/recordings for `uid`; throws unless the server answers 200.
  void save(const SignedIn& user, const std::string& uid, const std::string& title, int64_t durationSec);

 private:
  void start();
  void stop();

  TempDir data_;
  int port_;
  std::vector<std::string> flags_;
  std::unique_ptr<ChildProcess> process_;
  std::mutex usersMutex_;
  std::set<std::string> users_;
};

// A request of any method; a body goes as JSON.
httplib::Result call(httplib::Client& http, const std::string& method, const std::string& path,
                     const httplib::Headers& headers = {}, const std::string& body = "");
// The five headers of every tus request made under `ticket`.
httplib::Headers tusHeaders(const nlohmann::json& ticket);
httplib::Headers bearer(const std::string& accessToken);
// The app's calls of the desktop sign-in (start, with the challenge of `verifier`; poll)
// and of the token endpoint (with `apiKey`, none when empty).
httplib::Result startSignIn(httplib::Client& http, const std::string& verifier = "verifier",
                            const httplib::Headers& headers = {}, const std::string& deviceName = "test box");
httplib::Result pollSignIn(httplib::Client& http, const std::string& requestId, const std::string& verifier);
httplib::Result refresh(httplib::Client& http, const std::string& refreshToken,
                        const std::string& apiKey = TOLVANE_TEST_ANON_KEY,
                        const std::string& grantType = "refresh_token");
nlohmann::json parseJson(const std::string& body);
void expectError(const httplib::Result& response, const ApiError& expected);
// A tus error answer: its status and its one-line plain-text message.
void expectTusError(const httplib::Result& response, int status, const std::string& message);
// An answer's status and the values of the headers `names`, one string each.
std::vector<std::string> answerOf(const httplib::Result& response, const std::vector<std::string>& names = {});
// A web page: its status and a piece of its HTML.
void expectPage(const httplib::Result& response, int status, const std::string& part);
// A small playable H.264 MP4 made once per process by ffmpeg (two seconds of test
// pattern); its bytes.
const std::string& sampleMovie();

}  // namespace tolvane::testing
