#include "app/cli/service_clients.h"

#include "kit/auth/session_storage_factory.h"
#include "kit/config/config.h"
#include "kit/net/curl_http_client.h"

namespace tolvane::cli {

ServiceClients ServiceClients::make() {
  ServiceClients clients{.http = std::make_shared<CurlHTTPClient>(),
                         .storage = makeSessionStorage("session"),
                         .auth = nullptr,
                         .api = nullptr,
                         .siteURL = Config::siteURL()};
  clients.auth =
      std::make_shared<AuthStore>(clients.storage, clients.http, Config::authURL(), Config::authAnonKey());
  clients.api = std::make_shared<TolvaneAPI>(clients.auth, clients.http, clients.siteURL);
  return clients;
}

}  // namespace tolvane::cli
