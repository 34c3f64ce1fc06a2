#include "kit/net/http_performing.h"

#include <strings.h>

#include <algorithm>
#include <vector>

#include "kit/net/transport_error.h"

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

HTTPResponse HTTPPerforming::uploadStreaming(const HTTPRequest& request, std::int64_t length, const BodyReader& read,
                                             std::stop_token stop) {
  std::vector<std::byte> body(static_cast<std::size_t>(std::max<std::int64_t>(length, 0)));
  std::size_t filled = 0;
  while (filled < body.size()) {
    const std::size_t count = read(std::int64_t(filled), std::span(body).subspan(filled));
    if (count == 0 || count > body.size() - filled) throw bodyEndedEarly();
    filled += count;
  }
  return upload(request, body, std::move(stop));
}

HTTPResponse HTTPPerforming::download(const HTTPRequest& request, const BodyWriter& write, std::stop_token stop) {
  HTTPResponse response = data(request, std::move(stop));
  if (!response.body.empty()) write(0, response.body);
  response.body.clear();
  return response;
}

TransportError bodyEndedEarly() {
  return TransportError(TransportError::Kind::other, "The request body ended before its announced length.");
}

}  // namespace tolvane
