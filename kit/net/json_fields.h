#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tolvane {

// A JSON body that is not the record expected: not JSON, not an object, a required key
// missing, or a value of the wrong type. what() is the sentence the user reads; `detail`
// names the offending key for logs.
class DecodingError : public std::runtime_error {
 public:
  explicit DecodingError(std::string detail)
      : std::runtime_error("The data couldn't be read because it isn't in the correct format."),
        detail_(std::move(detail)) {}
  const std::string& detail() const { return detail_; }

 private:
  std::string detail_;
};

// Strict field readers for the records of the service and the auth backend. A missing
// optional key and an explicit null both read as none; a present value of the wrong
// type is a DecodingError, as is a missing required key. Integers accept only numbers
// with no fractional part that fit in 64 bits.
namespace json {

nlohmann::json parseObject(std::string_view text);
const nlohmann::json& requireObject(const nlohmann::json& object, const char* key);
const nlohmann::json& requireArray(const nlohmann::json& object, const char* key);
std::string requireString(const nlohmann::json& object, const char* key);
std::optional<std::string> optionalString(const nlohmann::json& object, const char* key);
std::int64_t requireInt64(const nlohmann::json& object, const char* key);
std::optional<std::int64_t> optionalInt64(const nlohmann::json& object, const char* key);
double requireDouble(const nlohmann::json& object, const char* key);
std::optional<double> optionalDouble(const nlohmann::json& object, const char* key);
bool requireBool(const nlohmann::json& object, const char* key);
std::optional<bool> optionalBool(const nlohmann::json& object, const char* key);

}  // namespace json
}  // namespace tolvane
