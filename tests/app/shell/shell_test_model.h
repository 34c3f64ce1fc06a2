#pragma once

#include <memory>

#include "app/core/app_model.h"
#include "app/core/recording_phase.h"
#include "tests/app/core/core_fakes.h"
#include "tests/app/core/fake_model_clock.h"
#include "tests/support/temp_dir.h"

namespace tolvane::testing {

// A real application model over the synthetic screen, a fake clock and a fake desktop,
// with a site where nothing answers: enough for the shell to drive a whole recording.
class ShellTestModel {
 public:
  ShellTestModel();
  ~ShellTestModel();

  AppModel& operator*() { return *model; }
  AppModel* operator->() { return model.get(); }

  // Each waits on the event loop; a failure is a test failure.
  void waitForPhase(const RecordingPhase& phase);
  void startRecording();
  void stopRecording();

  TempDir dir;
  std::shared_ptr<FakeModelClock> clock = std::make_shared<FakeModelClock>();
  std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>();
  std::shared_ptr<FakeOpener> opener = std::make_shared<FakeOpener>();
  std::shared_ptr<FakeNotifier> notifier = std::make_shared<FakeNotifier>();
  std::unique_ptr<AppModel> model;
};

}  // namespace tolvane::testing
