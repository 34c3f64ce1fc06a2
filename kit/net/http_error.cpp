#include "kit/net/http_error.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace tolvane {

HTTPError::HTTPError(std::int64_t status, std::string message, std::optional<std::string> code)
    : std::runtime_error(message), status_(status), message_(std::move(message)), code_(std::move(code)) {}

bool HTTPError::isTransient() const {
  return status_ == 0 || status_ == 408 || status_ == 429 || (status_ >= 500 && status_ <= 599);
}

HTTPError HTTPError::fromResponse(std::int64_t status, std::string_view body) {
  std::optional<std::string> error;
  std::optional<std::string> code;
  // The error body is an object whose "error" and "code" members are optional strings;
  // anything else in it is ignored, and a member of the wrong type makes the whole
  // body unreadable.
  bool decoded = false;
  const auto json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_object()) {
    decoded = true;
    for (const char* key : {"error", "code"}) {
      const auto it = json.find(key);
      if (it == json.end() || it->is_null()) continue;
      if (!it->is_string()) {
        decoded = false;
        break;
      }
      (std::string_view(key) == "error" ? error : code) = it->get<std::string>();
    }
  }
  if (!decoded) return HTTPError(status, fmt::format("Tolvane returned an error ({}).", status));
  if (error) return HTTPError(status, *error, code);
  return HTTPError(status, fmt::format("Tolvane returned an error ({}).", status), code);
}

HTTPError HTTPError::unexpectedBody() { return HTTPError(200, "Tolvane sent back something unexpected."); }

}  // namespace tolvane
