#include "server/html.h"

namespace tolvane::server::html {

std::string escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string page(std::string_view title, std::string_view body, std::string_view signedInEmail,
                 std::string_view csrfToken) {
  std::string account;
  if (!signedInEmail.empty()) {
    account = "<span class=\"who\">" + escape(signedInEmail) +
              "</span><form method=\"post\" action=\"/signout\"><input type=\"hidden\" name=\"csrf\" value=\"" +
              escape(csrfToken) + "\"><button>Sign out</button></form>";
  }
  return std::string(R"(<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)") + escape(title) + R"( · Tolvane</title>
<style>
body{font:16px/1.5 system-ui,sans-serif;margin:0;color:#1d1d1f;background:#f5f5f7}
header{display:flex;gap:1rem;align-items:center;padding:.8rem 1.5rem;background:#fff;border-bottom:1px solid #ddd}
header a.home{font-weight:600;text-decoration:none;color:inherit}header nav{flex:1}
header form{display:inline;margin:0}main{max-width:960px;margin:2rem auto;padding:0 1.5rem}
.who{color:#555}button{font:inherit;padding:.35rem .9rem;border-radius:6px;border:1px solid #999;background:#fff;cursor:pointer}
button.primary{background:#0071e3;color:#fff;border-color:#0071e3}input{font:inherit;padding:.35rem .6rem}
ul.library{list-style:none;padding:0}ul.library li{background:#fff;margin:.5rem 0;padding:.8rem 1rem;border-radius:8px}
.meta{color:#666;font-size:.9em}video{width:100%;max-height:75vh;background:#000;border-radius:8px}
</style></head><body>
<header><a class="home" href="/">Tolvane</a><nav><a href="/library">Library</a></nav>)" +
         account + "</header>\n<main>\n" + std::string(body) + "\n</main></body></html>\n";
}

}  // namespace tolvane::server::html
