#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

#include <qcorotask.h>

#include "kit/base/iso8601.h"

namespace tolvane {

class AppServices;
class LibraryModel;
struct VaultItem;

// The review of the recording just finished: its title, the range to keep, and the
// choice to upload it now. A finished recording waits 90 s before it uploads (the hold
// is in its manifest, so the upload queue honours it) to leave time for a trim or a new
// title; trimming or uploading now ends the hold at once.
class ReviewModel final : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString reviewItemID READ reviewItemID NOTIFY reviewItemIDChanged)
  Q_PROPERTY(QVariantMap reviewItem READ reviewItem NOTIFY reviewItemChanged)
  Q_PROPERTY(QString reviewTitle READ reviewTitle WRITE setReviewTitle NOTIFY reviewTitleChanged)
  Q_PROPERTY(double trimStart READ trimStart WRITE setTrimStart NOTIFY trimStartChanged)
  Q_PROPERTY(double trimEnd READ trimEnd WRITE setTrimEnd NOTIFY trimEndChanged)
  Q_PROPERTY(bool isTrimming READ isTrimming NOTIFY isTrimmingChanged)
  Q_PROPERTY(QString trimError READ trimError NOTIFY trimErrorChanged)
  Q_PROPERTY(bool canTrim READ canTrim NOTIFY canTrimChanged)

 public:
  static constexpr double kUploadHoldSec = 90;
  // Cuts this close to either end are not worth a new file: the whole recording uploads.
  static constexpr double kUncutMarginSec = 0.05;
  // Shorter recordings cannot be trimmed (the trimmer keeps at least half a second).
  static constexpr double kMinTrimmableSec = 1.5;

  using Now = std::function<Date()>;

  // `now` is the wall clock of the hold, which the upload queue compares with its own.
  ReviewModel(AppServices& services, LibraryModel& library, Now now, QObject* parent = nullptr);

  QString reviewItemID() const { return reviewItemID_; }
  // The reviewed recording as the local items show it; empty when it is not among them.
  QVariantMap reviewItem() const { return reviewItem_; }
  QString reviewTitle() const { return reviewTitle_; }
  double trimStart() const { return trimStart_; }
  double trimEnd() const { return trimEnd_; }
  bool isTrimming() const { return isTrimming_; }
  QString trimError() const { return trimError_; }
  bool canTrim() const { return canTrim_; }

  void setReviewTitle(const QString& title);
  void setTrimStart(double seconds);
  void setTrimEnd(double seconds);

  // A recording of `durationSec` just finished: it becomes the one under review, held
  // from upload for 90 s.
  void beginReview(const QString& id, double durationSec);
  // Saves the edited title (a blank one is not saved), on the service too once the
  // recording is in the web library.
  Q_INVOKABLE void commitReviewTitle();
  QCoro::Task<> commitTitle();
  // Keeps only [trimStart, trimEnd) and uploads the result; the whole recording when the
  // range is (almost) all of it, or when the cut fails.
  Q_INVOKABLE void applyTrimAndUpload();
  QCoro::Task<> trimAndUpload();
  // Ends the hold: the recording uploads as it is.
  Q_INVOKABLE void uploadNow();
  QCoro::Task<> releaseForUpload();

 signals:
  void reviewItemIDChanged();
  void reviewItemChanged();
  void reviewTitleChanged();
  void trimStartChanged();
  void trimEndChanged();
  void isTrimmingChanged();
  void trimErrorChanged();
  void canTrimChanged();
  // The review pane should show this recording.
  void reviewBegan();

 private:
  QCoro::Task<> holdForReview(QString id);
  const VaultItem* current() const;
  void localItemsChanged();
  void setTrimming(bool trimming);
  void setTrimError(const QString& error);

  AppServices& services_;
  LibraryModel& library_;
  Now now_;
  QString reviewItemID_;
  QVariantMap reviewItem_;
  QString reviewTitle_;
  double trimStart_ = 0;
  double trimEnd_ = 0;
  bool isTrimming_ = false;
  QString trimError_;
  bool canTrim_ = false;
};

}  // namespace tolvane
