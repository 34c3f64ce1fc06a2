#include "app/core/recording_settings_store.h"

#include <QSettings>
#include <QStandardPaths>

namespace tolvane {

namespace {

constexpr auto targetKey = "recording/target";
constexpr auto microphoneKey = "recording/microphone";
constexpr auto cameraKey = "recording/camera";
constexpr auto systemAudioKey = "recording/includeSystemAudio";
constexpr auto bubbleKey = "recording/bubble";

std::optional<std::string> readText(const QSettings& settings, const char* key) {
  if (!settings.contains(QLatin1String(key))) return std::nullopt;
  return settings.value(QLatin1String(key)).toString().toStdString();
}

}  // namespace

RecordingSettingsStore::RecordingSettingsStore(const QString& path)
    : settings_(std::make_unique<QSettings>(path.isEmpty() ? defaultPath() : path, QSettings::IniFormat)) {}

RecordingSettingsStore::~RecordingSettingsStore() = default;

QString RecordingSettingsStore::defaultPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/com.tolvanelabs.Tolvane/Tolvane.conf");
}

RecordingSettingsStore::Choices RecordingSettingsStore::load() const {
  Choices choices;
  choices.targetID = readText(*settings_, targetKey);
  choices.microphoneID = readText(*settings_, microphoneKey);
  choices.cameraID = readText(*settings_, cameraKey);
  if (settings_->contains(QLatin1String(systemAudioKey))) {
    choices.includeSystemAudio = settings_->value(QLatin1String(systemAudioKey)).toBool();
  }
  if (auto bubble = readText(*settings_, bubbleKey)) {
    try {
      choices.bubble = BubbleLayout::decode(*bubble);
    } catch (const BubbleLayout::DecodingError&) {
      // A hand-edited or older entry: the default layout is better than none.
    }
  }
  return choices;
}

void RecordingSettingsStore::saveTarget(const std::optional<std::string>& id) {
  settings_->setValue(QLatin1String(targetKey), QString::fromStdString(id.value_or("")));
}

void RecordingSettingsStore::saveMicrophone(const std::optional<std::string>& id) {
  settings_->setValue(QLatin1String(microphoneKey), QString::fromStdString(id.value_or("")));
}

void RecordingSettingsStore::saveCamera(const std::optional<std::string>& id) {
  settings_->setValue(QLatin1String(cameraKey), QString::fromStdString(id.value_or("")));
}

void RecordingSettingsStore::saveIncludeSystemAudio(bool include) {
  settings_->setValue(QLatin1String(systemAudioKey), include);
}

void RecordingSettingsStore::saveBubble(const BubbleLayout& bubble) {
  settings_->setValue(QLatin1String(bubbleKey), QString::fromStdString(bubble.encode()));
}

}  // namespace tolvane
