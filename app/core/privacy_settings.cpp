#include "app/core/privacy_settings.h"

#include <QProcess>
#include <QStandardPaths>

namespace tolvane {

namespace {

bool launchDetached(const PrivacySettings::Panel& panel) {
  if (QStandardPaths::findExecutable(panel.program).isEmpty()) return false;
  return QProcess::startDetached(panel.program, panel.arguments);
}

QString fragment(PrivacySettings::Device device) {
  switch (device) {
    case PrivacySettings::Device::screen: return QStringLiteral("screen");
    case PrivacySettings::Device::microphone: return QStringLiteral("microphone");
    case PrivacySettings::Device::camera: return QStringLiteral("camera");
  }
  return {};
}

}  // namespace

PrivacySettings::PrivacySettings(QUrl siteURL, URLOpener openURL, Launcher launch)
    : siteURL_(std::move(siteURL)), openURL_(std::move(openURL)), launch_(launch ? std::move(launch) : launchDetached) {}

std::optional<PrivacySettings::Panel> PrivacySettings::panel(Device device, const QString& currentDesktop) {
  const QStringList desktops = currentDesktop.toUpper().split(u':', Qt::SkipEmptyParts);
  // No desktop has a switch for X11 screen capture: the help page explains sessions.
  if (device == Device::screen) return std::nullopt;
  if (desktops.contains(QStringLiteral("GNOME"))) {
    return Panel{QStringLiteral("gnome-control-center"), {fragment(device)}};
  }
  if (desktops.contains(QStringLiteral("KDE")) && device == Device::microphone) {
    return Panel{QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}};
  }
  return std::nullopt;
}

QUrl PrivacySettings::helpPage(const QUrl& siteURL, Device device) {
  QUrl url = siteURL;
  QString path = url.path();
  if (path.endsWith(u'/')) path.chop(1);
  url.setPath(path + QStringLiteral("/help/linux-permissions"));
  url.setFragment(fragment(device));
  return url;
}

void PrivacySettings::open(Device device) const {
  const auto found = panel(device, qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
  if (found && launch_(*found)) return;
  if (openURL_) openURL_(helpPage(siteURL_, device));
}

}  // namespace tolvane
