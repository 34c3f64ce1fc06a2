#pragma once

#include <QString>
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

// Where pictures for review go: <build>/artifacts/screenshots.
std::filesystem::path screenshotDirectory();

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
