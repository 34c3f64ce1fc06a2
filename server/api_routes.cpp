#include "server/api_routes.h"

#include <chrono>
#include <cmath>

#include "kit/base/iso8601.h"
#include "server/http_helpers.h"
#include "server/unix_time.h"

namespace tolvane::server {
namespace {

constexpr int64_t kDefaultLibraryLimit = 100;
constexpr int64_t kMaxLibraryLimit = 1000;
constexpr std::size_t kMaxTitleLength = 1000;

// A title as stored: surrounding white space trimmed; none when empty or too long.
std::optional<std::string> cleanTitle(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::nullopt;
  const auto last = text.find_last_not_of(" \t\r\n");
  std::string title = text.substr(first, last - first + 1);
  if (title.size() > kMaxTitleLength) return std::nullopt;
  return title;
}

}  // namespace

void ApiRoutes::install(httplib::Server& server) {
  server.Get("/api/me", http::route(this, &ApiRoutes::me));
  server.Get("/api/recordings", http::route(this, &ApiRoutes::library));
  server.Post("/api/stream/upload-url", http::route(this, &ApiRoutes::uploadURL));
  server.Post("/api/recordings", http::route(this, &ApiRoutes::save));
  server.Get("/api/stream/video/(.+)", http::route(this, &ApiRoutes::videoStatus));
  server.Patch("/api/recordings/(.+)", http::route(this, &ApiRoutes::rename));
  server.Get("/api/linux/latest", http::route(this, &ApiRoutes::latestRelease));
}

std::optional<Account> ApiRoutes::authenticate(const httplib::Request& request, httplib::Response& response) {
  const auto token = http::bearerToken(request);
  if (!token) {
    http::sendError(response, 401, "Sign in to Tolvane to continue.", "unauthorized");
    return std::nullopt;
  }
  auto caller = context_.tokens.authenticate(*token);
  if (!caller) {
    http::sendError(response, 401, "Your Tolvane session has expired. Sign in again.", "invalid_token");
    return std::nullopt;
  }
  return std::move(caller->account);
}

std::optional<ApiRoutes::SignedInJson> ApiRoutes::readSignedInJson(const httplib::Request& request,
                                                                  httplib::Response& response,
                                                                  const httplib::ContentReader& reader) {
  auto account = authenticate(request, response);
  if (!account) {
    http::discardBody(reader);
    return std::nullopt;
  }
  auto body = http::readJsonObject(reader, response);
  if (!body) return std::nullopt;
  return SignedInJson{std::move(*account), std::move(*body)};
}

std::optional<Video> ApiRoutes::ownVideo(const std::string& uid, const Account& account, httplib::Response& response) {
  auto video = http::isRecordingUid(uid) ? context_.recordings.find(uid) : std::nullopt;
  if (!video || video->accountId != account.id) {
    http::sendError(response, 404, "There is no such recording.", "not_found");
    return std::nullopt;
  }
  return video;
}

nlohmann::json ApiRoutes::summary(const Video& video) const {
  return {{"id", video.uid},
          {"title", video.displayTitle()},
          {"durationSec", video.durationSec.value_or(0)},
          {"createdAt", formatISO8601(Date(std::chrono::seconds(video.savedAt.value_or(video.createdAt))))},
          {"views", video.views},
          {"mine", true},
          {"sharedWithTeam", false},
          // A frame of the video once its file plays; a drawn placeholder before.
          {"thumbnail",
           context_.options.url("/v/" + video.uid + (video.isReady ? "/thumbnail.jpg" : "/thumbnail.svg"))},
          {"shareUrl", context_.options.url("/v/" + video.uid)}};
}

nlohmann::json ApiRoutes::ticket(const Video& video) const {
  const int64_t expire = unixNow() + context_.options.ticketTTL;
  return {{"uid", video.uid},
          {"libraryId", context_.signer.libraryId()},
          {"signature", context_.signer.signature(expire, video.uid)},
          {"expire", expire},
          {"endpoint", context_.options.url("/tus/")}};
}

void ApiRoutes::me(const httplib::Request& request, httplib::Response& response) {
  const auto account = authenticate(request, response);
  if (!account) return;
  http::sendJson(response, 200, {{"email", account->email}, {"pro", false}, {"lifetime", false}, {"admin", false}});
}

void ApiRoutes::library(const httplib::Request& request, httplib::Response& response) {
  const auto account = authenticate(request, response);
  if (!account) return;
  int64_t limit = kDefaultLibraryLimit;
  if (request.has_param("limit")) {
    const auto parsed = http::parseInt64(request.get_param_value("limit"));
    if (!parsed || *parsed < 1) {
      http::sendError(response, 400, "The limit must be a whole number of at least 1.", "invalid_request");
      return;
    }
    limit = std::min(*parsed, kMaxLibraryLimit);
  }
  // Pages after the first: the newest `offset` recordings are skipped.
  int64_t offset = 0;
  if (request.has_param("offset")) {
    const auto parsed = http::parseInt64(request.get_param_value("offset"));
    if (!parsed || *parsed < 0) {
      http::sendError(response, 400, "The offset must be a whole number of at least 0.", "invalid_request");
      return;
    }
    offset = *parsed;
  }
  nlohmann::json recordings = nlohmann::json::array();
  for (const auto& video : context_.recordings.library(account->id, limit, offset)) recordings.push_back(summary(video));
  http::sendJson(response, 200, {{"recordings", recordings}});
}

void ApiRoutes::uploadURL(const httplib::Request& request, httplib::Response& response,
                          const httplib::ContentReader& reader) {
  const auto call = readSignedInJson(request, response, reader);
  if (!call) return;
  const auto& [account, body] = *call;
  const auto name = body.find("name");
  const auto uid = body.find("uid");
  const bool hasName = name != body.end();
  const bool hasUid = uid != body.end();
  if (hasName == hasUid) {
    http::sendError(response, 400, "Ask for an upload with either a name or a uid.", "invalid_request");
    return;
  }

  if (hasUid) {
    if (!uid->is_string()) {
      http::sendError(response, 400, "The uid must be a string.", "invalid_request");
      return;
    }
    const auto video = ownVideo(uid->get<std::string>(), account, response);
    if (!video) return;
    http::sendJson(response, 200, ticket(*video));
    return;
  }

  if (!name->is_string() || name->get<std::string>().size() > kMaxTitleLength) {
    http::sendError(response, 400, "The name must be a string of at most 1000 characters.", "invalid_request");
    return;
  }
  const auto video = context_.recordings.create(account.id, name->get<std::string>(), context_.options.recordingLimit);
  if (!video) {
    http::sendError(response, 403,
                    "You've reached the number of recordings your Tolvane account can hold. Delete some to upload more.",
                    "limit_reached");
    return;
  }
  http::sendJson(response, 200, ticket(*video));
}

void ApiRoutes::save(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
  const auto call = readSignedInJson(request, response, reader);
  if (!call) return;
  const auto& [account, body] = *call;
  const auto uid = body.find("uid");
  const auto title = body.find("title");
  const auto duration = body.find("durationSec");
  if (uid == body.end() || !uid->is_string() || title == body.end() || !title->is_string() ||
      duration == body.end() || !duration->is_number_integer() || duration->get<int64_t>() < 0) {
    http::sendError(response, 400, "Saving a recording needs a uid, a title and a whole number durationSec.",
                    "invalid_request");
    return;
  }
  const auto video = ownVideo(uid->get<std::string>(), account, response);
  if (!video) return;
  const auto cleaned = cleanTitle(title->get<std::string>());
  if (!cleaned && title->get<std::string>().size() > kMaxTitleLength) {
    http::sendError(response, 400, "The title must be at most 1000 characters.", "invalid_request");
    return;
  }
  context_.recordings.save(video->uid, cleaned.value_or(video->name), duration->get<int64_t>());
  http::sendJson(response, 200, {{"ok", true}, {"shareUrl", context_.options.url("/v/" + video->uid)}});
}

void ApiRoutes::videoStatus(const httplib::Request& request, httplib::Response& response) {
  const auto account = authenticate(request, response);
  if (!account) return;
  const auto video = ownVideo(request.matches[1].str(), *account, response);
  if (!video) return;
  http::sendJson(response, 200,
                 {{"uid", video->uid},
                  {"name", video->displayTitle()},
                  {"durationSec", video->probedDurationSec.value_or(0.0)},
                  {"readyToStream", video->isReady}});
}

void ApiRoutes::rename(const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader) {
  const auto call = readSignedInJson(request, response, reader);
  if (!call) return;
  const auto& [account, body] = *call;
  const auto video = ownVideo(request.matches[1].str(), account, response);
  if (!video) return;
  const auto title = body.find("title");
  const auto cleaned = title != body.end() && title->is_string() ? cleanTitle(title->get<std::string>()) : std::nullopt;
  if (!cleaned) {
    http::sendError(response, 400, "The title must be a non-empty string of at most 1000 characters.",
                    "invalid_request");
    return;
  }
  context_.recordings.rename(video->uid, *cleaned);
  http::sendJson(response, 200, {{"ok", true}});
}

void ApiRoutes::latestRelease(const httplib::Request&, httplib::Response& response) {
  const auto& options = context_.options;
  http::sendJson(response, 200,
                 {{"version", options.latestVersion},
                  {"available", options.latestAvailable},
                  {"downloadUrl", options.latestDownloadURL},
                  {"pageUrl", options.latestPageURL}});
}

}  // namespace tolvane::server
