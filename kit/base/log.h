#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

#include "kit/base/application_id.h"

namespace spdlog {
class logger;
namespace sinks {
class sink;
}
}  // namespace spdlog

namespace tolvane {

// Severity of a log line. `info` is the level for progress ("default" in the product's
// vocabulary), `error` for failures.
enum class LogLevel { debug, info, warning, error, off };

// A category logger of the subsystem kApplicationID, one per component
// ("vault", "writer", "upload", ...). Cheap to copy; thread-safe.
//
//   Logger log{"vault"};
//   log.error("manifest unreadable at {}; using backup", folder);
class Logger {
 public:
  explicit Logger(std::string_view category);

  template <typename... Args>
  void debug(fmt::format_string<Args...> format, Args&&... args) const {
    write(LogLevel::debug, fmt::format(format, std::forward<Args>(args)...));
  }
  template <typename... Args>
  void info(fmt::format_string<Args...> format, Args&&... args) const {
    write(LogLevel::info, fmt::format(format, std::forward<Args>(args)...));
  }
  template <typename... Args>
  void warning(fmt::format_string<Args...> format, Args&&... args) const {
    write(LogLevel::warning, fmt::format(format, std::forward<Args>(args)...));
  }
  template <typename... Args>
  void error(fmt::format_string<Args...> format, Args&&... args) const {
    write(LogLevel::error, fmt::format(format, std::forward<Args>(args)...));
  }

  void write(LogLevel level, std::string_view message) const;
  const std::string& category() const;

 private:
  std::shared_ptr<spdlog::logger> logger_;
};

// The process-wide log configuration, a documented singleton: every category logger
// writes through one distributing sink, to which stderr and any test sinks are attached.
class Log {
 public:
  static constexpr std::string_view subsystem = kApplicationID;

  // Lines below `level` are not written to stderr (other sinks still see them).
  static void setStderrLevel(LogLevel level);
  // True when TOLVANE_LOG_LEVEL chose the stderr level explicitly.
  static bool stderrLevelFromEnvironment();
  static void addSink(std::shared_ptr<spdlog::sinks::sink> sink);
  static void removeSink(const std::shared_ptr<spdlog::sinks::sink>& sink);
};

}  // namespace tolvane
