#pragma once

#include <optional>
#include <string>

#include <httplib.h>

#include "server/server_context.h"

namespace tolvane::server {

// The web site in the browser: the home page, the signed-in user's library, share pages
// that play a recording (its file served with HTTP range requests), the connect page
// where a signed-in user approves a desktop sign-in, and the sign-in form (e-mail and
// password; creating an account there only with --open-registration). Browser sessions
// live in a cookie; every form carries a CSRF token tied to the session or, before
// signing in, to a visitor cookie.
class Pages {
 public:
  static constexpr const char* sessionCookie = "tolvane_session";
  static constexpr const char* visitorCookie = "tolvane_visitor";

  explicit Pages(ServerContext& context) : context_(context) {}
  void install(httplib::Server& server);

 private:
  std::optional<Account> signedIn(const httplib::Request& request);
  void sendPage(const httplib::Request& request, httplib::Response& response, int status, const std::string& title,
                const std::string& body, const std::optional<Account>& account);
  std::string signInForm(const httplib::Request& request, httplib::Response& response, const std::string& next,
                         const std::string& message = {});
  // The CSRF token for forms on this page, setting a visitor cookie when the browser
  // has neither a session nor a visitor cookie yet.
  std::string formToken(const httplib::Request& request, httplib::Response& response);
  // Whether the form's token matches the browser's session or visitor cookie; answers
  // 403 when not.
  bool checkFormToken(const httplib::Request& request, httplib::Response& response, const httplib::Params& fields);
  std::string cookie(const std::string& name, const std::string& value, int64_t maxAge) const;
  // Sends 429 with Retry-After; true when `wait` is not zero.
  bool refuseWhileThrottled(const httplib::Request& request, httplib::Response& response, int64_t wait,
                            const std::string& message);

  void home(const httplib::Request& request, httplib::Response& response);
  void permissionsHelp(const httplib::Request& request, httplib::Response& response);
  void signIn(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void signOut(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void library(const httplib::Request& request, httplib::Response& response);
  void connect(const httplib::Request& request, httplib::Response& response);
  void approve(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader);
  void share(const httplib::Request& request, httplib::Response& response);
  void media(const httplib::Request& request, httplib::Response& response);
  // A drawn placeholder, for a video whose file is not saved or playable yet.
  void thumbnail(const httplib::Request& request, httplib::Response& response);
  // A frame of the video as a JPEG, made once and kept in the data folder.
  void thumbnailPicture(const httplib::Request& request, httplib::Response& response);

  ServerContext& context_;
};

}  // namespace tolvane::server
