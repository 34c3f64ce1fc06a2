#pragma once

#include <optional>

#include <httplib.h>

#include "server/server_context.h"

namespace tolvane::server {

// The service API the desktop app calls under the site URL. Every route but
// /api/linux/latest needs a valid bearer token; a recording belonging to someone else is
// answered exactly like one that does not exist.
class ApiRoutes {
 public:
  explicit ApiRoutes(ServerContext& context) : context_(context) {}
  void install(httplib::Server& server);

 private:
  struct SignedInJson {
    Account account;
    nlohmann::json body;
  };

  std::optional<Account> authenticate(const httplib::Request& request, httplib::Response& response);
  // The caller's account and the JSON object it sent, or none after answering the error.
  std::optional<SignedInJson> readSignedInJson(const httplib::Request& request, httplib::Response& response,
                                               const httplib::ContentReader& reader);
  // The caller's own video named by the path, or none after answering 404.
  std::optional<Video> ownVideo(const std::string& uid, const Account& account, httplib::Response& response);

  void me(const httplib::Request& request, httplib::Response& response);
  void library(const httplib::Request& request, httplib::Response& response);
  void uploadURL(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void save(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void videoStatus(const httplib::Request& request, httplib::Response& response);
  void rename(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void latestRelease(const httplib::Request& request, httplib::Response& response);

  nlohmann::json summary(const Video& video) const;
  nlohmann::json ticket(const Video& video) const;

  ServerContext& context_;
};

}  // namespace tolvane::server
