#include "kit/config/url.h"

#include <curl/curl.h>

#include <memory>

namespace tolvane {
namespace {

struct UrlHandleDeleter {
  void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};

// Unknown schemes are accepted as long as the URL has a host, so "tolvane://…" parses too.
constexpr unsigned kParseFlags = CURLU_NON_SUPPORT_SCHEME;

UrlHandle parseHandle(const std::string& text) {
  UrlHandle handle(curl_url());
  if (!handle) return nullptr;
  if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), kParseFlags) != CURLUE_OK) return nullptr;
  return handle;
}

std::string getPart(CURLU* handle, CURLUPart which, unsigned flags = 0) {
  char* raw = nullptr;
  if (curl_url_get(handle, which, &raw, flags) != CURLUE_OK || raw == nullptr) return {};
  std::unique_ptr<char, CurlStringDeleter> owned(raw);
  return owned.get();
}

bool mayStandInPath(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  constexpr std::string_view allowed = "-._~!$&'()*+,;=:@/";
  return allowed.find(c) != std::string_view::npos;
}

std::string percentEncodePath(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (mayStandInPath(c)) {
      out += c;
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
  return out;
}

// Offset where the path ends in an absolute URL text: the first "?" or "#" after the
// authority, or the end.
std::size_t pathEnd(const std::string& text) {
  const auto schemeEnd = text.find("://");
  const std::size_t authorityStart = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
  const auto end = text.find_first_of("?#", authorityStart);
  return end == std::string::npos ? text.size() : end;
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
  std::string owned(text);
  auto handle = parseHandle(owned);
  if (!handle) return std::nullopt;
  if (getPart(handle.get(), CURLUPART_SCHEME).empty() || getPart(handle.get(), CURLUPART_HOST).empty()) {
    return std::nullopt;
  }
  return Url(std::move(owned));
}

std::string Url::part(int which) const {
  auto handle = parseHandle(text_);
  if (!handle) return {};
  return getPart(handle.get(), static_cast<CURLUPart>(which));
}

std::string Url::host() const { return part(CURLUPART_HOST); }
std::string Url::path() const { return part(CURLUPART_PATH); }
std::string Url::query() const { return part(CURLUPART_QUERY); }

std::optional<int> Url::port() const {
  const std::string text = part(CURLUPART_PORT);
  if (text.empty()) return std::nullopt;
  return std::stoi(text);
}

Url Url::appendingPathComponent(std::string_view component) const {
  const std::size_t end = pathEnd(text_);
  std::string head = text_.substr(0, end);
  const std::string tail = text_.substr(end);
  const std::string encoded = percentEncodePath(component);
  const bool headHasSlash = !head.empty() && head.back() == '/';
  const bool componentHasSlash = !encoded.empty() && encoded.front() == '/';
  if (headHasSlash && componentHasSlash) {
    head.pop_back();
  } else if (!headHasSlash && !componentHasSlash) {
    head += '/';
  }
  return Url(head + encoded + tail);
}

std::optional<Url> Url::resolving(std::string_view reference) const {
  auto handle = parseHandle(text_);
  if (!handle) return std::nullopt;
  const std::string owned(reference);
  if (curl_url_set(handle.get(), CURLUPART_URL, owned.c_str(), kParseFlags) != CURLUE_OK) return std::nullopt;
  return parse(getPart(handle.get(), CURLUPART_URL));
}

}  // namespace tolvane
