#pragma once

#include <QObject>
#include <chrono>
#include <optional>
#include <string>

#include <qcorotask.h>

#include "app/core/recording_phase.h"

namespace tolvane {

class AppModel;

// Mirrors the model's recording phase, camera choice and drawing flag into the floating
// panels, the tray item and the main window. A polling loop on the GUI thread rather
// than change signals: ten passes a second while a recording is live keep the tray's
// elapsed time and the panels current within 100 ms, two a second while idle; a pass
// does work only on a change (the tray item itself writes only what changed).
class PhaseWatcher : public QObject {
  Q_OBJECT

 public:
  // What the watcher drives. The shell forwards to the overlay controller, the main
  // window controller and the tray item; tests record the calls.
  class View {
   public:
    virtual ~View() = default;
    virtual void showCountdown(int seconds) = 0;
    virtual void dropCountdown() = 0;
    virtual void showPill() = 0;
    virtual void dropPill() = 0;
    // The bubble panel with the live camera: the running engine's frames while
    // recording, the idle preview otherwise.
    virtual void showBubble() = 0;
    virtual void hideBubble() = 0;
    virtual void showAnnotations() = 0;
    virtual void hideAnnotations() = 0;
    virtual void hideMainWindow() = 0;
    // A recording is being prepared: the application keeps out of the taskbar until the
    // main window is shown again.
    virtual void keepOutOfTaskbar() = 0;
    virtual void refreshStatusItem() = 0;
  };

  PhaseWatcher(AppModel& model, View& view, QObject* parent = nullptr);
  ~PhaseWatcher() override;

  // Starts the loop on the model's clock; starting again replaces the running loop.
  void start();
  void stop();

  // One pass; answers how long to sleep before the next.
  std::chrono::milliseconds pass();

 private:
  QCoro::Task<> run(int generation);
  void apply(const RecordingPhase& phase);
  void refreshBubble();

  AppModel& model_;
  View& view_;
  int generation_ = 0;
  std::optional<RecordingPhase> lastPhase_;
  std::optional<std::optional<std::string>> lastCameraID_;
  std::optional<bool> lastDrawing_;
};

}  // namespace tolvane
