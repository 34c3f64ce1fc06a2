#include "app/shell/action_router.h"

#include <QUrl>

#include "app/core/app_model.h"
#include "app/core/clipboard.h"
#include "app/core/desktop_opener.h"
#include "app/shell/autostart_entry.h"
#include "kit/base/log.h"

namespace tolvane {
namespace {

const Logger& log() {
  static const Logger logger{"actions"};
  return logger;
}

constexpr int kActionCount = static_cast<int>(AppAction::copyLastLink) + 1;
static_assert(kActionCount <= 32, "the enabled set is one 32-bit word");

QUrl siteAddress(AppModel& model, std::string_view path) {
  return QUrl(QString::fromStdString(model.services().siteURL().appendingPathComponent(path).text()));
}

}  // namespace

ActionRouter::ActionRouter(AppModel& model, Host& host, AutostartEntry& autostart, QObject* parent)
    : QObject(parent), model_(model), host_(host), autostart_(autostart), enabledSet_(enabledSet()) {
  connect(&model_.recording(), &RecordingController::phaseChanged, this, &ActionRouter::recheckEnabled);
  connect(&model_.account(), &AccountModel::signInPhaseChanged, this, &ActionRouter::recheckEnabled);
}

ActionRouter::~ActionRouter() = default;

bool ActionRouter::isEnabled(AppAction action) const {
  const bool capturing = model_.recording().phase().isCapturing();
  const auto signIn = model_.account().signInPhase();
  switch (action) {
    // Starting during the countdown or the finish stays enabled: startCountdown() itself
    // ignores a start it can't honour, as the shortcut does.
    case AppAction::startRecording:
      return !capturing;
    case AppAction::stopRecording:
    case AppAction::togglePause:
    case AppAction::toggleDrawing:
      return capturing;
    case AppAction::signOut:
      return signIn == AccountModel::SignInPhase::SignedIn;
    case AppAction::signIn:
      return signIn == AccountModel::SignInPhase::SignedOut;
    case AppAction::checkForUpdates:
      return host_.canCheckForUpdates();
    default:
      return true;
  }
}

bool ActionRouter::isEnabled(const QString& name) const {
  const auto action = appActionFromName(name);
  return action && isEnabled(*action);
}

void ActionRouter::trigger(AppAction action) {
  // Menus never offer a disabled item, but other programs (D-Bus, `tolvane --action`)
  // can ask for anything at any time.
  if (!isEnabled(action)) {
    log().info("action {} is not available in phase {}; nothing done", appActionName(action).toStdString(),
               model_.recording().phase().text());
    return;
  }
  RecordingController& recording = model_.recording();
  switch (action) {
    case AppAction::startRecording:
      recording.startCountdown();
      break;
    case AppAction::stopRecording:
      recording.stopRecording();
      break;
    case AppAction::togglePause:
      if (recording.phase().is(RecordingPhase::Kind::paused)) {
        recording.resumeRecording();
      } else {
        recording.pauseRecording();
      }
      break;
    case AppAction::toggleDrawing:
      model_.annotations().setDrawing(!model_.annotations().isDrawing());
      break;
    case AppAction::showRecord:
      host_.showMainWindow(QStringLiteral("record"));
      break;
    case AppAction::showLibrary:
      host_.showMainWindow(QStringLiteral("library"));
      model_.library().loadLibrary();
      break;
    case AppAction::showLocal:
      host_.showMainWindow(QStringLiteral("local"));
      break;
    case AppAction::showMainWindow:
      host_.showMainWindow(std::nullopt);
      break;
    case AppAction::checkForUpdates:
      host_.checkForUpdates();
      break;
    case AppAction::signIn:
      model_.account().signIn();
      break;
    case AppAction::cancelSignIn:
      model_.account().cancelSignIn();
      break;
    case AppAction::signOut:
      model_.account().signOut();
      break;
    case AppAction::quit:
      host_.requestQuit();
      break;
    case AppAction::about:
      host_.showAbout();
      break;
    case AppAction::openWebLibrary:
      model_.opener().openURL(siteAddress(model_, "library"));
      break;
    case AppAction::openHelp:
      model_.opener().openURL(siteAddress(model_, ""));
      break;
    case AppAction::openVaultFolder:
      // A folder opened with its default application is the file browser showing it.
      model_.opener().openFile(QString::fromStdString(model_.services().vault()->root().string()));
      break;
    case AppAction::toggleOpenAtLogin: {
      const bool was = autostart_.isEnabled();
      autostart_.setEnabled(!was);
      if (autostart_.isEnabled() != was) emit openAtLoginChanged();
      break;
    }
    case AppAction::copyLastLink:
      copyLastLink();
      break;
  }
}

bool ActionRouter::trigger(const QString& name) {
  const auto action = appActionFromName(name);
  if (!action) {
    log().warning("no action is named \"{}\"", name.toStdString());
    return false;
  }
  trigger(*action);
  return true;
}

bool ActionRouter::openAtLogin() const { return autostart_.isEnabled(); }

QStringList ActionRouter::enabledActions() const {
  QStringList names;
  for (int i = 0; i < kActionCount; ++i) {
    if (enabledSet_ & (1u << i)) names << appActionName(static_cast<AppAction>(i));
  }
  return names;
}

quint32 ActionRouter::enabledSet() const {
  quint32 set = 0;
  for (int i = 0; i < kActionCount; ++i) {
    if (isEnabled(static_cast<AppAction>(i))) set |= 1u << i;
  }
  return set;
}

void ActionRouter::recheckEnabled() {
  const quint32 now = enabledSet();
  if (now == enabledSet_) return;
  enabledSet_ = now;
  emit enabledChanged();
}

void ActionRouter::copyLastLink() {
  const QString link = model_.library().lastShareURL();
  if (link.isEmpty()) return;
  model_.clipboard().setText(link);
}

}  // namespace tolvane
