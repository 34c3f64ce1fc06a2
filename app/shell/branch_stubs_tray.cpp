// Stand-ins for definitions written on other branches, so the tray builds and runs on
// its own. Dropped when the branches meet.
#include "app/core/app_model.h"
#include "app/shell/action_router.h"
#include "app/shell/autostart_entry.h"

namespace tolvane {

AutostartEntry::AutostartEntry(QString configHome) : path_(std::move(configHome)) {}
bool AutostartEntry::isEnabled() const { return false; }
bool AutostartEntry::setEnabled(bool) { return false; }
QString AutostartEntry::path() const { return path_; }

ActionRouter::ActionRouter(AppModel& model, Host& host, AutostartEntry& autostart, QObject* parent)
    : QObject(parent), model_(model), host_(host), autostart_(autostart) {
  connect(&model.recording(), &RecordingController::phaseChanged, this, &ActionRouter::enabledChanged);
  connect(&model.account(), &AccountModel::signInPhaseChanged, this, &ActionRouter::enabledChanged);
}

ActionRouter::~ActionRouter() = default;

void ActionRouter::trigger(AppAction action) {
  if (!isEnabled(action)) return;
  RecordingController& recording = model_.recording();
  switch (action) {
    case AppAction::startRecording: recording.startCountdown(); break;
    case AppAction::stopRecording: recording.stopRecording(); break;
    case AppAction::showRecord: host_.showMainWindow(QStringLiteral("record")); break;
    case AppAction::showLibrary: host_.showMainWindow(QStringLiteral("library")); break;
    case AppAction::showLocal: host_.showMainWindow(QStringLiteral("local")); break;
    case AppAction::showMainWindow: host_.showMainWindow(std::nullopt); break;
    case AppAction::signIn: model_.account().signIn(); break;
    case AppAction::cancelSignIn: model_.account().cancelSignIn(); break;
    case AppAction::signOut: model_.account().signOut(); break;
    case AppAction::quit: host_.requestQuit(); break;
    case AppAction::about: host_.showAbout(); break;
    case AppAction::checkForUpdates: host_.checkForUpdates(); break;
    default: break;
  }
}

bool ActionRouter::isEnabled(AppAction action) const {
  const bool capturing = model_.recording().phase().isCapturing();
  switch (action) {
    case AppAction::startRecording: return !capturing;
    case AppAction::stopRecording:
    case AppAction::togglePause:
    case AppAction::toggleDrawing: return capturing;
    case AppAction::signOut: return model_.account().signInPhase() == AccountModel::SignInPhase::SignedIn;
    default: return true;
  }
}

bool ActionRouter::trigger(const QString& name) {
  const auto action = appActionFromName(name);
  if (!action) return false;
  trigger(*action);
  return true;
}

bool ActionRouter::isEnabled(const QString& name) const {
  const auto action = appActionFromName(name);
  return action && isEnabled(*action);
}

bool ActionRouter::openAtLogin() const { return autostart_.isEnabled(); }

}  // namespace tolvane

// The router's own source (on another branch) carries its meta-object; until then, here.
#include "moc_action_router.cpp"
