#pragma once

#include <QObject>
#include <functional>

#include <qcorotask.h>

#include "app/core/recording_phase.h"
#include "kit/base/log.h"

namespace tolvane {

class ModelClock;

// Decides how the application quits. A recording under way (recording or paused) is
// asked to stop and gets a fixed grace period to close its file before the application
// goes; anything else (idle, a countdown, a finish already under way) quits at once.
// What the grace did not finish, the emergency stop on the way out and recovery at the
// next launch take care of.
class QuitCoordinator : public QObject {
  Q_OBJECT

 public:
  static constexpr double kGraceSec = 1.5;

  struct Hooks {
    std::function<RecordingPhase()> phase;
    std::function<void()> stopRecording;
    // Ends the event loop.
    std::function<void()> quit;
  };

  QuitCoordinator(ModelClock& clock, Hooks hooks, QObject* parent = nullptr);
  ~QuitCoordinator() override;

  // Quits now, or after the grace period. Asking again while the grace runs changes
  // nothing: the quit is already on its way.
  void requestQuit();
  bool isQuitPending() const { return pending_; }

 private:
  QCoro::Task<> quitAfterGrace();

  ModelClock& clock_;
  Hooks hooks_;
  bool pending_ = false;
  Logger log_{"lifecycle"};
};

}  // namespace tolvane
