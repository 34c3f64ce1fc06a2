#include "server/tus_routes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fmt/format.h>

#include "kit/base/file_descriptor.h"
#include "kit/base/format.h"
#include "server/http_helpers.h"
#include "server/media_probe.h"
#include "server/server_crypto.h"
#include "server/unix_time.h"

namespace tolvane::server {
namespace {

constexpr std::size_t kWriteBufferBytes = 1 << 20;

void sendTusError(httplib::Response& response, int status, const std::string& message) {
  response.status = status;
  response.set_header("Tus-Resumable", TusRoutes::version);
  response.set_content(message + "\n", "text/plain; charset=utf-8");
}

// "key base64,key2 base64,key3": keys without spaces or commas, values in standard Base64.
bool isValidMetadata(const std::string& text) {
  if (text.empty()) return true;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto comma = text.find(',', start);
    const std::string entry = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const auto space = entry.find(' ');
    const std::string key = entry.substr(0, space);
    if (key.empty()) return false;
    if (space != std::string::npos && !crypto::base64Decode(entry.substr(space + 1))) return false;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

}  // namespace

void TusRoutes::install(httplib::Server& server) {
  server.Options("/tus(/.*)?", http::route(this, &TusRoutes::options));
  server.Post("/tus/?", http::route(this, &TusRoutes::create));
  // cpp-httplib serves HEAD through the GET handlers; a tus upload has nothing to GET.
  server.Get("/tus/(.+)", [this](const httplib::Request& request, httplib::Response& response) {
    if (request.method != "HEAD") {
      response.set_header("Allow", "HEAD, PATCH, OPTIONS");
      sendTusError(response, 405, "Use HEAD or PATCH on an upload.");
      return;
    }
    head(request, response);
  });
  server.Patch("/tus/(.+)", http::route(this, &TusRoutes::patch));
}

void TusRoutes::options(const httplib::Request&, httplib::Response& response) {
  response.status = 204;
  response.set_header("Tus-Resumable", version);
  response.set_header("Tus-Version", version);
  response.set_header("Tus-Extension", "creation");
  response.set_header("Tus-Max-Size", std::to_string(context_.options.maxUploadBytes));
}

std::optional<std::string> TusRoutes::authorize(const httplib::Request& request, httplib::Response& response) {
  if (request.get_header_value("Tus-Resumable") != version) {
    response.set_header("Tus-Version", version);
    sendTusError(response, 412, "This server speaks tus 1.0.0; send \"Tus-Resumable: 1.0.0\".");
    return std::nullopt;
  }
  for (const char* name : {"AuthorizationSignature", "AuthorizationExpire", "LibraryId", "VideoId"}) {
    if (!request.has_header(name)) {
      sendTusError(response, 401, std::string("The upload request lacks the ") + name + " header.");
      return std::nullopt;
    }
  }
  const std::string videoUid = request.get_header_value("VideoId");
  const auto expire = http::parseInt64(request.get_header_value("AuthorizationExpire"));
  const auto check = expire ? context_.signer.check(request.get_header_value("AuthorizationSignature"),
                                                    request.get_header_value("LibraryId"), *expire, videoUid, unixNow())
                            : UploadSigner::Check::mismatch;
  if (check == UploadSigner::Check::mismatch) {
    sendTusError(response, 403, "The upload signature is not valid.");
    return std::nullopt;
  }
  if (check == UploadSigner::Check::expired) {
    sendTusError(response, 403, "The upload signature has expired.");
    return std::nullopt;
  }
  if (!context_.recordings.find(videoUid)) {
    sendTusError(response, 404, "The video of this upload no longer exists.");
    return std::nullopt;
  }
  return videoUid;
}

std::optional<Upload> TusRoutes::authorizedUpload(const httplib::Request& request, httplib::Response& response,
                                                  const std::string& videoUid) {
  auto upload = context_.uploads.find(request.matches[1].str());
  if (!upload) {
    sendTusError(response, 404, "There is no such upload.");
    return std::nullopt;
  }
  // A valid ticket opens only the uploads of its own video.
  if (upload->videoUid != videoUid) {
    sendTusError(response, 403, "This upload belongs to another video.");
    return std::nullopt;
  }
  if (upload->isExpired(unixNow())) {
    sendTusError(response, 410, "This upload has expired.");
    return std::nullopt;
  }
  return upload;
}

void TusRoutes::create(const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader) {
  // Creation with an upload body is not offered; whatever came along is dropped.
  http::discardBody(reader);
  const auto videoUid = authorize(request, response);
  if (!videoUid) return;
  if (request.has_header("Upload-Defer-Length")) {
    sendTusError(response, 400, "Deferred upload lengths are not supported.");
    return;
  }
  const auto length = http::parseInt64(request.get_header_value("Upload-Length"));
  if (!request.has_header("Upload-Length") || !length || *length < 0) {
    sendTusError(response, 400, "The upload needs an Upload-Length of zero or more bytes.");
    return;
  }
  if (*length > context_.options.maxUploadBytes) {
    response.set_header("Tus-Max-Size", std::to_string(context_.options.maxUploadBytes));
    sendTusError(response, 413, "The upload is larger than this server accepts.");
    return;
  }
  const std::string metadata = request.get_header_value("Upload-Metadata");
  if (!isValidMetadata(metadata)) {
    sendTusError(response, 400, "The Upload-Metadata header is malformed.");
    return;
  }

  const auto video = context_.recordings.find(*videoUid);
  if (!video) return sendTusError(response, 404, "The video of this upload no longer exists.");
  const auto created = context_.uploads.create(
      *videoUid, *length, metadata,
      {video->accountId, context_.options.quotaBytes, context_.options.maxUnfinishedUploads});
  if (const auto* refusal = std::get_if<TusStore::Refusal>(&created)) {
    if (*refusal == TusStore::Refusal::overQuota) {
      return sendTusError(response, 413,
                          fmt::format("This recording doesn't fit in the {} your Tolvane account may hold. Delete some "
                                      "recordings to make room.",
                                      formatByteCount(context_.options.quotaBytes)));
    }
    response.set_header("Retry-After", "60");
    return sendTusError(response, 429,
                        fmt::format("Your account already has {} unfinished uploads. Let them finish before starting "
                                    "another.",
                                    context_.options.maxUnfinishedUploads));
  }
  const auto& upload = std::get<Upload>(created);
  context_.log.info("upload {} created for video {} ({} bytes)", upload.id, *videoUid, *length);
  if (*length == 0) finish(upload);
  response.status = 201;
  response.set_header("Tus-Resumable", version);
  response.set_header("Location", "/tus/" + upload.id);
  response.set_header("Upload-Offset", "0");
}

void TusRoutes::head(const httplib::Request& request, httplib::Response& response) {
  const auto videoUid = authorize(request, response);
  if (!videoUid) return;
  const auto upload = authorizedUpload(request, response, *videoUid);
  if (!upload) return;
  response.status = 200;
  response.set_header("Tus-Resumable", version);
  response.set_header("Cache-Control", "no-store");
  response.set_header("Upload-Offset", std::to_string(context_.uploads.offset(*upload)));
  response.set_header("Upload-Length", std::to_string(upload->length));
  if (!upload->metadata.empty()) response.set_header("Upload-Metadata", upload->metadata);
}

void TusRoutes::patch(const httplib::Request& request, httplib::Response& response,
                      const httplib::ContentReader& reader) {
  // Every early answer drains the body first, so a keep-alive connection stays usable.
  const auto videoUid = authorize(request, response);
  if (!videoUid) return http::discardBody(reader);
  const auto upload = authorizedUpload(request, response, *videoUid);
  if (!upload) return http::discardBody(reader);
  if (request.get_header_value("Content-Type") != "application/offset+octet-stream") {
    http::discardBody(reader);
    return sendTusError(response, 415, "PATCH bodies must be sent as application/offset+octet-stream.");
  }
  const auto offset = http::parseInt64(request.get_header_value("Upload-Offset"));
  if (!offset || *offset < 0) {
    http::discardBody(reader);
    return sendTusError(response, 400, "The request needs an Upload-Offset of zero or more bytes.");
  }
  const auto lease = context_.uploads.lease(upload->id);
  if (!lease) {
    http::discardBody(reader);
    return sendTusError(response, 409, "Another request is writing this upload right now.");
  }
  const int64_t current = context_.uploads.offset(*upload);
  if (*offset != current) {
    http::discardBody(reader);
    response.set_header("Upload-Offset", std::to_string(current));
    return sendTusError(response, 409, "The Upload-Offset doesn't match the " + std::to_string(current) +
                                           " bytes this server holds.");
  }
  if (request.has_header("Content-Length")) {
    const auto bodyLength = http::parseInt64(request.get_header_value("Content-Length"));
    if (bodyLength && *bodyLength > upload->length - current) {
      http::discardBody(reader);
      return sendTusError(response, 400, "The request body goes past the upload's length.");
    }
  }

  bool overflow = false;
  bool connectionLost = false;
  const bool written = append(*upload, current, reader, overflow, connectionLost);
  const int64_t reached = context_.uploads.offset(*upload);
  if (connectionLost) {
    context_.log.error("upload {}: request cut off; kept {} of {} bytes", upload->id, reached, upload->length);
  }
  if (reached == upload->length && !upload->completedAt) finish(*upload);
  if (!written) return sendTusError(response, 500, "The server couldn't store the upload.");
  if (overflow) return sendTusError(response, 400, "The request body goes past the upload's length.");
  response.status = 204;
  response.set_header("Tus-Resumable", version);
  response.set_header("Upload-Offset", std::to_string(reached));
}

bool TusRoutes::append(const Upload& upload, int64_t offset, const httplib::ContentReader& reader, bool& overflow,
                       bool& connectionLost) {
  const auto path = context_.uploads.path(upload.id);
  const FileDescriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  if (!file.isOpen()) {
    context_.log.error("upload {}: can't open {}: {}", upload.id, path.string(), std::strerror(errno));
    http::discardBody(reader);
    return false;
  }
  // Bytes are buffered only up to 1 MiB and flushed as they come, so a body of any size
  // streams to disk, and a connection lost mid-body keeps everything received so far.
  std::vector<char> buffer;
  buffer.reserve(kWriteBufferBytes);
  int64_t room = upload.length - offset;
  bool failed = false;
  auto flush = [&] {
    if (!failed && !buffer.empty() && !file.writeAll({buffer.data(), buffer.size()})) {
      context_.log.error("upload {}: write failed: {}", upload.id, std::strerror(errno));
      failed = true;
    }
    buffer.clear();
  };
  const bool complete = reader([&](const char* data, std::size_t length) {
    if (failed) return true;  // drain the rest; the answer is already decided
    std::size_t take = length;
    if (int64_t(take) > room) {
      take = std::size_t(room);
      overflow = true;
    }
    room -= int64_t(take);
    buffer.insert(buffer.end(), data, data + take);
    if (buffer.size() >= kWriteBufferBytes) flush();
    return true;
  });
  flush();
  connectionLost = !complete;
  return !failed;
}

void TusRoutes::finish(const Upload& upload) {
  context_.uploads.markCompleted(upload.id);
  const auto probe = MediaProbe::probe(context_.uploads.path(upload.id));
  const auto video = context_.recordings.find(upload.videoUid);
  context_.recordings.attachUpload(upload.videoUid, upload.id, probe.durationSec, probe.isPlayableMP4);
  // The file this upload replaces is no longer served; it leaves the disk and the quota.
  if (video && video->uploadId && *video->uploadId != upload.id) context_.uploads.remove(*video->uploadId);
  context_.log.info("upload {} complete ({} bytes); {}", upload.id, upload.length,
                    probe.isPlayableMP4 ? "ready to stream" : "not a playable MP4");
}

}  // namespace tolvane::server
