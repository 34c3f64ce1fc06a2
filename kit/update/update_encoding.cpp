#include "kit/update/update_encoding.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <array>

#include <fmt/format.h>

namespace tolvane::update_encoding {

std::string base64Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(written));
  return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  for (const char c : text) {
    const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                       c == '/' || c == '=';
    if (!valid) return std::nullopt;
  }
  // Padding only at the very end, at most two characters.
  const auto firstPad = text.find('=');
  if (firstPad != std::string_view::npos &&
      (firstPad + 2 < text.size() || text.find_first_not_of('=', firstPad) != std::string_view::npos)) {
    return std::nullopt;
  }
  std::string out(text.size() / 4 * 3, '\0');
  const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (written < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding as zero bytes.
  std::size_t length = static_cast<std::size_t>(written);
  if (text.ends_with("==")) {
    length -= 2;
  } else if (text.ends_with('=')) {
    length -= 1;
  }
  out.resize(length);
  return out;
}

std::string sha256Hex(std::string_view bytes) {
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest.data());
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (const unsigned char byte : digest) hex += fmt::format("{:02x}", byte);
  return hex;
}

}  // namespace tolvane::update_encoding
