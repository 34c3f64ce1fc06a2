#include "kit/base/log.h"

#include <cstdlib>
#include <mutex>

#include <spdlog/logger.h>
#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

namespace tolvane {
namespace {

spdlog::level::level_enum toSpdlog(LogLevel level) {
  switch (level) {
    case LogLevel::debug: return spdlog::level::debug;
    case LogLevel::info: return spdlog::level::info;
    case LogLevel::warning: return spdlog::level::warn;
    case LogLevel::error: return spdlog::level::err;
    case LogLevel::off: return spdlog::level::off;
  }
  return spdlog::level::info;
}

// The sinks every category shares. Built once; sinks are added and removed under the
// distributing sink's own lock.
struct LogHub {
  std::shared_ptr<spdlog::sinks::dist_sink_mt> dist = std::make_shared<spdlog::sinks::dist_sink_mt>();
  std::shared_ptr<spdlog::sinks::stderr_color_sink_mt> stderrSink =
      std::make_shared<spdlog::sinks::stderr_color_sink_mt>();

  LogHub() {
    stderrSink->set_pattern(std::string("%Y-%m-%d %H:%M:%S.%e ") + std::string(Log::subsystem) + " [%n] %^%l%$: %v");
    // TOLVANE_LOG_LEVEL=debug|info|warning|error picks what reaches stderr.
    stderrSink->set_level(spdlog::level::info);
    if (const char* env = std::getenv("TOLVANE_LOG_LEVEL"); env != nullptr && *env != '\0') {
      fromEnvironment = true;
      auto level = spdlog::level::from_str(env);
      if (std::string_view(env) == "warning") level = spdlog::level::warn;
      stderrSink->set_level(level);
    }
    dist->add_sink(stderrSink);
    dist->set_level(spdlog::level::trace);
  }

  static LogHub& shared() {
    static LogHub hub;
    return hub;
  }

  std::shared_ptr<spdlog::logger> logger(std::string_view category) {
    std::lock_guard lock(mutex);
    std::string name(category);
    if (auto existing = spdlog::get(name)) return existing;
    auto created = std::make_shared<spdlog::logger>(name, dist);
    created->set_level(spdlog::level::trace);
    spdlog::register_logger(created);
    return created;
  }

  std::mutex mutex;
  bool fromEnvironment = false;
};

}  // namespace

Logger::Logger(std::string_view category) : logger_(LogHub::shared().logger(category)) {}

void Logger::write(LogLevel level, std::string_view message) const {
  logger_->log(toSpdlog(level), "{}", message);
}

const std::string& Logger::category() const { return logger_->name(); }

void Log::setStderrLevel(LogLevel level) { LogHub::shared().stderrSink->set_level(toSpdlog(level)); }

bool Log::stderrLevelFromEnvironment() { return LogHub::shared().fromEnvironment; }

void Log::addSink(std::shared_ptr<spdlog::sinks::sink> sink) { LogHub::shared().dist->add_sink(std::move(sink)); }

void Log::removeSink(const std::shared_ptr<spdlog::sinks::sink>& sink) { LogHub::shared().dist->remove_sink(sink); }

}  // namespace tolvane
