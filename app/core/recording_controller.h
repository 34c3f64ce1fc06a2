#pragma once

#include <qcorotask.h>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/capture/bubble_layout.h"
#include "app/capture/sources/capture_target.h"
#include "app/capture/sources/source_catalog.h"
#include "app/core/camera_preview.h"
#include "app/core/device_permissions.h"
#include "app/core/model_clock.h"
#include "app/core/privacy_settings.h"
#include "app/core/recording_phase.h"
#include "app/core/recording_settings_store.h"
#include "app/services/app_services.h"
#include "app/services/recording_session.h"
#include "kit/base/log.h"

namespace tolvane {

class GuiThreadExecutor;

// The recording side of the application model: which screen, window, microphone and
// camera to record, whether Tolvane may use them, the checks before a start, the
// three-second countdown, the recording itself (through RecordingSession, the flow the
// command line runs), pause and resume, the elapsed time, the disk watch, the stop, and
// the camera preview shown in the bubble while idle.
//
// Lives on the GUI thread and never blocks it: the engine, the sound server, the X
// server and the cameras are asked on worker threads, and the tasks waiting for them
// hold this object weakly and end when it is gone. What the rest of the model does with
// a recording (the review, the share link, the annotations) hangs on the signals below.
class RecordingController : public QObject {
  Q_OBJECT
  Q_PROPERTY(Phase phase READ phaseKind NOTIFY phaseChanged)
  Q_PROPERTY(int countdownSeconds READ countdownSeconds NOTIFY phaseChanged)
  Q_PROPERTY(QString phaseText READ phaseText NOTIFY phaseChanged)
  Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)
  Q_PROPERTY(QString recordingError READ recordingError NOTIFY recordingErrorChanged)
  Q_PROPERTY(QVariantList displays READ displayList NOTIFY displaysChanged)
  Q_PROPERTY(QVariantList windows READ windowList NOTIFY windowsChanged)
  Q_PROPERTY(QVariantList microphones READ microphoneList NOTIFY microphonesChanged)
  Q_PROPERTY(QVariantList cameras READ cameraList NOTIFY camerasChanged)
  Q_PROPERTY(QString selectedTargetID READ selectedTargetIDText WRITE setSelectedTargetIDText NOTIFY
                 selectedTargetIDChanged)
  // The selected display or window as the lists show it; empty when none is listed.
  Q_PROPERTY(QVariantMap selectedTarget READ selectedTargetMap NOTIFY selectedTargetIDChanged)
  Q_PROPERTY(QString selectedMicrophoneID READ selectedMicrophoneIDText WRITE setSelectedMicrophoneIDText NOTIFY
                 selectedMicrophoneIDChanged)
  Q_PROPERTY(QString selectedCameraID READ selectedCameraIDText WRITE setSelectedCameraIDText NOTIFY
                 selectedCameraIDChanged)
  Q_PROPERTY(bool includeSystemAudio READ includeSystemAudio WRITE setIncludeSystemAudio NOTIFY
                 includeSystemAudioChanged)
  Q_PROPERTY(QVariantMap bubble READ bubbleMap WRITE setBubbleMap NOTIFY bubbleChanged)
  Q_PROPERTY(QString diskWarning READ diskWarning NOTIFY diskWarningChanged)
  Q_PROPERTY(bool screenRecordingGranted READ screenRecordingGranted NOTIFY screenRecordingGrantedChanged)
  Q_PROPERTY(int microphoneStatus READ microphoneStatusValue NOTIFY microphoneStatusChanged)
  Q_PROPERTY(int cameraStatus READ cameraStatusValue NOTIFY cameraStatusChanged)

 public:
  enum class Phase { idle, countdown, recording, paused, finishing };
  Q_ENUM(Phase)

  // How the controller reaches the desktop. Production fills the first four (or leaves
  // them empty where it has nothing); tests replace the rest.
  struct Options {
    QString settingsPath;                         // empty: ~/.config/com.tolvanelabs.Tolvane/Tolvane.conf
    std::function<void(const QUrl&)> openURL;     // the default browser, for help pages
    std::function<void(const QString&)> notify;  // a desktop notification's text
    std::shared_ptr<CameraPreviewSink> previewSink;  // the bubble; none: no preview
    std::shared_ptr<SourceCatalog> catalog;          // the machine's own
    std::shared_ptr<DevicePermissions> permissions;  // read from the machine through `catalog`
    std::function<std::optional<std::string>()> defaultMicrophoneID;  // the sound server's default input
    std::function<std::int64_t()> freeBytes;                          // the vault's volume
    PrivacySettings::Launcher launchSettings;                         // starts a settings panel
  };

  RecordingController(AppServices& services, std::shared_ptr<ModelClock> clock, Options options,
                      QObject* parent = nullptr);
  ~RecordingController() override;

  Q_INVOKABLE void startCountdown();
  Q_INVOKABLE void pauseRecording();
  Q_INVOKABLE void resumeRecording();
  Q_INVOKABLE void stopRecording();
  // For quitting and termination signals: closes the file at once and leaves the item
  // for recovery at the next launch. Changes no state: the process is about to end.
  Q_INVOKABLE void emergencyStop();
  Q_INVOKABLE void refreshPermissions();
  Q_INVOKABLE void requestMicrophone();
  Q_INVOKABLE void requestCamera();
  Q_INVOKABLE void requestScreenRecording();
  Q_INVOKABLE void refreshSources();
  // Runs the camera for the bubble while idle, and stops it otherwise. Called on every
  // change of phase, camera or permission; calling it again changes nothing.
  Q_INVOKABLE void updateCameraPreview();

  // The awaitable forms, for the rest of the model and for tests.
  QCoro::Task<> refreshPermissionsAsync();
  QCoro::Task<> refreshSourcesAsync();
  QCoro::Task<> requestPendingPermissions();

  void setCameraPreviewSink(std::shared_ptr<CameraPreviewSink> sink);

  // The running recording's video size, which the drawing is rendered at; none while
  // nothing records.
  std::optional<Size> recordingOutputSize() const;
  // Hands the rendered drawing (none: cleared) and the blur regions to the running
  // recording; ignored while nothing records.
  void updateAnnotations(std::optional<VideoFrame> image, std::vector<Rect> blurRects);

  const RecordingPhase& phase() const { return phase_; }
  Phase phaseKind() const { return static_cast<Phase>(phase_.kind); }
  int countdownSeconds() const { return phase_.secondsLeft; }
  QString phaseText() const { return QString::fromStdString(phase_.text()); }
  double elapsed() const { return elapsed_; }
  QString recordingError() const { return recordingError_; }
  const std::vector<CaptureTarget>& displays() const { return displays_; }
  const std::vector<CaptureTarget>& windows() const { return windows_; }
  const std::vector<AudioDeviceOption>& microphones() const { return microphones_; }
  const std::vector<CameraOption>& cameras() const { return cameras_; }
  const std::optional<std::string>& selectedTargetID() const { return selectedTargetID_; }
  const std::optional<std::string>& selectedMicrophoneID() const { return selectedMicrophoneID_; }
  const std::optional<std::string>& selectedCameraID() const { return selectedCameraID_; }
  // The first display, then window, whose id is the selected one.
  std::optional<CaptureTarget> selectedTarget() const;
  bool includeSystemAudio() const { return includeSystemAudio_; }
  const BubbleLayout& bubble() const { return bubble_; }
  QString diskWarning() const { return diskWarning_; }
  bool screenRecordingGranted() const { return screenRecordingGranted_; }
  PermissionStatus microphoneStatus() const { return microphoneStatus_; }
  PermissionStatus cameraStatus() const { return cameraStatus_; }
  // The vault item being recorded; none when idle.
  const std::optional<std::string>& currentItemID() const { return currentItemID_; }
  // The camera the idle preview runs; none when it is off.
  std::optional<std::string> previewCameraID() const;

  void setSelectedTargetID(const std::optional<std::string>& id);
  void setSelectedMicrophoneID(const std::optional<std::string>& id);
  void setSelectedCameraID(const std::optional<std::string>& id);
  void setIncludeSystemAudio(bool include);
  void setBubble(const BubbleLayout& bubble);

 signals:
  void phaseChanged();
  void elapsedChanged();
  void recordingErrorChanged();
  void displaysChanged();
  void windowsChanged();
  void microphonesChanged();
  void camerasChanged();
  void selectedTargetIDChanged();
  void selectedMicrophoneIDChanged();
  void selectedCameraIDChanged();
  void includeSystemAudioChanged();
  void bubbleChanged();
  void diskWarningChanged();
  void screenRecordingGrantedChanged();
  void microphoneStatusChanged();
  void cameraStatusChanged();

  // A start was asked for while idle: the last share link no longer applies.
  void recordingRequested();
  // The vault gained an item (a recording started) or one changed state.
  void localItemsChanged();
  // The recording's file is finished, whatever its length: drawing ends and the strokes
  // go.
  void recordingEnded(const QString& itemID, double durationSec);
  // A recording long enough to keep: its review begins (the upload is held back).
  void recordingFinished(const QString& itemID, double durationSec);
  // Every refresh of the sources ends with this, listed or not.
  void sourcesRefreshed();

 private:
  QString selectedTargetIDText() const { return QString::fromStdString(selectedTargetID_.value_or("")); }
  QString selectedMicrophoneIDText() const { return QString::fromStdString(selectedMicrophoneID_.value_or("")); }
  QString selectedCameraIDText() const { return QString::fromStdString(selectedCameraID_.value_or("")); }
  void setSelectedTargetIDText(const QString& id);
  void setSelectedMicrophoneIDText(const QString& id);
  void setSelectedCameraIDText(const QString& id);
  QVariantList displayList() const;
  QVariantMap selectedTargetMap() const;
  QVariantList windowList() const;
  QVariantList microphoneList() const;
  QVariantList cameraList() const;
  QVariantMap bubbleMap() const;
  void setBubbleMap(const QVariantMap& map);
  int microphoneStatusValue() const { return static_cast<int>(microphoneStatus_); }
  int cameraStatusValue() const { return static_cast<int>(cameraStatus_); }

  void setPhase(RecordingPhase phase);
  void setElapsed(double seconds);
  void setRecordingError(const QString& message);
  void setDiskWarning(const QString& warning);
  void setPermissions(bool screenGranted, PermissionStatus microphone, PermissionStatus camera);

  QCoro::Task<> runCountdown();
  QCoro::Task<> beginRecording();
  QCoro::Task<> finishRecording(std::shared_ptr<RecordingSession> session, std::string itemID);
  QCoro::Task<> askForDevice(PrivacySettings::Device device);
  QCoro::Task<> askForScreen();
  void startTimers();
  void stopTimers();
  void scheduleTick(int generation);
  void scheduleDiskCheck(int generation);
  void checkDiskSpace();
  void engineFailed(const QString& sentence);
  void applyStoredChoices();

  AppServices& services_;
  std::shared_ptr<ModelClock> clock_;
  Options options_;
  std::shared_ptr<GuiThreadExecutor> executor_;
  RecordingSettingsStore store_;
  PrivacySettings privacySettings_;
  Logger log_{"app"};

  RecordingPhase phase_;
  double elapsed_ = 0;
  QString recordingError_;
  std::vector<CaptureTarget> displays_;
  std::vector<CaptureTarget> windows_;
  std::vector<AudioDeviceOption> microphones_;
  std::vector<CameraOption> cameras_;
  std::optional<std::string> selectedTargetID_;
  std::optional<std::string> selectedMicrophoneID_;
  std::optional<std::string> selectedCameraID_;
  bool includeSystemAudio_ = true;
  BubbleLayout bubble_;
  QString diskWarning_;
  bool screenRecordingGranted_ = false;
  PermissionStatus microphoneStatus_ = PermissionStatus::notDetermined;
  PermissionStatus cameraStatus_ = PermissionStatus::notDetermined;

  // The stored device choices wait for the first listing that can confirm them.
  std::optional<RecordingSettingsStore::Choices> pendingChoices_;
  bool countdownPending_ = false;  // a start is reading the devices before its countdown
  std::shared_ptr<RecordingSession> session_;  // from a successful start until the finish
  std::optional<std::string> currentItemID_;
  // Raising a generation retires the timers of the previous one.
  int tickGeneration_ = 0;
  int diskGeneration_ = 0;
  std::unique_ptr<CameraPreview> preview_;
};

}  // namespace tolvane
