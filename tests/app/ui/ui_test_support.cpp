#include "tests/app/ui/ui_test_support.h"

#include <QFont>
#include <QQuickStyle>
#include <QSettings>

#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

namespace tolvane::testing {

namespace {

struct Desktop {
  XvfbServer xvfb{1920, 1080};
  TempDir home;
  ScopedEnv display{"DISPLAY", xvfb.displayName().c_str()};
  ScopedEnv platform{"QT_QPA_PLATFORM", "xcb"};
  ScopedEnv backend{"QT_QUICK_BACKEND", "software"};
  ScopedEnv config{"XDG_CONFIG_HOME", (home / "config").c_str()};
};

Desktop& desktop() {
  static Desktop instance;
  return instance;
}

}  // namespace

QGuiApplication& guiApplication() {
  desktop();
  static int argc = 1;
  static char name[] = "ui_window_tests";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = [] {
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((desktop().home / "settings").string()));
    auto* application = new QGuiApplication(argc, argv);
    QGuiApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
    return application;
  }();
  return *app;
}

const std::string& testDisplayName() { return desktop().xvfb.displayName(); }

}  // namespace tolvane::testing
