#pragma once

#include <optional>
#include <string>
#include <string_view>

// Encodings the feed uses for keys, signatures, hashes and its payload.
namespace tolvane::update_encoding {

// Standard alphabet with padding.
std::string base64Encode(std::string_view bytes);
// Standard alphabet; padding required when the length asks for it. None for anything
// else, including embedded white space.
std::optional<std::string> base64Decode(std::string_view text);
// 64 lower-case hex characters.
std::string sha256Hex(std::string_view bytes);

}  // namespace tolvane::update_encoding
