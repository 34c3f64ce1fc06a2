#pragma once

#include <QObject>

class QQmlEngine;

namespace tolvane {

class AppModel;

// The floating panels of a recording: the countdown, the control pill, the camera
// bubble, the drawing canvas and its toolbar (frameless, always on top, never taking the
// focus). The phase watcher decides when each shows.
class OverlayController : public QObject {
  Q_OBJECT

 public:
  OverlayController(AppModel& model, QQmlEngine& engine, QObject* parent = nullptr);
  ~OverlayController() override;

  void showCountdown(int seconds);
  void dropCountdown();
  void showPill();
  void dropPill();
  void showBubble();
  void hideBubble();
  void showAnnotations();
  void hideAnnotations();

 private:
  AppModel& model_;
  QQmlEngine& engine_;
};

}  // namespace tolvane
