#include "tests/support/xvfb_server.h"

#include <unistd.h>

#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>

namespace tolvane::testing {

namespace {

bool isTaken(int number) {
  return std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock") ||
         std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number));
}

// Somewhere in a wide range, so parallel tests rarely try the same number first.
int firstCandidate() {
  std::random_device seed;
  return 200 + static_cast<int>(seed() % 3000);
}

}  // namespace

XvfbServer::XvfbServer(int width, int height) {
  int number = firstCandidate();
  for (int attempt = 0; attempt < 20; ++attempt, ++number) {
    if (isTaken(number)) continue;
    const std::string name = fmt::format(":{}", number);
    auto process = std::make_unique<ChildProcess>(std::vector<std::string>{
        "Xvfb", name, "-screen", "0", std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten",
        "tcp", "-noreset"});
    std::filesystem::path socket = "/tmp/.X11-unix/X" + std::to_string(number);
    for (int poll = 0; poll < 500 && process->isRunning() && !std::filesystem::exists(socket); ++poll) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (process->isRunning() && std::filesystem::exists(socket)) {
      process_ = std::move(process);
      displayName_ = name;
      return;
    }
    // Lost a race for this number with another server; try the next one.
  }
  throw std::runtime_error("could not start Xvfb");
}

XvfbServer::~XvfbServer() = default;

void XvfbServer::stop() {
  if (process_) process_->stop();
}

void XvfbServer::signal(int signal) {
  if (process_) process_->kill(signal);
}

std::string XvfbServer::unusedDisplayName() {
  int number = firstCandidate();
  while (isTaken(number)) ++number;
  return fmt::format(":{}", number);
}

}  // namespace tolvane::testing
