#include "app/shell/autostart_entry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "kit/base/application_id.h"
#include "kit/base/log.h"

namespace tolvane {
namespace {

const Logger& log() {
  static const Logger logger{"autostart"};
  return logger;
}

QString defaultConfigHome() {
  const QString fromEnvironment = qEnvironmentVariable("XDG_CONFIG_HOME");
  // XDG base directories must be absolute; a relative value is ignored.
  if (!fromEnvironment.isEmpty() && QDir::isAbsolutePath(fromEnvironment)) return fromEnvironment;
  return QDir::homePath() + QStringLiteral("/.config");
}

QByteArray entryText() {
  const QByteArray id(kApplicationID.data(), static_cast<qsizetype>(kApplicationID.size()));
  return QByteArrayLiteral("[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Tolvane\n"
                           "Exec=tolvane\n"
                           "Icon=") +
         id +
         QByteArrayLiteral("\n"
                           "X-GNOME-Autostart-enabled=true\n");
}

}  // namespace

AutostartEntry::AutostartEntry(QString configHome) {
  if (configHome.isEmpty()) configHome = defaultConfigHome();
  path_ = configHome + QStringLiteral("/autostart/") + QString::fromLatin1(kApplicationID.data(), kApplicationID.size()) +
          QStringLiteral(".desktop");
}

bool AutostartEntry::isEnabled() const { return QFileInfo(path_).isFile(); }

bool AutostartEntry::setEnabled(bool enabled) {
  if (!enabled) {
    if (!QFileInfo::exists(path_) || QFile::remove(path_)) return true;
    log().error("could not remove the autostart entry {}", path_.toStdString());
    return false;
  }
  const QString folder = QFileInfo(path_).absolutePath();
  if (!QDir().mkpath(folder)) {
    log().error("could not create the autostart folder {}", folder.toStdString());
    return false;
  }
  // Written whole or not at all: a desktop reading the folder at login never sees half
  // an entry.
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly) || file.write(entryText()) < 0 || !file.commit()) {
    log().error("could not write the autostart entry {}: {}", path_.toStdString(), file.errorString().toStdString());
    return false;
  }
  return true;
}

QString AutostartEntry::path() const { return path_; }

}  // namespace tolvane
