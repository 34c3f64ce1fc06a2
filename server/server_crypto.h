#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::server {

// The small cryptographic vocabulary of the server, all on OpenSSL's libcrypto.
namespace crypto {

// SHA-256 of the bytes, as 64 lower-case hexadecimal characters.
std::string sha256Hex(std::string_view data);
// HMAC-SHA-256 of `data` under `key`, as raw bytes (32).
std::string hmacSha256(std::string_view key, std::string_view data);
// The bytes as lower-case hexadecimal characters.
std::string toHex(std::string_view bytes);
// `count` bytes from the secure random source, as 2 × count lower-case hex characters.
std::string randomHex(std::size_t count);
// Compares without leaking where the first difference lies.
bool constantTimeEquals(std::string_view a, std::string_view b);

std::string base64UrlEncode(std::string_view data);  // no padding
std::optional<std::string> base64UrlDecode(std::string_view text);
// Standard alphabet with padding, as tus metadata uses it.
std::optional<std::string> base64Decode(std::string_view text);
std::string base64Encode(std::string_view data);

}  // namespace crypto
}  // namespace tolvane::server
