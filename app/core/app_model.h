#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>

#include <qcorotask.h>

#include "app/core/account_model.h"
#include "app/core/annotation_model.h"
#include "app/core/library_model.h"
#include "app/core/recording_controller.h"
#include "app/core/review_model.h"
#include "app/services/app_services.h"

namespace tolvane {

class Clipboard;
class DesktopOpener;
class GuiThreadExecutor;
class ModelClock;
class Notifier;

// The application's one model, the root every view binds to. It owns the services (the
// vault, the session, the service API, the upload queue, sign-in, the release check)
// with their callbacks arriving on the GUI thread, and the parts the views read: the
// account, the recordings here and on the web, the review of the last recording and the
// drawing state. Nothing starts before bootstrap().
class AppModel final : public QObject {
  Q_OBJECT
  Q_PROPERTY(QObject* account READ accountObject CONSTANT)
  Q_PROPERTY(QObject* library READ libraryObject CONSTANT)
  Q_PROPERTY(QObject* review READ reviewObject CONSTANT)
  Q_PROPERTY(QObject* annotations READ annotationsObject CONSTANT)
  // The recording side (phases, sources, permissions, preflight); see recording_.
  Q_PROPERTY(QObject* recording READ recordingObject CONSTANT)
  // "record", "review", "library" or "local".
  Q_PROPERTY(QString mainPane READ mainPane NOTIFY mainPaneChanged)
  // {version, downloadUrl, pageUrl} of a newer release; empty when there is none.
  Q_PROPERTY(QVariantMap availableUpdate READ availableUpdate NOTIFY availableUpdateChanged)
  Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)
  // Set by the desktop shell when a global shortcut could not be had (another program
  // holds it): the record pane says which one and what to use instead. Empty otherwise.
  Q_PROPERTY(QString shortcutNotice READ shortcutNotice WRITE setShortcutNotice NOTIFY shortcutNoticeChanged)

 public:
  // What the desktop shell provides, and what tests replace. Empty fields take the
  // production choice; the shell must give the clipboard and the opener (they need Qt
  // Gui), without which copying and opening do nothing.
  struct Settings {
    AppServices::Settings services;
    std::shared_ptr<ModelClock> clock;          // makeSystemModelClock()
    std::shared_ptr<Clipboard> clipboard;       // nothing is copied
    std::shared_ptr<DesktopOpener> opener;      // nothing is opened
    std::shared_ptr<Notifier> notifier;         // DBusNotifier on the session bus
    std::function<QString()> deviceName;        // deviceName()
    RecordingController::Options recording;     // the machine's sources and settings file
    ReviewModel::Now now;                       // the system clock
  };

  // A recording this short or shorter is not worth a review (it is empty).
  static constexpr double kMinReviewedSec = 0.2;

  explicit AppModel(Settings settings = {}, QObject* parent = nullptr);
  ~AppModel() override;

  // At launch, in this order: the vault and queue callbacks, the permissions, the local
  // recordings, recovery of interrupted recordings (before any upload starts), the
  // stored session, the upload queue, the capture sources, the release check.
  QCoro::Task<> bootstrap();
  QCoro::Task<> checkForUpdate();

  Q_INVOKABLE void selectPane(const QString& pane);

  AppServices& services() { return *services_; }
  ModelClock& clock() { return *clock_; }
  Notifier& notifier() { return *notifier_; }
  DesktopOpener& opener() { return *opener_; }
  // Where the menus' "Copy link" puts the last share link.
  Clipboard& clipboard() { return *clipboard_; }
  AccountModel& account() { return *account_; }
  LibraryModel& library() { return *library_; }
  ReviewModel& review() { return *review_; }
  AnnotationModel& annotations() { return *annotations_; }

  QObject* accountObject() const { return account_; }
  QObject* libraryObject() const { return library_; }
  QObject* reviewObject() const { return review_; }
  QObject* annotationsObject() const { return annotations_; }
  QObject* recordingObject() const;
  RecordingController& recording() { return *recording_; }
  QString mainPane() const { return mainPane_; }
  QVariantMap availableUpdate() const { return availableUpdate_; }
  // The updater's own news of a newer release, for a copy of Tolvane that can't update itself.
  void setAvailableUpdate(const QVariantMap& update);
  QString shortcutNotice() const { return shortcutNotice_; }
  void setShortcutNotice(const QString& notice);
  static QString currentVersion();

 public slots:
  // From the recording side: a new recording clears the previous link.
  void recordingStarted();
  // From the recording side, once the manifest of the finished recording is written.
  void recordingFinished(const QString& itemID, double durationSec);

 signals:
  void mainPaneChanged();
  void availableUpdateChanged();
  void shortcutNoticeChanged();
  // The main window should come up on `pane`.
  void showMainWindow(const QString& pane);

 private:
  void setMainPane(const QString& pane);
  void wireServiceCallbacks();

  std::shared_ptr<ModelClock> clock_;
  std::shared_ptr<Clipboard> clipboard_;
  std::shared_ptr<DesktopOpener> opener_;
  std::shared_ptr<Notifier> notifier_;
  std::shared_ptr<GuiThreadExecutor> executor_;
  std::unique_ptr<AppServices> services_;
  AccountModel* account_ = nullptr;
  LibraryModel* library_ = nullptr;
  ReviewModel* review_ = nullptr;
  AnnotationModel* annotations_ = nullptr;
  RecordingController* recording_ = nullptr;
  QString mainPane_ = QStringLiteral("record");
  QVariantMap availableUpdate_;
  QString shortcutNotice_;
};

}  // namespace tolvane
