#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tolvane {

// What `tolvane` was asked on its command line: `--action NAME` (one of the exported
// actions, run by the instance already running or by this one once launched),
// `--version` and `--help`. Read before the application object exists, so that
// `--version` and a mistyped action answer without a display.
struct LaunchOptions {
  // Exit statuses of a rejected command line.
  static constexpr int kUsageError = 2;

  std::optional<QString> action;
  bool showVersion = false;
  bool showHelp = false;
  // A one-line reason the command line can't be run; empty when it can.
  QString error;

  // `arguments` starts with the program's name. `ignoreUnknownOptions`: leave options we
  // don't know to the toolkit (-platform, -display…), which reads them next.
  static LaunchOptions parse(const QStringList& arguments, bool ignoreUnknownOptions);
  static QString helpText();
  static QString versionText();
};

}  // namespace tolvane
