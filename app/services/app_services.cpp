#include "app/services/app_services.h"

#include "app/services/lazy_session_storage.h"
#include "kit/auth/session_storage_factory.h"
#include "kit/config/config.h"
#include "kit/net/curl_http_client.h"

namespace tolvane {

AppServices::AppServices(std::shared_ptr<Executor> executor, Settings settings)
    : executor_(std::move(executor)),
      siteURL_(settings.siteURL.value_or(Config::siteURL())),
      vault_(std::make_shared<RecordingVault>(settings.vaultDirectory.value_or(Config::vaultDirectory()))),
      http_(settings.http ? settings.http : std::make_shared<CurlHTTPClient>()) {
  auto storage = settings.sessionStorage;
  if (!storage) storage = std::make_shared<LazySessionStorage>([] { return makeSessionStorage("session"); });
  auth_ = std::make_shared<AuthStore>(std::move(storage), http_, Config::authURL(), Config::authAnonKey());
  api_ = std::make_shared<TolvaneAPI>(auth_, http_, siteURL_);
  uploader_ = std::make_shared<TusUploader>(settings.uploadHTTP ? settings.uploadHTTP : makeUploadSession(),
                                            TusUploader::defaultChunkSize);
  UploadQueue::Settings queueSettings;
  queueSettings.siteURL = siteURL_;
  queueSettings.makeNetworkMonitor = std::move(settings.makeNetworkMonitor);
  queue_ = std::make_shared<UploadQueue>(vault_, api_, auth_, uploader_, std::move(queueSettings));
  signIn_ = std::make_unique<DesktopSignIn>(http_, siteURL_);
  updateChecker_ = std::make_unique<UpdateChecker>(http_, siteURL_);
  sources_ = settings.sources ? settings.sources : std::make_shared<SystemSourceFactory>();
  library_ = std::make_unique<Library>(vault_, queue_);

  // The kit calls these on its own threads, possibly after this object is gone (another
  // owner may keep the vault): they touch nothing of it but what they captured.
  const auto post = poster();
  vault_->setOnChange([post, this] {
    post([this] {
      if (handlers_.vaultChanged) handlers_.vaultChanged();
    });
  });
  queue_->setOnChange([post, this] {
    post([this] {
      if (handlers_.uploadChanged) handlers_.uploadChanged();
    });
  });
  queue_->setOnProgress([post, this](const std::string& id, const TusUploader::Progress& progress) {
    post([this, id, progress] {
      if (handlers_.uploadProgress) handlers_.uploadProgress(id, progress);
    });
  });
  auth_->setOnChange([post, this](const std::optional<AuthSession>& session) {
    post([this, session] {
      if (handlers_.sessionChanged) handlers_.sessionChanged(session);
    });
  });
}

AppServices::~AppServices() {
  guard_.end();
  queue_->setOnChange(nullptr);
  queue_->setOnProgress(nullptr);
  auth_->setOnChange(nullptr);
  queue_->stop();
}

std::function<void(std::function<void()>)> AppServices::poster() const {
  // The guard's wrapper and the executor are captured by value, so posting stays safe
  // after this object is gone; the task itself then does nothing.
  return [executor = executor_, token = guard_.token()](std::function<void()> task) {
    executor->post(token.wrap(std::move(task)));
  };
}

void AppServices::setOnVaultChange(std::function<void()> handler) {
  guard_.locked([&] { handlers_.vaultChanged = std::move(handler); });
}

void AppServices::setOnUploadChange(std::function<void()> handler) {
  guard_.locked([&] { handlers_.uploadChanged = std::move(handler); });
}

void AppServices::setOnUploadProgress(UploadQueue::ProgressHandler handler) {
  guard_.locked([&] { handlers_.uploadProgress = std::move(handler); });
}

void AppServices::setOnSessionChange(AuthStore::ChangeHandler handler) {
  guard_.locked([&] { handlers_.sessionChanged = std::move(handler); });
}

RecoveryReport AppServices::startUploads() {
  RecoveryReport report = library_->recoverInterrupted();
  queue_->start();
  return report;
}

void AppServices::stopUploads() { queue_->stop(); }

}  // namespace tolvane
