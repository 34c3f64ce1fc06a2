// Movie commands: measure a file, recover interrupted recordings, trim a recording.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <stdexcept>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/cli/cli_command.h"
#include "kit/media/media_probe.h"
#include "kit/vault/trimmer.h"

namespace tolvane::cli {
namespace {

double secondsArgument(Args& args, const char* what) {
  const std::string text = args.positional(what);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) || value < 0) {
    throw UsageError(std::string(what) + " must be a number of seconds, not '" + text + "'");
  }
  return value;
}

int probe(Args& args, Console& console) {
  const std::filesystem::path file = args.positional("FILE");
  const bool json = args.flag("--json");
  args.finish();
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) throw std::runtime_error("There's no file at " + file.string() + ".");
  const double duration = probeDuration(file);
  if (duration <= 0) throw std::runtime_error("Tolvane couldn't read a movie in " + file.string() + ".");
  if (json) {
    console.out << nlohmann::json{{"path", file.string()}, {"durationSec", duration}}.dump(2) << "\n";
  } else {
    console.out << fmt::format("{:.3f}\n", duration);
  }
  return 0;
}

int recover(Args& args, Console& console) {
  const bool json = args.flag("--json");
  args.finish();
  CliServices cli;
  const RecoveryReport report = cli.services.library().recoverInterrupted();
  if (json) {
    console.out << nlohmann::json{{"recovered", report.recovered},
                                  {"unreadable", report.unreadable},
                                  {"empty", report.empty},
                                  {"inProgress", report.inProgress}}
                       .dump(2)
                << "\n";
    return 0;
  }
  if (report.isEmpty()) {
    console.out << "No interrupted recordings.\n";
    return 0;
  }
  auto list = [&](const char* heading, const std::vector<std::string>& ids) {
    console.out << heading << ": " << ids.size() << "\n";
    for (const auto& id : ids) console.out << "  " << id << "\n";
  };
  list("Recovered (ready to upload)", report.recovered);
  list("Unreadable (needs attention)", report.unreadable);
  list("Empty (needs attention)", report.empty);
  if (!report.inProgress.empty()) list("Still being recorded by a running Tolvane (left alone)", report.inProgress);
  return 0;
}

int trim(Args& args, Console& console) {
  const std::string text = args.positional("ID");
  const double start = secondsArgument(args, "START");
  const double end = secondsArgument(args, "END");
  const bool json = args.flag("--json");
  args.finish();

  CliServices cli;
  const std::string id = cli.services.library().find(text).id();
  const Trimmer::Result result = cli.services.library().trim(id, start, end);
  if (json) {
    console.out << nlohmann::json{{"id", id}, {"fileName", result.fileName}, {"durationSec", result.duration}}.dump(2)
                << "\n";
  } else {
    console.out << fmt::format("Trimmed {} to {:.2f} s ({})\n", id, result.duration, result.fileName);
  }
  return 0;
}

}  // namespace

std::vector<Command> mediaCommands() {
  return {
      {"probe", "FILE [--json]", "print the playable length of a movie file in seconds", probe},
      {"recover", "[--json]", "settle recordings interrupted by a crash and report what was found", recover},
      {"trim", "ID START END [--json]", "keep START to END seconds of a recording (in recording-trimmed.mp4)", trim},
  };
}

}  // namespace tolvane::cli
