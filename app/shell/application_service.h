#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace tolvane {

class ActionRouter;
class AppModel;

// The application on the session bus: it owns the name com.tolvanelabs.Tolvane, so there
// is one instance per user session, and at /com/tolvanelabs/Tolvane implements
// org.freedesktop.Application (Activate shows the main window, ActivateAction runs an
// exported action) and com.tolvanelabs.Tolvane.State (Phase, Elapsed, SignInPhase,
// LastShareURL, PendingUploads, with PropertiesChanged).
class ApplicationService : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kObjectPath = "/com/tolvanelabs/Tolvane";
  static constexpr const char* kStateInterface = "com.tolvanelabs.Tolvane.State";

  ApplicationService(AppModel& model, ActionRouter& actions, std::function<void()> activate,
                     QObject* parent = nullptr);
  ~ApplicationService() override;

  // Exports the object and takes the name; false when another instance holds the name
  // (or there is no session bus, which is logged).
  bool registerOnSessionBus();

  // For a launch that finds Tolvane running: asks that instance to Activate, or to run
  // `action`. True when an instance answered. An unknown action is an error for the
  // caller to print.
  static bool forwardToRunningInstance(const std::optional<QString>& action, QString* error = nullptr);
};

}  // namespace tolvane
