#include "kit/update/update_public_key.h"

#include <cstdlib>

namespace tolvane {

const std::string_view kUpdatePublicKey = TOLVANE_UPDATE_PUBLIC_KEY_TEXT;

std::string updatePublicKey() {
  const char* override = std::getenv("TOLVANE_UPDATE_PUBLIC_KEY");
  return override != nullptr && *override != '\0' ? std::string(override) : std::string(kUpdatePublicKey);
}

}  // namespace tolvane
