#include "server/jwt.h"

#include <vector>

#include "server/server_crypto.h"

namespace tolvane::server {
namespace {

std::vector<std::string_view> splitDots(std::string_view token) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const auto dot = token.find('.', start);
    parts.push_back(token.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts;
}

std::optional<nlohmann::json> decodeObject(std::string_view segment) {
  const auto bytes = crypto::base64UrlDecode(segment);
  if (!bytes) return std::nullopt;
  auto value = nlohmann::json::parse(*bytes, nullptr, false);
  if (value.is_discarded() || !value.is_object()) return std::nullopt;
  return value;
}

}  // namespace

Jwt::Jwt(std::string key) : key_(std::move(key)) {}

std::string Jwt::sign(const nlohmann::json& claims) const {
  static const std::string header = crypto::base64UrlEncode(R"({"alg":"HS256","typ":"JWT"})");
  const std::string signingInput = header + "." + crypto::base64UrlEncode(claims.dump());
  return signingInput + "." + crypto::base64UrlEncode(crypto::hmacSha256(key_, signingInput));
}

std::optional<nlohmann::json> Jwt::verify(std::string_view token, int64_t nowUnix) const {
  const auto parts = splitDots(token);
  if (parts.size() != 3) return std::nullopt;
  const std::size_t signingLength = parts[0].size() + 1 + parts[1].size();
  const auto expected = crypto::base64UrlEncode(crypto::hmacSha256(key_, token.substr(0, signingLength)));
  if (!crypto::constantTimeEquals(expected, parts[2])) return std::nullopt;

  // The signature is checked first, but the header still has to name the algorithm we
  // signed with: a token claiming "none" or another algorithm is refused outright.
  const auto header = decodeObject(parts[0]);
  if (!header) return std::nullopt;
  const auto alg = header->find("alg");
  if (alg == header->end() || !alg->is_string() || alg->get<std::string>() != "HS256") return std::nullopt;
  auto claims = decodeObject(parts[1]);
  if (!claims) return std::nullopt;
  const auto exp = claims->find("exp");
  if (exp == claims->end() || !exp->is_number()) return std::nullopt;
  if (exp->get<double>() <= double(nowUnix)) return std::nullopt;
  return claims;
}

}  // namespace tolvane::server
