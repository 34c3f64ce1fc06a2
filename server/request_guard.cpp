#include "server/request_guard.h"

#include <cctype>

namespace tolvane::server {
namespace {

std::string lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool isJsonRoute(const std::string& path) { return startsWith(path, "/api/") || startsWith(path, "/auth/"); }

}  // namespace

RequestGuard::RequestGuard(const ServerOptions& options)
    : options_(options), siteOrigin_(origin(options.siteURL).value_or("")) {
  hosts_.insert(options.siteHost());
  if (options.isLoopbackListen()) {
    hosts_.insert({"localhost", "127.0.0.1", "::1", lower(options.host)});
  }
}

std::optional<std::string> RequestGuard::hostName(const std::string& header) {
  if (header.empty()) return std::nullopt;
  std::string host;
  if (header.front() == '[') {
    const auto close = header.find(']');
    if (close == std::string::npos) return std::nullopt;
    host = header.substr(1, close - 1);
    const std::string rest = header.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return std::nullopt;
  } else {
    host = header.substr(0, header.find(':'));
  }
  for (char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (!(std::isalnum(byte) || c == '.' || c == '-' || c == ':' || c == '_')) return std::nullopt;
  }
  if (host.empty()) return std::nullopt;
  return lower(host);
}

std::optional<std::string> RequestGuard::origin(const std::string& url) {
  const std::string text = lower(url);
  const auto scheme = text.find("://");
  if (scheme == std::string::npos) return std::nullopt;
  const std::string name = text.substr(0, scheme);
  if (name != "http" && name != "https") return std::nullopt;
  std::string authority = text.substr(scheme + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  if (authority.empty() || authority.find('@') != std::string::npos) return std::nullopt;
  // The default port is the same origin spelt out or left out.
  const std::string defaultPort = name == "https" ? ":443" : ":80";
  if (authority.size() > defaultPort.size() && authority.ends_with(defaultPort) && authority.back() != ']') {
    authority.resize(authority.size() - defaultPort.size());
  }
  return name + "://" + authority;
}

bool RequestGuard::fromTrustedProxy(const httplib::Request& request) const {
  return options_.behindProxy && ServerOptions::isLoopbackHost(request.remote_addr);
}

bool RequestGuard::isHTTPS(const httplib::Request& request) const {
  if (options_.servesTLS()) return true;
  if (fromTrustedProxy(request)) return lower(request.get_header_value("X-Forwarded-Proto")) == "https";
  return false;
}

std::string RequestGuard::clientAddress(const httplib::Request& request) const {
  if (fromTrustedProxy(request) && request.has_header("X-Forwarded-For")) {
    // The proxy appends the address it saw; anything before it is the client's say-so.
    std::string forwarded = request.get_header_value("X-Forwarded-For");
    forwarded = forwarded.substr(forwarded.rfind(',') == std::string::npos ? 0 : forwarded.rfind(',') + 1);
    const auto first = forwarded.find_first_not_of(' ');
    const auto last = forwarded.find_last_not_of(' ');
    if (first != std::string::npos) return forwarded.substr(first, last - first + 1);
  }
  return request.remote_addr;
}

bool RequestGuard::isSameOrigin(const httplib::Request& request, const std::string& claimed) const {
  const auto given = origin(claimed);
  if (!given) return false;
  if (*given == siteOrigin_) return true;
  // The page may have been opened under another name this site answers to (localhost
  // for 127.0.0.1); then its origin is the request's own scheme and Host.
  const auto own = origin((isHTTPS(request) ? "https://" : "http://") + request.get_header_value("Host"));
  return own && *given == *own;
}

std::optional<RequestGuard::Refusal> RequestGuard::check(const httplib::Request& request) const {
  const auto host = hostName(request.get_header_value("Host"));
  if (!host || !hosts_.contains(*host)) {
    return Refusal{421, "This server doesn't answer to that host name."};
  }
  const bool changesState = request.method == "POST" || request.method == "PATCH" || request.method == "PUT" ||
                            request.method == "DELETE";
  if (!changesState || startsWith(request.path, "/tus/") || request.path == "/tus") return std::nullopt;
  if (isJsonRoute(request.path)) {
    const std::string type = lower(request.get_header_value("Content-Type"));
    if (type != "application/json" && !startsWith(type, "application/json;")) {
      return Refusal{415, "This endpoint takes a JSON body sent as application/json."};
    }
    return std::nullopt;
  }
  // A browser form: it must come from a page of this site.
  const std::string claimed =
      request.has_header("Origin") ? request.get_header_value("Origin") : request.get_header_value("Referer");
  if (!isSameOrigin(request, claimed)) {
    return Refusal{403, "This form was sent from another site, so it was refused."};
  }
  return std::nullopt;
}

}  // namespace tolvane::server
