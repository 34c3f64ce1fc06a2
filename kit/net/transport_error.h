#pragma once

#include <stdexcept>
#include <string>

namespace tolvane {

// A request that got no HTTP answer: offline, unreachable, timed out, TLS refused.
// what() is the sentence the user reads; callers that need an HTTPError wrap it with
// status 0 and this message, except `badURL`, which is a fault on this computer.
class TransportError : public std::runtime_error {
 public:
  enum class Kind { timedOut, cannotFindHost, cannotConnect, connectionLost, secureConnectionFailed, badURL, other };

  TransportError(Kind kind, std::string message, int curlCode = 0)
      : std::runtime_error(std::move(message)), kind_(kind), curlCode_(curlCode) {}

  Kind kind() const { return kind_; }
  // The libcurl result behind it, for logs; 0 when not from libcurl.
  int curlCode() const { return curlCode_; }

 private:
  Kind kind_;
  int curlCode_;
};

// The failure of a request whose body reader ran dry before the length it announced.
TransportError bodyEndedEarly();

}  // namespace tolvane
