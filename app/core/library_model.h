#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include <qcorotask.h>

#include "app/core/item_list_model.h"
#include "kit/upload/service_records.h"
#include "kit/vault/vault_item.h"

namespace tolvane {

class AppServices;
class Clipboard;
class DesktopOpener;
class ModelClock;
class Notifier;

// The recordings on this computer and the user's web library, with what follows from
// them: the newest share link, the link of the recording under review copied for the
// user once, the count of recordings still to upload, and the notice about recordings
// recovered at launch. Vault scans and service calls run off the GUI thread.
class LibraryModel final : public QObject {
  Q_OBJECT
  Q_PROPERTY(QVariantList localItems READ localItems NOTIFY localItemsChanged)
  Q_PROPERTY(int pendingUploadCount READ pendingUploadCount NOTIFY pendingUploadCountChanged)
  Q_PROPERTY(bool isUploadInFlight READ isUploadInFlight NOTIFY isUploadInFlightChanged)
  Q_PROPERTY(QVariantList libraryItems READ libraryItems NOTIFY libraryItemsChanged)
  Q_PROPERTY(QString libraryError READ libraryError NOTIFY libraryErrorChanged)
  Q_PROPERTY(bool isLoadingLibrary READ isLoadingLibrary NOTIFY isLoadingLibraryChanged)
  Q_PROPERTY(QString lastShareURL READ lastShareURL WRITE setLastShareURL NOTIFY lastShareURLChanged)
  Q_PROPERTY(QString recoveryNotice READ recoveryNotice WRITE setRecoveryNotice NOTIFY recoveryNoticeChanged)
  Q_PROPERTY(QString linkCopiedNotice READ linkCopiedNotice NOTIFY linkCopiedNoticeChanged)
  // The same rows as localItems and libraryItems, as list models that change row by
  // row, for the panes' long lists. Each row also has "thumbnailSource" (an image URL for
  // the "thumbnail" image provider, or "" when there is none); local rows also have
  // "isUploadPending" and "canDelete" (false while the recording's lock is held).
  Q_PROPERTY(QObject* localItemsModel READ localItemsModel CONSTANT)
  Q_PROPERTY(QObject* libraryItemsModel READ libraryItemsModel CONSTANT)
  // Why the last delete failed, as a sentence; "" when it did not.
  Q_PROPERTY(QString localError READ localError NOTIFY localErrorChanged)

 public:
  static constexpr double kLinkCopiedNoticeSec = 6.0;
  // The web library is asked for in pages of this many recordings, up to this many
  // pages (a bound against a service that never sends a short page).
  static constexpr qint64 kLibraryPageSize = 100;
  static constexpr qint64 kMaxLibraryPages = 500;

  // The library's pages after the first, as far as they came.
  struct LibraryPages {
    std::vector<RecordingSummary> recordings;
    std::string error;  // why a page failed; "" when the last page was short
  };

  // `reviewItemID` names the recording under review, whose link is copied.
  LibraryModel(AppServices& services, std::shared_ptr<ModelClock> clock, Clipboard& clipboard,
               DesktopOpener& opener, Notifier& notifier, std::function<QString()> reviewItemID,
               QObject* parent = nullptr);

  const std::vector<VaultItem>& items() const { return items_; }
  // The recording with this id among the local items, or null.
  const VaultItem* item(const QString& id) const;

  QVariantList localItems() const { return localItems_; }
  int pendingUploadCount() const { return pendingUploadCount_; }
  bool isUploadInFlight() const { return isUploadInFlight_; }
  QVariantList libraryItems() const { return libraryItems_; }
  QString libraryError() const { return libraryError_; }
  bool isLoadingLibrary() const { return isLoadingLibrary_; }
  QString lastShareURL() const { return lastShareURL_; }
  QString recoveryNotice() const { return recoveryNotice_; }
  QString linkCopiedNotice() const { return linkCopiedNotice_; }
  ItemListModel* localItemsModel() const { return localItemsModel_; }
  ItemListModel* libraryItemsModel() const { return libraryItemsModel_; }
  QString localError() const { return localError_; }

  // A new recording clears the link of the previous one.
  void setLastShareURL(const QString& url);
  // The views dismiss the notice; the model never clears it.
  void setRecoveryNotice(const QString& notice);
  void setUploadInFlight(bool inFlight);

  // Rescans the vault; the lists change when the scan is back.
  Q_INVOKABLE void refreshLocalItems();
  QCoro::Task<> refresh();
  // The whole web library, when signed in, page by page off the GUI thread; the first
  // page's failure keeps the previous list and says why in libraryError.
  Q_INVOKABLE void loadLibrary();
  QCoro::Task<> reloadLibrary();
  void clearLibrary();

  Q_INVOKABLE void retryUpload(const QString& id);
  Q_INVOKABLE void showInFolder(const QString& id);
  Q_INVOKABLE void openLocalFile(const QString& id);
  // Moves the recording's folder to the Trash, then rescans. A recording being written
  // (its lock held) is refused; either failure lands in localError.
  Q_INVOKABLE void deleteLocal(const QString& id);
  QCoro::Task<> deleteLocalItem(QString id);

 signals:
  void localItemsChanged();
  void pendingUploadCountChanged();
  void isUploadInFlightChanged();
  void libraryItemsChanged();
  void libraryErrorChanged();
  void isLoadingLibraryChanged();
  void lastShareURLChanged();
  void recoveryNoticeChanged();
  void linkCopiedNoticeChanged();
  void localErrorChanged();

 private:
  // What a vault scan found: the recordings, the ids whose lock is held and each
  // recording's movie version.
  struct Scan {
    std::vector<VaultItem> items;
    std::set<std::string> locked;
    std::map<std::string, std::string> versions;
  };
  void apply(Scan scan);
  void setLocalError(const QString& error);
  void copyReviewLink();
  QCoro::Task<> expireLinkCopiedNotice(quint64 notice);
  void setLinkCopiedNotice(const QString& notice);
  void setLibraryError(const QString& error);
  void setLoadingLibrary(bool loading);
  void showLibraryItems(const std::vector<RecordingSummary>& recordings);

  AppServices& services_;
  std::shared_ptr<ModelClock> clock_;
  Clipboard& clipboard_;
  DesktopOpener& opener_;
  Notifier& notifier_;
  std::function<QString()> reviewItemID_;

  std::vector<VaultItem> items_;
  QVariantList localItems_;
  int pendingUploadCount_ = 0;
  bool isUploadInFlight_ = false;
  QVariantList libraryItems_;
  QString libraryError_;
  bool isLoadingLibrary_ = false;
  QString lastShareURL_;
  QString recoveryNotice_;
  QString linkCopiedNotice_;
  QString localError_;
  ItemListModel* localItemsModel_;
  ItemListModel* libraryItemsModel_;
  // Ids of the local recordings whose lock was held at the last scan.
  std::set<std::string> lockedIDs_;
  std::map<std::string, std::string> movieVersions_;
  // Links already copied in this process: each is copied once, however often the
  // vault changes afterwards.
  std::set<std::string> copiedShareURLs_;
  // Scans may finish out of order; only a newer one than the list shown replaces it.
  quint64 scansStarted_ = 0;
  quint64 scanShown_ = 0;
  quint64 noticesShown_ = 0;
  // Each library load's number: one that is no longer the newest stops paging.
  quint64 librariesStarted_ = 0;
  std::stop_source libraryStop_;
};

}  // namespace tolvane
