#pragma once

#include <memory>
#include <string>

#include "kit/auth/auth_store.h"
#include "kit/auth/session_storage.h"
#include "kit/config/url.h"
#include "kit/net/http_performing.h"
#include "kit/upload/tolvane_api.h"

namespace tolvane::cli {

// The network services of one CLI run, wired the way the application wires them: one
// shared transport, the session in the keyring (or its file fallback), the auth store
// against the authentication backend and the API against the site URL.
struct ServiceClients {
  std::shared_ptr<HTTPPerforming> http;
  std::shared_ptr<SessionStorage> storage;
  std::shared_ptr<AuthStore> auth;
  std::shared_ptr<TolvaneAPI> api;
  Url siteURL;

  static ServiceClients make();
};

}  // namespace tolvane::cli
