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
#include "app/core/item_list_model.h"
#include "app/core/model_clock.h"
#include "app/core/movie_version.h"
#include "app/core/notifier.h"
#include "app/core/off_thread.h"
#include "app/services/app_services.h"
#include "kit/base/log.h"
#include "kit/upload/tolvane_api.h"
#include "kit/vault/recording_lock.h"
#include "kit/vault/recording_vault.h"

namespace tolvane {
namespace {

const Logger& appLog() {
  static const Logger log("app");
  return log;
}

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

const QString kStillRecording =
    QStringLiteral("This recording is still being written. Delete it once it has finished.");

const QStringList kLocalRoles{QStringLiteral("id"),
                              QStringLiteral("title"),
                              QStringLiteral("createdAt"),
                              QStringLiteral("state"),
                              QStringLiteral("durationSec"),
                              QStringLiteral("fileSizeBytes"),
                              QStringLiteral("uploadedBytes"),
                              QStringLiteral("shareURL"),
                              QStringLiteral("lastError"),
                              QStringLiteral("notice"),
                              QStringLiteral("filePath"),
                              QStringLiteral("hasCamera"),
                              QStringLiteral("recoveredFromInterruption"),
                              QStringLiteral("thumbnailSource"),
                              QStringLiteral("isUploadPending"),
                              QStringLiteral("canDelete")};

const QStringList kLibraryRoles{QStringLiteral("id"),
                                QStringLiteral("title"),
                                QStringLiteral("durationSec"),
                                QStringLiteral("createdAt"),
                                QStringLiteral("views"),
                                QStringLiteral("mine"),
                                QStringLiteral("sharedWithTeam"),
                                QStringLiteral("thumbnail"),
                                QStringLiteral("shareUrl"),
                                QStringLiteral("thumbnailSource")};

// The row the local list model shows: the plain map and what the panes derive from it.
// The picture's address names the movie's version: after a trim the row asks for a new
// picture, which the views' image cache (keyed by address) has never seen.
QVariantMap localRowMap(const VaultItem& item, bool locked, const std::string& version) {
  QVariantMap row = localItemMap(item);
  const QString id = row.value(QStringLiteral("id")).toString();
  row.insert(QStringLiteral("thumbnailSource"), QStringLiteral("image://thumbnail/local/") +
                                                    QString::fromUtf8(QUrl::toPercentEncoding(id)) + QLatin1Char('/') +
                                                    QString::fromUtf8(QUrl::toPercentEncoding(QString::fromStdString(version))));
  row.insert(QStringLiteral("isUploadPending"), isUploadPending(item.manifest.state));
  row.insert(QStringLiteral("canDelete"), !locked);
  return row;
}

// The remote image goes in as one path segment, so its own slashes are encoded.
QString remoteThumbnailSource(const std::string& url) {
  if (url.empty()) return {};
  return QStringLiteral("image://thumbnail/remote/") +
         QString::fromUtf8(QUrl::toPercentEncoding(QString::fromStdString(url)));
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
          {QStringLiteral("shareUrl"), QString::fromStdString(summary.shareUrl)},
          {QStringLiteral("thumbnailSource"), remoteThumbnailSource(summary.thumbnail)}};
}

// The library after its first page: the next pages until a short one, each recording
// once (a recording saved meanwhile pushes the older ones down a place, and a service
// that ignores the offset sends the first page again, which ends the paging). A failed
// page ends it with what came so far and why.
LibraryModel::LibraryPages remainingLibraryPages(TolvaneAPI& api, std::vector<RecordingSummary> recordings,
                                                 std::stop_token stop) {
  LibraryModel::LibraryPages pages;
  std::set<std::string> seen;
  for (const auto& summary : recordings) seen.insert(summary.id);
  for (qint64 page = 1; page < LibraryModel::kMaxLibraryPages && !stop.stop_requested(); ++page) {
    std::vector<RecordingSummary> next;
    try {
      next = api.library(LibraryModel::kLibraryPageSize, qint64(recordings.size()), stop);
    } catch (const std::exception& failure) {
      pages.error = failure.what();
      break;
    }
    std::size_t added = 0;
    for (auto& summary : next) {
      if (!seen.insert(summary.id).second) continue;
      recordings.push_back(std::move(summary));
      ++added;
    }
    if (qint64(next.size()) < LibraryModel::kLibraryPageSize || added == 0) break;
  }
  pages.recordings = std::move(recordings);
  return pages;
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
      reviewItemID_(std::move(reviewItemID)),
      localItemsModel_(new ItemListModel(kLocalRoles, this)),
      libraryItemsModel_(new ItemListModel(kLibraryRoles, this)) {}

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
  // The locks are read with the scan: a thousand flock calls do not belong on the
  // GUI thread.
  // So are the movies' versions, a stat each.
  auto scanning = offThread([vault] {
    Scan found{vault->all(), {}, {}};
    for (const auto& item : found.items) {
      if (RecordingLock::isHeld(item.directory)) found.locked.insert(item.id());
      found.versions.emplace(item.id(), movieVersion(item.videoPath()));
    }
    return found;
  });
  auto scanned = co_await scanning;
  if (!self || !scanned.ok() || scan < scanShown_) co_return;
  scanShown_ = scan;
  apply(std::move(*scanned.value));
}

void LibraryModel::apply(Scan scan) {
  const bool changed = scan.items != items_;
  const bool rowsChanged = changed || scan.locked != lockedIDs_ || scan.versions != movieVersions_;
  items_ = std::move(scan.items);
  lockedIDs_ = std::move(scan.locked);
  movieVersions_ = std::move(scan.versions);
  if (changed) {
    localItems_.clear();
    for (const auto& item : items_) localItems_.append(localItemMap(item));
    emit localItemsChanged();
  }
  if (rowsChanged) {
    QVariantList rows;
    rows.reserve(qsizetype(items_.size()));
    for (const auto& item : items_) {
      const auto version = movieVersions_.find(item.id());
      rows.append(localRowMap(item, lockedIDs_.count(item.id()) > 0,
                              version == movieVersions_.end() ? std::string("missing") : version->second));
    }
    localItemsModel_->setItems(rows);
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
  const quint64 load = ++librariesStarted_;
  // The pages an older load is still asking for would only be thrown away.
  libraryStop_.request_stop();
  libraryStop_ = std::stop_source();
  const std::stop_token stop = libraryStop_.get_token();
  const auto auth = services_.auth();
  const auto api = services_.api();
  auto checkingSignIn = offThread([auth] { return auth->isSignedIn(); });
  const auto signedIn = co_await checkingSignIn;
  if (!self || load != librariesStarted_ || !signedIn.value.value_or(false)) co_return;
  setLoadingLibrary(true);
  setLibraryError({});
  auto loadingFirstPage = offThread([api, stop] { return api->library(kLibraryPageSize, 0, stop); });
  const auto firstPage = co_await loadingFirstPage;
  // A newer load (or a sign-out) took over; it shows its own pages.
  if (!self || load != librariesStarted_) co_return;
  if (!firstPage.ok()) {
    setLibraryError(QString::fromStdString(firstPage.error));
    setLoadingLibrary(false);
    co_return;
  }
  // The first page is shown at once, unless the list on screen is longer: that one
  // stays until the rest has come, so a refresh neither shortens the grid nor throws
  // its scroll position away.
  std::vector<RecordingSummary> recordings = *firstPage.value;
  const bool more = qint64(recordings.size()) >= kLibraryPageSize;
  if (!more || qsizetype(recordings.size()) >= libraryItems_.size()) showLibraryItems(recordings);
  setLoadingLibrary(false);
  if (!more) co_return;

  // The rest, a page at a time on one worker, until a short page.
  auto loadingRest = offThread([api, stop, recordings] { return remainingLibraryPages(*api, recordings, stop); });
  const auto rest = co_await loadingRest;
  if (!self || load != librariesStarted_ || !rest.ok()) co_return;
  if (!rest.value->error.empty()) {
    appLog().error("couldn't load the library past {} recordings: {}", rest.value->recordings.size(),
                   rest.value->error);
  }
  showLibraryItems(rest.value->recordings);
}

void LibraryModel::showLibraryItems(const std::vector<RecordingSummary>& recordings) {
  QVariantList items;
  items.reserve(qsizetype(recordings.size()));
  for (const auto& summary : recordings) items.append(libraryItemMap(summary));
  if (assignChanged(libraryItems_, items)) {
    libraryItemsModel_->setItems(libraryItems_);
    emit libraryItemsChanged();
  }
}

void LibraryModel::clearLibrary() {
  // A load still paging belongs to the account that went.
  ++librariesStarted_;
  libraryStop_.request_stop();
  setLoadingLibrary(false);
  showLibraryItems({});
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

void LibraryModel::deleteLocal(const QString& id) { deleteLocalItem(id); }

QCoro::Task<> LibraryModel::deleteLocalItem(QString id) {
  QPointer<LibraryModel> self(this);
  setLocalError({});
  if (lockedIDs_.count(id.toStdString()) > 0) {
    setLocalError(kStillRecording);
    co_return;
  }
  // The vault checks the lock again under its own: a recording may have started
  // writing since the last scan, and its refusal arrives as the error below.
  const auto vault = services_.vault();
  auto deleting = offThread([vault, id = id.toStdString()] { vault->deleteItem(id); });
  const auto deleted = co_await deleting;
  if (!self) co_return;
  if (!deleted.ok()) setLocalError(QString::fromStdString(deleted.error));
  auto rescanning = refresh();
  co_await rescanning;
}

void LibraryModel::setLocalError(const QString& error) {
  if (assignChanged(localError_, error)) emit localErrorChanged();
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
