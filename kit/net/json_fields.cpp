#include "kit/net/json_fields.h"

#include <cmath>

#include <fmt/format.h>

namespace tolvane::json {
namespace {

const nlohmann::json* present(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) throw DecodingError(fmt::format("expected an object around \"{}\"", key));
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

const nlohmann::json& required(const nlohmann::json& object, const char* key) {
  const auto* value = present(object, key);
  if (value == nullptr) throw DecodingError(fmt::format("missing \"{}\"", key));
  return *value;
}

[[noreturn]] void wrongType(const char* key, const char* expected) {
  throw DecodingError(fmt::format("\"{}\" is not {}", key, expected));
}

std::int64_t toInt64(const nlohmann::json& value, const char* key) {
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
      wrongType(key, "a 64-bit integer");
    }
    return value.get<std::int64_t>();
  }
  if (value.is_number_float()) {
    const double number = value.get<double>();
    // 2^63 itself is out of range; every double below it converts exactly.
    if (std::isfinite(number) && std::trunc(number) == number && number >= -9223372036854775808.0 &&
        number < 9223372036854775808.0) {
      return static_cast<std::int64_t>(number);
    }
  }
  wrongType(key, "a 64-bit integer");
}

}  // namespace

nlohmann::json parseObject(std::string_view text) {
  auto parsed = nlohmann::json::parse(text, nullptr, false);
  if (parsed.is_discarded()) throw DecodingError("not JSON");
  if (!parsed.is_object()) throw DecodingError("not a JSON object");
  return parsed;
}

const nlohmann::json& requireObject(const nlohmann::json& object, const char* key) {
  const auto& value = required(object, key);
  if (!value.is_object()) wrongType(key, "an object");
  return value;
}

const nlohmann::json& requireArray(const nlohmann::json& object, const char* key) {
  const auto& value = required(object, key);
  if (!value.is_array()) wrongType(key, "an array");
  return value;
}

std::string requireString(const nlohmann::json& object, const char* key) {
  const auto& value = required(object, key);
  if (!value.is_string()) wrongType(key, "a string");
  return value.get<std::string>();
}

std::optional<std::string> optionalString(const nlohmann::json& object, const char* key) {
  const auto* value = present(object, key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_string()) wrongType(key, "a string");
  return value->get<std::string>();
}

std::int64_t requireInt64(const nlohmann::json& object, const char* key) { return toInt64(required(object, key), key); }

std::optional<std::int64_t> optionalInt64(const nlohmann::json& object, const char* key) {
  const auto* value = present(object, key);
  if (value == nullptr) return std::nullopt;
  return toInt64(*value, key);
}

double requireDouble(const nlohmann::json& object, const char* key) {
  const auto& value = required(object, key);
  if (!value.is_number()) wrongType(key, "a number");
  return value.get<double>();
}

std::optional<double> optionalDouble(const nlohmann::json& object, const char* key) {
  const auto* value = present(object, key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_number()) wrongType(key, "a number");
  return value->get<double>();
}

bool requireBool(const nlohmann::json& object, const char* key) {
  const auto& value = required(object, key);
  if (!value.is_boolean()) wrongType(key, "a Boolean");
  return value.get<bool>();
}

std::optional<bool> optionalBool(const nlohmann::json& object, const char* key) {
  const auto* value = present(object, key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_boolean()) wrongType(key, "a Boolean");
  return value->get<bool>();
}

}  // namespace tolvane::json
