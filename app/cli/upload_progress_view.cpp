#include "app/cli/upload_progress_view.h"

#include <algorithm>
#include <ostream>

#include <fmt/format.h>

#include "kit/base/format.h"

namespace tolvane::cli {
namespace {

constexpr int kBarWidth = 24;
// Redraws are limited so that a fast loopback upload does not flood the terminal.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string bar(double fraction) {
  const int filled = int(std::clamp(fraction, 0.0, 1.0) * kBarWidth);
  return std::string(std::size_t(filled), '#') + std::string(std::size_t(kBarWidth - filled), '-');
}

}  // namespace

void UploadProgressView::update(const std::string& id, const std::string& title, std::int64_t uploadedBytes,
                                std::int64_t totalBytes) {
  if (id != currentID_) {
    finish();
    currentID_ = id;
    title_ = title;
    startedAt_ = Clock::now();
    startBytes_ = uploadedBytes;
    if (!isTerminal_) {
      err_ << fmt::format("Uploading \"{}\" ({}{})\n", title, formatByteCount(totalBytes),
                          uploadedBytes > 0 ? fmt::format(", resuming at {}", formatByteCount(uploadedBytes)) : "");
    }
  }
  if (isTerminal_) {
    const auto now = Clock::now();
    if (!drawn_ || uploadedBytes >= totalBytes || now - lastDrawAt_ >= kRedrawInterval) {
      draw(uploadedBytes, totalBytes);
      lastDrawAt_ = now;
    }
  } else if (uploadedBytes >= totalBytes) {
    const double seconds = std::chrono::duration<double>(Clock::now() - startedAt_).count();
    err_ << fmt::format("Sent {} of \"{}\" in {}\n", formatByteCount(totalBytes), title_, formatDuration(seconds));
  }
}

void UploadProgressView::draw(std::int64_t uploadedBytes, std::int64_t totalBytes) {
  const double fraction = totalBytes > 0 ? double(uploadedBytes) / double(totalBytes) : 0;
  const double elapsed = std::chrono::duration<double>(Clock::now() - startedAt_).count();
  const double rate = elapsed > 0.2 ? double(uploadedBytes - startBytes_) / elapsed : 0;
  std::string timeLeft = "--:--";
  if (rate > 0) timeLeft = formatDuration(double(totalBytes - uploadedBytes) / rate);
  err_ << fmt::format("\r\033[K{} [{}] {:>3}%  {} of {}  {}/s  {} left", title_, bar(fraction), int(fraction * 100),
                      formatByteCount(uploadedBytes), formatByteCount(totalBytes),
                      formatByteCount(std::int64_t(rate)), timeLeft)
       << std::flush;
  drawn_ = true;
}

void UploadProgressView::finish() {
  if (drawn_) err_ << "\n" << std::flush;
  drawn_ = false;
  currentID_.clear();
}

}  // namespace tolvane::cli
