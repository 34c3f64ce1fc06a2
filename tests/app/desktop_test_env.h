#pragma once

#include <QFont>
#include <QString>
#include <QWindow>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/core/app_model.h"
#include "tests/support/child_process.h"

namespace tolvane::testing {

// Settings for a real application model that records the synthetic scene (one screen,
// colour bars for a camera and, when asked, a tone for a microphone) with everything
// allowed, files kept under `dir`, fakes for the desktop's hand-offs and a site where
// nothing answers (online or not, as the network monitor says).
AppModel::Settings sceneModelSettings(const std::filesystem::path& dir, std::shared_ptr<ModelClock> clock,
                                      bool withMicrophone = false, bool online = true);

// Reads the sources and permissions as a launch does, with no sound server to ask.
bool readSceneSources(RecordingController& recording);

// Runs the event loop until `done` holds; false after `deadline` (a guard against hangs
// only: nothing waits on a time of its own).
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(60));

// Keeps a picture of the window for review in <build>/artifacts/screenshots, not compared.
// The entrance animations and glyphs are painted a frame or two after a change; the
// picture is for people, so it waits a moment for them rather than for any one event.
bool saveForReview(QWindow& window, const std::string& name);
std::filesystem::path screenshotDirectory();

// The display of the program's GUI application: a private 1920×1080 Xvfb started on first
// use and stopped by PID at exit, with the software Qt Quick renderer, the Basic controls
// style and settings and config kept in a private folder.
const std::string& testDisplayName();

// The program's one GUI application on that display: a QGuiApplication, or a QApplication
// where a tray icon needs widgets. DejaVu Sans, so that pictures look the same everywhere.
template <typename App>
App& desktopApplication() {
  testDisplayName();
  static int argc = 1;
  static char name[] = "tolvane-tests";
  static char* argv[] = {name, nullptr};
  static App* app = new App(argc, argv);
  App::setFont(QFont(QStringLiteral("DejaVu Sans")));
  return *app;
}

// A session bus of the test's own, ready for connections once made; stopped by PID.
class PrivateBus {
 public:
  explicit PrivateBus(const std::filesystem::path& folder);
  const std::string& address() const { return address_; }
  QString qAddress() const { return QString::fromStdString(address_); }

 private:
  std::string address_;
  std::filesystem::path printed_;
  ChildProcess daemon_;
};

}  // namespace tolvane::testing
