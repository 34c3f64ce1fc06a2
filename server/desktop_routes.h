#pragma once

#include <httplib.h>

#include "server/server_context.h"

namespace tolvane::server {

// The desktop sign-in handshake.
//   POST /api/desktop/start {"deviceName", "codeChallenge"}
//        → {"requestId", "expiresAt", "connectUrl", "pollIntervalMs"}
//   POST /api/desktop/token {"requestId", "codeVerifier"}
//        → {"status": "pending"} or {"status": "ready", "accessToken", "refreshToken", "email"};
//          410 once expired or redeemed.
class DesktopRoutes {
 public:
  static constexpr int pollIntervalMs = 1000;

  explicit DesktopRoutes(ServerContext& context) : context_(context) {}
  void install(httplib::Server& server);

 private:
  void start(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void token(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);

  ServerContext& context_;
};

}  // namespace tolvane::server
