#pragma once

#include <string>

namespace tolvane::server {

// Where to go after signing in: `next` when it is a path of this site, else "/library".
// A browser reads "//evil", "/\evil", "/<tab>/evil" and their percent-encoded spellings as
// another host, so anything that decodes to a second slash or backslash after the first,
// or to a control character (browsers drop tabs and line breaks) is refused.
std::string safeRedirectTarget(const std::string& next);

}  // namespace tolvane::server
