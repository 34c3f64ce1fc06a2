#include "app/core/app_model.h"

#include <QPointer>
#include <QStringList>
#include <chrono>

#include <qcorofuture.h>

#include "app/core/change.h"
#include "app/core/clipboard.h"
#include "app/core/dbus_notifier.h"
#include "app/core/desktop_opener.h"
#include "app/core/device_name.h"
#include "app/core/gui_thread_executor.h"
#include "app/core/model_clock.h"
#include "app/core/off_thread.h"
#include "app/core/recovery_notice.h"
#include "kit/base/log.h"

namespace tolvane {
namespace {

const Logger& appLog() {
  static const Logger log("app");
  return log;
}

const QStringList kPanes = {QStringLiteral("record"), QStringLiteral("review"), QStringLiteral("library"),
                            QStringLiteral("local")};

// Headless runs (tests, a session without a desktop) have no clipboard or browser.
struct NoClipboard final : Clipboard {
  void setText(const QString&) override {}
};
struct NoDesktop final : DesktopOpener {
  void openURL(const QUrl&) override {}
  void showInFolder(const QString&) override {}
  void openFile(const QString&) override {}
};

}  // namespace

AppModel::AppModel(Settings settings, QObject* parent)
    : QObject(parent),
      clock_(settings.clock ? std::move(settings.clock) : makeSystemModelClock()),
      clipboard_(settings.clipboard ? std::move(settings.clipboard) : std::make_shared<NoClipboard>()),
      opener_(settings.opener ? std::move(settings.opener) : std::make_shared<NoDesktop>()),
      notifier_(settings.notifier ? std::move(settings.notifier) : std::make_shared<DBusNotifier>()),
      executor_(std::make_shared<GuiThreadExecutor>(this)),
      services_(std::make_unique<AppServices>(executor_, std::move(settings.services))) {
  auto deviceNameOf = settings.deviceName ? std::move(settings.deviceName) : [] { return deviceName(); };
  auto now = settings.now ? std::move(settings.now) : [] { return std::chrono::system_clock::now(); };
  account_ = new AccountModel(*services_, *opener_, std::move(deviceNameOf), this);
  library_ = new LibraryModel(*services_, clock_, *clipboard_, *opener_, *notifier_,
                              [this] { return review_ ? review_->reviewItemID() : QString(); }, this);
  review_ = new ReviewModel(*services_, *library_, std::move(now), this);
  annotations_ = new AnnotationModel(this);

  auto recordingOptions = std::move(settings.recording);
  if (!recordingOptions.openURL) {
    recordingOptions.openURL = [opener = opener_](const QUrl& url) { opener->openURL(url); };
  }
  if (!recordingOptions.notify) {
    recordingOptions.notify = [notifier = notifier_](const QString& text) {
      notifier->notify(QStringLiteral("Tolvane"), text);
    };
  }
  recording_ = new RecordingController(*services_, clock_, std::move(recordingOptions), this);
  connect(recording_, &RecordingController::recordingRequested, this, &AppModel::recordingStarted);
  connect(recording_, &RecordingController::localItemsChanged, library_, &LibraryModel::refreshLocalItems);
  connect(recording_, &RecordingController::recordingEnded, annotations_, &AnnotationModel::recordingFinished);
  connect(recording_, &RecordingController::recordingFinished, this, &AppModel::recordingFinished);
  annotations_->setRecordingOutput([this] { return recording_->recordingOutputSize(); },
                                   [this](std::optional<VideoFrame> image, std::vector<Rect> blurRects) {
                                     recording_->updateAnnotations(std::move(image), std::move(blurRects));
                                   });

  connect(account_, &AccountModel::signedIn, library_, &LibraryModel::loadLibrary);
  connect(account_, &AccountModel::signedOut, library_, &LibraryModel::clearLibrary);
  connect(review_, &ReviewModel::reviewBegan, this, [this] {
    setMainPane(QStringLiteral("review"));
    emit showMainWindow(mainPane_);
  });
}

// The services go first (children are deleted after this body): their queue stops, and
// no callback of theirs reaches a part that is being destroyed.
AppModel::~AppModel() { services_.reset(); }

QObject* AppModel::recordingObject() const {
  return recording_;
}

void AppModel::setShortcutNotice(const QString& notice) {
  if (assignChanged(shortcutNotice_, notice)) emit shortcutNoticeChanged();
}

QString AppModel::currentVersion() {
  const QString version = QStringLiteral(TOLVANE_APP_VERSION);
  return version.isEmpty() ? QStringLiteral("0.0.0") : version;
}

void AppModel::wireServiceCallbacks() {
  QPointer<AppModel> self(this);
  services_->setOnVaultChange([self] {
    if (self) self->library_->refreshLocalItems();
  });
  services_->setOnUploadChange([self, queue = services_->uploadQueue()]() -> void {
    if (!self) return;
    self->library_->refreshLocalItems();
    [](QPointer<AppModel> model, std::shared_ptr<UploadQueue> q) -> QCoro::Task<> {
      auto asking = offThread([q] { return q->isUploading(); });
      const auto uploading = co_await asking;
      if (model && uploading.ok()) model->library_->setUploadInFlight(*uploading.value);
    }(self, queue);
  });
  services_->setOnSessionChange([self](const std::optional<AuthSession>& session) {
    if (self) self->account_->sessionChanged(session);
  });
}

QCoro::Task<> AppModel::bootstrap() {
  QPointer<AppModel> self(this);
  wireServiceCallbacks();

  co_await recording_->refreshPermissionsAsync();
  if (!self) co_return;
  appLog().info(
      "permissions at launch — screen: {:d},             mic: {},             camera: {}             "
      "(0=undecided 1=restricted 2=denied 3=allowed)",
      recording_->screenRecordingGranted(), static_cast<int>(recording_->microphoneStatus()),
      static_cast<int>(recording_->cameraStatus()));

  co_await library_->refresh();
  if (!self) co_return;

  // Recovery runs before the queue starts, so that the queue finds the recovered
  // recordings ready instead of half-written.
  auto recovering = offThread([vault = services_->vault(), queue = services_->uploadQueue()] {
    return Library(vault, queue).recoverInterrupted();
  });
  const auto recovery = co_await recovering;
  if (!self) co_return;
  if (recovery.ok() && !recovery.value->isEmpty()) {
    const auto& report = *recovery.value;
    appLog().info("recovery: {} recovered, {} unreadable", report.recovered.size(), report.unreadable.size());
    const QString notice = recoveryNoticeText(report.recovered.size(), report.unreadable.size());
    if (!notice.isEmpty()) {
      library_->setRecoveryNotice(notice);
      // The window may not be open at launch; the desktop shows it anyway.
      notifier_->notify(QStringLiteral("Tolvane"), notice);
    }
  }
  co_await library_->refresh();
  if (!self) co_return;

  co_await account_->restoreSession();
  if (!self) co_return;

  auto starting = offThread([queue = services_->uploadQueue()] { queue->start(); });
  co_await starting;
  if (!self) co_return;

  co_await recording_->refreshSourcesAsync();
  if (!self) co_return;

  co_await checkForUpdate();
}

QCoro::Task<> AppModel::checkForUpdate() {
  QPointer<AppModel> self(this);
  auto checking = offThread([http = services_->http(), site = services_->siteURL()] {
    return UpdateChecker(http, site).latest();
  });
  const auto release = co_await checking;
  // A failed check is not the user's concern: the next launch asks again.
  if (!self || !release.ok()) co_return;
  if (!release.value->available || !release.value->isNewer(currentVersion().toStdString())) co_return;
  appLog().info("update available: {}", release.value->version);
  const QVariantMap update = {{QStringLiteral("version"), QString::fromStdString(release.value->version)},
                              {QStringLiteral("downloadUrl"), QString::fromStdString(release.value->downloadUrl)},
                              {QStringLiteral("pageUrl"), QString::fromStdString(release.value->pageUrl)}};
  if (assignChanged(availableUpdate_, update)) emit availableUpdateChanged();
}

void AppModel::setAvailableUpdate(const QVariantMap& update) {
  if (assignChanged(availableUpdate_, update)) emit availableUpdateChanged();
}

void AppModel::selectPane(const QString& pane) {
  if (!kPanes.contains(pane)) return;
  appLog().info("sidebar: {}", pane.toStdString());
  setMainPane(pane);
  if (pane == QLatin1String("library")) library_->loadLibrary();
}

void AppModel::recordingStarted() { library_->setLastShareURL({}); }

void AppModel::recordingFinished(const QString& itemID, double durationSec) {
  annotations_->recordingFinished();
  library_->refreshLocalItems();
  if (durationSec > kMinReviewedSec) review_->beginReview(itemID, durationSec);
}

void AppModel::setMainPane(const QString& pane) {
  if (assignChanged(mainPane_, pane)) emit mainPaneChanged();
}

}  // namespace tolvane
