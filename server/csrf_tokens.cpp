#include "server/csrf_tokens.h"

#include "server/server_crypto.h"

namespace tolvane::server {

std::string CsrfTokens::forCookie(const std::string& cookieValue) const {
  return crypto::toHex(crypto::hmacSha256(key_, "csrf\n" + cookieValue + "\n"));
}

bool CsrfTokens::check(const std::string& cookieValue, const std::string& token) const {
  return !cookieValue.empty() && crypto::constantTimeEquals(forCookie(cookieValue), token);
}

}  // namespace tolvane::server
