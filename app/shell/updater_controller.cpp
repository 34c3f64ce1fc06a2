#include "app/shell/updater_controller.h"

#include <QPointer>
#include <QSettings>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

#include <qcorofuture.h>

#include "app/core/app_model.h"
#include "app/core/model_clock.h"
#include "app/core/notifier.h"
#include "app/core/off_thread.h"
#include "app/services/child_command.h"
#include "app/services/update_downloader.h"
#include "app/services/update_installer.h"
#include "kit/update/update_error.h"
#include "kit/update/update_public_key.h"

namespace tolvane {
namespace {

QString qText(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

// The generatedAt of the newest feed accepted, in the application's settings.
constexpr QLatin1StringView kFeedFloorKey("updates/lastFeedGeneratedAt");

UpdaterController::Backend UpdaterController::systemBackend(AppModel& model) {
  // A key that can't be read fails every check with its reason, instead of the launch.
  std::shared_ptr<const UpdateFeedVerifier> verifier;
  std::string keyError;
  try {
    verifier = std::make_shared<const UpdateFeedVerifier>(updatePublicKey());
  } catch (const std::exception& error) {
    keyError = error.what();
  }
  const auto http = model.services().http();
  const Url feedURL = model.services().siteURL().appendingPathComponent("updates/feed.json");
  auto downloader = std::make_shared<UpdateDownloader>(http, verifier);
  auto installer = std::make_shared<UpdateInstaller>(verifier);

  Backend backend;
  backend.fetchFeed = [http, verifier, keyError, feedURL](const std::string& notBefore, std::stop_token stop) {
    if (!verifier) throw UpdateError(keyError);
    HTTPRequest request;
    request.url = feedURL.text();
    const HTTPResponse response = http->data(request, stop);
    if (response.status != 200) {
      throw UpdateError("the feed at " + feedURL.text() + " answered " + std::to_string(response.status));
    }
    // The floor outlives the process: a feed replayed after a restart is refused too.
    QSettings settings(QStringLiteral("com.tolvanelabs.Tolvane"), QStringLiteral("Tolvane"));
    const std::string floor =
        notBefore.empty() ? settings.value(kFeedFloorKey).toString().toStdString() : notBefore;
    UpdateFeed feed = verifier->verify(response.body, std::chrono::system_clock::now(), floor);
    settings.setValue(kFeedFloorKey, QString::fromStdString(feed.generatedAt));
    return feed;
  };
  backend.detectInstallation = [] { return InstalledPackage::detect(AppModel::currentVersion().toStdString()); };
  backend.download = [downloader, verifier, keyError, feedURL](const UpdateRelease& release, std::stop_token stop) {
    if (!verifier) throw UpdateError(keyError);
    return downloader->download(release, feedURL, stop);
  };
  backend.install = [installer, verifier, keyError](const std::filesystem::path& package,
                                                     const UpdateRelease& release) {
    if (!verifier) throw UpdateError(keyError);
    installer->install(package, release, AppModel::currentVersion().toStdString());
  };
  backend.discardDownloads = [downloader] { downloader->discardAll(); };
  backend.relaunch = [](const std::filesystem::path& executable) -> pid_t {
    // The new instance starts once this one has gone: while it still holds the
    // application's name on the session bus, a second launch would only hand over to it.
    // It waits on a pipe whose writing end only this process holds (close-on-exec, so no
    // other child inherits it): the end of this process closes it, whoever reaps it.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    static constexpr const char* kWaitThenStart = "read -r _; exec \"$0\" </dev/null";
    const pid_t pid = ChildCommand::startDetached({"/bin/sh", "-c", kWaitThenStart, executable.string()}, ends[0]);
    close(ends[0]);
    if (pid < 0) close(ends[1]);
    // ends[1] stays open until the process ends, on purpose.
    return pid;
  };
  return backend;
}

UpdaterController::UpdaterController(AppModel& model, Backend backend, std::function<void()> quit, QObject* parent)
    : QObject(parent), model_(model), backend_(std::move(backend)), quit_(std::move(quit)) {}

UpdaterController::~UpdaterController() { stop_.request_stop(); }

void UpdaterController::start() {
  if (automatic_) return;
  automatic_ = automaticChecks();
}

void UpdaterController::checkForUpdates() {
  if (busy_) {
    log_.info("an update check is already running");
    return;
  }
  userCheck_ = check(/*userInitiated=*/true);
}

std::optional<std::string> UpdaterController::pendingVersion() const {
  if (!pending_) return std::nullopt;
  return pending_->version;
}

QCoro::Task<> UpdaterController::automaticChecks() {
  QPointer<UpdaterController> self(this);
  double wait = kFirstCheckDelaySec;
  for (;;) {
    co_await model_.clock().sleep(wait);
    if (!self) co_return;
    wait = kCheckIntervalSec;
    if (self->busy_) continue;  // the user's own check is under way
    auto checking = self->check(/*userInitiated=*/false);
    co_await checking;
    if (!self) co_return;
  }
}

QCoro::Task<> UpdaterController::check(bool userInitiated) {
  QPointer<UpdaterController> self(this);
  setBusy(true);
  const std::stop_token stop = stop_.get_token();
  const std::string current = AppModel::currentVersion().toStdString();

  if (!installation_) {
    auto detecting = offThread([detect = backend_.detectInstallation] { return detect(); });
    const auto detected = co_await detecting;
    if (!self) co_return;
    self->installation_ = detected.ok() ? *detected.value : InstalledPackage{};
    if (!self->installation_->installable) {
      self->log_.info("this copy of Tolvane can't update itself ({}); new versions are only announced",
                      self->installation_->reason.empty() ? detected.error : self->installation_->reason);
    }
  }

  auto fetching = offThread([fetch = backend_.fetchFeed, notBefore = lastGeneratedAt_, stop] {
    return fetch(notBefore, stop);
  });
  const auto feed = co_await fetching;
  if (!self) co_return;
  if (!feed.ok()) {
    self->log_.error("update check failed: {}", feed.error);
    if (userInitiated) self->tellUser(QStringLiteral("Couldn't check for updates: %1").arg(qText(feed.error)));
    self->setBusy(false);
    co_return;
  }
  self->log_.info("appcast loaded: {} item(s)", static_cast<long>(feed.value->releases.size()));
  self->lastGeneratedAt_ = feed.value->generatedAt;

  const std::optional<UpdateRelease> newest = feed.value->newestAfter(current);
  if (!newest) {
    if (userInitiated) self->tellUser(QStringLiteral("Tolvane %1 is up to date.").arg(qText(current)));
    self->setBusy(false);
    co_return;
  }
  self->log_.info("update available: {} (running {})", newest->version, current);
  if (!self->installation_->installable) {
    self->tellUpdateAvailable(*newest, userInitiated);
    self->setBusy(false);
    co_return;
  }
  if (self->pending_ && self->pending_->version == newest->version) {
    // Already downloaded and waiting for the recording or the upload to end.
    if (userInitiated) {
      self->tellUser(QStringLiteral("Tolvane %1 installs as soon as the recording and its upload are done.")
                         .arg(qText(newest->version)));
    }
    self->setBusy(false);
    co_return;
  }

  auto downloading = offThread([download = backend_.download, release = *newest, stop] {
    return download(release, stop);
  });
  const auto package = co_await downloading;
  if (!self) co_return;
  self->setBusy(false);
  if (!package.ok()) {
    self->log_.error("update check failed: {}", package.error);
    if (userInitiated) self->tellUser(QStringLiteral("Couldn't download the update: %1").arg(qText(package.error)));
    co_return;
  }
  // A newer release replaces one still waiting; the waiting loop picks it up.
  const bool waiting = self->pending_.has_value();
  self->pending_ = *newest;
  if (!waiting) self->install_ = self->installWhenIdle(*package.value, *newest);
}

QCoro::Task<> UpdaterController::installWhenIdle(std::filesystem::path package, UpdateRelease release) {
  QPointer<UpdaterController> self(this);
  if (mustPostpone()) {
    log_.info("postponing update install — recording or upload in progress");
    while (self && self->mustPostpone()) co_await model_.clock().sleep(kPostponeRecheckSec);
    if (!self) co_return;
  }
  // A newer release may have arrived while this one waited.
  if (self->pending_ && self->pending_->version != release.version) {
    auto redownloading = offThread([download = backend_.download, newer = *self->pending_, stop = stop_.get_token()] {
      return download(newer, stop);
    });
    const auto newer = co_await redownloading;
    if (!self) co_return;
    if (newer.ok()) {
      package = *newer.value;
      release = *self->pending_;
    }
  }

  auto installing = offThread([install = backend_.install, package, release] { install(package, release); });
  const auto installed = co_await installing;
  if (!self) co_return;
  self->pending_.reset();
  if (!installed.ok()) {
    // The download stays for the next attempt.
    self->log_.error("update install failed: {}", installed.error);
    self->tellUser(qText(installed.error));
    co_return;
  }
  auto discarding = offThread([discard = backend_.discardDownloads] { discard(); });
  co_await discarding;
  if (!self) co_return;

  // A recording started while the installer ran (its password prompt can take a while)
  // must not be cut off by the relaunch either.
  while (self && self->mustPostpone()) co_await model_.clock().sleep(kPostponeRecheckSec);
  if (!self) co_return;
  const pid_t relaunched = self->backend_.relaunch(self->installation_->executable);
  if (relaunched < 0) {
    self->log_.error("installed {} but couldn't start it again", release.version);
    self->tellUser(QStringLiteral("Tolvane %1 was installed. Quit and open Tolvane again to use it.")
                       .arg(qText(release.version)));
    co_return;
  }
  self->log_.info("installed {}; relaunching (process {})", release.version, relaunched);
  self->quit_();
}

bool UpdaterController::mustPostpone() {
  return model_.recording().phase().isCapturing() || model_.library().isUploadInFlight();
}

void UpdaterController::tellUpdateAvailable(const UpdateRelease& release, bool userInitiated) {
  const QString version = qText(release.version);
  if (model_.availableUpdate().value(QStringLiteral("version")).toString().isEmpty()) {
    model_.setAvailableUpdate({{QStringLiteral("version"), version},
                               {QStringLiteral("downloadUrl"), qText(release.packageURL)},
                               {QStringLiteral("pageUrl"), QString()}});
  }
  if (!userInitiated && toldAvailable_ == release.version) return;
  toldAvailable_ = release.version;
  tellUser(QStringLiteral("Tolvane %1 is available — you're on %2.").arg(version, AppModel::currentVersion()));
}

void UpdaterController::tellUser(const QString& text) { model_.notifier().notify(QStringLiteral("Tolvane"), text); }

void UpdaterController::setBusy(bool busy) {
  if (busy_ == busy) return;
  busy_ = busy;
  emit canCheckForUpdatesChanged();
}

}  // namespace tolvane
