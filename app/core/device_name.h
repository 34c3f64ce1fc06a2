#pragma once

#include <QString>

namespace tolvane {

// The name the web site shows for this computer when the user approves a sign-in: the
// pretty host name set with hostnamectl (PRETTY_HOSTNAME in `machineInfoPath`), else the
// host name, else "Linux". Reads a file; call it off the GUI thread.
QString deviceName(const QString& machineInfoPath = QStringLiteral("/etc/machine-info"));

}  // namespace tolvane
