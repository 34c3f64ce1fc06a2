#include "kit/base/memory_log_sink.h"

#include <algorithm>

namespace tolvane {
namespace {

LogLevel fromSpdlog(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::trace:
    case spdlog::level::debug: return LogLevel::debug;
    case spdlog::level::info: return LogLevel::info;
    case spdlog::level::warn: return LogLevel::warning;
    default: return LogLevel::error;
  }
}

}  // namespace

MemoryLogSink::Attachment::Attachment(std::shared_ptr<MemoryLogSink> sink) : sink_(std::move(sink)) {
  Log::addSink(sink_);
}

MemoryLogSink::Attachment::~Attachment() { Log::removeSink(sink_); }

MemoryLogSink::Attachment MemoryLogSink::attach() { return Attachment(std::make_shared<MemoryLogSink>()); }

void MemoryLogSink::sink_it_(const spdlog::details::log_msg& msg) {
  LogEntry entry{std::string(msg.logger_name.begin(), msg.logger_name.end()), fromSpdlog(msg.level),
                 std::string(msg.payload.begin(), msg.payload.end())};
  std::lock_guard lock(entriesMutex_);
  entries_.push_back(std::move(entry));
}

std::vector<LogEntry> MemoryLogSink::entries() const {
  std::lock_guard lock(entriesMutex_);
  return entries_;
}

std::vector<std::string> MemoryLogSink::messages(const std::string& category) const {
  std::lock_guard lock(entriesMutex_);
  std::vector<std::string> result;
  for (const auto& entry : entries_) {
    if (entry.category == category) result.push_back(entry.message);
  }
  return result;
}

bool MemoryLogSink::contains(const std::string& category, LogLevel level, const std::string& message) const {
  std::lock_guard lock(entriesMutex_);
  return std::find(entries_.begin(), entries_.end(), LogEntry{category, level, message}) != entries_.end();
}

void MemoryLogSink::clear() {
  std::lock_guard lock(entriesMutex_);
  entries_.clear();
}

}  // namespace tolvane
