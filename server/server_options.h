#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolvane::server {

// A command line that cannot be run; what() is the one-line message for the user.
class ServerOptionsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Everything the command line decides. Durations are in seconds, sizes in bytes.
struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 8787;
  std::filesystem::path dataDirectory;
  // The address clients use; "http://HOST:PORT" unless --site-url says otherwise
  // (for example behind a reverse proxy).
  std::string siteURL;
  std::string anonKey;
  std::optional<std::string> autoApproveEmail;
  std::optional<int64_t> recordingLimit;
  bool openRegistration = false;
  // HTTPS served directly, with this certificate chain and key (PEM files).
  std::filesystem::path tlsCertificate;
  std::filesystem::path tlsKey;
  // A reverse proxy on this machine forwards the requests: X-Forwarded-Proto and
  // X-Forwarded-For are believed when the connection comes from loopback.
  bool behindProxy = false;
  int64_t quotaBytes = int64_t(5) << 30;  // per account; 0: none
  int64_t maxUnfinishedUploads = 10;     // per account
  int signInRate = 30;                   // sign-in starts and attempts per address per minute
  int64_t refreshTokenTTL = 30 * 24 * 3600;
  int64_t accessTokenTTL = 3600;
  int64_t ticketTTL = 24 * 3600;       // upload ticket signatures
  int64_t signInTTL = 600;             // desktop sign-in requests
  int64_t uploadTTL = 7 * 24 * 3600;   // unfinished tus uploads
  int64_t maxUploadBytes = int64_t(10) << 30;
  int threads = 32;
  // What GET /api/linux/latest announces.
  std::string latestVersion;
  bool latestAvailable = true;
  std::string latestDownloadURL;
  std::string latestPageURL;
  bool printClientConfig = false;
  bool showHelp = false;
  bool showVersion = false;

  static ServerOptions parse(const std::vector<std::string>& arguments);
  static std::string usage();
  // "tolvane-server VERSION": the project's version, the one its packages carry.
  static std::string versionLine();

  std::filesystem::path databasePath() const { return dataDirectory / "tolvane-server.sqlite3"; }
  std::filesystem::path keyFile() const { return dataDirectory / "tolvane-server.keys"; }
  bool servesTLS() const { return !tlsCertificate.empty(); }
  bool isLoopbackListen() const { return isLoopbackHost(host); }
  // Whether the site is reached over HTTPS (directly or through a proxy): cookies are
  // then marked Secure.
  bool isSecureSite() const { return siteURL.rfind("https://", 0) == 0; }
  // The site URL's host name, lower-case, without port or brackets.
  std::string siteHost() const;
  // A warning to print at start, or empty: listening beyond loopback in plain HTTP sends
  // passwords and tokens in the clear.
  std::string exposureWarning() const;

  static bool isLoopbackHost(const std::string& host);
  std::filesystem::path uploadDirectory() const { return dataDirectory / "uploads"; }
  std::string url(const std::string& path) const { return siteURL + path; }
};

}  // namespace tolvane::server
