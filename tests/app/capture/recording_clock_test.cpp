#include "app/capture/recording_clock.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tolvane {
namespace {

class RecordingClockTest : public ::testing::Test {
 protected:
  double now = 100.0;
  RecordingClock clock{[this] { return now; }};
};

TEST_F(RecordingClockTest, StartsAtTheFirstQuestionAndAnchorsEachSourceAtItsFirstSampleOnItsOwnCadence) {
  EXPECT_EQ(clock.elapsedNowUnpaused(), 0);
  EXPECT_EQ(clock.elapsedNow(), 0.0);  // starts at host 100
  now = 101;
  // The screen's own clock reads 5000 at its first frame: that frame lands at 1 s.
  EXPECT_DOUBLE_EQ(*clock.elapsed(5000.0, ClockSource::screen), 1.0);
  now = 101.9;  // host time no longer matters for this source
  EXPECT_DOUBLE_EQ(*clock.elapsed(5000.5, ClockSource::screen), 1.5);
  // Another source anchors on its own.
  EXPECT_NEAR(*clock.elapsed(7.0, ClockSource::microphone), 1.9, 1e-9);
  EXPECT_NEAR(*clock.elapsed(7.25, ClockSource::microphone), 2.15, 1e-9);
  // Samples that would land before the recording began, or are not a number, get no time.
  EXPECT_FALSE(clock.elapsed(5.0, ClockSource::microphone));
  EXPECT_FALSE(clock.elapsed(std::nan(""), ClockSource::microphone));
  EXPECT_NEAR(*clock.elapsed(7.0, ClockSource::microphone), 1.9, 1e-9);
}

TEST_F(RecordingClockTest, PausedTimeIsLeftOutAndSamplesWhilePausedAreDropped) {
  clock.elapsed(0.0, ClockSource::screen);
  now = 101;
  EXPECT_DOUBLE_EQ(*clock.elapsed(1.0, ClockSource::screen), 1.0);
  EXPECT_TRUE(clock.pause() && !clock.pause());  // the second has nothing to do
  now = 111;
  EXPECT_FALSE(clock.elapsed(10.0, ClockSource::screen) || clock.elapsedNow());
  EXPECT_TRUE(clock.resume() && !clock.resume());
  // The first frame after a 10 s pause follows the last one before it by one interval.
  EXPECT_NEAR(*clock.elapsed(11.0 + 1.0 / 30, ClockSource::screen), 1.0 + 1.0 / 30, 1e-9);
  EXPECT_NEAR(*clock.elapsedNow(), 1.0, 1e-9);
  // A source that starts after the pause is not charged for it: it lands at recording
  // time and follows its own clock from there.
  now = 112;
  EXPECT_DOUBLE_EQ(*clock.elapsed(0.0, ClockSource::microphone), 2.0);
  EXPECT_DOUBLE_EQ(*clock.elapsed(0.5, ClockSource::microphone), 2.5);
}

}  // namespace
}  // namespace tolvane
