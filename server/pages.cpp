#include "server/pages.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <fmt/format.h>

#include "kit/base/format.h"
#include "kit/base/iso8601.h"
#include "kit/media/thumbnail_maker.h"
#include "server/html.h"
#include "server/http_helpers.h"
#include "server/redirect_target.h"
#include "server/server_crypto.h"
#include "server/unix_time.h"

namespace tolvane::server {
namespace {

httplib::Params formFields(const std::string& body) {
  httplib::Params fields;
  httplib::detail::parse_query_text(body, fields);
  return fields;
}

std::string field(const httplib::Params& fields, const std::string& name) {
  const auto found = fields.find(name);
  return found == fields.end() ? std::string() : found->second;
}

void redirect(httplib::Response& response, const std::string& location) {
  response.status = 303;
  response.set_header("Location", location);
}

}  // namespace

void Pages::install(httplib::Server& server) {
  server.Get("/", http::route(this, &Pages::home));
  server.Post("/signin", http::route(this, &Pages::signIn));
  server.Post("/signout", http::route(this, &Pages::signOut));
  server.Get("/library", http::route(this, &Pages::library));
  server.Get("/help/linux-permissions", http::route(this, &Pages::permissionsHelp));
  server.Get("/connect", http::route(this, &Pages::connect));
  server.Post("/connect", http::route(this, &Pages::approve));
  server.Get("/v/([^/]+)", http::route(this, &Pages::share));
  server.Get("/v/([^/]+)/video\\.mp4", http::route(this, &Pages::media));
  server.Get("/v/([^/]+)/thumbnail\\.svg", http::route(this, &Pages::thumbnail));
  server.Get("/v/([^/]+)/thumbnail\\.jpg", http::route(this, &Pages::thumbnailPicture));
}

std::optional<Account> Pages::signedIn(const httplib::Request& request) {
  const auto token = http::cookie(request, sessionCookie);
  if (!token) return std::nullopt;
  const auto accountId = context_.webSessions.accountId(*token);
  if (!accountId) return std::nullopt;
  return context_.accounts.byId(*accountId);
}

void Pages::sendPage(const httplib::Request& request, httplib::Response& response, int status,
                     const std::string& title, const std::string& body, const std::optional<Account>& account) {
  const std::string csrfToken = account ? formToken(request, response) : std::string();
  response.status = status;
  response.set_header("Cache-Control", "no-store");
  response.set_header("X-Frame-Options", "DENY");
  response.set_content(html::page(title, body, account ? account->email : std::string(), csrfToken),
                       "text/html; charset=utf-8");
}

std::string Pages::cookie(const std::string& name, const std::string& value, int64_t maxAge) const {
  return fmt::format("{}={}; Path=/; Max-Age={}; HttpOnly; SameSite=Lax{}", name, value, maxAge,
                     context_.options.isSecureSite() ? "; Secure" : "");
}

std::string Pages::formToken(const httplib::Request& request, httplib::Response& response) {
  if (const auto session = http::cookie(request, sessionCookie); session && signedIn(request)) {
    return context_.csrf.forCookie(*session);
  }
  auto visitor = http::cookie(request, visitorCookie);
  if (!visitor || visitor->size() != 32) {
    visitor = crypto::randomHex(16);
    response.set_header("Set-Cookie", cookie(visitorCookie, *visitor, WebSessionStore::lifetime));
  }
  return context_.csrf.forCookie(*visitor);
}

bool Pages::checkFormToken(const httplib::Request& request, httplib::Response& response, const httplib::Params& fields) {
  const std::string token = field(fields, "csrf");
  for (const char* name : {sessionCookie, visitorCookie}) {
    if (const auto value = http::cookie(request, name); value && context_.csrf.check(*value, token)) return true;
  }
  sendPage(request, response, 403, "Refused",
           "<h1>That form expired.</h1><p>Go back, reload the page and try again.</p>", std::nullopt);
  return false;
}

bool Pages::refuseWhileThrottled(const httplib::Request& request, httplib::Response& response, int64_t wait,
                                 const std::string& message) {
  if (wait <= 0) return false;
  response.set_header("Retry-After", std::to_string(wait));
  sendPage(request, response, 429, "Slow down", "<h1>" + html::escape(message) + "</h1>", std::nullopt);
  return true;
}

std::string Pages::signInForm(const httplib::Request& request, httplib::Response& response, const std::string& next,
                              const std::string& message) {
  std::string body = "<h1>Sign in to Tolvane</h1>\n";
  if (!message.empty()) body += "<p class=\"error\">" + html::escape(message) + "</p>\n";
  body += fmt::format(R"(<form method="post" action="/signin">
<input type="hidden" name="next" value="{}">
<input type="hidden" name="csrf" value="{}">
<label>E-mail <input type="email" name="email" required autofocus autocomplete="username"></label>
<label>Password <input type="password" name="password" required autocomplete="current-password"></label>
<button class="primary">Sign in</button>{}</form>
)",
                      html::escape(next), formToken(request, response),
                      context_.options.openRegistration
                          ? R"( <button name="action" value="create">Create account</button>)"
                          : "");
  body += context_.options.openRegistration
              ? "<p class=\"meta\">New here? Enter your e-mail address and a password of at least 8 characters, "
                "then choose Create account.</p>"
              : "<p class=\"meta\">Accounts on this Tolvane server are made by its owner with "
                "<code>tolvane-server user add</code>.</p>";
  return body;
}

void Pages::home(const httplib::Request& request, httplib::Response& response) {
  const auto account = signedIn(request);
  if (!account) return sendPage(request, response, 200, "Welcome", signInForm(request, response, "/library"), account);
  sendPage(request, response, 200, "Welcome",
           "<h1>Tolvane</h1>\n<p>Signed in as " + html::escape(account->email) +
               ".</p>\n<p><a href=\"/library\">Open your library</a></p>\n"
               "<p class=\"meta\">To sign in the desktop app, choose Sign In there; it opens the page that connects "
               "it.</p>",
           account);
}

// Where the desktop app sends people whose desktop has no settings panel it knows for
// the screen, the microphone or the camera.
void Pages::permissionsHelp(const httplib::Request& request, httplib::Response& response) {
  sendPage(request, response, 200, "Letting Tolvane record",
           "<h1>Letting Tolvane record</h1>\n"
           "<h2 id=\"screen\">Screen</h2>\n"
           "<p>Tolvane records the screen of an X11 session. On a Wayland session, log out, choose the "
           "session named “Xorg” or “X11” on the login screen (the gear or the session menu), and log in "
           "again.</p>\n"
           "<h2 id=\"microphone\">Microphone</h2>\n"
           "<p>Tolvane records from the sound server (PulseAudio or PipeWire). Make sure it is running "
           "(<code>pactl info</code> answers), that your microphone is connected and not muted in your sound "
           "settings, and that no other app holds it exclusively.</p>\n"
           "<h2 id=\"camera\">Camera</h2>\n"
           "<p>Cameras are the <code>/dev/video*</code> devices. Your account needs to be in the "
           "<code>video</code> group (<code>sudo usermod -aG video $USER</code>, then log in again), and no "
           "other app may be using the camera.</p>\n",
           signedIn(request));
}

void Pages::signIn(const httplib::Request& request, httplib::Response& response,
                   const httplib::ContentReader& reader) {
  const auto body = http::readBody(reader);
  const auto fields = formFields(body.value_or(""));
  if (!checkFormToken(request, response, fields)) return;
  const std::string address = context_.guard.clientAddress(request);
  if (refuseWhileThrottled(request, response, context_.throttles.creations.take("signin " + address),
                           "Too many sign-in attempts from your address. Wait a minute and try again.")) {
    return;
  }
  const std::string next = safeRedirectTarget(field(fields, "next"));
  const std::string email = AccountStore::normalizedEmail(field(fields, "email")).value_or(field(fields, "email"));
  const std::string password = field(fields, "password");
  std::optional<Account> account;
  if (field(fields, "action") == "create") {
    if (!context_.options.openRegistration) {
      return sendPage(request, response, 403, "Sign in",
                      signInForm(request, response, next, "This server doesn't let visitors create accounts."),
                      std::nullopt);
    }
    try {
      account = context_.accounts.create(email, password);
      context_.log.info("account {} created on the sign-in page", account->email);
    } catch (const std::invalid_argument& error) {
      return sendPage(request, response, 400, "Sign in", signInForm(request, response, next, error.what()), std::nullopt);
    }
  } else {
    // Guessing is slowed per account (wherever the guesses come from) and per address
    // (whichever accounts they aim at).
    const std::string accountKey = "account " + email;
    const std::string addressKey = "address " + address;
    auto& wrong = context_.throttles.wrongPasswords;
    if (refuseWhileThrottled(request, response, std::max(wrong.retryAfter(accountKey), wrong.retryAfter(addressKey)),
                             "Too many wrong passwords. Wait a minute and try again.")) {
      return;
    }
    account = context_.accounts.verify(email, password);
    if (!account) {
      wrong.record(accountKey);
      wrong.record(addressKey);
      context_.log.info("wrong password for \"{}\" from {}", email, address);
      return sendPage(request, response, 401, "Sign in",
                      signInForm(request, response, next, "That e-mail address and password don't match an account."),
                      std::nullopt);
    }
  }
  const std::string token = context_.webSessions.create(account->id);
  response.set_header("Set-Cookie", cookie(sessionCookie, token, WebSessionStore::lifetime));
  redirect(response, next);
}

void Pages::signOut(const httplib::Request& request, httplib::Response& response,
                    const httplib::ContentReader& reader) {
  const auto fields = formFields(http::readBody(reader).value_or(""));
  if (!checkFormToken(request, response, fields)) return;
  // Desktop sign-ins approved in this browser session end with it.
  if (const auto token = http::cookie(request, sessionCookie)) {
    if (const auto familyId = context_.webSessions.remove(*token)) context_.tokens.revokeFamily(*familyId);
  }
  response.set_header("Set-Cookie", cookie(sessionCookie, "", 0));
  redirect(response, "/");
}

void Pages::library(const httplib::Request& request, httplib::Response& response) {
  const auto account = signedIn(request);
  if (!account) return sendPage(request, response, 200, "Sign in", signInForm(request, response, "/library"), account);
  const auto videos = context_.recordings.library(account->id, 1000);
  std::string body = "<h1>Your library</h1>\n";
  if (videos.empty()) body += "<p>No recordings yet. Recordings you make with Tolvane appear here.</p>\n";
  body += "<ul class=\"library\">\n";
  for (const auto& video : videos) {
    const auto created = formatISO8601(Date(std::chrono::seconds(video.savedAt.value_or(video.createdAt))));
    body += fmt::format(
        "<li><a href=\"/v/{0}\">{1}</a><div class=\"meta\">{2} · {3} · {4} views{5}</div></li>\n", video.uid,
        html::escape(video.displayTitle()), formatDuration(double(video.durationSec.value_or(0))), created, video.views,
        video.isReady ? "" : " · processing");
  }
  body += "</ul>";
  sendPage(request, response, 200, "Library", body, account);
}

void Pages::connect(const httplib::Request& request, httplib::Response& response) {
  const std::string requestId = request.get_param_value("request");
  const auto account = signedIn(request);
  if (!account) {
    return sendPage(request, response, 200, "Sign in", signInForm(request, response, "/connect?request=" + requestId), account);
  }
  const auto signIn = context_.signIns.find(requestId);
  if (!signIn) return sendPage(request, response, 404, "Connect", "<h1>Unknown sign-in link</h1>", account);
  if (signIn->isRedeemed || signIn->expiresAt <= unixNow()) {
    return sendPage(request, response, 410, "Connect", "<h1>That sign-in link expired. Try again.</h1>", account);
  }
  if (signIn->approvedAccountId) {
    return sendPage(request, response, 200, "Connect", "<h1>Already approved</h1><p>You can return to Tolvane.</p>", account);
  }
  sendPage(request, response, 200, "Connect",
           fmt::format(R"(<h1>Connect Tolvane</h1>
<p>Sign in the Tolvane app on <strong>{0}</strong> as {1}?</p>
<form method="post" action="/connect"><input type="hidden" name="request" value="{2}">
<input type="hidden" name="csrf" value="{3}">
<button class="primary">Approve</button></form>)",
                       html::escape(signIn->deviceName), html::escape(account->email), html::escape(requestId),
                       formToken(request, response)),
           account);
}

void Pages::approve(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
  const auto fields = formFields(http::readBody(reader).value_or(""));
  const std::string requestId = field(fields, "request");
  const auto account = signedIn(request);
  if (!account) {
    return sendPage(request, response, 401, "Sign in", signInForm(request, response, "/connect?request=" + requestId), account);
  }
  if (!checkFormToken(request, response, fields)) return;
  const auto familyId = context_.webSessions.familyId(http::cookie(request, sessionCookie).value_or(""));
  if (!context_.signIns.approve(requestId, account->id, familyId)) {
    return sendPage(request, response, 410, "Connect",
                    "<h1>That sign-in link expired. Try again.</h1><p>Start signing in from the app once more.</p>",
                    account);
  }
  context_.log.info("sign-in request {} approved for {}", requestId, account->email);
  sendPage(request, response, 200, "Connected",
           "<h1>You're signed in</h1><p>Return to Tolvane; it finishes signing in by itself.</p>", account);
}

void Pages::share(const httplib::Request& request, httplib::Response& response) {
  const std::string uid = request.matches[1].str();
  const auto video = http::isRecordingUid(uid) ? context_.recordings.find(uid) : std::nullopt;
  const auto account = signedIn(request);
  if (!video || !video->savedAt) {
    return sendPage(request, response, 404, "Not found", "<h1>This recording doesn't exist or was removed.</h1>", account);
  }
  context_.recordings.countView(uid);
  std::string body = "<h1>" + html::escape(video->displayTitle()) + "</h1>\n";
  if (video->isReady) {
    body += fmt::format("<video controls preload=\"metadata\" src=\"/v/{}/video.mp4\"></video>\n", uid);
  } else {
    body += "<p>This recording is still being uploaded. Reload the page in a moment.</p>\n";
  }
  body += fmt::format("<p class=\"meta\">{} · {} views</p>", formatDuration(double(video->durationSec.value_or(0))),
                      video->views + 1);
  sendPage(request, response, 200, video->displayTitle(), body, account);
}

void Pages::media(const httplib::Request& request, httplib::Response& response) {
  const std::string uid = request.matches[1].str();
  const auto video = http::isRecordingUid(uid) ? context_.recordings.find(uid) : std::nullopt;
  // Only a file that probed as a playable MP4 is served, and as video/mp4 only: anything
  // else a user uploaded could be HTML or script a browser would run on this site.
  if (!video || !video->savedAt || !video->uploadId || !video->isReady) {
    response.status = 404;
    return response.set_content("Not found\n", "text/plain");
  }
  if (!http::sendFile(response, context_.uploads.path(*video->uploadId), "video/mp4")) {
    response.status = 404;
    return response.set_content("Not found\n", "text/plain");
  }
  response.set_header("Cache-Control", "private, max-age=3600");
}

void Pages::thumbnail(const httplib::Request& request, httplib::Response& response) {
  const std::string uid = request.matches[1].str();
  const auto video = http::isRecordingUid(uid) ? context_.recordings.find(uid) : std::nullopt;
  if (!video) {
    response.status = 404;
    return response.set_content("Not found\n", "text/plain");
  }
  response.set_content(fmt::format(R"(<svg xmlns="http://www.w3.org/2000/svg" width="320" height="180" viewBox="0 0 320 180">
<rect width="320" height="180" fill="#1d1d1f"/><polygon points="140,65 140,115 185,90" fill="#fff"/>
<text x="160" y="160" fill="#ccc" font-family="sans-serif" font-size="14" text-anchor="middle">{}</text></svg>
)",
                                   html::escape(video->displayTitle().substr(0, 40))),
                       "image/svg+xml");
}

void Pages::thumbnailPicture(const httplib::Request& request, httplib::Response& response) {
  const std::string uid = request.matches[1].str();
  const auto video = http::isRecordingUid(uid) ? context_.recordings.find(uid) : std::nullopt;
  if (!video || !video->savedAt || !video->uploadId || !video->isReady) {
    response.status = 404;
    return response.set_content("Not found\n", "text/plain");
  }
  // Made on the first request and kept: a saved video's file never changes. Two first
  // requests at once each write a whole file under a temporary name and rename it.
  const auto file = context_.options.dataDirectory / "thumbnails" / (uid + ".jpg");
  std::error_code error;
  if (!std::filesystem::exists(file, error)) {
    std::filesystem::create_directories(file.parent_path(), error);
    try {
      ThumbnailMaker::writeJpeg(context_.uploads.path(*video->uploadId), file);
    } catch (const std::exception& failure) {
      context_.log.warning("no thumbnail for {}: {}", uid, failure.what());
      response.status = 404;
      return response.set_content("Not found\n", "text/plain");
    }
  }
  const auto size = std::filesystem::file_size(file, error);
  if (error) {
    response.status = 404;
    return response.set_content("Not found\n", "text/plain");
  }
  const std::string etag = fmt::format("\"{}-{}\"", uid, size);
  response.set_header("Cache-Control", "public, max-age=86400");
  response.set_header("ETag", etag);
  if (request.get_header_value("If-None-Match") == etag) {
    response.status = 304;
    return;
  }
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  response.set_content(bytes, "image/jpeg");
}

}  // namespace tolvane::server
