#pragma once

#include <optional>
#include <string>

#include <httplib.h>

#include "server/server_context.h"

namespace tolvane::server {

// The web site in the browser: the home page, the signed-in user's library, share pages
// that play a recording (its file served with HTTP range requests), the connect page
// where a signed-in user approves a desktop sign-in, and the local e-mail sign-in form.
// Browser sessions live in a cookie.
class Pages {
 public:
  static constexpr const char* sessionCookie = "tolvane_session";

  explicit Pages(ServerContext& context) : context_(context) {}
  void install(httplib::Server& server);

 private:
  std::optional<Account> signedIn(const httplib::Request& request);
  void sendPage(httplib::Response& response, int status, const std::string& title, const std::string& body,
                const std::optional<Account>& account);
  std::string signInForm(const std::string& next, const std::string& message = {}) const;

  void home(const httplib::Request& request, httplib::Response& response);
  void signIn(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void signOut(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void library(const httplib::Request& request, httplib::Response& response);
  void connect(const httplib::Request& request, httplib::Response& response);
  void approve(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void share(const httplib::Request& request, httplib::Response& response);
  void media(const httplib::Request& request, httplib::Response& response);
  void thumbnail(const httplib::Request& request, httplib::Response& response);

  ServerContext& context_;
};

}  // namespace tolvane::server
