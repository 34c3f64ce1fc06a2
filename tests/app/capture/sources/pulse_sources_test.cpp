// Runs the PulseAudio backend against a private daemon with a null sink (the computer's
// sound) and a null source (a silent microphone). That the computer's sound reaches a
// recording is judged end to end in tests/app/cli/record_command_test.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>

#include "app/capture/sources/pulse_audio_devices.h"
#include "app/capture/sources/source_factory.h"
#include "app/capture/sources/system_source_catalog.h"
#include "tests/app/capture/sources/source_test_support.h"
#include "tests/support/pulse_daemon.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::PulseDaemon;
const auto ignoreFailures = [](const std::string&) {};

TEST(PulseSourcesTest, MicrophonesAreTheSourcesThatAreNotMonitorsAndAMissingOneFallsBackToTheDefault) {
  PulseDaemon daemon;
  testing::ScopedEnv server{"PULSE_SERVER", daemon.serverAddress().c_str()};
  PulseAudioDevices devices = PulseAudioDevices::query();
  auto microphones = devices.microphones();
  ASSERT_EQ(microphones.size(), 1u);
  EXPECT_EQ(microphones[0].id, PulseDaemon::microphoneName);
  EXPECT_EQ(devices.defaultInput(), PulseDaemon::microphoneName);
  EXPECT_EQ(devices.systemAudioSource(), std::string(PulseDaemon::sinkName) + ".monitor");
  EXPECT_EQ(SystemSourceCatalog().microphones(), microphones);
  SystemSourceFactory factory;
  EXPECT_NE(factory.openSystemAudio(), nullptr);

  // A missing microphone falls back to the default input until there is none.
  auto microphone = factory.openMicrophone(std::string("alsa_input.unplugged"));
  testing::SourceCollector<CapturedAudio> collector;
  microphone->start(collector.handler(), ignoreFailures);
  EXPECT_GE(collector.items(5).size(), 5u);
  microphone->stop();

  // A source the server keeps suspended is held by another application.
  const auto suspended =
      testing::runCommand({"pactl", "suspend-source", PulseDaemon::microphoneName, "1"}, daemon.clientEnvironment());
  ASSERT_EQ(suspended.status, 0) << suspended.err;
  EXPECT_EQ(testing::sourceError([&] { factory.openMicrophone(std::nullopt)->start(collector.handler(), ignoreFailures); }),
            std::pair(CaptureSourceError::Kind::deviceUnavailable, std::string("That microphone is in use by another app.")));

  auto unloaded = testing::runCommand({"pactl", "unload-module", "module-null-source"}, daemon.clientEnvironment());
  ASSERT_EQ(unloaded.status, 0) << unloaded.err;
  EXPECT_EQ(testing::sourceError([&] { factory.openMicrophone(std::string("alsa_input.unplugged")); }),
            std::pair(CaptureSourceError::Kind::deviceUnavailable, std::string("Tolvane couldn't find that microphone.")));
}

// Headphones plugged in mid-recording: the computer's sound follows the new default
// output. A server that stops answering cannot hold up stop().
TEST(PulseSourcesTest, TheComputersSoundFollowsTheDefaultOutputAndStopsWhileTheServerHangs) {
  PulseDaemon daemon;
  testing::ScopedEnv server{"PULSE_SERVER", daemon.serverAddress().c_str()};
  const auto pactl = [&](std::vector<std::string> words) {
    words.insert(words.begin(), "pactl");
    auto result = testing::runCommand(words, daemon.clientEnvironment());
    EXPECT_EQ(result.status, 0) << result.err;
  };
  pactl({"load-module", "module-null-sink", "sink_name=tolvane_headphones"});
  pactl({"load-module", "module-sine", "sink=tolvane_headphones", "frequency=440"});
  auto sound = SystemSourceFactory().openSystemAudio();
  testing::SourceCollector<CapturedAudio> collector;
  sound->start(collector.handler(), ignoreFailures);
  const auto isSilent = [](const CapturedAudio& b) { return std::ranges::all_of(b.samples, [](float s) { return s == 0; }); };
  EXPECT_TRUE(std::ranges::all_of(collector.items(5), isSilent));  // the tone plays elsewhere
  pactl({"set-default-sink", "tolvane_headphones"});
  EXPECT_TRUE(collector.waitUntil([&](const auto& all) { return !isSilent(all.back()); }));

  daemon.signal(SIGSTOP);
  sound->stop();  // returns though the server answers nothing
  daemon.signal(SIGCONT);
}

TEST(PulseUnreachableTest, NoServerMeansNoDevices) {
  testing::ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/tolvane/native");
  EXPECT_FALSE(PulseAudioDevices::query().systemAudioSource());
  EXPECT_TRUE(SystemSourceCatalog().microphones().empty());
  SystemSourceFactory factory;
  EXPECT_THROW(factory.openMicrophone(std::nullopt), CaptureSourceError);
}

}  // namespace
}  // namespace tolvane
