#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/capture/sources/source_factory.h"
#include "app/services/executor.h"
#include "app/services/library.h"
#include "app/services/lifetime_guard.h"
#include "kit/auth/auth_store.h"
#include "kit/auth/desktop_sign_in.h"
#include "kit/auth/session_storage.h"
#include "kit/config/url.h"
#include "kit/net/http_performing.h"
#include "kit/net/network_monitor.h"
#include "kit/update/update_checker.h"
#include "kit/upload/tolvane_api.h"
#include "kit/upload/tus_uploader.h"
#include "kit/upload/upload_queue.h"
#include "kit/vault/recording_vault.h"
#include "kit/vault/vault_recovery.h"

namespace tolvane {

// The one place the kit is wired, for every front end: the vault, the shared HTTP
// transport and the upload transport, the session storage, the auth store, the service
// API, the tus uploader, the upload queue with its network monitor, desktop sign-in, the
// release check and the capture sources.
//
// Every kit callback reaches its receiver through the Executor given here, never on a
// kit thread, and never once this object is gone (a task posted before the destruction
// does nothing when it runs later). Handlers are set once, before startUploads().
class AppServices {
 public:
  // What tests replace. Production leaves every field empty.
  struct Settings {
    std::optional<std::filesystem::path> vaultDirectory;  // Config::vaultDirectory()
    std::optional<Url> siteURL;                           // Config::siteURL()
    std::shared_ptr<HTTPPerforming> http;                 // a CurlHTTPClient
    std::shared_ptr<HTTPPerforming> uploadHTTP;           // the upload transport
    std::shared_ptr<SessionStorage> sessionStorage;       // the keyring (or its file), opened on first use
    std::function<std::unique_ptr<NetworkMonitor>()> makeNetworkMonitor;  // the queue's own
    std::shared_ptr<SourceFactory> sources;                                // SystemSourceFactory
  };

  explicit AppServices(std::shared_ptr<Executor> executor, Settings settings = {});
  // Stops the upload queue (waiting for a transfer in flight to be cancelled).
  ~AppServices();
  AppServices(const AppServices&) = delete;
  AppServices& operator=(const AppServices&) = delete;

  Executor& executor() const { return *executor_; }
  const Url& siteURL() const { return siteURL_; }
  const std::shared_ptr<RecordingVault>& vault() const { return vault_; }
  const std::shared_ptr<HTTPPerforming>& http() const { return http_; }
  const std::shared_ptr<AuthStore>& auth() const { return auth_; }
  const std::shared_ptr<TolvaneAPI>& api() const { return api_; }
  const std::shared_ptr<UploadQueue>& uploadQueue() const { return queue_; }
  const DesktopSignIn& signIn() const { return *signIn_; }
  const UpdateChecker& updateChecker() const { return *updateChecker_; }
  const std::shared_ptr<SourceFactory>& sources() const { return sources_; }
  Library& library() { return *library_; }

  // Each handler runs on the executor.
  void setOnVaultChange(std::function<void()> handler);
  void setOnUploadChange(std::function<void()> handler);
  void setOnUploadProgress(UploadQueue::ProgressHandler handler);
  void setOnSessionChange(AuthStore::ChangeHandler handler);

  // Settles the recordings a crash or an emergency stop interrupted, so the queue finds
  // them ready, then starts the upload queue. Returns what recovery found.
  RecoveryReport startUploads();
  void stopUploads();

 private:
  struct Handlers {
    std::function<void()> vaultChanged;
    std::function<void()> uploadChanged;
    UploadQueue::ProgressHandler uploadProgress;
    AuthStore::ChangeHandler sessionChanged;
  };

  // Posts `task` (which may use `this`) through the executor, guarded by the lifetime.
  std::function<void(std::function<void()>)> poster() const;

  std::shared_ptr<Executor> executor_;
  Url siteURL_;
  std::shared_ptr<RecordingVault> vault_;
  std::shared_ptr<HTTPPerforming> http_;
  std::shared_ptr<AuthStore> auth_;
  std::shared_ptr<TolvaneAPI> api_;
  std::shared_ptr<TusUploader> uploader_;
  std::shared_ptr<UploadQueue> queue_;
  std::unique_ptr<DesktopSignIn> signIn_;
  std::unique_ptr<UpdateChecker> updateChecker_;
  std::shared_ptr<SourceFactory> sources_;
  std::unique_ptr<Library> library_;
  Handlers handlers_;  // read only inside guarded tasks; written under guard_.locked()
  LifetimeGuard guard_;
};

}  // namespace tolvane
