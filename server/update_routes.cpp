#include "server/update_routes.h"

#include "server/http_helpers.h"

namespace tolvane::server {
namespace {

void notFound(httplib::Response& response) {
  response.status = 404;
  response.set_content("Not found\n", "text/plain");
}

}  // namespace

void UpdateRoutes::install(httplib::Server& server) {
  server.Get("/updates/feed.json", http::route(this, &UpdateRoutes::feed));
  // Everything after packages/ is captured, slashes and dot-dots included, so that the
  // store's name check (not the router) decides what is refused.
  server.Get("/updates/packages/(.+)", http::route(this, &UpdateRoutes::package));
}

void UpdateRoutes::feed(const httplib::Request&, httplib::Response& response) {
  const auto document = releases_.feedDocument();
  if (!document) return notFound(response);
  // Clients decide on freshness from the signed dates inside; a cache must not.
  response.set_header("Cache-Control", "no-cache");
  response.set_content(*document, "application/json");
}

void UpdateRoutes::package(const httplib::Request& request, httplib::Response& response) {
  const auto path = releases_.package(request.matches[1].str());
  if (!path) return notFound(response);
  // A download interrupted halfway resumes with a Range request.
  if (!http::sendFile(response, *path, "application/vnd.debian.binary-package")) notFound(response);
}

}  // namespace tolvane::server
