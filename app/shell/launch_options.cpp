#include "app/shell/launch_options.h"

#include <QCommandLineParser>

#include "app/core/app_model.h"
#include "app/shell/app_action.h"

namespace tolvane {
namespace {

struct Parser {
  QCommandLineParser parser;
  QCommandLineOption action{QStringLiteral("action"), QStringLiteral("Runs ACTION in Tolvane, starting it if needed."),
                            QStringLiteral("ACTION")};
  QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                             QStringLiteral("Shows the version and exits.")};
  QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help and exits.")};

  Parser() {
    parser.addOption(action);
    parser.addOption(version);
    parser.addOption(help);
  }
};

}  // namespace

LaunchOptions LaunchOptions::parse(const QStringList& arguments, bool ignoreUnknownOptions) {
  Parser p;
  LaunchOptions options;
  const bool parsed = p.parser.parse(arguments);
  if (!parsed && !(ignoreUnknownOptions && !p.parser.unknownOptionNames().isEmpty())) {
    options.error = p.parser.errorText();
    return options;
  }
  // A toolkit option's value ("-platform offscreen") reads as a positional argument here.
  const bool toolkitOptions = ignoreUnknownOptions && !p.parser.unknownOptionNames().isEmpty();
  if (!toolkitOptions && !p.parser.positionalArguments().isEmpty()) {
    options.error = QStringLiteral("Unexpected argument \"%1\"; see tolvane --help.")
                        .arg(p.parser.positionalArguments().first());
    return options;
  }
  options.showHelp = p.parser.isSet(p.help);
  options.showVersion = p.parser.isSet(p.version);
  if (p.parser.isSet(p.action)) {
    const QString name = p.parser.value(p.action);
    const auto action = appActionFromName(name);
    if (!action || !isExportedAction(*action)) {
      options.error = QStringLiteral("Unknown action \"%1\"; the actions are: %2.")
                          .arg(name, exportedActionNames().join(QStringLiteral(", ")));
      return options;
    }
    options.action = name;
  }
  return options;
}

QString LaunchOptions::helpText() {
  // Written out rather than asked of the parser, which wants the application object.
  return QStringLiteral(
             "Usage: tolvane [--action ACTION]\n"
             "Tolvane records your screen and shares a link.\n\n"
             "Options:\n"
             "  --action ACTION  Runs ACTION in Tolvane, starting it first if needed.\n"
             "  -v, --version    Shows the version and exits.\n"
             "  -h, --help       Shows this help and exits.\n\n"
             "Actions: %1\n\n"
             "Where Ctrl+Alt+R can't be had (Wayland, or another program holds it), bind\n"
             "`tolvane --action start-recording` to a key in your desktop's keyboard settings.\n")
      .arg(exportedActionNames().join(QStringLiteral(", ")));
}

QString LaunchOptions::versionText() { return QStringLiteral("Tolvane %1").arg(AppModel::currentVersion()); }

}  // namespace tolvane
