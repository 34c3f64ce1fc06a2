#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "kit/auth/auth_session.h"
#include "kit/config/url.h"
#include "kit/net/http_performing.h"

namespace tolvane {

// One sign-in request registered with the service, alive until it is approved or
// expires. Nothing of it is persisted.
struct SignInRequest {
  std::string requestId;
  std::string codeVerifier;  // 64 lower-case hex characters; only its hash was sent
  std::string connectURL;    // the page the user opens to approve
  Date expiresAt;
  double pollIntervalSec = 2.0;

  bool operator==(const SignInRequest&) const = default;
};

// Sign-in through the web site with a proof key: register a request with the SHA-256
// of a random verifier, let the user approve it in the browser, then collect the
// tokens by presenting the verifier. Holds no mutable state; thread-safe.
class DesktopSignIn {
 public:
  using Now = std::function<Date()>;

  DesktopSignIn(std::shared_ptr<HTTPPerforming> http, Url siteURL,
                Now now = [] { return std::chrono::system_clock::now(); });

  // Registers a request. Throws HTTPError(status or 0, "Couldn't reach Tolvane to start
  // sign-in.") for any answer but 200, HTTPError(200, "Tolvane sent back a sign-in link
  // we couldn't read.") for a bad link, DecodingError for an unreadable body and
  // TransportError when the service cannot be reached.
  SignInRequest start(const std::string& deviceName, std::stop_token stop = {}) const;

  // The session once the user has approved; none while still waiting. Throws
  // HTTPError(410, "That sign-in link expired. Try again."), HTTPError(status,
  // "Sign-in check failed.") for other answers, DecodingError, TransportError.
  std::optional<AuthSession> poll(const SignInRequest& request, std::stop_token stop = {}) const;

  // Polls every `pollIntervalSec` until approval. Only an expired request ends the wait
  // early (HTTPError 410, also when the request's own expiry passes); every other
  // failure is retried. Throws CancellationError as soon as `stop` fires.
  AuthSession waitForApproval(const SignInRequest& request, std::stop_token stop = {}) const;

  // The "exp" claim of a JSON Web Token (signature not checked); none when the token
  // has no readable payload.
  static std::optional<Date> expiryOfJWT(std::string_view token);
  // SHA-256 of the text's bytes as 64 lower-case hex characters (never Base64).
  static std::string sha256Hex(std::string_view text);
  // `count` bytes from OpenSSL's secure random generator as 2 × count hex characters.
  static std::string randomHex(std::size_t count);

 private:
  std::shared_ptr<HTTPPerforming> http_;
  Url siteURL_;
  Now now_;
};

}  // namespace tolvane
