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
#include "server/server_context.h"
#include "server/server_crypto.h"
#include "server/tus_routes.h"

namespace tolvane::server {
namespace {

bool wantsJson(const std::string& path) { return path.rfind("/api/", 0) == 0 || path.rfind("/auth/", 0) == 0; }

}  // namespace

TolvaneServer::TolvaneServer(ServerOptions options) : options_(std::move(options)) {
  std::error_code error;
  std::filesystem::create_directories(options_.dataDirectory, error);
  if (error) {
    throw ServerStartError(
        fmt::format("Couldn't create the data directory {}: {}.", options_.dataDirectory.string(), error.message()));
  }
  database_ = std::make_unique<Database>(options_.databasePath());
  // Secrets are made once per data directory, so tokens and tickets outlive restarts.
  const std::string jwtSecret = database_->setting("jwt_secret", [] { return crypto::randomHex(32); });
  const std::string uploadSecret = database_->setting("upload_secret", [] { return crypto::randomHex(32); });
  const std::string libraryId = database_->setting("library_id", [] { return "lib-" + crypto::randomHex(6); });

  accounts_ = std::make_unique<AccountStore>(*database_);
  tokens_ = std::make_unique<TokenService>(*database_, *accounts_, Jwt(jwtSecret), options_.accessTokenTTL);
  signIns_ = std::make_unique<SignInStore>(*database_, options_.signInTTL);
  recordings_ = std::make_unique<RecordingStore>(*database_);
  uploads_ = std::make_unique<TusStore>(*database_, options_.uploadDirectory(), options_.uploadTTL);
  signer_ = std::make_unique<UploadSigner>(libraryId, uploadSecret);
  webSessions_ = std::make_unique<WebSessionStore>(*database_);
  context_ = std::make_unique<ServerContext>(ServerContext{options_, *accounts_, *tokens_, *signIns_, *recordings_,
                                                           *uploads_, *signer_, *webSessions_, Logger{"server"}});
  authRoutes_ = std::make_unique<AuthRoutes>(*context_);
  desktopRoutes_ = std::make_unique<DesktopRoutes>(*context_);
  apiRoutes_ = std::make_unique<ApiRoutes>(*context_);
  tusRoutes_ = std::make_unique<TusRoutes>(*context_);
  pages_ = std::make_unique<Pages>(*context_);
  http_ = std::make_unique<httplib::Server>();
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
  server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
    requestStart = monotonicSeconds();
    return httplib::Server::HandlerResponse::Unhandled;
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
}

void TolvaneServer::run() {
  if (!http_->bind_to_port(options_.host, options_.port)) {
    throw ServerStartError(fmt::format("Couldn't listen on {}:{}; is another server using it?", options_.host,
                                       options_.port));
  }
  // Calling listen() again on a listening socket only changes its backlog.
  if (listeningSocket_ >= 0) ::listen(listeningSocket_, SOMAXCONN);
  if (const int purged = uploads_->purgeExpired(); purged > 0) {
    context_->log.info("removed the files of {} expired unfinished uploads", purged);
  }
  context_->log.info("tolvane-server listening on {} with data in {}", options_.siteURL,
                     options_.dataDirectory.string());
  http_->listen_after_bind();
}

void TolvaneServer::stop() { http_->stop(); }

}  // namespace tolvane::server
