#pragma once

#include <memory>
#include <stdexcept>

#include "server/server_options.h"

namespace httplib {
class Server;
}

namespace tolvane::server {

class AccountStore;
class ApiRoutes;
class AuthRoutes;
class Database;
class DesktopRoutes;
class Pages;
class RecordingStore;
class SignInStore;
class TokenService;
class TusRoutes;
class TusStore;
class UploadSigner;
class WebSessionStore;
struct ServerContext;

class ServerStartError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole service: opens the data directory, builds the stores and routes, and serves
// HTTP on the configured address until stop() (from any thread) or a signal.
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

  ServerOptions options_;
  std::unique_ptr<Database> database_;
  std::unique_ptr<AccountStore> accounts_;
  std::unique_ptr<TokenService> tokens_;
  std::unique_ptr<SignInStore> signIns_;
  std::unique_ptr<RecordingStore> recordings_;
  std::unique_ptr<TusStore> uploads_;
  std::unique_ptr<UploadSigner> signer_;
  std::unique_ptr<WebSessionStore> webSessions_;
  std::unique_ptr<ServerContext> context_;
  std::unique_ptr<AuthRoutes> authRoutes_;
  std::unique_ptr<DesktopRoutes> desktopRoutes_;
  std::unique_ptr<ApiRoutes> apiRoutes_;
  std::unique_ptr<TusRoutes> tusRoutes_;
  std::unique_ptr<Pages> pages_;
  std::unique_ptr<httplib::Server> http_;
};

}  // namespace tolvane::server
