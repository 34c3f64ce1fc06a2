#include "app/overlays/overlay_controller.h"

#include "app/core/app_model.h"

namespace tolvane {

// The panels themselves come with the overlays; until then the controller accepts the
// phase watcher's calls and shows nothing, and the tray item and the main window are the
// way to stop a recording.
OverlayController::OverlayController(AppModel& model, QQmlEngine& engine, QObject* parent)
    : QObject(parent), model_(model), engine_(engine) {}

OverlayController::~OverlayController() = default;

void OverlayController::showCountdown(int) {}
void OverlayController::dropCountdown() {}
void OverlayController::showPill() {}
void OverlayController::dropPill() {}
void OverlayController::showBubble() {}
void OverlayController::hideBubble() {}
void OverlayController::showAnnotations() {}
void OverlayController::hideAnnotations() {}

}  // namespace tolvane
