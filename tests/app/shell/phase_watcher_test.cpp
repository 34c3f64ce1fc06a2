#include "app/shell/phase_watcher.h"

#include <gtest/gtest.h>

#include "app/capture/sources/synthetic_sources.h"
#include "tests/app/core/core_test_support.h"
#include "tests/app/shell/shell_model_fixture.h"
#include "app/shell/quit_coordinator.h"
#include "kit/base/memory_log_sink.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using Phase = RecordingPhase;
using Calls = std::vector<std::string>;

// The panels, the window and the tray as the watcher drives them: every call but the
// tray's refresh (which happens on every pass) is written down in order.
struct RecordingView final : PhaseWatcher::View {
  void showCountdown(int seconds) override { calls.push_back("countdown " + std::to_string(seconds)); }
  void dropCountdown() override { calls.push_back("drop countdown"); }
  void showPill() override { calls.push_back("pill"); }
  void dropPill() override { calls.push_back("drop pill"); }
  void showBubble() override { calls.push_back("bubble"); }
  void hideBubble() override { calls.push_back("hide bubble"); }
  void showAnnotations() override { calls.push_back("annotations"); }
  void hideAnnotations() override { calls.push_back("hide annotations"); }
  void hideMainWindow() override { calls.push_back("hide window"); }
  void keepOutOfTaskbar() override { calls.push_back("out of taskbar"); }
  void refreshStatusItem() override { ++trayRefreshes; }
  Calls take() { return std::exchange(calls, {}); }
  Calls calls;
  int trayRefreshes = 0;
};

class PhaseWatcherTest : public testing::ShellModelFixture {
 protected:
  // What one pass did; it sleeps 100 ms while a recording is prepared or runs, 500 otherwise.
  Calls pass(std::chrono::milliseconds expectedPause) {
    EXPECT_EQ(watcher.pass(), expectedPause) << recording().phase().text();
    return view.take();
  }
  void selectCamera(bool on) {
    recording().setSelectedCameraID(on ? std::optional<std::string>(SyntheticSources::barsID) : std::nullopt);
  }

  RecordingView view;
  PhaseWatcher watcher{*model, view};
};

// The first pass sets every view; later ones write only what changed.
TEST_F(PhaseWatcherTest, EachPassChangesOnlyWhatThePhaseAndTheFlagsChanged) {
  EXPECT_EQ(pass(500ms), (Calls{"drop countdown", "drop pill", "hide annotations", "hide bubble",  // the idle phase
                                "hide bubble",                                                   // no camera
                                "hide annotations"}));                                           // not drawing
  EXPECT_EQ(pass(500ms), Calls{});
  EXPECT_EQ(view.trayRefreshes, 2);
  selectCamera(true);
  EXPECT_EQ(pass(500ms), Calls{"bubble"});
  selectCamera(false);
  EXPECT_EQ(pass(500ms), Calls{"hide bubble"});

  recording().startCountdown();
  waitForPhase(Phase::countdown(3));
  EXPECT_EQ(pass(100ms), (Calls{"hide window", "out of taskbar", "countdown 3"}));
  clock->advance(1);
  waitForPhase(Phase::countdown(2));
  EXPECT_EQ(pass(100ms), (Calls{"hide window", "out of taskbar", "countdown 2"}));
  EXPECT_EQ(pass(100ms), Calls{});
  clock->advance(2);
  waitForPhase(Phase::recording());
  EXPECT_EQ(pass(100ms), (Calls{"drop countdown", "pill", "hide bubble"}));
  model->annotations().setDrawing(true);
  EXPECT_EQ(pass(100ms), Calls{"annotations"});
  model->annotations().setDrawing(false);  // off again: the canvas goes in the very next pass
  EXPECT_EQ(pass(100ms), Calls{"hide annotations"});
  recording().pauseRecording();
  waitForPhase(Phase::paused());
  EXPECT_EQ(pass(100ms), (Calls{"drop countdown", "pill", "hide bubble"}));
  selectCamera(true);
  EXPECT_EQ(pass(100ms), Calls{"bubble"});

  // Finishing leaves the bubble until the recording is back to idle.
  recording().stopRecording();
  ASSERT_EQ(recording().phase(), Phase::finishing());
  EXPECT_EQ(pass(100ms), (Calls{"drop pill", "hide annotations"}));
  waitForPhase(Phase::idle());
  EXPECT_EQ(pass(500ms), (Calls{"drop countdown", "drop pill", "hide annotations", "bubble"}));
}

TEST_F(PhaseWatcherTest, TheLoopPollsByPhaseAndEndsWhenStoppedReplacedOrGone) {
  // The clock is advanced to points between passes, never onto one.
  watcher.start();  // the first pass runs at once
  EXPECT_EQ(view.trayRefreshes, 1);
  clock->advance(0.45);
  EXPECT_EQ(view.trayRefreshes, 1);
  clock->advance(0.1);
  EXPECT_EQ(view.trayRefreshes, 2);

  // Starting again replaces the loop: still one pass per half second, and the new loop
  // begins from nothing seen.
  view.take();
  watcher.start();
  EXPECT_EQ(view.take().size(), 6u);
  int before = view.trayRefreshes;
  clock->advance(1.2);
  EXPECT_EQ(view.trayRefreshes, before + 2);

  // While a recording is prepared or runs, ten passes a second.
  recording().startCountdown();
  waitForPhase(Phase::countdown(3));
  clock->advance(0.4);  // the idle sleep under way ends first
  before = view.trayRefreshes;
  clock->advance(0.35);
  EXPECT_EQ(view.trayRefreshes, before + 3);

  watcher.stop();
  clock->advance(0.15);
  before = view.trayRefreshes;
  clock->advance(0.3);
  EXPECT_EQ(view.trayRefreshes, before);

  // A watcher destroyed mid-sleep is woken by the clock and ends without touching anything.
  auto shortLived = std::make_unique<PhaseWatcher>(*model, view);
  shortLived->start();
  before = view.trayRefreshes;
  shortLived.reset();
  clock->advance(0.3);
  EXPECT_EQ(view.trayRefreshes, before);
}

// A recording or a pause is stopped and gets 1.5 s of grace before the quit; a countdown
// or a finish already under way does not hold the quit back.
TEST(QuitCoordinatorTest, OnlyARecordingUnderWayIsStoppedAndGetsItsGrace) {
  for (const Phase& phase : {Phase::idle(), Phase::countdown(2), Phase::finishing(), Phase::recording(), Phase::paused()}) {
    SCOPED_TRACE(phase.text());
    const bool capturing = phase.isCapturing();
    const auto log = MemoryLogSink::attach();
    FakeModelClock clock;
    int stops = 0, quits = 0;
    const QuitCoordinator::Hooks hooks{[&] { return phase; }, [&] { ++stops; }, [&] { ++quits; }};
    auto quit = std::make_unique<QuitCoordinator>(clock, hooks);
    quit->requestQuit();
    EXPECT_EQ(stops, capturing ? 1 : 0);
    EXPECT_EQ(quits, capturing ? 0 : 1);
    if (!capturing) continue;
    EXPECT_TRUE(quit->isQuitPending());
    EXPECT_TRUE(log->contains("lifecycle", LogLevel::info, "quit requested mid-recording — closing the file first"));
    // Asking again during the grace neither stops twice nor hurries the quit.
    quit->requestQuit();
    clock.advance(1.49);
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(stops, 1);
    clock.advance(0.02);
    EXPECT_EQ(quits, 1);
    // A coordinator gone during the grace quits nothing.
    quit = std::make_unique<QuitCoordinator>(clock, hooks);
    quit->requestQuit();
    quit.reset();
    clock.advance(2);
    EXPECT_EQ(quits, 1);
  }
}

}  // namespace
}  // namespace tolvane
