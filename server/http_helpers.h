#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace tolvane::server {

// Answers and request pieces every route needs.
namespace http {

// The handler of a route that a member function of `routes` answers.
template <class Routes>
httplib::Server::Handler route(Routes* routes, void (Routes::*answer)(const httplib::Request&, httplib::Response&)) {
  return [routes, answer](const httplib::Request& request, httplib::Response& response) {
    (routes->*answer)(request, response);
  };
}
// The same for an answer that reads the request body as it streams in.
template <class Routes>
httplib::Server::HandlerWithContentReader route(Routes* routes,
                                                void (Routes::*answer)(const httplib::Request&, httplib::Response&,
                                                                       const httplib::ContentReader&)) {
  return [routes, answer](const httplib::Request& request, httplib::Response& response,
                          const httplib::ContentReader& reader) { (routes->*answer)(request, response, reader); };
}

// Largest JSON or form body a route reads into memory.
inline constexpr std::size_t maxSmallBody = 64 * 1024;

void sendJson(httplib::Response& response, int status, const nlohmann::json& body);
// The service's error body: {"error": sentence, "code": code}.
void sendError(httplib::Response& response, int status, const std::string& message, const std::string& code);

// Answers with the file at `path`, honouring the request's Range so that a video seeks
// and an interrupted download resumes; the file is read piece by piece as it is sent.
// False, with nothing answered, when the file cannot be opened.
bool sendFile(httplib::Response& response, const std::filesystem::path& path, const std::string& contentType);

// Reads a whole request body of at most `limit` bytes; none when it is longer or the
// connection fails.
std::optional<std::string> readBody(const httplib::ContentReader& reader, std::size_t limit = maxSmallBody);
// Consumes and drops the rest of a body nobody will use, so the connection stays usable.
void discardBody(const httplib::ContentReader& reader);

// Reads a JSON object body. On failure answers 400 (413 when too long) and returns none.
std::optional<nlohmann::json> readJsonObject(const httplib::ContentReader& reader, httplib::Response& response);

// The token of an "Authorization: Bearer <token>" header.
std::optional<std::string> bearerToken(const httplib::Request& request);
std::optional<std::string> cookie(const httplib::Request& request, std::string_view name);

// A decimal signed 64-bit number with nothing else around it (a leading "+" allowed).
std::optional<int64_t> parseInt64(std::string_view text);
// The recording ids this service hands out: lower-case canonical UUIDs.
bool isRecordingUid(std::string_view text);

}  // namespace http
}  // namespace tolvane::server
