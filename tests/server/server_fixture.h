#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane::testing {

// What a finished desktop sign-in hands to the app.
struct SignedIn {
  std::string accessToken;
  std::string refreshToken;
  std::string email;
};

// A tolvane-server process on a free loopback port with its own data directory, started
// with the given extra flags.
class TestServer {
 public:
  explicit TestServer(std::vector<std::string> extraFlags = {});
  ~TestServer();

  // Stops the process and starts it again on the same port and data directory.
  void restart();
  void stop();

  int port() const { return port_; }
  std::string url(const std::string& path = "") const;
  const std::filesystem::path& dataDirectory() const { return data_.path(); }
  std::unique_ptr<httplib::Client> client() const;

  // The app's desktop sign-in: start, approve (through the web sign-in form and the
  // connect page, unless the server runs with --auto-approve), poll once.
  SignedIn signIn(const std::string& email = "tester@example.com");
  // A web session cookie ("tolvane_session=...") for `email`.
  std::string webSession(const std::string& email);

  // POST /api/stream/upload-url with {"name": name}; the parsed ticket.
  nlohmann::json ticket(const SignedIn& user, const std::string& name = "Recording");
  // tus creation of an upload of `length` bytes under `ticket`; its path ("/tus/...").
  std::string createUpload(const nlohmann::json& ticket, int64_t length);
  // One tus PATCH of `bytes` at `offset`.
  httplib::Result patchUpload(const std::string& location, const nlohmann::json& ticket, int64_t offset,
                              const std::string& bytes);
  // Uploads `bytes` through tus under `ticket` in one PATCH; the upload's path.
  std::string upload(const nlohmann::json& ticket, const std::string& bytes);
  // POST /api/recordings for `uid`; throws unless the server answers 200.
  void save(const SignedIn& user, const std::string& uid, const std::string& title, int64_t durationSec);

 private:
  void start();
  bool autoApproves() const;

  TempDir data_;
  int port_;
  std::vector<std::string> flags_;
  std::unique_ptr<ChildProcess> process_;
};

// The five headers of every tus request made under `ticket`.
httplib::Headers tusHeaders(const nlohmann::json& ticket);
httplib::Headers bearer(const std::string& accessToken);
nlohmann::json parseJson(const std::string& body);
// Checks a JSON error answer: its status, a non-empty "error" sentence and its "code".
void expectError(const httplib::Result& response, int status, const std::string& code);
std::string sha256Hex(const std::string& text);

// A small playable H.264 MP4 made once per process by ffmpeg (two seconds of test
// pattern); its bytes.
const std::string& sampleMovie();

}  // namespace tolvane::testing
