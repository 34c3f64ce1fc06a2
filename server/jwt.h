#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tolvane::server {

// JSON Web Tokens signed with HS256 under one server secret: the access tokens the
// desktop app sends as bearer tokens and reads "exp" from to schedule refreshes.
class Jwt {
 public:
  explicit Jwt(std::string key);

  // A compact token "header.payload.signature" carrying `claims` (a JSON object).
  std::string sign(const nlohmann::json& claims) const;

  // The claims of a token whose signature checks out, whose header names HS256 and whose
  // "exp" (a number) lies after `nowUnix`; none for anything else.
  std::optional<nlohmann::json> verify(std::string_view token, int64_t nowUnix) const;

 private:
  std::string key_;
};

}  // namespace tolvane::server
