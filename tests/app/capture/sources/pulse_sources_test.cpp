// Runs the PulseAudio backend against a private daemon with a null sink (the computer's
// sound) and a null source (a silent microphone).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <numbers>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/pulse_audio_devices.h"
#include "app/capture/sources/source_factory.h"
#include "app/capture/sources/system_source_catalog.h"
#include "tests/support/pulse_daemon.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

// A mono 16-bit WAV file holding a sine.
void writeSineWav(const std::filesystem::path& path, double frequency, double seconds, double amplitude) {
  const std::uint32_t rate = 48000;
  const auto frames = static_cast<std::uint32_t>(seconds * rate);
  std::vector<std::int16_t> samples(frames);
  for (std::uint32_t i = 0; i < frames; ++i) {
    samples[i] = static_cast<std::int16_t>(amplitude * 32767 * std::sin(2 * std::numbers::pi * frequency * i / rate));
  }
  auto le32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto le16 = [](std::uint16_t v) { return std::string{char(v), char(v >> 8)}; };
  std::uint32_t dataBytes = frames * 2;
  std::string header = "RIFF" + le32(36 + dataBytes) + "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(rate) +
                       le32(rate * 2) + le16(2) + le16(16) + "data" + le32(dataBytes);
  std::ofstream out(path, std::ios::binary);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  out.write(reinterpret_cast<const char*>(samples.data()), dataBytes);
}

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
  writeSineWav(folder / "sine.wav", 440, 3.0, 0.5);
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
