#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

namespace tolvane {

// Where "Open Settings" takes the user for a device Tolvane may not use: the desktop's
// own settings panel where the desktop has one (GNOME's camera, microphone and sound
// panels, KDE's audio module), else the help page on the site that explains the Linux
// side (the video group, the sound server, X11 sessions).
class PrivacySettings {
 public:
  enum class Device { screen, microphone, camera };

  struct Panel {
    QString program;
    QStringList arguments;
    bool operator==(const Panel&) const = default;
  };

  // Starts a program detached; false when it is missing or could not start.
  using Launcher = std::function<bool(const Panel&)>;
  using URLOpener = std::function<void(const QUrl&)>;

  PrivacySettings(QUrl siteURL, URLOpener openURL, Launcher launch = nullptr);

  // `currentDesktop` is $XDG_CURRENT_DESKTOP (a colon-separated list such as
  // "ubuntu:GNOME").
  static std::optional<Panel> panel(Device device, const QString& currentDesktop);
  static QUrl helpPage(const QUrl& siteURL, Device device);

  void open(Device device) const;

 private:
  QUrl siteURL_;
  URLOpener openURL_;
  Launcher launch_;
};

}  // namespace tolvane
