#include "app/cli/cli_command.h"

#include <nlohmann/json.hpp>

#include <fmt/format.h>

#include <algorithm>
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
#include "app/cli/record_selection.h"
#include "kit/base/signal_watcher.h"
#include "app/services/capture_target_lookup.h"
#include "app/services/recording_session.h"
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
    if (SyntheticSources::enabled()) {
      json["synthetic"] = {{"screen", SyntheticSources::screenID},
                           {"microphone", SyntheticSources::toneID},
                           {"camera", SyntheticSources::barsID}};
    }
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
  if (!SyntheticSources::enabled()) return 0;
  printSection(console.out, "Test sources",
               {{std::string(SyntheticSources::screenID), "moving test scene (screen)"},
                {std::string(SyntheticSources::toneID), "440 Hz tone (microphone)"},
                {std::string(SyntheticSources::barsID), "colour bars (camera)"}});
  return 0;
}

void drawProgress(Console& console, const RecordingSession& recording) {
  console.err << "\r\033[KRecording " << formatDuration(recording.elapsed())
              << (recording.isPaused() ? "  (paused)" : "") << std::flush;
}

// What `record` was asked for, read before anything is opened.
struct RecordRequest {
  std::optional<std::string> targetID;
  std::optional<std::string> microphoneID;
  bool noMicrophone = false;
  bool systemAudio = false;
  bool noSystemAudio = false;
  std::optional<std::string> cameraID;
  std::optional<BubbleLayout> bubble;
  std::vector<Rect> blurRects;
  std::optional<double> seconds;
  bool asJSON = false;
};

RecordRequest readRequest(Args& args) {
  RecordRequest request;
  request.targetID = args.option("--target");
  request.microphoneID = args.option("--mic");
  request.noMicrophone = args.flag("--no-mic");
  request.systemAudio = args.flag("--system-audio");
  request.noSystemAudio = args.flag("--no-system-audio");
  request.cameraID = args.option("--camera");
  if (auto text = args.option("--bubble")) request.bubble = parseBubble(*text);
  if (auto text = args.option("--blur")) request.blurRects.push_back(parseBlur(*text));
  request.seconds = args.numberOption("--seconds", 0.1, 86400.0 * 7);
  request.asJSON = args.flag("--json");
  args.finish();
  if (request.microphoneID && request.noMicrophone) throw UsageError("--mic and --no-mic cannot be used together");
  if (request.systemAudio && request.noSystemAudio) {
    throw UsageError("--system-audio and --no-system-audio cannot be used together");
  }
  return request;
}

// The devices default as in the desktop application: the sound server's default input as
// microphone, the computer's sound when there is a sound server to hear it, no camera.
RecordingOptions chooseOptions(const RecordRequest& request) {
  RecordingOptions options;
  PulseAudioDevices sound = PulseAudioDevices::query();
  if (!request.noMicrophone) options.microphoneID = request.microphoneID ? request.microphoneID : sound.defaultInput();
  options.includeSystemAudio =
      request.systemAudio || (!request.noSystemAudio && sound.systemAudioSource().has_value());
  options.cameraID = request.cameraID;
  if (request.bubble) options.bubble = *request.bubble;
  options.frameRate = RecordingSessionRules::frameRate;
  options.maxLongEdge = RecordingSessionRules::maxLongEdge;
  return options;
}

// Records until the time is up, the engine fails, or SIGINT, SIGTERM or SIGHUP arrives;
// SIGUSR1 pauses and SIGUSR2 resumes.
void recordUntilStopped(RecordingSession& recording, SignalWatcher& signals, std::optional<double> seconds,
                        Console& console) {
  const double startedAt = monotonicSeconds();
  for (;;) {
    if (recording.failure()) break;
    if (seconds && monotonicSeconds() - startedAt >= *seconds) break;
    if (console.isTerminal) drawProgress(console, recording);
    auto signal = signals.wait(std::chrono::milliseconds(100));
    if (!signal) continue;
    if (*signal == SIGUSR1) {
      recording.pause();
    } else if (*signal == SIGUSR2) {
      recording.resume();
    } else {
      break;  // finish the file normally
    }
  }
  if (!console.isTerminal) return;
  drawProgress(console, recording);
  console.err << "\n";
}

void printResult(Console& console, const RecordingSession& recording, double duration, bool asJSON) {
  const VaultItem item = *recording.item();
  const CaptureEngine::Statistics statistics = recording.statistics();
  Logger("app").info("recorded {:.2f}s: {} frames written, {} dropped, {} skipped, {} repeated", duration,
                     statistics.framesWritten, statistics.framesDropped, statistics.framesSkipped,
                     statistics.framesRepeated);
  if (asJSON) {
    nlohmann::ordered_json json{{"id", item.id()},
                                {"file", item.videoPath().string()},
                                {"durationSec", duration},
                                {"state", std::string(rawValue(item.manifest.state))},
                                {"framesWritten", statistics.framesWritten},
                                {"framesDropped", statistics.framesDropped + statistics.framesSkipped}};
    console.out << json.dump(2) << "\n";
  } else {
    console.out << item.id() << "\n" << item.videoPath().string() << "\n";
  }
  console.out.flush();
}

int record(Args& args, Console& console) {
  // Signals are blocked before any thread starts, so every thread inherits the mask and
  // they all arrive at the watcher.
  SignalWatcher signals{SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2};
  const RecordRequest request = readRequest(args);
  const std::optional<CaptureTarget> target = findCaptureTarget(request.targetID);
  RecordingOptions options = chooseOptions(request);

  CliServices cli;
  cli.services.library().requireAccessible();
  RecordingSession recording(cli.services.vault(), cli.services.sources(), cli.executor);
  recording.checkCanStart(target.has_value());
  options.target = *target;

  // Posted on the executor; the loop below reads the sentence through failure().
  recording.setOnFailure([&signals](const std::string&) { signals.wake(); });
  recording.begin(options);
  if (!request.blurRects.empty()) recording.updateAnnotations(VideoFrame(), request.blurRects);
  console.err << "Recording " << options.target.label() << " into " << recording.item()->id()
              << (request.seconds ? fmt::format(" for {} s", *request.seconds) : std::string())
              << ". Press Ctrl-C to stop.\n"
              << std::flush;

  recordUntilStopped(recording, signals, request.seconds, console);
  const double duration = recording.stop();
  printResult(console, recording, duration, request.asJSON);
  // A finished recording can still lack a sound it was asked for; its line says which.
  if (const VaultItem item = *recording.item(); item.manifest.state == RecordingState::ready && item.manifest.notice) {
    console.err << *item.manifest.notice << "\n";
  }
  if (auto error = recording.failure()) throw std::runtime_error(*error);
  if (RecordingSessionRules::isEmptyRecording(duration)) {
    throw std::runtime_error(RecordingSessionRules::emptyRecordingMessage);
  }
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
