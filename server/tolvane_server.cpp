#include "server/tolvane_server.h"

#include <sys/socket.h>

#include <httplib.h>

#include <fmt/format.h>

#include "kit/base/clock.h"
#include "server/api_routes.h"
#include "server/auth_routes.h"
#include "server/desktop_routes.h"
#include "server/http_helpers.h"
#include "server/pages.h"
#include "server/release_store.h"
#include "server/request_guard.h"
#include "server/server_secrets.h"
#include "server/server_context.h"
#include "server/server_crypto.h"
#include "server/tus_routes.h"
#include "server/update_routes.h"

namespace tolvane::server {
namespace {

// Five wrong passwords for one account or from one address within a minute make the
// next try wait: guessing at that pace is hopeless.
constexpr int kWrongPasswordsPerMinute = 5;

bool wantsJson(const std::string& path) { return path.rfind("/api/", 0) == 0 || path.rfind("/auth/", 0) == 0; }

}  // namespace

TolvaneServer::TolvaneServer(ServerOptions options) : options_(std::move(options)) {
  std::error_code error;
  std::filesystem::create_directories(options_.dataDirectory, error);
  if (!error) {
    std::filesystem::permissions(options_.dataDirectory, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, error);
  }
  if (error) {
    throw ServerStartError(
        fmt::format("Couldn't create the data directory {}: {}.", options_.dataDirectory.string(), error.message()));
  }
  ServerSecrets secrets;
  try {
    secrets = ServerSecrets::loadOrCreate(options_.keyFile());
  } catch (const std::runtime_error& failure) {
    throw ServerStartError(failure.what());
  }
  database_ = std::make_unique<Database>(options_.databasePath());
  const std::string libraryId = database_->setting("library_id", [] { return "lib-" + crypto::randomHex(6); });

  accounts_ = std::make_unique<AccountStore>(*database_);
  tokens_ = std::make_unique<TokenService>(*database_, *accounts_, Jwt(secrets.jwt), options_.accessTokenTTL,
                                           options_.refreshTokenTTL);
  signIns_ = std::make_unique<SignInStore>(*database_, options_.signInTTL);
  recordings_ = std::make_unique<RecordingStore>(*database_);
  uploads_ = std::make_unique<TusStore>(*database_, options_.uploadDirectory(), options_.uploadTTL);
  signer_ = std::make_unique<UploadSigner>(libraryId, secrets.upload);
  webSessions_ = std::make_unique<WebSessionStore>(*database_);
  guard_ = std::make_unique<RequestGuard>(options_);
  csrf_ = std::make_unique<CsrfTokens>(secrets.csrf);
  throttles_ = std::make_unique<Throttles>(options_.signInRate, kWrongPasswordsPerMinute);
  context_ = std::make_unique<ServerContext>(ServerContext{options_, *accounts_, *tokens_, *signIns_, *recordings_,
                                                           *uploads_, *signer_, *webSessions_, *guard_, *csrf_,
                                                           *throttles_, Logger{"server"}});
  authRoutes_ = std::make_unique<AuthRoutes>(*context_);
  desktopRoutes_ = std::make_unique<DesktopRoutes>(*context_);
  apiRoutes_ = std::make_unique<ApiRoutes>(*context_);
  tusRoutes_ = std::make_unique<TusRoutes>(*context_);
  pages_ = std::make_unique<Pages>(*context_);
  releases_ = std::make_unique<ReleaseStore>(options_.dataDirectory);
  updateRoutes_ = std::make_unique<UpdateRoutes>(*releases_);
  if (options_.servesTLS()) {
    auto tls = std::make_unique<httplib::SSLServer>(options_.tlsCertificate.c_str(), options_.tlsKey.c_str());
    if (!tls->is_valid()) {
      throw ServerStartError(fmt::format("Couldn't load the TLS certificate {} and key {}; both must be PEM files.",
                                         options_.tlsCertificate.string(), options_.tlsKey.string()));
    }
    http_ = std::move(tls);
  } else {
    http_ = std::make_unique<httplib::Server>();
  }
  configureHTTP();
}

TolvaneServer::~TolvaneServer() = default;

void TolvaneServer::configureHTTP() {
  auto& server = *http_;
  const int threads = options_.threads;
  // Each keep-alive connection holds a worker, so the pool is sized for many clients.
  server.new_task_queue = [threads] { return new httplib::ThreadPool(std::size_t(threads)); };
  // An upload chunk may crawl over a slow link; give it as long as the app's own
  // request time-out.
  server.set_read_timeout(120);
  server.set_write_timeout(120);
  // Debian's compiled cpp-httplib listens with a backlog of 5, which refuses clients
  // arriving together; remember the socket so run() can widen the queue.
  // The library's default sets SO_REUSEPORT, which lets a second server bind a port
  // that is already served and split its clients; SO_REUSEADDR alone still allows a
  // quick restart over connections in TIME_WAIT.
  server.set_socket_options([this](socket_t sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    listeningSocket_ = sock;
  });

  Logger log = context_->log;
  // A worker thread handles one request at a time from routing to logging, so the start
  // time can wait in a thread-local slot between the two.
  static thread_local double requestStart = 0;
  const RequestGuard& guard = *guard_;
  server.set_pre_routing_handler([&guard](const httplib::Request& request, httplib::Response& response) {
    requestStart = monotonicSeconds();
    const auto refusal = guard.check(request);
    if (!refusal) return httplib::Server::HandlerResponse::Unhandled;
    // The body was not read; the connection cannot carry another request.
    response.set_header("Connection", "close");
    if (wantsJson(request.path)) {
      http::sendError(response, refusal->status, refusal->message,
                      refusal->status == 421 ? "misdirected_request"
                      : refusal->status == 415 ? "unsupported_media_type"
                                               : "forbidden");
    } else {
      response.status = refusal->status;
      response.set_content(refusal->message + "\n", "text/plain; charset=utf-8");
    }
    return httplib::Server::HandlerResponse::Handled;
  });
  // No answer of this server is ever to be read as another type than the one it names.
  server.set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
    response.set_header("X-Content-Type-Options", "nosniff");
  });
  server.set_logger([log](const httplib::Request& request, const httplib::Response& response) {
    log.info("{} {} {} {} {:.1f} ms", request.remote_addr, request.method, request.path, response.status,
             (monotonicSeconds() - requestStart) * 1000);
  });
  server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request& request,
                                                                   httplib::Response& response) {
    if (!response.body.empty() || response.status != 404) return httplib::Server::HandlerResponse::Unhandled;
    if (wantsJson(request.path)) {
      http::sendError(response, 404, "There is no such endpoint.", "not_found");
    } else {
      response.set_content("<!doctype html><title>Not found</title><h1>Not found</h1>\n", "text/html; charset=utf-8");
    }
    return httplib::Server::HandlerResponse::Handled;
  }));
  server.set_exception_handler([log](const httplib::Request& request, httplib::Response& response,
                                     std::exception_ptr exception) {
    std::string what = "unknown exception";
    try {
      std::rethrow_exception(exception);
    } catch (const std::exception& error) {
      what = error.what();
    } catch (...) {
    }
    log.error("{} {} failed: {}", request.method, request.path, what);
    http::sendError(response, 500, "Tolvane's server ran into a problem. Try again later.", "internal_error");
  });

  authRoutes_->install(server);
  desktopRoutes_->install(server);
  apiRoutes_->install(server);
  tusRoutes_->install(server);
  pages_->install(server);
  updateRoutes_->install(server);
}

void TolvaneServer::purgeExpired() {
  const int uploads = uploads_->purgeExpired();
  const int64_t signIns = signIns_->purgeExpired();
  const int64_t sessions = webSessions_->purgeExpired();
  const int64_t tokens = tokens_->purgeExpired();
  if (uploads + signIns + sessions + tokens > 0) {
    context_->log.info("purged {} expired unfinished uploads, {} sign-in requests, {} web sessions, {} refresh tokens",
                       uploads, signIns, sessions, tokens);
  }
}

void TolvaneServer::purgeEveryMinute() {
  std::unique_lock lock(purgeMutex_);
  while (!purgeWake_.wait_for(lock, std::chrono::minutes(1), [this] { return stopping_; })) {
    lock.unlock();
    try {
      purgeExpired();
    } catch (const std::exception& failure) {
      context_->log.error("purging expired data failed: {}", failure.what());
    }
    lock.lock();
  }
}

void TolvaneServer::run() {
  if (!http_->bind_to_port(options_.host, options_.port)) {
    throw ServerStartError(fmt::format("Couldn't listen on {}:{}; is another server using it?", options_.host,
                                       options_.port));
  }
  // Calling listen() again on a listening socket only changes its backlog.
  if (listeningSocket_ >= 0) ::listen(listeningSocket_, SOMAXCONN);
  purgeExpired();
  {
    std::lock_guard lock(purgeMutex_);
    stopping_ = false;
  }
  std::thread purger([this] { purgeEveryMinute(); });
  context_->log.info("tolvane-server listening on {} with data in {}", options_.siteURL,
                     options_.dataDirectory.string());
  http_->listen_after_bind();
  {
    std::lock_guard lock(purgeMutex_);
    stopping_ = true;
  }
  purgeWake_.notify_all();
  purger.join();
}

void TolvaneServer::stop() { http_->stop(); }

}  // namespace tolvane::server
