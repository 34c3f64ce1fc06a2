#pragma once

#include <string>

namespace tolvane::server {

// The hidden token of every form of the web pages. A page's token is an HMAC of the
// browser's session token (or, before signing in, of a random visitor cookie), so a
// page on another site, which can make the browser send the cookie but cannot read it,
// cannot produce the token; nothing needs storing.
class CsrfTokens {
 public:
  explicit CsrfTokens(std::string key) : key_(std::move(key)) {}

  std::string forCookie(const std::string& cookieValue) const;
  bool check(const std::string& cookieValue, const std::string& token) const;

 private:
  std::string key_;
};

}  // namespace tolvane::server
