#include "server/server_crypto.h"

#include <array>
#include <stdexcept>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

namespace tolvane::server::crypto {
namespace {

constexpr std::string_view kStandardAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kUrlAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string hex(const unsigned char* bytes, std::size_t count) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(digits[bytes[i] >> 4]);
    out.push_back(digits[bytes[i] & 0x0f]);
  }
  return out;
}

std::string encode(std::string_view data, std::string_view alphabet, bool pad) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    uint32_t n = (uint32_t(uint8_t(data[i])) << 16) | (uint32_t(uint8_t(data[i + 1])) << 8) | uint8_t(data[i + 2]);
    out.push_back(alphabet[(n >> 18) & 63]);
    out.push_back(alphabet[(n >> 12) & 63]);
    out.push_back(alphabet[(n >> 6) & 63]);
    out.push_back(alphabet[n & 63]);
  }
  const std::size_t rest = data.size() - i;
  if (rest == 1) {
    uint32_t n = uint32_t(uint8_t(data[i])) << 16;
    out.push_back(alphabet[(n >> 18) & 63]);
    out.push_back(alphabet[(n >> 12) & 63]);
    if (pad) out += "==";
  } else if (rest == 2) {
    uint32_t n = (uint32_t(uint8_t(data[i])) << 16) | (uint32_t(uint8_t(data[i + 1])) << 8);
    out.push_back(alphabet[(n >> 18) & 63]);
    out.push_back(alphabet[(n >> 12) & 63]);
    out.push_back(alphabet[(n >> 6) & 63]);
    if (pad) out.push_back('=');
  }
  return out;
}

// Decodes strictly: only the alphabet's characters, padding only when `padded`, and no
// leftover bits, so that one text has exactly one meaning.
std::optional<std::string> decode(std::string_view text, std::string_view alphabet, bool padded) {
  if (padded) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    text.remove_suffix(padding);
  }
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(text.size() * 3 / 4);
  uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    const auto index = alphabet.find(c);
    if (index == std::string_view::npos) return std::nullopt;
    buffer = (buffer << 6) | uint32_t(index);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(char((buffer >> bits) & 0xff));
    }
  }
  if (bits > 0 && (buffer & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

}  // namespace

std::string sha256Hex(std::string_view data) {
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data());
  return hex(digest.data(), digest.size());
}

std::string hmacSha256(std::string_view key, std::string_view data) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), int(key.size()), reinterpret_cast<const unsigned char*>(data.data()), data.size(),
       digest.data(), &length);
  return std::string(reinterpret_cast<const char*>(digest.data()), length);
}

std::string toHex(std::string_view bytes) {
  return hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string randomHex(std::size_t count) {
  std::string bytes(count, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), int(count)) != 1) {
    throw std::runtime_error("The system's random source failed.");
  }
  return hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string base64UrlEncode(std::string_view data) { return encode(data, kUrlAlphabet, false); }
std::optional<std::string> base64UrlDecode(std::string_view text) { return decode(text, kUrlAlphabet, false); }
std::string base64Encode(std::string_view data) { return encode(data, kStandardAlphabet, true); }
std::optional<std::string> base64Decode(std::string_view text) { return decode(text, kStandardAlphabet, true); }

}  // namespace tolvane::server::crypto
