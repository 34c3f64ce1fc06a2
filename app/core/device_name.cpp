#include "app/core/device_name.h"

#include <QFile>
#include <QSysInfo>
#include <QTextStream>

namespace tolvane {
namespace {

// machine-info is an environment-style file: KEY=value, the value optionally quoted.
QString prettyHostName(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  QTextStream stream(&file);
  for (QString line = stream.readLine(); !line.isNull(); line = stream.readLine()) {
    line = line.trimmed();
    if (!line.startsWith(QLatin1String("PRETTY_HOSTNAME="))) continue;
    QString value = line.mid(static_cast<qsizetype>(sizeof("PRETTY_HOSTNAME=") - 1)).trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.mid(1, value.size() - 2);
    }
    return value.trimmed();
  }
  return {};
}

}  // namespace

QString deviceName(const QString& machineInfoPath) {
  if (QString pretty = prettyHostName(machineInfoPath); !pretty.isEmpty()) return pretty;
  if (QString host = QSysInfo::machineHostName(); !host.isEmpty()) return host;
  return QStringLiteral("Linux");
}

}  // namespace tolvane
