// Runs the PulseAudio backend against a private daemon with a null sink (the computer's
// sound) and a null source (a silent microphone).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/pulse_audio_devices.h"
#include "app/capture/sources/source_factory.h"
#include "app/capture/sources/system_source_catalog.h"
#include "tests/support/pulse_daemon.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

class AudioCollector {
 public:
  AudioSource::BufferHandler handler() {
    return [this](const CapturedAudio& audio) {
      std::lock_guard lock(mutex_);
      buffers_.push_back(audio);
      changed_.notify_all();
    };
  }
  bool waitFor(const std::function<bool(const std::vector<CapturedAudio>&)>& predicate) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 20s, [&] { return predicate(buffers_); });
  }
  std::vector<CapturedAudio> buffers() {
    std::lock_guard lock(mutex_);
    return buffers_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<CapturedAudio> buffers_;
};

double rms(const CapturedAudio& audio) {
  double sum = 0;
  for (float s : audio.samples) sum += static_cast<double>(s) * s;
  return audio.samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(audio.samples.size()));
}

class PulseSourcesTest : public ::testing::Test {
 protected:
  testing::PulseDaemon daemon;
  testing::ScopedEnv server{"PULSE_SERVER", daemon.serverAddress().c_str()};
};

TEST_F(PulseSourcesTest, MicrophonesAreTheSourcesThatAreNotMonitors) {
  PulseAudioDevices devices = PulseAudioDevices::query();
  ASSERT_TRUE(devices.isReachable());
  auto microphones = devices.microphones();
  ASSERT_EQ(microphones.size(), 1u);
  EXPECT_EQ(microphones[0].id, testing::PulseDaemon::microphoneName);
  EXPECT_FALSE(microphones[0].name.empty());
  EXPECT_EQ(devices.defaultInput(), testing::PulseDaemon::microphoneName);
  EXPECT_EQ(devices.systemAudioSource(), std::string(testing::PulseDaemon::sinkName) + ".monitor");
  EXPECT_TRUE(devices.hasSource(std::string(testing::PulseDaemon::sinkName) + ".monitor"));
  EXPECT_EQ(SystemSourceCatalog().microphones(), microphones);
}

TEST_F(PulseSourcesTest, SystemAudioCarriesWhatTheComputerPlays) {
  auto source = SystemSourceFactory().openSystemAudio();
  AudioCollector collector;
  source->start(collector.handler(), [](const std::string&) {});

  testing::TempDir folder;
  auto made = testing::runCommand({"ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
                                   "aevalsrc=0.5*sin(440*2*PI*t):s=48000:d=3", (folder / "sine.wav").string()});
  ASSERT_EQ(made.status, 0) << made.err;
  testing::ChildProcess player({"paplay", "--device", testing::PulseDaemon::sinkName, (folder / "sine.wav").string()},
                               daemon.clientEnvironment());
  // Half a second of loud buffers in a row is the tone arriving.
  auto loudStretch = [](const std::vector<CapturedAudio>& buffers) {
    int run = 0;
    for (const auto& b : buffers) {
      run = rms(b) > 0.2 ? run + 1 : 0;
      if (run >= 50) return true;
    }
    return false;
  };
  ASSERT_TRUE(collector.waitFor(loudStretch)) << "the sine never reached the monitor";
  source->stop();

  auto buffers = collector.buffers();
  std::vector<float> left;
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    EXPECT_EQ(buffers[i].channels, 2);
    if (i > 0) {
      EXPECT_NEAR(buffers[i].presentationTime - buffers[i - 1].presentationTime, buffers[i - 1].duration(), 1e-6);
    }
    if (rms(buffers[i]) > 0.2) {
      for (std::int64_t f = 0; f < buffers[i].frameCount(); ++f) left.push_back(buffers[i].samples[static_cast<std::size_t>(f) * 2]);
    }
  }
  // The energy is the tone's: 0.5 amplitude is an RMS of about 0.35, at 440 Hz.
  ASSERT_GE(left.size(), 24000u);
  int crossings = 0;
  for (std::size_t i = 1; i < left.size(); ++i) crossings += (left[i - 1] < 0) != (left[i] < 0);
  double frequency = crossings / 2.0 / (static_cast<double>(left.size()) / 48000.0);
  EXPECT_NEAR(frequency, 440, 25);
}

TEST_F(PulseSourcesTest, AMissingMicrophoneFallsBackToTheDefaultInputUntilThereIsNone) {
  SystemSourceFactory factory;
  auto microphone = factory.openMicrophone(std::string("alsa_input.unplugged"));
  AudioCollector collector;
  microphone->start(collector.handler(), [](const std::string&) {});
  EXPECT_TRUE(collector.waitFor([](const auto& buffers) { return buffers.size() >= 5; }));
  microphone->stop();
  for (const auto& buffer : collector.buffers()) EXPECT_EQ(rms(buffer), 0.0);  // the null source is silent

  auto unloaded = testing::runCommand({"pactl", "unload-module", "module-null-source"}, daemon.clientEnvironment());
  ASSERT_EQ(unloaded.status, 0) << unloaded.err;
  try {
    factory.openMicrophone(std::string("alsa_input.unplugged"));
    FAIL();
  } catch (const CaptureSourceError& error) {
    EXPECT_STREQ(error.what(), "Tolvane couldn't find that microphone.");
    EXPECT_EQ(error.kind(), CaptureSourceError::Kind::deviceUnavailable);
  }
}

TEST(PulseUnreachableTest, NoServerMeansNoDevices) {
  testing::ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/tolvane/native");
  EXPECT_FALSE(PulseAudioDevices::query().isReachable());
  EXPECT_TRUE(SystemSourceCatalog().microphones().empty());
  SystemSourceFactory factory;
  EXPECT_THROW(factory.openMicrophone(std::nullopt), CaptureSourceError);
  EXPECT_THROW(factory.openSystemAudio(), CaptureSourceError);
}

}  // namespace
}  // namespace tolvane
