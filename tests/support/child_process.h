#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::testing {

// A program the test starts and stops by PID: servers, Xvfb, daemons, or a copy of the
// test binary itself running one scenario. Its output goes to `logFile` when given.
class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> extraEnv = {},
               std::optional<std::filesystem::path> logFile = std::nullopt);
  ~ChildProcess();  // SIGTERM, then SIGKILL after two seconds
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool isRunning();
  void kill(int signal);
  // Waits for the exit; returns the exit status, or 128 + signal when killed, or none
  // on time-out.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  void stop();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Path of a program built in this tree (e.g. "tolvane-cli"), from TOLVANE_BUILD_DIR.
std::filesystem::path builtProgram(const std::string& relativePath);

// A TCP port on 127.0.0.1 that was free a moment ago.
int freeLoopbackPort();
// Polls until something accepts connections on 127.0.0.1:port.
bool waitForPort(int port, std::chrono::milliseconds timeout);

struct CommandResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs a command to completion and collects its exit status and output.
CommandResult runCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv = {});

}  // namespace tolvane::testing
