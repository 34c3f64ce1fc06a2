#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "kit/base/application_id.h"
#include "kit/config/url.h"

namespace tolvane {

// The program's fixed identities and endpoints. A namespace of read-only values: no
// instances, and no state beyond three values computed once per process. Every member
// is safe to call from any thread.
//
// Environment variables point the program elsewhere without a rebuild:
//   TOLVANE_SITE_URL   replaces the built-in site URL; read once, on first use of siteURL()
//   TOLVANE_AUTH_URL   replaces the authentication backend's address; read once
//   TOLVANE_VAULT_DIR  replaces the default vault directory; read on every vaultDirectory()
class Config {
 public:
  Config() = delete;

  static constexpr std::string_view urlScheme = "tolvane";
  static constexpr std::string_view applicationID = kApplicationID;

  // The service's base web address. TOLVANE_SITE_URL, trimmed of spaces and tabs at both
  // ends, when it parses as an absolute URL; otherwise (absent, unparsable, no scheme)
  // the built-in address, silently. A trailing slash or path in the variable is kept.
  static const Url& siteURL();

  // siteURL() with one path component appended; one leading "/" of `path` is dropped,
  // so "/library" and "library" give the same URL, without a double slash.
  static Url siteURL(std::string_view path);

  // Address of the authentication backend's API (the token endpoint is "token" below it),
  // read once: TOLVANE_AUTH_URL when set and valid; else, when TOLVANE_SITE_URL is set,
  // the site's "/auth/v1" (a self-hosted server answers both); else the built-in one.
  static const Url& authURL();

  // The rule behind authURL(), given both variables' values (nullptr when unset).
  static Url resolveAuthURL(const char* authValue, const char* siteValue);

  // The authentication backend's public anonymous key (a JWT), joined from its three
  // stored segments at first use.
  static const std::string& authAnonKey();

  // Where recordings are stored, recomputed on every call: TOLVANE_VAULT_DIR unchanged
  // when set (no trimming, no checks); otherwise the user's XDG videos directory (or
  // $HOME/Videos when none is configured) plus "Tolvane". Not created here; the vault
  // creates it when it is opened.
  static std::filesystem::path vaultDirectory();

  // The rule behind siteURL(), given the variable's value (nullptr when unset). Exposed
  // so that the rule can be checked without restarting the process.
  static Url resolveSiteURL(const char* environmentValue);

  // The built-in site URL, used when TOLVANE_SITE_URL gives none.
  static const Url& builtInSiteURL();
};

}  // namespace tolvane
