#include "kit/config/config.h"

#include <glib.h>

#include <cstdio>
#include <cstdlib>

// Deployment values, passed by kit/config/CMakeLists.txt from the CMake cache.
#ifndef TOLVANE_BUILTIN_SITE_URL
#error "TOLVANE_BUILTIN_SITE_URL must be defined by the build"
#endif

namespace tolvane {
namespace {

// The built-in addresses are constants of the build; one that does not parse is a
// mistake in the build configuration, and the program cannot run without it.
Url requireUrl(const char* text, const char* what) {
  auto url = Url::parse(text);
  if (!url) {
    std::fprintf(stderr, "tolvane: the built-in %s \"%s\" is not a valid URL\n", what, text);
    std::abort();
  }
  return *url;
}

std::string_view trimSpacesAndTabs(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::filesystem::path videosDirectory() {
  // GLib reads the XDG user directories (user-dirs.dirs) once per process.
  if (const char* videos = g_get_user_special_dir(G_USER_DIRECTORY_VIDEOS); videos != nullptr && *videos != '\0') {
    return videos;
  }
  return std::filesystem::path(g_get_home_dir()) / "Videos";
}

}  // namespace

const Url& Config::builtInSiteURL() {
  static const Url url = requireUrl(TOLVANE_BUILTIN_SITE_URL, "site URL");
  return url;
}

Url Config::resolveSiteURL(const char* environmentValue) {
  if (environmentValue == nullptr) return builtInSiteURL();
  auto url = Url::parse(trimSpacesAndTabs(environmentValue));
  return url ? *url : builtInSiteURL();
}

const Url& Config::siteURL() {
  // Function-local statics are initialised exactly once, thread-safely.
  static const Url url = resolveSiteURL(std::getenv("TOLVANE_SITE_URL"));
  return url;
}

Url Config::siteURL(std::string_view path) {
  if (path.starts_with('/')) path.remove_prefix(1);
  return siteURL().appendingPathComponent(path);
}

Url Config::resolveAuthURL(const char* authValue, const char* siteValue) {
  if (authValue != nullptr) {
    if (auto url = Url::parse(trimSpacesAndTabs(authValue))) return *url;
  }
  if (siteValue != nullptr) return resolveSiteURL(siteValue).appendingPathComponent("auth/v1");
  return requireUrl(TOLVANE_BUILTIN_AUTH_URL, "authentication URL");
}

const Url& Config::authURL() {
  static const Url url = resolveAuthURL(std::getenv("TOLVANE_AUTH_URL"), std::getenv("TOLVANE_SITE_URL"));
  return url;
}

const std::string& Config::authAnonKey() {
  static const std::string key = std::string(TOLVANE_ANON_KEY_HEADER) + "." + TOLVANE_ANON_KEY_PAYLOAD + "." +
                                 TOLVANE_ANON_KEY_SIGNATURE;
  return key;
}

std::filesystem::path Config::vaultDirectory() {
  if (const char* custom = std::getenv("TOLVANE_VAULT_DIR"); custom != nullptr) return custom;
  return videosDirectory() / "Tolvane";
}

}  // namespace tolvane
