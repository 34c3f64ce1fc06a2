#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "app/capture/bubble_layout.h"

class QSettings;

namespace tolvane {

// The recording choices that survive a restart: the target, the microphone, the camera,
// the computer's sound and the bubble's place. Forgetting the microphone at every launch
// is what users of recorders complain about most.
class RecordingSettingsStore {
 public:
  struct Choices {
    // Each device entry is absent when never stored; an empty text stores "none chosen".
    std::optional<std::string> targetID;
    std::optional<std::string> microphoneID;
    std::optional<std::string> cameraID;
    std::optional<bool> includeSystemAudio;
    std::optional<BubbleLayout> bubble;
  };

  // An INI file at `path`; empty means ~/.config/com.tolvanelabs.Tolvane/Tolvane.conf.
  explicit RecordingSettingsStore(const QString& path = {});
  ~RecordingSettingsStore();
  RecordingSettingsStore(const RecordingSettingsStore&) = delete;
  RecordingSettingsStore& operator=(const RecordingSettingsStore&) = delete;

  static QString defaultPath();

  Choices load() const;
  void saveTarget(const std::optional<std::string>& id);
  void saveMicrophone(const std::optional<std::string>& id);
  void saveCamera(const std::optional<std::string>& id);
  void saveIncludeSystemAudio(bool include);
  void saveBubble(const BubbleLayout& bubble);

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace tolvane
