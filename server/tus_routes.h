#pragma once

#include <optional>
#include <string>

#include <httplib.h>

#include "server/server_context.h"

namespace tolvane::server {

// The tus 1.0.0 endpoint (core protocol and the creation extension) that upload tickets
// name: POST /tus/ creates an upload, HEAD /tus/{id} reports its offset, PATCH /tus/{id}
// appends to it, OPTIONS describes the server. Every request but OPTIONS carries the
// ticket's four authorisation headers besides "Tus-Resumable".
class TusRoutes {
 public:
  static constexpr const char* version = "1.0.0";

  explicit TusRoutes(ServerContext& context) : context_(context) {}
  void install(httplib::Server& server);

 private:
  // The video uid the request is authorised for, or none after answering the error.
  std::optional<std::string> authorize(const httplib::Request& request, httplib::Response& response);
  // The upload named by the path, checked against the authorised video and its expiry,
  // or none after answering the error.
  std::optional<Upload> authorizedUpload(const httplib::Request& request, httplib::Response& response,
                                         const std::string& videoUid);

  void options(const httplib::Request& request, httplib::Response& response);
  void create(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void head(const httplib::Request& request, httplib::Response& response);
  void patch(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);

  // Streams the body onto the end of the upload's file; returns false when the file
  // could not be written. `overflow` tells that the body went past the upload's length.
  bool append(const Upload& upload, int64_t offset, const httplib::ContentReader& reader, bool& overflow,
              bool& connectionLost);
  void finish(const Upload& upload);

  ServerContext& context_;
};

}  // namespace tolvane::server
