#include "app/core/review_model.h"

#include <QPointer>
#include <chrono>

#include <qcorofuture.h>

#include "app/core/change.h"
#include "app/core/library_model.h"
#include "app/core/off_thread.h"
#include "app/services/app_services.h"

namespace tolvane {
namespace {

const QString kFullUploadInstead = QStringLiteral(" The full recording will upload instead.");

}  // namespace

ReviewModel::ReviewModel(AppServices& services, LibraryModel& library, Now now, QObject* parent)
    : QObject(parent), services_(services), library_(library), now_(std::move(now)) {
  connect(&library_, &LibraryModel::localItemsChanged, this, &ReviewModel::localItemsChanged);
}

const VaultItem* ReviewModel::current() const {
  return reviewItemID_.isEmpty() ? nullptr : library_.item(reviewItemID_);
}

void ReviewModel::localItemsChanged() {
  QVariantMap shown;
  bool trimmable = false;
  if (const VaultItem* item = current()) {
    const auto& items = library_.items();
    shown = library_.localItems().at(static_cast<qsizetype>(item - items.data())).toMap();
    // Once bytes reached the service or it gave a link, the recording it knows must
    // stay the one on disk.
    const RecordingManifest& m = item->manifest;
    trimmable = m.uploadedBytes == 0 && !m.shareURL && m.durationSec > kMinTrimmableSec;
  }
  if (assignChanged(reviewItem_, shown)) emit reviewItemChanged();
  if (assignChanged(canTrim_, trimmable)) emit canTrimChanged();
}

void ReviewModel::beginReview(const QString& id, double durationSec) {
  if (assignChanged(reviewItemID_, id)) emit reviewItemIDChanged();
  const VaultItem* known = current();
  setReviewTitle(known ? QString::fromStdString(known->manifest.title) : QString());
  setTrimStart(0);
  setTrimEnd(durationSec);
  setTrimError({});
  localItemsChanged();
  emit reviewBegan();
  holdForReview(id);
}

QCoro::Task<> ReviewModel::holdForReview(QString id) {
  QPointer<ReviewModel> self(this);
  const auto vault = services_.vault();
  const Date until = now_() + std::chrono::seconds(static_cast<int>(kUploadHoldSec));
  auto holding = offThread([vault, id = id.toStdString(), until] {
    return vault->update(id, [&](RecordingManifest& m) { m.holdUploadUntil = until; });
  });
  const auto held = co_await holding;
  if (!self) co_return;
  // The list may not have had the recording yet; its manifest has the title.
  if (reviewItemID_ == id && reviewTitle_.isEmpty() && held.ok() && *held.value) {
    setReviewTitle(QString::fromStdString((*held.value)->manifest.title));
  }
  co_await library_.refresh();
}

void ReviewModel::commitReviewTitle() { commitTitle(); }

QCoro::Task<> ReviewModel::commitTitle() {
  if (reviewItemID_.isEmpty()) co_return;
  QPointer<ReviewModel> self(this);
  const QString title = reviewTitle_.trimmed();
  if (!title.isEmpty()) {
    const auto vault = services_.vault();
    auto saving = offThread([vault, id = reviewItemID_.toStdString(), title = title.toStdString()] {
      return vault->update(id, [&](RecordingManifest& m) { m.title = title; });
    });
    const auto saved = co_await saving;
    if (!self) co_return;
    // Only a recording the web library has is renamed there; a failure there changes
    // nothing here, the title is saved on this computer either way.
    if (saved.ok() && *saved.value && (*saved.value)->manifest.uploadUID && (*saved.value)->manifest.shareURL) {
      (void)offThread([api = services_.api(), uid = *(*saved.value)->manifest.uploadUID, title = title.toStdString()] {
        api->rename(uid, title);
      });
    }
  }
  co_await library_.refresh();
}

void ReviewModel::applyTrimAndUpload() { trimAndUpload(); }

QCoro::Task<> ReviewModel::trimAndUpload() {
  const VaultItem* item = current();
  if (item == nullptr || isTrimming_) co_return;
  if (trimStart_ <= kUncutMarginSec && trimEnd_ >= item->manifest.durationSec - kUncutMarginSec) {
    co_await releaseForUpload();
    co_return;
  }
  QPointer<ReviewModel> self(this);
  setTrimming(true);
  setTrimError({});
  // The trim ends the hold and asks the queue for a pass, whether it cut or not.
  auto trimming = offThread([vault = services_.vault(), queue = services_.uploadQueue(),
                                           id = item->id(), start = trimStart_, end = trimEnd_] {
    return Library(vault, queue).trim(id, start, end);
  });
  const auto trimmed = co_await trimming;
  if (!self) co_return;
  if (trimmed.ok()) {
    setTrimEnd(trimmed.value->duration);
    setTrimStart(0);
    co_await commitTitle();
    if (!self) co_return;
  } else {
    setTrimError(QString::fromStdString(trimmed.error) + kFullUploadInstead);
    co_await library_.refresh();
    if (!self) co_return;
  }
  setTrimming(false);
}

void ReviewModel::uploadNow() { releaseForUpload(); }

QCoro::Task<> ReviewModel::releaseForUpload() {
  if (reviewItemID_.isEmpty()) co_return;
  QPointer<ReviewModel> self(this);
  const std::string id = reviewItemID_.toStdString();
  co_await commitTitle();
  if (!self) co_return;
  const auto vault = services_.vault();
  const auto queue = services_.uploadQueue();
  auto releasing = offThread([vault, queue, id] {
    vault->update(id, [](RecordingManifest& m) { m.holdUploadUntil = std::nullopt; });
    queue->kick(UploadQueue::Trigger::manual);
  });
  co_await releasing;
  if (!self) co_return;
  co_await library_.refresh();
}

void ReviewModel::setReviewTitle(const QString& title) {
  if (assignChanged(reviewTitle_, title)) emit reviewTitleChanged();
}

void ReviewModel::setTrimStart(double seconds) {
  if (assignChanged(trimStart_, seconds)) emit trimStartChanged();
}

void ReviewModel::setTrimEnd(double seconds) {
  if (assignChanged(trimEnd_, seconds)) emit trimEndChanged();
}

void ReviewModel::setTrimming(bool trimming) {
  if (assignChanged(isTrimming_, trimming)) emit isTrimmingChanged();
}

void ReviewModel::setTrimError(const QString& error) {
  if (assignChanged(trimError_, error)) emit trimErrorChanged();
}

}  // namespace tolvane
