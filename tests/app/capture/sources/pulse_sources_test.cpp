// Runs the PulseAudio backend against a private daemon with a null sink (the computer's
// sound) and a null source (a silent microphone).
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <thread>

#include "app/capture/sources/pulse_audio_devices.h"
#include "app/capture/sources/source_factory.h"
#include "app/capture/sources/system_source_catalog.h"
#include "tests/app/capture/sources/source_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

// A private PulseAudio daemon: a null sink (the default, whose monitor is the computer's
// sound) and a null source (a silent microphone), reachable only through its own socket,
// with HOME and the runtime directory in a temporary folder (it runs as root too).
class PulseDaemon {
 public:
  static constexpr const char* sinkName = "tolvane_test_sink";
  static constexpr const char* microphoneName = "tolvane_test_mic";

  PulseDaemon() {
    std::filesystem::create_directories(directory / "runtime");
    auto daemonEnvironment = clientEnvironment();
    daemonEnvironment["PULSE_SERVER"] = "";  // must not look for a server itself
    process = std::make_unique<testing::ChildProcess>(
        std::vector<std::string>{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
                                 "--disallow-exit", "--log-target=stderr",
                                 std::string("--load=module-null-sink sink_name=") + sinkName,
                                 std::string("--load=module-null-source source_name=") + microphoneName,
                                 "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket.string()},
        daemonEnvironment, directory / "pulseaudio.log");
    for (int poll = 0; poll < 300 && process->isRunning(); ++poll) {
      if (testing::runCommand({"pactl", "info"}, clientEnvironment()).status == 0) {
        testing::runCommand({"pactl", "set-default-sink", sinkName}, clientEnvironment());
        testing::runCommand({"pactl", "set-default-source", microphoneName}, clientEnvironment());
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("could not start pulseaudio: " + testing::readFile(directory / "pulseaudio.log"));
  }
  std::string serverAddress() const { return "unix:" + socket.string(); }
  std::map<std::string, std::string> clientEnvironment() const {
    return {{"PULSE_SERVER", serverAddress()}, {"HOME", directory.path().string()},
            {"XDG_RUNTIME_DIR", (directory / "runtime").string()}};
  }
  void signal(int number) { process->kill(number); }  // SIGSTOP: a server that stops answering

 private:
  testing::TempDir directory;
  std::filesystem::path socket = directory / "native";
  std::unique_ptr<testing::ChildProcess> process;
};

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
