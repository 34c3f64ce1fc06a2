#pragma once

#include <httplib.h>

#include "server/server_context.h"

namespace tolvane::server {

// The authentication backend's token endpoint: refresh-token grants with rotation, and
// signing out.
//   POST /auth/v1/token?grant_type=refresh_token   {"refresh_token": "..."}
//   POST /auth/v1/logout[?scope=global]            (bearer) ends the token's sign-in, or all

class AuthRoutes {
 public:
  explicit AuthRoutes(ServerContext& context) : context_(context) {}
  void install(httplib::Server& server);

 private:
  void token(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void logout(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  bool hasValidApiKey(const httplib::Request& request) const;

  ServerContext& context_;
};

}  // namespace tolvane::server
