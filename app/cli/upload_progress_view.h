#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace tolvane::cli {

// Shows the transfer of one recording at a time on stderr: a bar redrawn in place with
// bytes, rate and time left on a terminal, and a plain line when an item starts and
// when its bytes are all sent otherwise.
class UploadProgressView {
 public:
  UploadProgressView(std::ostream& err, bool isTerminal) : err_(err), isTerminal_(isTerminal) {}

  // One progress report of the item `id` titled `title`.
  void update(const std::string& id, const std::string& title, std::int64_t uploadedBytes, std::int64_t totalBytes);
  // Ends the bar of the current item, if one is drawn.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;

  void draw(std::int64_t uploadedBytes, std::int64_t totalBytes);

  std::ostream& err_;
  bool isTerminal_;
  std::string currentID_;
  std::string title_;
  Clock::time_point startedAt_{};
  std::int64_t startBytes_ = 0;
  Clock::time_point lastDrawAt_{};
  bool drawn_ = false;
};

}  // namespace tolvane::cli
