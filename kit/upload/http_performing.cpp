#include "kit/upload/http_performing.h"

#include <strings.h>

namespace tolvane {

std::optional<std::string> findHeader(const HTTPHeaders& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
  }
  return std::nullopt;
}

void HTTPRequest::setHeader(std::string name, std::string value) {
  for (auto& [key, existing] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) {
      existing = std::move(value);
      return;
    }
  }
  headers.emplace_back(std::move(name), std::move(value));
}

}  // namespace tolvane
