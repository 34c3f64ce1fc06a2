#include "app/core/recording_controller.h"

#include <qcorofuture.h>

#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "app/capture/recording_session_rules.h"
#include "app/capture/sources/capture_sources.h"
#include "app/capture/sources/pulse_audio_devices.h"
#include "app/capture/sources/system_source_catalog.h"
#include "app/core/disk_space_check.h"
#include "app/core/gui_thread_executor.h"
#include "app/core/recording_preflight.h"
#include "app/core/review_model.h"

namespace tolvane {

namespace {

constexpr double tickIntervalSeconds = 0.25;
// The screen grant takes a moment to be visible to a fresh connection.
constexpr double screenRequestSettleSeconds = 0.5;
// The camera copies the bubble gets while recording: twice its diameter on the shorter
// side, enough for a sharp circle on a high-density screen.
constexpr int cameraPreviewSidePixels = 320;

std::optional<std::string> fromText(const QString& text) {
  if (text.isEmpty()) return std::nullopt;
  return text.toStdString();
}

template <typename Option>
bool listed(const std::vector<Option>& options, const std::string& id) {
  return std::any_of(options.begin(), options.end(), [&](const Option& option) { return option.id == id; });
}

QVariantMap targetMap(const CaptureTarget& target) {
  return {{"id", QString::fromStdString(target.id())},
          {"label", QString::fromStdString(target.label())},
          {"isDisplay", target.isDisplay()},
          {"width", target.width()},
          {"height", target.height()}};
}

QVariantList targetList(const std::vector<CaptureTarget>& targets) {
  QVariantList list;
  for (const CaptureTarget& target : targets) list.append(targetMap(target));
  return list;
}

template <typename Option>
QVariantList optionList(const std::vector<Option>& options) {
  QVariantList list;
  for (const Option& option : options) {
    list.append(QVariantMap{{"id", QString::fromStdString(option.id)}, {"name", QString::fromStdString(option.name)}});
  }
  return list;
}

struct PermissionReading {
  bool screenGranted = false;
  PermissionStatus microphone = PermissionStatus::notDetermined;
  PermissionStatus camera = PermissionStatus::notDetermined;
};

struct DeviceListing {
  std::vector<AudioDeviceOption> microphones;
  std::vector<CameraOption> cameras;
  std::optional<std::string> defaultMicrophoneID;
};

struct ContentListing {
  std::optional<CaptureSources::Content> content;
  std::string error;
};

// What a blocking call on a worker thread gave: nothing, or the user's sentence.
using Failure = std::optional<std::string>;

}  // namespace

RecordingController::RecordingController(AppServices& services, std::shared_ptr<ModelClock> clock, Options options,
                                         QObject* parent)
    : QObject(parent),
      services_(services),
      clock_(std::move(clock)),
      options_(std::move(options)),
      executor_(std::make_shared<GuiThreadExecutor>(this)),
      store_(options_.settingsPath),
      privacySettings_(QUrl(QString::fromStdString(services.siteURL().text())), options_.openURL,
                       options_.launchSettings) {
  if (!options_.catalog) options_.catalog = std::make_shared<SystemSourceCatalog>();
  if (!options_.permissions) options_.permissions = std::make_shared<SystemDevicePermissions>(options_.catalog);
  if (!options_.defaultMicrophoneID) {
    options_.defaultMicrophoneID = [] { return PulseAudioDevices::query().defaultInput(); };
  }
  if (!options_.freeBytes) options_.freeBytes = [vault = services.vault()] { return vault->availableCapacityBytes(); };

  const RecordingSettingsStore::Choices stored = store_.load();
  includeSystemAudio_ = stored.includeSystemAudio.value_or(includeSystemAudio_);
  bubble_ = stored.bubble.value_or(bubble_);
  pendingChoices_ = stored;
}

RecordingController::~RecordingController() = default;

// MARK: Properties

std::optional<CaptureTarget> RecordingController::selectedTarget() const {
  if (!selectedTargetID_) return std::nullopt;
  for (const auto* list : {&displays_, &windows_}) {
    for (const CaptureTarget& target : *list) {
      if (target.id() == *selectedTargetID_) return target;
    }
  }
  return std::nullopt;
}

std::optional<std::string> RecordingController::previewCameraID() const {
  return preview_ ? preview_->cameraID() : std::nullopt;
}

void RecordingController::setPhase(RecordingPhase phase) {
  if (phase_ == phase) return;
  phase_ = phase;
  emit phaseChanged();
  updateCameraPreview();
}

void RecordingController::setElapsed(double seconds) {
  if (elapsed_ == seconds) return;
  elapsed_ = seconds;
  emit elapsedChanged();
}

void RecordingController::setRecordingError(const QString& message) {
  if (recordingError_ == message) return;
  recordingError_ = message;
  emit recordingErrorChanged();
}

void RecordingController::setDiskWarning(const QString& warning) {
  if (diskWarning_ == warning) return;
  diskWarning_ = warning;
  emit diskWarningChanged();
}

void RecordingController::setPermissions(bool screenGranted, PermissionStatus microphone, PermissionStatus camera) {
  if (screenGranted != screenRecordingGranted_) {
    screenRecordingGranted_ = screenGranted;
    emit screenRecordingGrantedChanged();
  }
  if (microphone != microphoneStatus_) {
    microphoneStatus_ = microphone;
    emit microphoneStatusChanged();
  }
  if (camera != cameraStatus_) {
    cameraStatus_ = camera;
    emit cameraStatusChanged();
  }
  updateCameraPreview();
}

void RecordingController::setSelectedTargetID(const std::optional<std::string>& id) {
  if (selectedTargetID_ == id) return;
  selectedTargetID_ = id;
  store_.saveTarget(id);
  emit selectedTargetIDChanged();
}

void RecordingController::setSelectedMicrophoneID(const std::optional<std::string>& id) {
  if (selectedMicrophoneID_ == id) return;
  selectedMicrophoneID_ = id;
  store_.saveMicrophone(id);
  emit selectedMicrophoneIDChanged();
  refreshPermissions();  // the status is the chosen device's
}

void RecordingController::setSelectedCameraID(const std::optional<std::string>& id) {
  if (selectedCameraID_ == id) return;
  selectedCameraID_ = id;
  store_.saveCamera(id);
  emit selectedCameraIDChanged();
  // The status read for the previous camera says nothing about this one: the preview
  // waits for the fresh reading.
  if (preview_) preview_->stop();
  refreshPermissions();
}

void RecordingController::setIncludeSystemAudio(bool include) {
  if (includeSystemAudio_ == include) return;
  includeSystemAudio_ = include;
  store_.saveIncludeSystemAudio(include);
  emit includeSystemAudioChanged();
}

void RecordingController::setBubble(const BubbleLayout& bubble) {
  if (bubble_ == bubble) return;
  bubble_ = bubble;
  store_.saveBubble(bubble);
  emit bubbleChanged();
}

void RecordingController::setSelectedTargetIDText(const QString& id) { setSelectedTargetID(fromText(id)); }
void RecordingController::setSelectedMicrophoneIDText(const QString& id) { setSelectedMicrophoneID(fromText(id)); }
void RecordingController::setSelectedCameraIDText(const QString& id) { setSelectedCameraID(fromText(id)); }

QVariantList RecordingController::displayList() const { return targetList(displays_); }
QVariantMap RecordingController::selectedTargetMap() const {
  const auto target = selectedTarget();
  return target ? targetMap(*target) : QVariantMap();
}
QVariantList RecordingController::windowList() const { return targetList(windows_); }
QVariantList RecordingController::microphoneList() const { return optionList(microphones_); }
QVariantList RecordingController::cameraList() const { return optionList(cameras_); }

QVariantMap RecordingController::bubbleMap() const {
  return {{"x", bubble_.centre.x}, {"y", bubble_.centre.y}, {"diameterFraction", bubble_.diameterFraction}};
}

void RecordingController::setBubbleMap(const QVariantMap& map) {
  BubbleLayout layout = bubble_;
  layout.centre.x = map.value("x", layout.centre.x).toDouble();
  layout.centre.y = map.value("y", layout.centre.y).toDouble();
  layout.diameterFraction = map.value("diameterFraction", layout.diameterFraction).toDouble();
  setBubble(layout);
}

// MARK: Permissions and sources

void RecordingController::refreshPermissions() { refreshPermissionsAsync(); }

QCoro::Task<> RecordingController::refreshPermissionsAsync() {
  QPointer self(this);
  const auto permissions = options_.permissions;
  const auto microphone = selectedMicrophoneID_;
  const auto camera = selectedCameraID_;
  // Each future is made in a statement of its own: GCC 12 destroys a lambda's captures
  // twice when the lambda is a temporary inside a co_await expression.
  auto readingFuture = QtConcurrent::run([permissions, microphone, camera] {
    return PermissionReading{permissions->screenRecordingGranted(), permissions->microphoneStatus(microphone),
                             permissions->cameraStatus(camera)};
  });
  const PermissionReading reading = co_await readingFuture;
  if (!self) co_return;
  setPermissions(reading.screenGranted, reading.microphone, reading.camera);
}

void RecordingController::requestMicrophone() { askForDevice(PrivacySettings::Device::microphone); }

void RecordingController::requestCamera() { askForDevice(PrivacySettings::Device::camera); }

QCoro::Task<> RecordingController::askForDevice(PrivacySettings::Device device) {
  QPointer self(this);
  // Linux never asks the user: reading the state is the whole request.
  co_await refreshPermissionsAsync();
  if (!self) co_return;
  const PermissionStatus status =
      device == PrivacySettings::Device::microphone ? microphoneStatus_ : cameraStatus_;
  if (status != PermissionStatus::authorised && status != PermissionStatus::notDetermined) {
    privacySettings_.open(device);
  }
}

void RecordingController::requestScreenRecording() { askForScreen(); }

QCoro::Task<> RecordingController::askForScreen() {
  QPointer self(this);
  co_await refreshPermissionsAsync();
  if (!self) co_return;
  if (!screenRecordingGranted_) privacySettings_.open(PrivacySettings::Device::screen);
  co_await clock_->sleep(screenRequestSettleSeconds);
  if (!self) co_return;
  co_await refreshSourcesAsync();
}

void RecordingController::refreshSources() { refreshSourcesAsync(); }

QCoro::Task<> RecordingController::refreshSourcesAsync() {
  QPointer self(this);
  co_await refreshPermissionsAsync();
  if (!self) co_return;

  const auto catalog = options_.catalog;
  const auto defaultMicrophone = options_.defaultMicrophoneID;
  auto devicesFuture = QtConcurrent::run([catalog, defaultMicrophone] {
    return DeviceListing{CaptureSources::microphones(*catalog), CaptureSources::cameras(*catalog),
                         defaultMicrophone()};
  });
  DeviceListing devices = co_await devicesFuture;
  if (!self) co_return;
  if (microphones_ != devices.microphones) {
    microphones_ = std::move(devices.microphones);
    emit microphonesChanged();
  }
  if (cameras_ != devices.cameras) {
    cameras_ = std::move(devices.cameras);
    emit camerasChanged();
  }
  applyStoredChoices();
  // A microphone is on by default; a camera never is.
  if (!selectedMicrophoneID_) {
    if (devices.defaultMicrophoneID && listed(microphones_, *devices.defaultMicrophoneID)) {
      setSelectedMicrophoneID(devices.defaultMicrophoneID);
    } else if (!microphones_.empty()) {
      setSelectedMicrophoneID(microphones_.front().id);
    }
  }

  if (screenRecordingGranted_) {
    auto contentFuture = QtConcurrent::run([catalog] {
      try {
        return ContentListing{CaptureSources::shareableContent(*catalog), {}};
      } catch (const std::exception& error) {
        return ContentListing{std::nullopt, error.what()};
      }
    });
    ContentListing listing = co_await contentFuture;
    if (!self) co_return;
    if (listing.content) {
      if (displays_ != listing.content->displays) {
        displays_ = std::move(listing.content->displays);
        emit displaysChanged();
      }
      if (windows_ != listing.content->windows) {
        windows_ = std::move(listing.content->windows);
        emit windowsChanged();
      }
      if (pendingChoices_ && pendingChoices_->targetID && selectedTarget() == std::nullopt) {
        const std::string& stored = *pendingChoices_->targetID;
        const auto matches = [&](const CaptureTarget& t) { return t.id() == stored; };
        if (std::any_of(displays_.begin(), displays_.end(), matches) ||
            std::any_of(windows_.begin(), windows_.end(), matches)) {
          setSelectedTargetID(stored);
        }
      }
      pendingChoices_.reset();
      if (!selectedTargetID_ && !displays_.empty()) setSelectedTargetID(displays_.front().id());
    } else {
      log_.error("couldn't list capture sources: {}", listing.error);
    }
  }
  emit sourcesRefreshed();
}

// The stored microphone and camera come back only when they are still attached.
void RecordingController::applyStoredChoices() {
  if (!pendingChoices_) return;
  if (auto& microphone = pendingChoices_->microphoneID) {
    if (listed(microphones_, *microphone)) setSelectedMicrophoneID(*microphone);
    microphone.reset();
  }
  if (auto& camera = pendingChoices_->cameraID) {
    if (listed(cameras_, *camera)) setSelectedCameraID(*camera);
    camera.reset();
  }
}

// MARK: Starting

void RecordingController::startCountdown() {
  log_.info("start recording requested (phase: {})", phase_.text());
  // The phase stays idle while the devices are read; a second press meanwhile must not
  // start a second countdown.
  if (!phase_.is(RecordingPhase::Kind::idle) || countdownPending_) return;
  countdownPending_ = true;
  setRecordingError({});
  emit recordingRequested();
  runCountdown();
}

// Linux never prompts for a device, so nothing is pending but a fresh reading.
QCoro::Task<> RecordingController::requestPendingPermissions() { return refreshPermissionsAsync(); }

QCoro::Task<> RecordingController::runCountdown() {
  QPointer self(this);
  co_await requestPendingPermissions();
  if (!self) co_return;
  countdownPending_ = false;
  const auto refusal = RecordingPreflight::check({.screenRecordingGranted = screenRecordingGranted_,
                                                  .hasTarget = selectedTarget().has_value(),
                                                  .cameraSelected = selectedCameraID_.has_value(),
                                                  .cameraStatus = cameraStatus_,
                                                  .microphoneSelected = selectedMicrophoneID_.has_value(),
                                                  .microphoneStatus = microphoneStatus_,
                                                  .freeBytes = options_.freeBytes()});
  if (refusal) {
    setRecordingError(QString::fromStdString(*refusal));
    setPhase(RecordingPhase::idle());
    co_return;
  }
  for (int seconds = 3; seconds >= 1; --seconds) {
    setPhase(RecordingPhase::countdown(seconds));
    co_await clock_->sleep(1);
    if (!self) co_return;
  }
  co_await beginRecording();
}

QCoro::Task<> RecordingController::beginRecording() {
  QPointer self(this);
  const auto target = selectedTarget();
  if (!target) {
    // The chosen window closed (or the display went) during the countdown.
    setPhase(RecordingPhase::idle());
    co_return;
  }
  RecordingOptions options;
  options.target = *target;
  options.includeSystemAudio = includeSystemAudio_;
  options.microphoneID = selectedMicrophoneID_;
  options.cameraID = selectedCameraID_;
  options.bubble = bubble_;
  options.frameRate = RecordingSessionRules::frameRate;
  options.maxLongEdge = RecordingSessionRules::maxLongEdge;
  if (options_.previewSink && options.cameraID) {
    // The camera is the engine's while it records, so the bubble shows the engine's copies.
    options.cameraPreview = [sink = options_.previewSink](const VideoFrame& frame) { sink->showFrame(frame); };
    options.cameraPreviewSide = cameraPreviewSidePixels;
  }

  // The engine opens the camera itself, so the preview lets go of it first.
  if (preview_) {
    auto released = preview_->stop();
    co_await released;
    if (!self) co_return;
  }

  auto session = std::make_shared<RecordingSession>(services_.vault(), services_.sources(), executor_);
  auto beginFuture = QtConcurrent::run([session, options]() -> Failure {
    try {
      session->begin(options);
      return std::nullopt;
    } catch (const std::exception& error) {
      return std::string(error.what());
    }
  });
  const Failure failure = co_await beginFuture;
  if (!self) co_return;  // the session stops its engine as it goes
  if (failure) {
    // The session has marked the item (when one was created) as needing attention.
    setRecordingError(QString::fromStdString(*failure));
    setPhase(RecordingPhase::idle());
    if (session->item()) emit localItemsChanged();
    co_return;
  }
  session->setOnFailure([this](const std::string& sentence) { engineFailed(QString::fromStdString(sentence)); });
  session_ = session;
  currentItemID_ = session->item()->id();
  setPhase(RecordingPhase::recording());
  setElapsed(0);
  startTimers();
  emit localItemsChanged();
  // A failure between the engine's start and the handler above found no one to hear it.
  if (auto early = session->failure()) engineFailed(QString::fromStdString(*early));
}

// MARK: Timers

void RecordingController::startTimers() {
  scheduleTick(++tickGeneration_);
  scheduleDiskCheck(++diskGeneration_);
}

void RecordingController::stopTimers() {
  ++tickGeneration_;
  ++diskGeneration_;
}

// The elapsed time is read from the engine's own clock, so pauses and late ticks never
// skew it.
void RecordingController::scheduleTick(int generation) {
  clock_->schedule(tickIntervalSeconds, [self = QPointer(this), generation] {
    if (!self || self->tickGeneration_ != generation) return;
    if (self->session_) self->setElapsed(self->session_->elapsed());
    self->scheduleTick(generation);
  });
}

void RecordingController::scheduleDiskCheck(int generation) {
  clock_->schedule(DiskSpaceCheck::intervalSeconds, [self = QPointer(this), generation] {
    if (!self || self->diskGeneration_ != generation) return;
    self->scheduleDiskCheck(generation);
    self->checkDiskSpace();
  });
}

void RecordingController::checkDiskSpace() {
  if (!phase_.isCapturing()) return;
  const DiskSpaceCheck::Verdict verdict = DiskSpaceCheck::assess(options_.freeBytes());
  setDiskWarning(QString::fromStdString(verdict.warning.value_or("")));
  if (!verdict.stopRecording) return;
  if (options_.notify) options_.notify(diskWarning_);
  stopRecording();
}

// MARK: Pause, stop, failures

void RecordingController::pauseRecording() {
  if (!phase_.is(RecordingPhase::Kind::recording) || !session_) return;
  session_->pause();
  setPhase(RecordingPhase::paused());
}

void RecordingController::resumeRecording() {
  if (!phase_.is(RecordingPhase::Kind::paused) || !session_) return;
  session_->resume();
  setPhase(RecordingPhase::recording());
}

void RecordingController::stopRecording() {
  if (!phase_.isCapturing() || !session_ || !currentItemID_) return;
  setPhase(RecordingPhase::finishing());
  stopTimers();
  finishRecording(session_, *currentItemID_);
}

QCoro::Task<> RecordingController::finishRecording(std::shared_ptr<RecordingSession> session, std::string itemID) {
  QPointer self(this);
  // The session writes the duration and the item's state (ready, or empty) itself.
  // The review's hold goes in with the ready state: a queue pass between the two would
  // upload the recording before the user could trim or rename it.
  const Date holdUntil = std::chrono::system_clock::now() +
                         std::chrono::duration_cast<std::chrono::system_clock::duration>(
                             std::chrono::duration<double>(ReviewModel::kUploadHoldSec));
  auto stopFuture = QtConcurrent::run([session, holdUntil] { return session->stop(holdUntil); });
  const double duration = co_await stopFuture;
  if (!self) co_return;
  session_.reset();
  currentItemID_.reset();
  setPhase(RecordingPhase::idle());
  setElapsed(0);
  const QString id = QString::fromStdString(itemID);
  emit recordingEnded(id, duration);
  emit localItemsChanged();
  if (!RecordingSessionRules::isEmptyRecording(duration)) emit recordingFinished(id, duration);
  services_.uploadQueue()->kick(UploadQueue::Trigger::recordingFinished);
}

void RecordingController::emergencyStop() {
  // While finishing, the stop under way closes the file; a second one may not overlap it.
  if (!phase_.isCapturing() || !session_ || !currentItemID_) return;
  session_->emergencyStop();
}

void RecordingController::engineFailed(const QString& sentence) {
  if (!phase_.isCapturing()) return;
  setRecordingError(sentence);
  if (options_.notify) options_.notify(sentence);
  stopRecording();
}

// MARK: Camera preview

void RecordingController::setCameraPreviewSink(std::shared_ptr<CameraPreviewSink> sink) {
  preview_.reset();
  options_.previewSink = std::move(sink);
  updateCameraPreview();
}

void RecordingController::updateCameraPreview() {
  const bool wanted = selectedCameraID_ && phase_.is(RecordingPhase::Kind::idle) &&
                      cameraStatus_ == PermissionStatus::authorised && options_.previewSink;
  if (!wanted) {
    if (preview_) preview_->stop();
    return;
  }
  if (preview_ && preview_->cameraID() == selectedCameraID_) return;
  if (preview_) preview_->stop();
  if (!listed(cameras_, *selectedCameraID_)) return;
  if (!preview_) preview_ = std::make_unique<CameraPreview>(services_.sources(), options_.previewSink);
  preview_->start(*selectedCameraID_);
}

std::optional<Size> RecordingController::recordingOutputSize() const {
  if (!session_) return std::nullopt;
  return session_->outputSize();
}

void RecordingController::updateAnnotations(std::optional<VideoFrame> image, std::vector<Rect> blurRects) {
  if (!session_) return;
  session_->updateAnnotations(image ? std::move(*image) : VideoFrame(), std::move(blurRects));
}

}  // namespace tolvane
