#pragma once

#include <QObject>
#include <QPoint>
#include <memory>

class QQmlEngine;

namespace tolvane {

class ActionRouter;
class AppModel;

// The tray item (StatusNotifierItem where the desktop hosts one, XEmbed elsewhere): the
// record icon, filled while recording, with the elapsed time in its tooltip and title; a
// left click toggles the popover (MenuContent.qml), a right click opens a menu of the
// same rows. When no tray host exists the main window stays available instead, and a
// host appearing later is picked up.
class StatusItemController : public QObject {
  Q_OBJECT

 public:
  StatusItemController(AppModel& model, ActionRouter& actions, QQmlEngine& engine, QObject* parent = nullptr);
  ~StatusItemController() override;

  // Re-renders the icon and the elapsed-time title; writes only what changed. The phase
  // watcher calls it on every pass.
  void refresh();
  // Shows the popover next to the icon (or under the pointer), or closes it.
  void toggle();
  bool isAvailable() const;

 signals:
  void availabilityChanged(bool available);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tolvane
