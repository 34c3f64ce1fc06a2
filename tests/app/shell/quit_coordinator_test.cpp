#include "app/shell/quit_coordinator.h"

#include <gtest/gtest.h>

#include "kit/base/memory_log_sink.h"
#include "tests/app/core/core_test_support.h"
#include "tests/app/shell/shell_model_fixture.h"

namespace tolvane {
namespace {

using Phase = RecordingPhase;

struct QuitProbe {
  Phase phase;
  int stops = 0;
  int quits = 0;
  QuitCoordinator::Hooks hooks() {
    return {[this] { return phase; }, [this] { ++stops; }, [this] { ++quits; }};
  }
};

TEST(QuitCoordinatorTest, OnlyARecordingUnderWayDelaysTheQuit) {
  // A countdown or a finish already under way does not hold the quit back.
  for (const Phase& phase : {Phase::idle(), Phase::countdown(2), Phase::finishing()}) {
    FakeModelClock clock;
    QuitProbe probe{phase};
    QuitCoordinator quit(clock, probe.hooks());
    quit.requestQuit();
    EXPECT_EQ(probe.quits, 1) << phase.text();
    EXPECT_EQ(probe.stops, 0) << phase.text();
    EXPECT_EQ(clock.pending(), 0u) << phase.text();
  }
}

TEST(QuitCoordinatorTest, ARecordingOrAPauseIsStoppedAndGetsItsGraceBeforeTheQuit) {
  for (const Phase& phase : {Phase::recording(), Phase::paused()}) {
    const auto log = MemoryLogSink::attach();
    FakeModelClock clock;
    QuitProbe probe{phase};
    QuitCoordinator quit(clock, probe.hooks());
    quit.requestQuit();
    EXPECT_EQ(probe.stops, 1) << phase.text();
    EXPECT_TRUE(quit.isQuitPending());
    EXPECT_TRUE(log->contains("lifecycle", LogLevel::info, "quit requested mid-recording — closing the file first"));

    // Asking again during the grace neither stops twice nor hurries the quit.
    quit.requestQuit();
    clock.advance(1.49);
    EXPECT_EQ(probe.quits, 0) << phase.text();
    EXPECT_EQ(probe.stops, 1) << phase.text();
    clock.advance(0.02);
    EXPECT_EQ(probe.quits, 1) << phase.text();
  }
}

TEST(QuitCoordinatorTest, ACoordinatorGoneDuringTheGraceQuitsNothing) {
  FakeModelClock clock;
  QuitProbe probe{Phase::recording()};
  auto quit = std::make_unique<QuitCoordinator>(clock, probe.hooks());
  quit->requestQuit();
  quit.reset();
  clock.advance(2);
  EXPECT_EQ(probe.quits, 0);
}

class QuitWithModelTest : public testing::ShellModelFixture {};

TEST_F(QuitWithModelTest, QuittingMidRecordingStartsTheFinishAtOnce) {
  startRecording();
  int quits = 0;
  QuitCoordinator quit(model->clock(), {[this] { return recording().phase(); },
                                        [this] { recording().stopRecording(); }, [&] { ++quits; }});
  quit.requestQuit();
  EXPECT_EQ(recording().phase(), Phase::finishing());
  EXPECT_EQ(quits, 0);
  clock->advance(1.6);
  EXPECT_EQ(quits, 1);
}

}  // namespace
}  // namespace tolvane
