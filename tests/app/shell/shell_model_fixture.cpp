#include "tests/app/shell/shell_model_fixture.h"

#include "tests/app/desktop_test_env.h"
#include "tests/app/core/core_test_support.h"

namespace tolvane::testing {

ShellModelFixture::ShellModelFixture() { EXPECT_TRUE(readSceneSources(recording())); }

std::unique_ptr<AppModel> ShellModelFixture::makeModel() {
  application();
  AppModel::Settings settings = sceneModelSettings(dir.path(), clock);
  settings.clipboard = clipboard;
  settings.opener = opener;
  settings.notifier = notifier;
  return std::make_unique<AppModel>(std::move(settings));
}

ShellModelFixture::~ShellModelFixture() {
  // A recording still under way is finished before the model goes.
  if (recording().phase().isCapturing()) recording().stopRecording();
  processEventsUntil([&] { return !recording().phase().is(RecordingPhase::Kind::finishing); });
}

void ShellModelFixture::waitForPhase(const RecordingPhase& phase) {
  ASSERT_TRUE(processEventsUntil([&] { return recording().phase() == phase; })) << recording().phase().text();
}

void ShellModelFixture::startRecording() {
  recording().startCountdown();
  waitForPhase(RecordingPhase::countdown(3));
  clock->advance(3);
  waitForPhase(RecordingPhase::recording());
}

}  // namespace tolvane::testing
