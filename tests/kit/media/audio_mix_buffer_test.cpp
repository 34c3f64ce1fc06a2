#include "kit/media/audio_mix_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "kit/media/audio_sample_reader.h"

namespace tolvane {
namespace {

// The capture engine's mixer: five seconds of 48 kHz stereo, 0.3 s behind.
AudioMixBuffer engineMixer() { return AudioMixBuffer(48000, 2, 0.3, 5.0); }

std::vector<float> constant(std::size_t frames, float value, int channels = 2) {
  return std::vector<float>(frames * static_cast<std::size_t>(channels), value);
}

TEST(AudioMixBufferTest, DrainsFromTheFirstMixSourcesAddUpClippedAndLateFramesAreCounted) {
  auto mixer = engineMixer();
  EXPECT_FALSE(mixer.drain(std::int64_t{1000}));
  for (const auto& [value, frame] : {std::pair{0.5f, 500}, {0.75f, 510}, {-0.75f, 520}}) {
    mixer.mix(constant(10, value), frame);
    mixer.mix(constant(10, value), frame);
  }
  EXPECT_FALSE(mixer.drain(std::int64_t{500}));
  auto drained = mixer.drain(std::int64_t{600});
  ASSERT_TRUE(drained);
  EXPECT_EQ(drained->startFrame, 500);  // the timeline starts at the first mix
  EXPECT_EQ(drained->samples.size(), 200u);
  EXPECT_FLOAT_EQ(drained->samples[0], 1.0f);
  EXPECT_FLOAT_EQ(drained->samples[20], 1.0f);   // 1.5 clipped
  EXPECT_FLOAT_EQ(drained->samples[59], -1.0f);  // -1.5 clipped
  EXPECT_FLOAT_EQ(drained->samples[60], 0.0f);

  // Frames before what was drained are late: counted, and the rest is mixed.
  std::vector<float> chunk(480 * 2);
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<float>(i / 2) / 1000.0f;
  mixer.mix(chunk, 500);
  EXPECT_EQ(mixer.lateFrames(), 100);
  auto rest = mixer.drainAll();
  ASSERT_TRUE(rest.has_value());
  EXPECT_EQ(rest->startFrame, 600);
  ASSERT_EQ(rest->samples.size(), 380u * 2);
  EXPECT_FLOAT_EQ(rest->samples[0], 0.1f);  // chunk frame 100 landed on frame 600
}

TEST(AudioMixBufferTest, TheRingReusesDrainedSlotsSilentAndDropsFramesBeyondItsCapacity) {
  AudioMixBuffer mixer(100, 1, 0.0, 1.0);  // 100 frames of mono
  mixer.mix(std::vector<float>(100, 0.4f), 0);
  mixer.mix(std::vector<float>(20, 0.5f), 95);  // frames 100..114 do not fit yet
  EXPECT_EQ(mixer.lateFrames(), 0);
  auto first = mixer.drain(std::int64_t{10});
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->samples, std::vector<float>(10, 0.4f));
  // Frames 100..109 reuse the slots of frames 0..9.
  mixer.mix(std::vector<float>(10, 0.1f), 105);
  auto rest = mixer.drain(std::int64_t{1000});
  ASSERT_TRUE(rest.has_value());
  ASSERT_EQ(rest->samples.size(), 100u) << "never more than the capacity at once";
  EXPECT_FLOAT_EQ(rest->samples[89], 0.9f);  // frame 99: the part of the overflowing write that fitted
  EXPECT_FLOAT_EQ(rest->samples[90], 0.0f);  // frame 100: silence, neither the old 0.4 nor the dropped 0.5
  EXPECT_FLOAT_EQ(rest->samples[95], 0.1f);  // frame 105
}

template <typename T>
std::vector<std::byte> bytesOf(const std::vector<T>& values) {
  std::vector<std::byte> bytes(values.size() * sizeof(T));
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

// Every layout the capture sources deliver becomes interleaved stereo floats.
TEST(AudioSampleReaderTest, ReadsEveryLayoutAsStereoAndRefusesWhatItCannotRead) {
  const std::vector<float> left{0.1f, 0.2f};
  const std::vector<float> six{0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 1.0f, 1.1f, 1.2f};
  const struct {
    AudioFormat format;
    std::int64_t frames;
    std::vector<std::vector<std::byte>> planes;
    std::optional<std::vector<float>> expected;
  } cases[] = {
      {{48000, 1, SampleType::int16, true}, 3, {bytesOf(std::vector<std::int16_t>{-32768, 16384, 0})},
       std::vector<float>{-1.0f, -1.0f, 0.5f, 0.5f, 0.0f, 0.0f}},
      {{48000, 6, SampleType::float32, true}, 2, {bytesOf(six)}, std::vector<float>{0.1f, 0.2f, 0.7f, 0.8f}},
      {{48000, 2, SampleType::float32, false}, 2, {bytesOf(left), bytesOf(std::vector<float>{-0.1f, -0.2f})},
       std::vector<float>{0.1f, -0.1f, 0.2f, -0.2f}},
      {{48000, 2, SampleType::float32, false}, 2, {bytesOf(left), {}}, std::vector<float>{0.1f, 0.0f, 0.2f, 0.0f}},
      {{48000, 1, SampleType::float32, false}, 2, {bytesOf(left)}, std::vector<float>{0.1f, 0.1f, 0.2f, 0.2f}},
      {{48000, 1, SampleType::int32, true}, 2, {bytesOf(std::vector<std::int32_t>{1, 2})}, std::nullopt},
      {{48000, 0, SampleType::float32, true}, 2, {{}}, std::nullopt},
      {{48000, 1, SampleType::float32, true}, 0, {{}}, std::nullopt},
      {{48000, 1, SampleType::float32, true}, 2, {{}}, std::nullopt},
      {{48000, 1, SampleType::float32, true}, 2, {bytesOf(std::vector<float>{0.5f})}, std::nullopt},  // too few bytes
  };
  for (const auto& c : cases) {
    const AudioBuffer buffer(c.format, c.frames, MediaTime::zero(), c.planes);
    EXPECT_EQ(AudioSampleReader::interleavedFloats(buffer, 2), c.expected) << c.format.channels << " channels";
  }
}

}  // namespace
}  // namespace tolvane
