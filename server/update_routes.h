#pragma once

#include <httplib.h>

#include "server/release_store.h"

namespace tolvane::server {

// The signed update feed and its packages, public (the feed's signature, not the
// connection, is what the desktop app trusts):
//   GET /updates/feed.json        → the signed feed document; 404 before the first publish
//   GET /updates/packages/<name>  → the package, with Range support; 404 for any name that
//                                   is not a plain file name of a stored package
class UpdateRoutes {
 public:
  explicit UpdateRoutes(const ReleaseStore& releases) : releases_(releases) {}
  void install(httplib::Server& server);

 private:
  void feed(const httplib::Request& request, httplib::Response& response);
  void package(const httplib::Request& request, httplib::Response& response);

  const ReleaseStore& releases_;
};

}  // namespace tolvane::server
