#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/core/app_model.h"
#include "app/shell/action_router.h"
#include "app/shell/autostart_entry.h"
#include "tests/app/core/core_fakes.h"
#include "tests/app/core/fake_model_clock.h"
#include "tests/support/temp_dir.h"

namespace tolvane::testing {

// The application around the router, writing down what it was asked to do.
struct FakeHost final : ActionRouter::Host {
  void showMainWindow(std::optional<QString> pane) override { calls << "window:" + pane.value_or("current"); }
  void requestQuit() override { calls << "quit"; }
  void showAbout() override { calls << "about"; }
  void checkForUpdates() override { calls << "updates"; }
  QStringList calls;
};

// A real application model on a fake clock, recording the synthetic test scene, so that
// the shell's pieces are driven through every phase without a display or a sound server.
class ShellModelFixture : public ::testing::Test {
 protected:
  ShellModelFixture();
  ~ShellModelFixture() override;

  std::unique_ptr<AppModel> makeModel();
  RecordingController& recording() { return model->recording(); }
  void waitForPhase(const RecordingPhase& phase);
  // From idle through the whole countdown to a running recording.
  void startRecording();

  TempDir dir;
  std::shared_ptr<FakeModelClock> clock = std::make_shared<FakeModelClock>();
  std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>();
  std::shared_ptr<FakeOpener> opener = std::make_shared<FakeOpener>();
  std::shared_ptr<FakeNotifier> notifier = std::make_shared<FakeNotifier>();
  std::unique_ptr<AppModel> model = makeModel();
  // The router as the application makes it, with its autostart entry under `dir`.
  AutostartEntry autostart{QString::fromStdString(dir.path().string())};
  FakeHost host;
  ActionRouter router{*model, host, autostart};
};

}  // namespace tolvane::testing
