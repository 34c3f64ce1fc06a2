#include "server/http_helpers.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>

#include "kit/base/file_descriptor.h"

namespace tolvane::server::http {

void sendJson(httplib::Response& response, int status, const nlohmann::json& body) {
  response.status = status;
  response.set_header("Cache-Control", "no-store");
  response.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

void sendError(httplib::Response& response, int status, const std::string& message, const std::string& code) {
  sendJson(response, status, {{"error", message}, {"code", code}});
}

bool sendFile(httplib::Response& response, const std::filesystem::path& path, const std::string& contentType) {
  // The file closes with the last copy of the content provider.
  const auto file = std::make_shared<FileDescriptor>(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  const auto size = file->isOpen() ? ::lseek(file->get(), 0, SEEK_END) : -1;
  if (size < 0) return false;
  response.set_header("Accept-Ranges", "bytes");
  // cpp-httplib applies the request's Range to a provider of known length and asks it
  // only for the bytes it sends.
  response.set_content_provider(std::size_t(size), contentType,
                                [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                  char buffer[64 * 1024];
                                  const std::size_t want = std::min(length, sizeof buffer);
                                  const ssize_t got = ::pread(file->get(), buffer, want, off_t(offset));
                                  if (got <= 0) return false;
                                  return sink.write(buffer, std::size_t(got));
                                });
  return true;
}

std::optional<std::string> readBody(const httplib::ContentReader& reader, std::size_t limit) {
  std::string body;
  bool tooLong = false;
  const bool complete = reader([&](const char* data, std::size_t length) {
    if (body.size() + length > limit) {
      tooLong = true;
      return true;  // keep draining so that the connection stays in step
    }
    body.append(data, length);
    return true;
  });
  if (!complete || tooLong) return std::nullopt;
  return body;
}

void discardBody(const httplib::ContentReader& reader) {
  reader([](const char*, std::size_t) { return true; });
}

std::optional<nlohmann::json> readJsonObject(const httplib::ContentReader& reader, httplib::Response& response) {
  const auto body = readBody(reader);
  if (!body) {
    sendError(response, 413, "The request body is too large.", "payload_too_large");
    return std::nullopt;
  }
  auto value = nlohmann::json::parse(*body, nullptr, false);
  if (value.is_discarded()) {
    sendError(response, 400, "The request body isn't valid JSON.", "invalid_json");
    return std::nullopt;
  }
  if (!value.is_object()) {
    sendError(response, 400, "The request body must be a JSON object.", "invalid_json");
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> bearerToken(const httplib::Request& request) {
  const std::string header = request.get_header_value("Authorization");
  constexpr std::string_view prefix = "Bearer ";
  if (header.size() <= prefix.size()) return std::nullopt;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(header[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return std::nullopt;
    }
  }
  return header.substr(prefix.size());
}

std::optional<std::string> cookie(const httplib::Request& request, std::string_view name) {
  const std::string header = request.get_header_value("Cookie");
  std::string_view rest = header;
  while (!rest.empty()) {
    const auto semicolon = rest.find(';');
    std::string_view pair = rest.substr(0, semicolon);
    rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    const auto equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name) return std::string(pair.substr(equals + 1));
  }
  return std::nullopt;
}

std::optional<int64_t> parseInt64(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool isRecordingUid(std::string_view text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

}  // namespace tolvane::server::http
