#include "kit/upload/url_text.h"

#include <memory>

#include <curl/curl.h>

namespace tolvane {

bool isValidURL(std::string_view text) {
  const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
  if (!url) return false;
  const std::string copy(text);
  return curl_url_set(url.get(), CURLUPART_URL, copy.c_str(), 0) == CURLUE_OK;
}

std::string appendingPathComponent(std::string_view base, std::string_view component) {
  if (component.starts_with('/')) component.remove_prefix(1);
  std::string result(base);
  if (!result.ends_with('/')) result += '/';
  result += component;
  return result;
}

}  // namespace tolvane
