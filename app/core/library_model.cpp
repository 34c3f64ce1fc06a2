#include "app/core/library_model.h"

#include <QDateTime>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>
#include <chrono>

#include <qcorofuture.h>

#include "app/core/change.h"
#include "app/core/clipboard.h"
#include "app/core/desktop_opener.h"
#include "app/core/model_clock.h"
#include "app/core/notifier.h"
#include "app/core/off_thread.h"
#include "app/services/app_services.h"

namespace tolvane {
namespace {

const QString kLinkCopied = QStringLiteral("Link copied — paste it anywhere.");

QString text(const std::optional<std::string>& value) { return value ? QString::fromStdString(*value) : QString(); }

QDateTime dateTime(Date date) {
  return QDateTime::fromMSecsSinceEpoch(
      std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count());
}

QVariantMap localItemMap(const VaultItem& item) {
  const RecordingManifest& m = item.manifest;
  return {{QStringLiteral("id"), QString::fromStdString(m.id)},
          {QStringLiteral("title"), QString::fromStdString(m.title)},
          {QStringLiteral("createdAt"), dateTime(m.createdAt)},
          {QStringLiteral("state"), QString::fromUtf8(rawValue(m.state).data(), qsizetype(rawValue(m.state).size()))},
          {QStringLiteral("durationSec"), m.durationSec},
          {QStringLiteral("fileSizeBytes"), qint64(m.fileSizeBytes)},
          {QStringLiteral("uploadedBytes"), qint64(m.uploadedBytes)},
          {QStringLiteral("shareURL"), text(m.shareURL)},
          {QStringLiteral("lastError"), text(m.lastError)},
          {QStringLiteral("notice"), text(m.notice)},
          {QStringLiteral("filePath"), QString::fromStdString(item.videoPath().string())},
          {QStringLiteral("hasCamera"), m.hasCamera},
          {QStringLiteral("recoveredFromInterruption"), m.recoveredFromInterruption}};
}

QVariantMap libraryItemMap(const RecordingSummary& summary) {
  return {{QStringLiteral("id"), QString::fromStdString(summary.id)},
          {QStringLiteral("title"), QString::fromStdString(summary.title)},
          {QStringLiteral("durationSec"), qint64(summary.durationSec)},
          {QStringLiteral("createdAt"), QString::fromStdString(summary.createdAt)},
          {QStringLiteral("views"), qint64(summary.views)},
          {QStringLiteral("mine"), summary.mine},
          {QStringLiteral("sharedWithTeam"), summary.sharedWithTeam},
          {QStringLiteral("thumbnail"), QString::fromStdString(summary.thumbnail)},
          {QStringLiteral("shareUrl"), QString::fromStdString(summary.shareUrl)}};
}

}  // namespace

LibraryModel::LibraryModel(AppServices& services, std::shared_ptr<ModelClock> clock, Clipboard& clipboard,
                           DesktopOpener& opener, Notifier& notifier, std::function<QString()> reviewItemID,
                           QObject* parent)
    : QObject(parent),
      services_(services),
      clock_(std::move(clock)),
      clipboard_(clipboard),
      opener_(opener),
      notifier_(notifier),
      reviewItemID_(std::move(reviewItemID)) {}

const VaultItem* LibraryModel::item(const QString& id) const {
  const std::string wanted = id.toStdString();
  for (const auto& candidate : items_) {
    if (candidate.id() == wanted) return &candidate;
  }
  return nullptr;
}

void LibraryModel::refreshLocalItems() { refresh(); }

QCoro::Task<> LibraryModel::refresh() {
  QPointer<LibraryModel> self(this);
  const quint64 scan = ++scansStarted_;
  const auto vault = services_.vault();
  auto scanning = offThread([vault] { return vault->all(); });
  auto scanned = co_await scanning;
  if (!self || !scanned.ok() || scan < scanShown_) co_return;
  scanShown_ = scan;
  apply(std::move(*scanned.value));
}

void LibraryModel::apply(std::vector<VaultItem> items) {
  const bool changed = items != items_;
  items_ = std::move(items);
  if (changed) {
    localItems_.clear();
    for (const auto& item : items_) localItems_.append(localItemMap(item));
    emit localItemsChanged();
  }

  int pending = 0;
  for (const auto& item : items_) {
    if (isUploadPending(item.manifest.state) || item.manifest.state == RecordingState::uploaded) ++pending;
  }
  if (assignChanged(pendingUploadCount_, pending)) emit pendingUploadCountChanged();

  // The newest link, once its recording is on the service: a link in any other state
  // (a retry after a failed check) leaves the one shown.
  for (const auto& item : items_) {
    if (!item.manifest.shareURL) continue;
    const auto state = item.manifest.state;
    if (state == RecordingState::uploaded || state == RecordingState::verified) {
      setLastShareURL(QString::fromStdString(*item.manifest.shareURL));
    }
    break;
  }
  copyReviewLink();
}

void LibraryModel::copyReviewLink() {
  const VaultItem* reviewed = item(reviewItemID_());
  if (reviewed == nullptr || !reviewed->manifest.shareURL) return;
  const std::string& link = *reviewed->manifest.shareURL;
  if (!copiedShareURLs_.insert(link).second) return;
  const QString url = QString::fromStdString(link);
  clipboard_.setText(url);
  setLinkCopiedNotice(kLinkCopied);
  QPointer<LibraryModel> self(this);
  notifier_.notify(kLinkCopied, url, [self, url] {
    if (self) self->opener_.openURL(QUrl(url));
  });
  expireLinkCopiedNotice(++noticesShown_);
}

QCoro::Task<> LibraryModel::expireLinkCopiedNotice(quint64 notice) {
  QPointer<LibraryModel> self(this);
  // The clock is reached through the model, not held: a frame asleep on the clock that
  // owned the clock would keep both alive for good.
  co_await clock_->sleep(kLinkCopiedNoticeSec);
  // A link copied meanwhile shows its own notice for its full time.
  if (!self || notice != noticesShown_) co_return;
  setLinkCopiedNotice({});
}

void LibraryModel::loadLibrary() { reloadLibrary(); }

QCoro::Task<> LibraryModel::reloadLibrary() {
  QPointer<LibraryModel> self(this);
  const auto auth = services_.auth();
  const auto api = services_.api();
  auto checkingSignIn = offThread([auth] { return auth->isSignedIn(); });
  const auto signedIn = co_await checkingSignIn;
  if (!self || !signedIn.value.value_or(false)) co_return;
  setLoadingLibrary(true);
  setLibraryError({});
  auto loadingLibrary = offThread([api] { return api->library(100); });
  const auto library = co_await loadingLibrary;
  if (!self) co_return;
  if (library.ok()) {
    QVariantList items;
    for (const auto& summary : *library.value) items.append(libraryItemMap(summary));
    if (assignChanged(libraryItems_, items)) emit libraryItemsChanged();
  } else {
    setLibraryError(QString::fromStdString(library.error));
  }
  setLoadingLibrary(false);
}

void LibraryModel::clearLibrary() {
  if (assignChanged(libraryItems_, QVariantList())) emit libraryItemsChanged();
}

void LibraryModel::retryUpload(const QString& id) {
  offThread([queue = services_.uploadQueue(), id = id.toStdString()] { queue->retryNow(id); });
}

void LibraryModel::showInFolder(const QString& id) {
  if (const VaultItem* found = item(id)) opener_.showInFolder(QString::fromStdString(found->videoPath().string()));
}

void LibraryModel::openLocalFile(const QString& id) {
  if (const VaultItem* found = item(id)) opener_.openFile(QString::fromStdString(found->videoPath().string()));
}

void LibraryModel::setLastShareURL(const QString& url) {
  if (assignChanged(lastShareURL_, url)) emit lastShareURLChanged();
}

void LibraryModel::setRecoveryNotice(const QString& notice) {
  if (assignChanged(recoveryNotice_, notice)) emit recoveryNoticeChanged();
}

void LibraryModel::setUploadInFlight(bool inFlight) {
  if (assignChanged(isUploadInFlight_, inFlight)) emit isUploadInFlightChanged();
}

void LibraryModel::setLinkCopiedNotice(const QString& notice) {
  if (assignChanged(linkCopiedNotice_, notice)) emit linkCopiedNoticeChanged();
}

void LibraryModel::setLibraryError(const QString& error) {
  if (assignChanged(libraryError_, error)) emit libraryErrorChanged();
}

void LibraryModel::setLoadingLibrary(bool loading) {
  if (assignChanged(isLoadingLibrary_, loading)) emit isLoadingLibraryChanged();
}

}  // namespace tolvane
