#include "server/desktop_routes.h"

#include <chrono>

#include "kit/base/iso8601.h"
#include "server/http_helpers.h"
#include "server/server_crypto.h"
#include "server/unix_time.h"

namespace tolvane::server {
namespace {

bool isLowerHex64(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
  const auto member = object.find(key);
  if (member == object.end() || !member->is_string()) return std::nullopt;
  return member->get<std::string>();
}

}  // namespace

void DesktopRoutes::install(httplib::Server& server) {
  server.Post("/api/desktop/start", http::route(this, &DesktopRoutes::start));
  server.Post("/api/desktop/token", http::route(this, &DesktopRoutes::token));
}

void DesktopRoutes::start(const httplib::Request& request, httplib::Response& response,
                          const httplib::ContentReader& reader) {
  const auto body = http::readJsonObject(reader, response);
  if (!body) return;
  // Anyone may start a sign-in, and each start is a row; one address gets a few a minute.
  const int64_t wait = context_.throttles.creations.take("start " + context_.guard.clientAddress(request));
  if (wait > 0) {
    response.set_header("Retry-After", std::to_string(wait));
    http::sendError(response, 429, "Too many sign-in requests from your address. Wait a minute and try again.",
                    "rate_limited");
    return;
  }
  const auto deviceName = stringMember(*body, "deviceName");
  const auto challenge = stringMember(*body, "codeChallenge");
  if (!deviceName || deviceName->empty() || deviceName->size() > 200) {
    http::sendError(response, 400, "The request needs a deviceName of at most 200 characters.", "invalid_request");
    return;
  }
  if (!challenge || !isLowerHex64(*challenge)) {
    http::sendError(response, 400, "The codeChallenge must be 64 lower-case hexadecimal characters.", "invalid_request");
    return;
  }

  const auto signIn = context_.signIns.start(*deviceName, *challenge);
  if (context_.options.autoApproveEmail) {
    const auto account = context_.accounts.findOrCreate(*context_.options.autoApproveEmail);
    context_.signIns.approve(signIn.id, account.id);
    context_.log.info("sign-in request {} from \"{}\" approved at once for {}", signIn.id, *deviceName, account.email);
  }
  http::sendJson(response, 200,
                 {{"requestId", signIn.id},
                  {"expiresAt", formatISO8601(Date(std::chrono::seconds(signIn.expiresAt)))},
                  {"connectUrl", context_.options.url("/connect?request=" + signIn.id)},
                  {"pollIntervalMs", pollIntervalMs}});
}

void DesktopRoutes::token(const httplib::Request&, httplib::Response& response, const httplib::ContentReader& reader) {
  const auto body = http::readJsonObject(reader, response);
  if (!body) return;
  const auto requestId = stringMember(*body, "requestId");
  const auto verifier = stringMember(*body, "codeVerifier");
  if (!requestId || !verifier || verifier->empty()) {
    http::sendError(response, 400, "The request needs a requestId and a codeVerifier.", "invalid_request");
    return;
  }
  const auto request = context_.signIns.find(*requestId);
  if (!request) {
    http::sendError(response, 404, "There is no such sign-in request.", "not_found");
    return;
  }
  if (!crypto::constantTimeEquals(crypto::sha256Hex(*verifier), request->codeChallenge)) {
    http::sendError(response, 403, "The code verifier doesn't match this sign-in request.", "verifier_mismatch");
    return;
  }
  if (request->isRedeemed) {
    http::sendError(response, 410, "That sign-in link was already used.", "sign_in_redeemed");
    return;
  }
  if (request->expiresAt <= unixNow()) {
    http::sendError(response, 410, "That sign-in link expired.", "sign_in_expired");
    return;
  }
  if (!request->approvedAccountId) {
    http::sendJson(response, 200, {{"status", "pending"}});
    return;
  }
  const auto account = context_.accounts.byId(*request->approvedAccountId);
  // Only one poll wins the redemption; a second concurrent one sees a used link.
  if (!account || !context_.signIns.redeem(request->id)) {
    http::sendError(response, 410, "That sign-in link was already used.", "sign_in_redeemed");
    return;
  }
  const auto grant = context_.tokens.issue(*account, request->familyId);
  context_.log.info("sign-in request {} redeemed by {}", request->id, account->email);
  http::sendJson(response, 200,
                 {{"status", "ready"},
                  {"accessToken", grant.accessToken},
                  {"refreshToken", grant.refreshToken},
                  {"email", account->email}});
}

}  // namespace tolvane::server
