#pragma once

#include <string>
#include <string_view>

namespace tolvane {

// The Ed25519 public key (base64 of the raw 32 bytes) whose signatures the application
// accepts on the update feed and its packages; the build reads it from
// data/update-signing-key.pub. Its private half never enters the repository.
extern const std::string_view kUpdatePublicKey;

// kUpdatePublicKey, or TOLVANE_UPDATE_PUBLIC_KEY when that is set and not empty, so a
// test can trust a feed its own server signed with a throw-away key.
std::string updatePublicKey();

}  // namespace tolvane
