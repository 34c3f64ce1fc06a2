#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>

#include "kit/base/log.h"

namespace tolvane {

// One captured log line.
struct LogEntry {
  std::string category;
  LogLevel level;
  std::string message;

  bool operator==(const LogEntry&) const = default;
};

// Keeps every line it receives in memory so that tests can assert exact log lines.
// Attach with `MemoryLogSink::attach()`; it detaches itself when the handle dies.
class MemoryLogSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  class Attachment {
   public:
    explicit Attachment(std::shared_ptr<MemoryLogSink> sink);
    ~Attachment();
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    MemoryLogSink& operator*() const { return *sink_; }
    MemoryLogSink* operator->() const { return sink_.get(); }

   private:
    std::shared_ptr<MemoryLogSink> sink_;
  };

  static Attachment attach();

  std::vector<LogEntry> entries() const;
  // Messages of one category, in order.
  std::vector<std::string> messages(const std::string& category) const;
  bool contains(const std::string& category, LogLevel level, const std::string& message) const;
  void clear();

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override;
  void flush_() override {}

 private:
  mutable std::mutex entriesMutex_;
  std::vector<LogEntry> entries_;
};

}  // namespace tolvane
