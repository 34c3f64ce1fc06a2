#include "app/shell/phase_watcher.h"

#include <QPointer>

#include "app/core/app_model.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

// A camera choice of "" means none, as in the pickers.
std::optional<std::string> cameraChoice(const std::optional<std::string>& id) {
  if (id && id->empty()) return std::nullopt;
  return id;
}

}  // namespace

PhaseWatcher::PhaseWatcher(AppModel& model, View& view, QObject* parent)
    : QObject(parent), model_(model), view_(view) {}

PhaseWatcher::~PhaseWatcher() { stop(); }

void PhaseWatcher::start() {
  // A new generation retires the running loop at its next wake-up, and the new loop
  // starts from nothing seen, so its first pass brings every view up to date.
  ++generation_;
  lastPhase_.reset();
  lastCameraID_.reset();
  lastDrawing_.reset();
  run(generation_);
}

void PhaseWatcher::stop() { ++generation_; }

QCoro::Task<> PhaseWatcher::run(int generation) {
  QPointer<PhaseWatcher> self(this);
  while (self && self->generation_ == generation) {
    const std::chrono::duration<double> pause = self->pass();
    // The clock always resumes us, also after the watcher is gone: only `self` is
    // looked at before anything else.
    auto sleeping = self->model_.clock().sleep(pause.count());
    co_await sleeping;
  }
}

std::chrono::milliseconds PhaseWatcher::pass() {
  auto& recording = model_.recording();

  const RecordingPhase phase = recording.phase();
  if (!lastPhase_ || *lastPhase_ != phase) {
    apply(phase);
    lastPhase_ = phase;
  }

  const auto camera = cameraChoice(recording.selectedCameraID());
  // Spelled out: comparing the optional of an optional with an empty choice would take
  // "never seen" for "no camera".
  if (!lastCameraID_ || *lastCameraID_ != camera) {
    lastCameraID_ = camera;
    recording.updateCameraPreview();
    if (camera) {
      view_.showBubble();
    } else {
      view_.hideBubble();
    }
  }

  const bool drawing = model_.annotations().isDrawing();
  if (!lastDrawing_ || *lastDrawing_ != drawing) {
    lastDrawing_ = drawing;
    if (drawing) {
      view_.showAnnotations();
    } else {
      view_.hideAnnotations();
    }
  }

  // The tray item compares for itself; the elapsed time changes without a phase change.
  view_.refreshStatusItem();

  return phase.is(RecordingPhase::Kind::idle) ? 500ms : 100ms;
}

void PhaseWatcher::apply(const RecordingPhase& phase) {
  switch (phase.kind) {
    case RecordingPhase::Kind::countdown:
      // The recording must not show a window of ours; the window comes back (and into
      // the taskbar) when it is shown again, e.g. for the review.
      view_.hideMainWindow();
      view_.keepOutOfTaskbar();
      view_.showCountdown(phase.secondsLeft);
      return;
    case RecordingPhase::Kind::recording:
    case RecordingPhase::Kind::paused:
      view_.dropCountdown();
      view_.showPill();
      refreshBubble();
      return;
    case RecordingPhase::Kind::idle:
      view_.dropCountdown();
      view_.dropPill();
      view_.hideAnnotations();
      model_.recording().updateCameraPreview();
      refreshBubble();
      return;
    case RecordingPhase::Kind::finishing:
      // The bubble stays as it was until the phase is idle again.
      view_.dropPill();
      view_.hideAnnotations();
      return;
  }
}

void PhaseWatcher::refreshBubble() {
  if (cameraChoice(model_.recording().selectedCameraID())) {
    view_.showBubble();
  } else {
    view_.hideBubble();
  }
}

}  // namespace tolvane
