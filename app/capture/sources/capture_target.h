#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <variant>

namespace tolvane {

// Something that can be recorded: a whole display or a single window. Width and height
// are the sizes the X server reports, in pixels; the capture engine derives the video
// size from them.
class CaptureTarget {
 public:
  struct Display {
    std::uint32_t displayID = 0;
    std::string name;
    int width = 0;
    int height = 0;
    bool operator==(const Display&) const = default;
  };
  struct Window {
    std::uint32_t windowID = 0;
    std::string title;  // empty when the window has none
    std::string applicationName;
    int width = 0;
    int height = 0;
    bool operator==(const Window&) const = default;
  };

  static CaptureTarget display(std::uint32_t displayID, std::string name, int width, int height);
  static CaptureTarget window(std::uint32_t windowID, std::string title, std::string applicationName, int width,
                              int height);

  bool isDisplay() const { return std::holds_alternative<Display>(value_); }
  // Only valid for the matching kind.
  const Display& asDisplay() const { return std::get<Display>(value_); }
  const Window& asWindow() const { return std::get<Window>(value_); }

  // "display-1", "window-4711": how selections are stored and compared.
  std::string id() const;
  // A display's name; for a window "Application — Title", or the application alone.
  std::string label() const;
  int width() const;
  int height() const;

  bool operator==(const CaptureTarget&) const = default;

 private:
  explicit CaptureTarget(std::variant<Display, Window> value) : value_(std::move(value)) {}
  std::variant<Display, Window> value_;
};

// A microphone (a sound-server source that is not a monitor) or a camera. `id` is what a
// recording's options carry to pick the device again; `name` is what the user reads.
struct AudioDeviceOption {
  std::string id;
  std::string name;
  bool operator==(const AudioDeviceOption&) const = default;
};

struct CameraOption {
  std::string id;
  std::string name;
  bool operator==(const CameraOption&) const = default;
};

}  // namespace tolvane

template <>
struct std::hash<tolvane::AudioDeviceOption> {
  std::size_t operator()(const tolvane::AudioDeviceOption& option) const noexcept {
    return std::hash<std::string>{}(option.id) ^ (std::hash<std::string>{}(option.name) << 1);
  }
};

template <>
struct std::hash<tolvane::CameraOption> {
  std::size_t operator()(const tolvane::CameraOption& option) const noexcept {
    return std::hash<std::string>{}(option.id) ^ (std::hash<std::string>{}(option.name) << 1);
  }
};
