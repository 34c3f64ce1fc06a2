#include "app/cli/service_clients.h"

#include "kit/auth/session_storage_factory.h"
#include "kit/config/config.h"
#include "kit/upload/curl_http_client.h"

namespace tolvane::cli {

ServiceClients ServiceClients::make() {
  ServiceClients clients;
  clients.http = std::make_shared<CurlHTTPClient>();
  clients.storage = makeSessionStorage("session");
  clients.auth = std::make_shared<AuthStore>(clients.storage, clients.http, Config::supabaseURL().text(),
                                             Config::supabaseAnonKey());
  clients.siteURL = Config::siteURL().text();
  clients.api = std::make_shared<TolvaneAPI>(clients.auth, clients.http, clients.siteURL);
  return clients;
}

}  // namespace tolvane::cli
