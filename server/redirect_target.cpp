#include "server/redirect_target.h"

#include <httplib.h>

namespace tolvane::server {
namespace {

bool isPlainPath(const std::string& path) {
  if (path.empty() || path.front() != '/') return false;
  if (path.size() > 1 && (path[1] == '/' || path[1] == '\\')) return false;
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < ' ' || byte == 0x7f || c == '\\') return false;
  }
  return true;
}

}  // namespace

std::string safeRedirectTarget(const std::string& next) {
  constexpr const char* fallback = "/library";
  if (next.size() > 2000) return fallback;
  // Every decoding must be a plain path too: a proxy or browser may decode once more.
  std::string text = next;
  for (int round = 0; round < 4; ++round) {
    if (!isPlainPath(text)) return fallback;
    std::string decoded = httplib::detail::decode_url(text, false);
    if (decoded == text) return next;
    text = std::move(decoded);
  }
  return fallback;
}

}  // namespace tolvane::server
