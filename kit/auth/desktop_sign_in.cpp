#include "kit/auth/desktop_sign_in.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "kit/base/errors.h"
#include "kit/base/iso8601.h"
#include "kit/net/http_error.h"
#include "kit/net/json_fields.h"

namespace tolvane {
namespace {

constexpr double kDefaultRequestLifetimeSec = 600;
constexpr double kDefaultPollIntervalSec = 2.0;
constexpr std::int64_t kDefaultSessionLifetimeSec = 3600;

std::string hex(const unsigned char* bytes, std::size_t count) {
  std::string text;
  text.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) text += fmt::format("{:02x}", bytes[i]);
  return text;
}

HTTPRequest jsonPost(const std::string& url, const nlohmann::json& body) {
  HTTPRequest request;
  request.method = "POST";
  request.url = url;
  request.timeoutSec = 60;
  request.headers = {{"Content-Type", "application/json"}};
  request.body = body.dump();
  return request;
}

std::optional<std::vector<unsigned char>> base64Decode(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<unsigned char> bytes(text.size() / 4 * 3 + 1);
  const int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                     static_cast<int>(text.size()));
  if (length < 0) return std::nullopt;
  // EVP_DecodeBlock counts padding as zero bytes; drop them.
  std::size_t size = static_cast<std::size_t>(length);
  for (std::size_t i = text.size(); i > 0 && text[i - 1] == '=' && size > 0; --i) --size;
  bytes.resize(size);
  return bytes;
}

void sleepFor(double seconds, const std::stop_token& stop) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  const auto duration = std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9));
  wake.wait_for(lock, stop, duration, [] { return false; });
  if (stop.stop_requested()) throw CancellationError();
}

}  // namespace

DesktopSignIn::DesktopSignIn(std::shared_ptr<HTTPPerforming> http, Url siteURL, Now now)
    : http_(std::move(http)), siteURL_(std::move(siteURL)), now_(std::move(now)) {}

std::string DesktopSignIn::randomHex(std::size_t count) {
  std::vector<unsigned char> bytes(count);
  if (count > 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
    throw std::runtime_error("Tolvane couldn't get secure random bytes for sign-in.");
  }
  return hex(bytes.data(), bytes.size());
}

std::string DesktopSignIn::sha256Hex(std::string_view text) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
  return hex(digest, sizeof digest);
}

std::optional<Date> DesktopSignIn::expiryOfJWT(std::string_view token) {
  std::vector<std::string_view> pieces;
  while (!token.empty()) {
    const auto dot = token.find('.');
    if (dot != 0) pieces.push_back(token.substr(0, dot));
    if (dot == std::string_view::npos) break;
    token.remove_prefix(dot + 1);
  }
  if (pieces.size() < 2) return std::nullopt;

  std::string payload(pieces[1]);
  for (char& c : payload) {
    if (c == '-') c = '+';
    if (c == '_') c = '/';
  }
  while (payload.size() % 4 != 0) payload += '=';
  const auto bytes = base64Decode(payload);
  if (!bytes) return std::nullopt;
  const auto claims = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, false);
  if (!claims.is_object()) return std::nullopt;
  const auto exp = claims.find("exp");
  if (exp == claims.end() || !exp->is_number()) return std::nullopt;
  const double seconds = exp->get<double>();
  if (!std::isfinite(seconds)) return std::nullopt;
  return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds)));
}

SignInRequest DesktopSignIn::start(const std::string& deviceName, std::stop_token stop) const {
  const std::string verifier = randomHex(32);
  const auto request = jsonPost(siteURL_.appendingPathComponent("api/desktop/start").text(),
                                {{"deviceName", deviceName}, {"codeChallenge", sha256Hex(verifier)}});
  const HTTPResponse response = http_->data(request, std::move(stop));
  if (response.status != 200) throw HTTPError(response.status, "Couldn't reach Tolvane to start sign-in.");

  const auto object = json::parseObject(response.body);
  const std::string requestId = json::requireString(object, "requestId");
  const std::string expiresAtText = json::requireString(object, "expiresAt");
  const std::string connectURL = json::requireString(object, "connectUrl");
  const auto pollIntervalMs = json::optionalInt64(object, "pollIntervalMs");

  // The answer came (a 200) but is unusable: not a network failure, so not status 0.
  if (!Url::parse(connectURL)) throw HTTPError(200, "Tolvane sent back a sign-in link we couldn't read.");
  const Date expiresAt = parseISO8601WithFraction(expiresAtText)
                             .value_or(now_() + std::chrono::duration_cast<Date::duration>(
                                                    std::chrono::duration<double>(kDefaultRequestLifetimeSec)));
  const double pollInterval =
      pollIntervalMs ? static_cast<double>(*pollIntervalMs) / 1000.0 : kDefaultPollIntervalSec;
  return {requestId, verifier, connectURL, expiresAt, pollInterval};
}

std::optional<AuthSession> DesktopSignIn::poll(const SignInRequest& request, std::stop_token stop) const {
  const auto httpRequest = jsonPost(siteURL_.appendingPathComponent("api/desktop/token").text(),
                                    {{"requestId", request.requestId}, {"codeVerifier", request.codeVerifier}});
  const HTTPResponse response = http_->data(httpRequest, std::move(stop));
  if (response.status == 410) throw HTTPError(410, "That sign-in link expired. Try again.");
  if (response.status != 200) throw HTTPError(response.status, "Sign-in check failed.");

  const auto object = json::parseObject(response.body);
  const std::string status = json::requireString(object, "status");
  const auto accessToken = json::optionalString(object, "accessToken");
  const auto refreshToken = json::optionalString(object, "refreshToken");
  const auto email = json::optionalString(object, "email");
  // Approved but without both tokens: keep polling until the service hands them over.
  if (status != "ready" || !accessToken || !refreshToken) return std::nullopt;

  const Date expiresAt = expiryOfJWT(*accessToken).value_or(now_() + std::chrono::seconds(kDefaultSessionLifetimeSec));
  return AuthSession{*accessToken, *refreshToken, expiresAt, email};
}

AuthSession DesktopSignIn::waitForApproval(const SignInRequest& request, std::stop_token stop) const {
  while (true) {
    if (now_() >= request.expiresAt) throw HTTPError(410, "That sign-in link expired. Try again.");
    if (stop.stop_requested()) throw CancellationError();
    try {
      if (auto session = poll(request, stop)) return *session;
    } catch (const HTTPError& error) {
      if (error.status() == 410) throw;
    } catch (const CancellationError&) {
      throw;
    } catch (const std::exception&) {
      // Transport failures, "Sign-in check failed." and unreadable bodies: try again
      // at the next interval, until the request expires.
    }
    sleepFor(request.pollIntervalSec, stop);
  }
}

}  // namespace tolvane
