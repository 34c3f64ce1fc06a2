#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tolvane {

// The one error of HTTP-level failures thrown by every network component and classified
// by the upload queue for retry. what() is `message()`, a complete user-facing sentence.
class HTTPError : public std::runtime_error {
 public:
  // `status` is 0 when no answer came from the network (offline, refused, timed out,
  // cut), and for nothing else: conditions on this computer have errors of their own.
  HTTPError(std::int64_t status, std::string message, std::optional<std::string> code = std::nullopt);

  std::int64_t status() const { return status_; }
  const std::string& message() const { return message_; }
  // The service's machine-readable error code, when it sent one.
  const std::optional<std::string>& code() const { return code_; }

  // Worth retrying later: no answer, 408, 429 or any 5xx. The one place this rule lives.
  bool isTransient() const;

  // The error of a service response whose status is not 200: the body's "error" text
  // verbatim when it has one, otherwise "Tolvane returned an error (<status>)."; the
  // body's "code" either way.
  static HTTPError fromResponse(std::int64_t status, std::string_view body);
  // A 200 whose body is not the record the caller expected.
  static HTTPError unexpectedBody();

 private:
  std::int64_t status_;
  std::string message_;
  std::optional<std::string> code_;
};

}  // namespace tolvane
