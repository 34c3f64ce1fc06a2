#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "server/server_options.h"

namespace httplib {
class Server;
}

namespace tolvane::server {

class AccountStore;
class ApiRoutes;
class CsrfTokens;
class RequestGuard;
struct Throttles;
class AuthRoutes;
class Database;
class DesktopRoutes;
class Pages;
class RecordingStore;
class ReleaseStore;
class SignInStore;
class TokenService;
class TusRoutes;
class TusStore;
class UpdateRoutes;
class UploadSigner;
class WebSessionStore;
struct ServerContext;

class ServerStartError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole service: opens the data directory (made private to its owner), builds the
// stores and routes, and serves HTTP or HTTPS on the configured address until stop()
// (from any thread) or a signal. Expired rows and files are purged every minute.
class TolvaneServer {
 public:
  explicit TolvaneServer(ServerOptions options);
  ~TolvaneServer();
  TolvaneServer(const TolvaneServer&) = delete;
  TolvaneServer& operator=(const TolvaneServer&) = delete;

  // Binds and serves; returns when stopped. Throws ServerStartError when it cannot bind.
  void run();
  void stop();

 private:
  void configureHTTP();
  void purgeExpired();
  void purgeEveryMinute();

  ServerOptions options_;
  std::unique_ptr<Database> database_;
  std::unique_ptr<AccountStore> accounts_;
  std::unique_ptr<TokenService> tokens_;
  std::unique_ptr<SignInStore> signIns_;
  std::unique_ptr<RecordingStore> recordings_;
  std::unique_ptr<TusStore> uploads_;
  std::unique_ptr<UploadSigner> signer_;
  std::unique_ptr<WebSessionStore> webSessions_;
  std::unique_ptr<RequestGuard> guard_;
  std::unique_ptr<CsrfTokens> csrf_;
  std::unique_ptr<Throttles> throttles_;
  std::unique_ptr<ServerContext> context_;
  std::unique_ptr<AuthRoutes> authRoutes_;
  std::unique_ptr<DesktopRoutes> desktopRoutes_;
  std::unique_ptr<ApiRoutes> apiRoutes_;
  std::unique_ptr<TusRoutes> tusRoutes_;
  std::unique_ptr<Pages> pages_;
  std::unique_ptr<ReleaseStore> releases_;
  std::unique_ptr<UpdateRoutes> updateRoutes_;
  std::unique_ptr<httplib::Server> http_;
  int listeningSocket_ = -1;  // set while binding; owned by http_
  std::mutex purgeMutex_;
  std::condition_variable purgeWake_;
  bool stopping_ = false;
};

}  // namespace tolvane::server
