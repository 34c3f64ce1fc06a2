#include "server/auth_routes.h"

#include "server/http_helpers.h"
#include "server/server_crypto.h"

namespace tolvane::server {

void AuthRoutes::install(httplib::Server& server) {
  server.Post("/auth/v1/token", http::route(this, &AuthRoutes::token));
  server.Post("/auth/v1/logout", http::route(this, &AuthRoutes::logout));
}

bool AuthRoutes::hasValidApiKey(const httplib::Request& request) const {
  return request.has_header("apikey") && crypto::constantTimeEquals(request.get_header_value("apikey"), context_.options.anonKey);
}

void AuthRoutes::token(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
  if (!hasValidApiKey(request)) {
    http::discardBody(reader);
    http::sendError(response, 401, "The request didn't carry this server's API key.", "invalid_api_key");
    return;
  }
  if (request.get_param_value("grant_type") != "refresh_token") {
    http::discardBody(reader);
    http::sendError(response, 400, "Only the refresh_token grant is supported.", "unsupported_grant_type");
    return;
  }
  const auto body = http::readJsonObject(reader, response);
  if (!body) return;
  const auto refreshToken = body->find("refresh_token");
  if (refreshToken == body->end() || !refreshToken->is_string() || refreshToken->get<std::string>().empty()) {
    http::sendError(response, 400, "The request needs a refresh_token.", "invalid_request");
    return;
  }
  const auto grant = context_.tokens.refresh(refreshToken->get<std::string>());
  if (!grant) {
    http::sendError(response, 400, "That refresh token is invalid, already used or revoked.", "invalid_grant");
    return;
  }
  http::sendJson(response, 200,
                 {{"access_token", grant->accessToken},
                  {"token_type", "bearer"},
                  {"expires_in", grant->expiresIn},
                  {"expires_at", grant->expiresAt},
                  {"refresh_token", grant->refreshToken},
                  {"user", {{"id", grant->account.id}, {"email", grant->account.email}}}});
}

void AuthRoutes::logout(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
  http::discardBody(reader);
  const auto token = http::bearerToken(request);
  const auto caller = token ? context_.tokens.authenticate(*token) : std::nullopt;
  if (!caller) {
    http::sendError(response, 401, "You're signed out of Tolvane.", "unauthorized");
    return;
  }
  // "scope=global" signs out every device; by default only this sign-in's family ends.
  if (request.get_param_value("scope") == "global") {
    context_.tokens.revokeAll(caller->account.id);
  } else {
    context_.tokens.revokeFamily(caller->familyId);
  }
  response.status = 204;
}

}  // namespace tolvane::server
