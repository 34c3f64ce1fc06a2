#include "app/cli/cli_command.h"

#include <nlohmann/json.hpp>

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "app/capture/recording_session_rules.h"
#include "app/capture/sources/capture_source_error.h"
#include "app/capture/sources/capture_sources.h"
#include "app/capture/sources/pulse_audio_devices.h"
#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/system_source_catalog.h"
#include "app/cli/cli_recording.h"
#include "app/cli/cli_vault.h"
#include "app/cli/signal_watcher.h"
#include "kit/base/clock.h"
#include "kit/base/format.h"
#include "kit/base/log.h"

namespace tolvane::cli {

namespace {

struct Row {
  std::string id;
  std::string text;
};

void printSection(std::ostream& out, const std::string& heading, const std::vector<Row>& rows) {
  out << heading << "\n";
  if (rows.empty()) out << "  (none)\n";
  std::size_t width = 0;
  for (const Row& row : rows) width = std::max(width, row.id.size());
  for (const Row& row : rows) out << "  " << row.id << std::string(width - row.id.size() + 2, ' ') << row.text << "\n";
}

std::string sizeText(const CaptureTarget& target) {
  return std::to_string(target.width()) + "\u00d7" + std::to_string(target.height());
}

nlohmann::ordered_json targetJSON(const CaptureTarget& target) {
  nlohmann::ordered_json json{{"id", target.id()}, {"label", target.label()}, {"width", target.width()},
                      {"height", target.height()}};
  if (target.isDisplay()) {
    json["name"] = target.asDisplay().name;
  } else {
    json["title"] = target.asWindow().title;
    json["applicationName"] = target.asWindow().applicationName;
  }
  return json;
}

template <typename Option>
nlohmann::ordered_json optionsJSON(const std::vector<Option>& options) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Option& option : options) list.push_back({{"id", option.id}, {"name", option.name}});
  return list;
}

int listSources(Args& args, Console& console) {
  const bool asJSON = args.flag("--json");
  args.finish();

  SystemSourceCatalog catalog;
  // Without an X display there is nothing to record: that is the one-line error.
  CaptureSources::Content content = CaptureSources::shareableContent(catalog);
  std::vector<AudioDeviceOption> microphones = CaptureSources::microphones(catalog);
  std::vector<CameraOption> cameras = CaptureSources::cameras(catalog);

  if (asJSON) {
    nlohmann::ordered_json json;
    json["displays"] = nlohmann::ordered_json::array();
    for (const auto& target : content.displays) json["displays"].push_back(targetJSON(target));
    json["windows"] = nlohmann::ordered_json::array();
    for (const auto& target : content.windows) json["windows"].push_back(targetJSON(target));
    json["microphones"] = optionsJSON(microphones);
    json["cameras"] = optionsJSON(cameras);
    json["synthetic"] = {{"screen", SyntheticSources::screenID},
                         {"microphone", SyntheticSources::toneID},
                         {"camera", SyntheticSources::barsID}};
    console.out << json.dump(2) << "\n";
    return 0;
  }

  std::vector<Row> rows;
  for (const auto& target : content.displays) rows.push_back({target.id(), target.label() + "  " + sizeText(target)});
  printSection(console.out, "Displays", rows);
  rows.clear();
  for (const auto& target : content.windows) rows.push_back({target.id(), target.label() + "  " + sizeText(target)});
  printSection(console.out, "Windows", rows);
  rows.clear();
  for (const auto& option : microphones) rows.push_back({option.id, option.name});
  printSection(console.out, "Microphones", rows);
  rows.clear();
  for (const auto& option : cameras) rows.push_back({option.id, option.name});
  printSection(console.out, "Cameras", rows);
  printSection(console.out, "Test sources",
               {{std::string(SyntheticSources::screenID), "moving test scene (screen)"},
                {std::string(SyntheticSources::toneID), "440 Hz tone (microphone)"},
                {std::string(SyntheticSources::barsID), "colour bars (camera)"}});
  return 0;
}

// Comma-separated fractions between 0 and 1, exactly `count` of them.
std::vector<double> parseFractions(const std::string& text, std::size_t count, const char* option, const char* form) {
  std::vector<double> values;
  const char* position = text.data();
  const char* end = text.data() + text.size();
  while (values.size() < count) {
    double value = 0;
    auto [next, error] = std::from_chars(position, end, value);
    const bool last = values.size() + 1 == count;
    const bool separatorOK = last ? next == end : (next < end && *next == ',');
    if (error != std::errc() || !separatorOK || value < 0 || value > 1) {
      throw UsageError(fmt::format("{} takes {}, fractions between 0 and 1, not '{}'", option, form, text));
    }
    values.push_back(value);
    position = next + 1;
  }
  return values;
}

// "0.5,0.5,0.2": the bubble's centre and its diameter as a fraction of the shorter side.
BubbleLayout parseBubble(const std::string& text) {
  auto values = parseFractions(text, 3, "--bubble", "X,Y,SIZE");
  return BubbleLayout{{values[0], values[1]}, values[2]};
}

// "0.1,0.1,0.3,0.2": a region to blur, its top-left corner and size as fractions of the frame.
Rect parseBlur(const std::string& text) {
  auto values = parseFractions(text, 4, "--blur", "X,Y,WIDTH,HEIGHT");
  return Rect{values[0], values[1], values[2], values[3]};
}

std::optional<std::uint32_t> numberAfter(const std::string& id, std::string_view prefix) {
  if (id.rfind(prefix, 0) != 0) return std::nullopt;
  std::uint32_t number = 0;
  const char* begin = id.data() + prefix.size();
  const char* end = id.data() + id.size();
  auto [next, error] = std::from_chars(begin, end, number);
  if (error != std::errc() || next != end || begin == end) return std::nullopt;
  return number;
}

// The target an id names: the test scene, a listed display or window, or (when it is
// no longer listed) a display or window the engine will report as gone. The default is
// the first display, as in the desktop application.
std::optional<CaptureTarget> resolveTarget(const std::optional<std::string>& id) {
  if (id && (*id == SyntheticSources::screenID || *id == SyntheticSources::screenTarget().id())) {
    return SyntheticSources::screenTarget();
  }
  SystemSourceCatalog catalog;
  CaptureSources::Content content;
  ShareableContent everything;
  try {
    content = CaptureSources::shareableContent(catalog);
    if (id) everything = catalog.shareableContent();
  } catch (const std::exception& error) {
    Logger("app").error("couldn't list capture sources: {}", error.what());
  }
  if (!id) {
    if (content.displays.empty()) return std::nullopt;
    return content.displays.front();
  }
  for (const auto* list : {&content.displays, &content.windows}) {
    for (const CaptureTarget& target : *list) {
      if (target.id() == *id) return target;
    }
  }
  if (auto windowID = numberAfter(*id, "window-")) {
    // Asked for by id although not offered in the picker (small, or off screen).
    for (const WindowInfo& window : everything.windows) {
      if (window.windowID != *windowID) continue;
      return CaptureTarget::window(window.windowID, window.title.value_or(""),
                                   window.owningApplication ? window.owningApplication->applicationName : "Window",
                                   window.width, window.height);
    }
    return CaptureTarget::window(*windowID, "", "Window", 0, 0);
  }
  if (auto displayID = numberAfter(*id, "display-")) return CaptureTarget::display(*displayID, "", 0, 0);
  return std::nullopt;
}

void drawProgress(Console& console, const CliRecording& recording) {
  console.err << "\r\033[KRecording " << formatDuration(recording.elapsed())
              << (recording.isPaused() ? "  (paused)" : "") << std::flush;
}

int record(Args& args, Console& console) {
  // Signals are blocked before any thread starts, so every thread inherits the mask and
  // they all arrive at the watcher.
  SignalWatcher signals{SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2};

  const auto targetID = args.option("--target");
  const auto microphoneID = args.option("--mic");
  const bool noMicrophone = args.flag("--no-mic");
  const bool systemAudio = args.flag("--system-audio");
  const bool noSystemAudio = args.flag("--no-system-audio");
  const auto cameraID = args.option("--camera");
  const auto bubbleText = args.option("--bubble");
  const auto blurText = args.option("--blur");
  const auto seconds = args.numberOption("--seconds", 0.1, 86400.0 * 7);
  const bool asJSON = args.flag("--json");
  args.finish();
  if (microphoneID && noMicrophone) throw UsageError("--mic and --no-mic cannot be used together");
  if (systemAudio && noSystemAudio) throw UsageError("--system-audio and --no-system-audio cannot be used together");

  RecordingOptions options;
  std::optional<CaptureTarget> target = resolveTarget(targetID);
  PulseAudioDevices sound = PulseAudioDevices::query();
  if (!noMicrophone) {
    // A microphone is on by default: the sound server's default input.
    options.microphoneID = microphoneID ? microphoneID : sound.defaultInput();
  }
  options.includeSystemAudio = systemAudio || (!noSystemAudio && sound.systemAudioSource().has_value());
  options.cameraID = cameraID;
  if (bubbleText) options.bubble = parseBubble(*bubbleText);
  std::vector<Rect> blurRects;
  if (blurText) blurRects.push_back(parseBlur(*blurText));
  options.frameRate = RecordingSessionRules::frameRate;
  options.maxLongEdge = RecordingSessionRules::maxLongEdge;

  auto vault = openVault();
  if (auto refusal = RecordingSessionRules::preflight({target.has_value(), vault->availableCapacityBytes()})) {
    throw std::runtime_error(*refusal);
  }
  options.target = *target;

  auto recording = std::make_shared<CliRecording>(*vault, std::make_shared<SystemSourceFactory>(),
                                                  [&signals] { signals.wake(); });
  recording->begin(options);
  if (!blurRects.empty()) recording->updateAnnotations(VideoFrame(), blurRects);
  console.err << "Recording " << options.target.label() << " into " << recording->item().id()
              << (seconds ? fmt::format(" for {} s", *seconds) : std::string()) << ". Press Ctrl-C to stop.\n"
              << std::flush;

  const double startedAt = monotonicSeconds();
  for (;;) {
    if (recording->recordingError()) break;
    if (seconds && monotonicSeconds() - startedAt >= *seconds) break;
    if (console.isTerminal) drawProgress(console, *recording);
    auto signal = signals.wait(std::chrono::milliseconds(100));
    if (!signal) continue;
    if (*signal == SIGUSR1) {
      recording->pause();
    } else if (*signal == SIGUSR2) {
      recording->resume();
    } else {
      break;  // SIGINT, SIGTERM, SIGHUP: finish the file normally
    }
  }
  if (console.isTerminal) drawProgress(console, *recording);
  if (console.isTerminal) console.err << "\n";

  const double duration = recording->stop();
  const VaultItem& item = recording->item();
  const CaptureEngine::Statistics statistics = recording->statistics();
  Logger("app").info("recorded {:.2f}s: {} frames written, {} dropped, {} skipped, {} repeated", duration,
                     statistics.framesWritten, statistics.framesDropped, statistics.framesSkipped,
                     statistics.framesRepeated);
  if (asJSON) {
    nlohmann::ordered_json json{{"id", item.id()},
                                {"file", item.videoURL().string()},
                                {"durationSec", duration},
                                {"state", std::string(rawValue(item.manifest.state))},
                                {"framesWritten", statistics.framesWritten},
                                {"framesDropped", statistics.framesDropped + statistics.framesSkipped}};
    console.out << json.dump(2) << "\n";
  } else {
    console.out << item.id() << "\n" << item.videoURL().string() << "\n";
  }
  console.out.flush();
  if (auto error = recording->recordingError()) throw std::runtime_error(*error);
  if (RecordingSessionRules::isEmptyRecording(duration)) throw std::runtime_error(RecordingSessionRules::emptyRecordingMessage);
  return 0;
}

}  // namespace

std::vector<Command> captureCommands() {
  return {
      Command{"sources", "[--json]", "list the displays, windows, microphones and cameras that can be recorded",
              listSources},
      Command{"record",
              "[--target ID] [--mic ID | --no-mic] [--system-audio | --no-system-audio] [--camera ID] "
              "[--bubble X,Y,SIZE] [--blur X,Y,W,H] [--seconds N] [--json]",
              "record the screen into a new vault item until N seconds, Ctrl-C or SIGTERM", record},
  };
}

}  // namespace tolvane::cli
