#pragma once

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/source_factory.h"

namespace tolvane::testing {

// Keeps the handlers a source was started with, so that the test can feed it by hand.
template <typename Source, typename Item>
class FakeSource : public Source {
 public:
  void start(std::function<void(const Item&)> onItem, typename Source::FailureHandler onFailure) override {
    std::lock_guard lock(mutex_);
    onItem_ = std::move(onItem);
    onFailure_ = std::move(onFailure);
  }
  void stop() override { start(nullptr, nullptr); }
  void send(const Item& item) {
    std::lock_guard lock(mutex_);
    if (onItem_) onItem_(item);
  }
  void fail(const std::string& message) {
    std::lock_guard lock(mutex_);
    if (onFailure_) onFailure_(message);
  }

 private:
  std::mutex mutex_;
  std::function<void(const Item&)> onItem_;
  typename Source::FailureHandler onFailure_;
};

class FakeScreen : public FakeSource<ScreenSource, ScreenFrame> {
 public:
  explicit FakeScreen(ScreenCaptureSettings settings) : settings_(settings) {}
  const ScreenCaptureSettings& settings() const override { return settings_; }
  void deliver(double hostTime) {
    VideoFrame frame = VideoFrame::allocate(settings_.width, settings_.height);
    frame.fill(90, 90, 90, 255);
    send(ScreenFrame{frame, hostTime, FrameStatus::complete});
  }

 private:
  ScreenCaptureSettings settings_;
};

// A screen whose stop() is stuck (a read from a server that stopped answering) until
// `release` is set; the read then returns one last frame, as a stuck read would.
class HangingScreen : public FakeScreen {
 public:
  HangingScreen(ScreenCaptureSettings settings, std::shared_future<void> release,
                std::shared_ptr<std::promise<void>> gone)
      : FakeScreen(settings), release_(std::move(release)), gone_(std::move(gone)) {}
  ~HangingScreen() override { gone_->set_value(); }
  void stop() override {
    release_.wait();
    deliver(2000);
    FakeScreen::stop();
  }

 private:
  std::shared_future<void> release_;
  std::shared_ptr<std::promise<void>> gone_;
};

using FakeAudio = FakeSource<AudioSource, CapturedAudio>;
using FakeCamera = FakeSource<CameraSource, VideoFrame>;

// Hands out fakes and keeps pointers to them so the test can drive them.
class FakeFactory : public SourceFactory {
 public:
  std::unique_ptr<ScreenSource> openScreen(const CaptureTarget&, const ScreenCaptureSettings& settings) override {
    openedSettings = settings;
    if (!hangingStop) return kept(screen, settings);
    auto made = std::make_unique<HangingScreen>(settings, *hangingStop, hungScreenGone);
    screen = made.get();
    return made;
  }
  std::unique_ptr<AudioSource> openMicrophone(const std::optional<std::string>&) override { return kept(microphone); }
  std::unique_ptr<AudioSource> openSystemAudio() override {
    if (hasSoundOutput) return kept(systemAudio);
    throw CaptureSourceError(CaptureSourceError::Kind::deviceUnavailable,
                             "Tolvane couldn't find the computer's sound output.");
  }
  std::unique_ptr<CameraSource> openCamera(const std::string&) override { return kept(camera); }

  ScreenCaptureSettings openedSettings;
  std::optional<std::shared_future<void>> hangingStop;  // set: the screen's stop() hangs
  std::shared_ptr<std::promise<void>> hungScreenGone = std::make_shared<std::promise<void>>();
  FakeScreen* screen = nullptr;
  FakeCamera* camera = nullptr;
  FakeAudio* microphone = nullptr;
  FakeAudio* systemAudio = nullptr;
  bool hasSoundOutput = true;

 private:
  template <typename Fake, typename... Args>
  static std::unique_ptr<Fake> kept(Fake*& pointer, Args&&... args) {
    auto made = std::make_unique<Fake>(std::forward<Args>(args)...);
    pointer = made.get();
    return made;
  }
};

}  // namespace tolvane::testing
