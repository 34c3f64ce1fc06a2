#pragma once

#include <string>
#include <string_view>

namespace tolvane::server {

// Building blocks of the server-rendered pages: escaping and the shared page frame.
namespace html {

std::string escape(std::string_view text);
// A complete document with the site's header; `body` is already HTML. A signed-in
// header carries the sign-out form with the session's CSRF token.
std::string page(std::string_view title, std::string_view body, std::string_view signedInEmail = {},
                 std::string_view csrfToken = {});

}  // namespace html
}  // namespace tolvane::server
