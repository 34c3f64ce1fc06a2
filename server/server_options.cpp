#include "server/server_options.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

#include <fmt/format.h>

#include "server/account_store.h"

#ifndef TOLVANE_SERVER_DEFAULT_ANON_KEY
#define TOLVANE_SERVER_DEFAULT_ANON_KEY ""
#endif
#ifndef TOLVANE_SERVER_VERSION
#define TOLVANE_SERVER_VERSION "0.0.0"
#endif

namespace tolvane::server {
namespace {

int64_t parseInteger(const std::string& flag, const std::string& text, int64_t minimum) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < minimum) {
    throw ServerOptionsError(fmt::format("{} needs a whole number of at least {}, not \"{}\".", flag, minimum, text));
  }
  return value;
}

std::filesystem::path defaultDataDirectory() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    return std::filesystem::path(xdg) / "tolvane-server";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::filesystem::path(home) / ".local/share/tolvane-server";
  }
  return "tolvane-server-data";
}

void parseListen(ServerOptions& options, const std::string& text) {
  // "HOST:PORT", "[v6]:PORT" or ":PORT".
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) throw ServerOptionsError(fmt::format("--listen needs HOST:PORT, not \"{}\".", text));
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  options.host = host.empty() ? "127.0.0.1" : host;
  options.port = int(parseInteger("--listen", text.substr(colon + 1), 1));
  if (options.port > 65535) throw ServerOptionsError(fmt::format("--listen names port {}, beyond 65535.", options.port));
}

}  // namespace

ServerOptions ServerOptions::parse(const std::vector<std::string>& arguments) {
  ServerOptions options;
  options.anonKey = TOLVANE_SERVER_DEFAULT_ANON_KEY;
  options.latestVersion = TOLVANE_SERVER_VERSION;
  std::optional<std::string> siteURL;
  std::optional<std::filesystem::path> data;

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& flag = arguments[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= arguments.size()) throw ServerOptionsError(fmt::format("{} needs a value.", flag));
      return arguments[++i];
    };
    if (flag == "--help" || flag == "-h") options.showHelp = true;
    else if (flag == "--version") options.showVersion = true;
    else if (flag == "--print-client-config") options.printClientConfig = true;
    else if (flag == "--listen") parseListen(options, value());
    else if (flag == "--data") data = value();
    else if (flag == "--site-url") siteURL = value();
    else if (flag == "--anon-key") options.anonKey = value();
    else if (flag == "--auto-approve") options.autoApproveEmail = value();
    else if (flag == "--recording-limit") options.recordingLimit = parseInteger(flag, value(), 0);
    else if (flag == "--open-registration") options.openRegistration = true;
    else if (flag == "--tls-cert") options.tlsCertificate = value();
    else if (flag == "--tls-key") options.tlsKey = value();
    else if (flag == "--behind-proxy") options.behindProxy = true;
    else if (flag == "--quota") options.quotaBytes = parseInteger(flag, value(), 0);
    else if (flag == "--sign-in-rate") options.signInRate = int(parseInteger(flag, value(), 1));
    else if (flag == "--refresh-token-ttl") options.refreshTokenTTL = parseInteger(flag, value(), 60);
    else if (flag == "--access-token-ttl") options.accessTokenTTL = parseInteger(flag, value(), 1);
    else if (flag == "--ticket-ttl") options.ticketTTL = parseInteger(flag, value(), 1);
    else if (flag == "--sign-in-ttl") options.signInTTL = parseInteger(flag, value(), 1);
    else if (flag == "--upload-ttl") options.uploadTTL = parseInteger(flag, value(), 1);
    else if (flag == "--max-upload-size") options.maxUploadBytes = parseInteger(flag, value(), 1);
    else if (flag == "--threads") options.threads = int(parseInteger(flag, value(), 2));
    else if (flag == "--latest-version") options.latestVersion = value();
    else if (flag == "--latest-unavailable") options.latestAvailable = false;
    else if (flag == "--latest-download-url") options.latestDownloadURL = value();
    else if (flag == "--latest-page-url") options.latestPageURL = value();
    else throw ServerOptionsError(fmt::format("Unknown option \"{}\". Try --help.", flag));
  }

  if (options.anonKey.empty()) throw ServerOptionsError("--anon-key must not be empty.");
  if (options.autoApproveEmail && !AccountStore::normalizedEmail(*options.autoApproveEmail)) {
    throw ServerOptionsError(fmt::format("--auto-approve needs an e-mail address, not \"{}\".", *options.autoApproveEmail));
  }
  // Handing tokens to any caller is only harmless when every caller is this machine.
  if (options.autoApproveEmail && !options.isLoopbackListen()) {
    throw ServerOptionsError(fmt::format("--auto-approve is only allowed when listening on loopback, not on {}.",
                                         options.host));
  }
  if (options.tlsCertificate.empty() != options.tlsKey.empty()) {
    throw ServerOptionsError("--tls-cert and --tls-key go together; give both or neither.");
  }
  options.dataDirectory = data ? *data : defaultDataDirectory();
  const bool bracket = options.host.find(':') != std::string::npos;
  options.siteURL = siteURL ? *siteURL
                            : fmt::format("{}://{}{}{}:{}", options.servesTLS() ? "https" : "http", bracket ? "[" : "",
                                          options.host, bracket ? "]" : "", options.port);
  if (options.siteURL.rfind("http://", 0) != 0 && options.siteURL.rfind("https://", 0) != 0) {
    throw ServerOptionsError(fmt::format("--site-url needs an http:// or https:// address, not \"{}\".", options.siteURL));
  }
  while (!options.siteURL.empty() && options.siteURL.back() == '/') options.siteURL.pop_back();
  if (options.latestDownloadURL.empty()) options.latestDownloadURL = options.url("/");
  if (options.latestPageURL.empty()) options.latestPageURL = options.url("/");
  return options;
}

bool ServerOptions::isLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

std::string ServerOptions::siteHost() const {
  std::string rest = siteURL.substr(siteURL.find("://") + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const auto at = rest.rfind('@'); at != std::string::npos) rest = rest.substr(at + 1);
  std::string name;
  if (!rest.empty() && rest.front() == '[') {
    name = rest.substr(1, rest.find(']') - 1);
  } else {
    name = rest.substr(0, rest.find(':'));
  }
  for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

std::string ServerOptions::exposureWarning() const {
  if (isLoopbackListen() || servesTLS() || behindProxy) return {};
  return fmt::format(
      "warning: listening on {} in plain HTTP; passwords and tokens cross the network unencrypted. Serve HTTPS "
      "with --tls-cert and --tls-key, or put a reverse proxy with HTTPS in front and pass --behind-proxy.",
      host);
}

std::string ServerOptions::usage() {
  return R"(Usage: tolvane-server [options]
       tolvane-server user add|passwd EMAIL [--data DIR]   (password from a prompt or stdin)
       tolvane-server user list|remove [EMAIL] [--data DIR]
       tolvane-server release keygen --out DIR
       tolvane-server release publish PACKAGE --notes FILE --key KEYFILE [--data DIR]
                                      [--minimum-os TEXT] [--version V]

The self-hosted Tolvane service: library API, tus uploads, sign-in, web pages and the
signed update feed for the desktop app.

  --listen HOST:PORT        address to serve on (default 127.0.0.1:8787)
  --data DIR                where the database, uploads and releases live
                            (default $XDG_DATA_HOME/tolvane-server)
  --site-url URL            address clients use, when it differs from http://HOST:PORT
  --anon-key KEY            anonymous key clients send to /auth/v1/token
                            (default: the key built into the client)
  --auto-approve EMAIL      approve every desktop sign-in at once as EMAIL
                            (only when listening on loopback)
  --open-registration       let visitors create their own account on the sign-in page
  --tls-cert FILE           serve HTTPS with this PEM certificate chain
  --tls-key FILE            ... and this PEM private key
  --behind-proxy            a reverse proxy on this machine forwards the requests:
                            trust its X-Forwarded-Proto and X-Forwarded-For
  --quota BYTES             upload bytes one account may hold (default 5 GiB; 0: none)
  --sign-in-rate N          sign-in starts and attempts per address per minute (default 30)
  --refresh-token-ttl SEC   lifetime of refresh tokens (default 2592000, 30 days)
  --recording-limit N       recordings one account may hold (default: no limit)
  --access-token-ttl SEC    lifetime of access tokens (default 3600)
  --ticket-ttl SEC          lifetime of upload ticket signatures (default 86400)
  --sign-in-ttl SEC         lifetime of desktop sign-in requests (default 600)
  --upload-ttl SEC          lifetime of unfinished uploads (default 604800)
  --max-upload-size BYTES   largest upload accepted (default 10 GiB)
  --threads N               worker threads serving connections (default 32)
  --latest-version V        version /api/linux/latest announces (default: this build's)
  --latest-unavailable      announce the release as not available
  --latest-download-url U   download address /api/linux/latest announces
  --latest-page-url U       release page /api/linux/latest announces
  --print-client-config     print the site URL, auth URL and anonymous key, then exit
  --version                 print the version, then exit
  --help                    show this text
)";
}

std::string ServerOptions::versionLine() { return std::string("tolvane-server ") + TOLVANE_SERVER_VERSION; }

}  // namespace tolvane::server
