#pragma once

#include <stdexcept>
#include <string>

namespace tolvane {

// Why no access token could be handed out. what() is the sentence the user reads.
class AuthError : public std::runtime_error {
 public:
  enum class Kind { refreshFailed, notSignedIn };

  static AuthError notSignedIn() { return AuthError(Kind::notSignedIn, "You're signed out of Tolvane.", {}); }
  // "your session expired, please sign in again" or "network error (<status>)".
  static AuthError refreshFailed(std::string detail) {
    return AuthError(Kind::refreshFailed, "Tolvane couldn't refresh your sign-in: " + detail, detail);
  }

  Kind kind() const { return kind_; }
  const std::string& detail() const { return detail_; }

 private:
  AuthError(Kind kind, const std::string& message, std::string detail)
      : std::runtime_error(message), kind_(kind), detail_(std::move(detail)) {}

  Kind kind_;
  std::string detail_;
};

}  // namespace tolvane
