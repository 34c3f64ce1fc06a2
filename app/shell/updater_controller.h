#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <sys/types.h>

#include <qcorotask.h>

#include "app/services/installed_package.h"
#include "kit/base/log.h"
#include "kit/update/update_feed.h"

namespace tolvane {

class AppModel;

// Keeps Tolvane up to date: checks the signed feed once a day (the first time shortly after
// launch) and when the user asks, downloads a newer release in the background and installs
// it — but never while a recording runs, is paused, or an upload is in flight, because the
// relaunch after an install would cut them off. It waits for them to end, looking again
// every 30 seconds, then installs and relaunches the application.
//
// Where the program wasn't installed from our package (a build tree, a distribution's
// package) it only tells the user, once per version, that a new version exists.
//
// Lives on the GUI thread; every blocking step runs on a worker thread.
class UpdaterController final : public QObject {
  Q_OBJECT

 public:
  static constexpr double kCheckIntervalSec = 86400;
  static constexpr double kFirstCheckDelaySec = 10;
  static constexpr double kPostponeRecheckSec = 30;

  // The blocking steps, each called on a worker thread (relaunch on the GUI thread). Each
  // throws with one sentence of what went wrong.
  struct Backend {
    // Fetches and verifies the feed; `notBefore` is the generatedAt of the last feed
    // accepted, so an older one is refused.
    std::function<UpdateFeed(const std::string& notBefore, std::stop_token stop)> fetchFeed;
    std::function<InstalledPackage()> detectInstallation;
    // The verified package file of a release, downloaded or kept from before.
    std::function<std::filesystem::path(const UpdateRelease& release, std::stop_token stop)> download;
    std::function<void(const std::filesystem::path& package, const UpdateRelease& release)> install;
    // After a successful install: the kept downloads go.
    std::function<void()> discardDownloads;
    // Starts the installed program once this process has ended; its process id, or -1.
    std::function<pid_t(const std::filesystem::path& executable)> relaunch;
  };

  // The real steps: the feed at the site's /updates/feed.json, verified with the built-in
  // key (or TOLVANE_UPDATE_PUBLIC_KEY), downloads into the user's cache, dpkg and polkit.
  static Backend systemBackend(AppModel& model);

  // `quit` ends the application through its normal quit path (after a relaunch started).
  UpdaterController(AppModel& model, Backend backend, std::function<void()> quit, QObject* parent = nullptr);
  ~UpdaterController() override;

  // Starts the automatic checks.
  void start();
  // A check the user asked for: one that finds nothing says so.
  void checkForUpdates();
  // False while a check or a download runs.
  bool canCheckForUpdates() const { return !busy_; }
  // The version that is downloaded and waits to be installed, if any.
  std::optional<std::string> pendingVersion() const;

 signals:
  void canCheckForUpdatesChanged();

 private:
  QCoro::Task<> automaticChecks();
  QCoro::Task<> check(bool userInitiated);
  QCoro::Task<> installWhenIdle(std::filesystem::path package, UpdateRelease release);
  // A recording under way (paused or not) or an upload in flight: an install now would cut it off.
  bool mustPostpone();
  void tellUpdateAvailable(const UpdateRelease& release, bool userInitiated);
  void tellUser(const QString& text);
  void setBusy(bool busy);

  AppModel& model_;
  Backend backend_;
  std::function<void()> quit_;
  std::stop_source stop_;
  bool busy_ = false;
  std::optional<InstalledPackage> installation_;
  std::string lastGeneratedAt_;
  std::optional<UpdateRelease> pending_;  // downloaded, waiting for its install
  std::string toldAvailable_;             // the version the user was last told about
  std::optional<QCoro::Task<>> automatic_;
  std::optional<QCoro::Task<>> userCheck_;
  std::optional<QCoro::Task<>> install_;
  Logger log_{"updater"};
};

}  // namespace tolvane
