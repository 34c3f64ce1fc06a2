#pragma once

#include <optional>
#include <set>
#include <string>

#include <httplib.h>

#include "server/server_options.h"

namespace tolvane::server {

// The checks every request passes before any route sees it:
// - its Host is one this site answers to (the site URL's host, plus loopback names when
//   listening on loopback), so that a web page cannot reach a loopback server through a
//   DNS name it controls (DNS rebinding): 421 otherwise;
// - the service API and the token endpoint take state changes as JSON only, which a
//   cross-site form cannot send without the browser asking first: 415 otherwise;
// - any other POST comes from a page of this site (Origin, else Referer): 403 otherwise.
class RequestGuard {
 public:
  struct Refusal {
    int status;
    std::string message;
  };

  explicit RequestGuard(const ServerOptions& options);

  std::optional<Refusal> check(const httplib::Request& request) const;
  // The address the request comes from: the connection's, or the one the proxy names.
  std::string clientAddress(const httplib::Request& request) const;
  // Whether the browser reached this site over HTTPS.
  bool isHTTPS(const httplib::Request& request) const;

  // The lower-case host name of a Host header value (port and brackets removed); none
  // when it is malformed.
  static std::optional<std::string> hostName(const std::string& header);
  // "scheme://host[:port]" of a URL, lower-case; none when it is not an http(s) URL.
  static std::optional<std::string> origin(const std::string& url);

 private:
  bool fromTrustedProxy(const httplib::Request& request) const;
  bool isSameOrigin(const httplib::Request& request, const std::string& claimed) const;

  const ServerOptions& options_;
  std::set<std::string> hosts_;
  std::string siteOrigin_;
};

}  // namespace tolvane::server
