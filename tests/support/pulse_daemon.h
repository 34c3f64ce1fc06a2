#pragma once

#include <map>
#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane::testing {

// A private PulseAudio daemon for one test: a null sink "tolvane_test_sink" (the default
// sink, whose monitor is the "computer's sound") and a null source "tolvane_test_mic" (a
// silent microphone), reachable only through its own socket. Runs as root too, with HOME
// and the runtime directory pointed at a temporary folder.
class PulseDaemon {
 public:
  static constexpr const char* sinkName = "tolvane_test_sink";
  static constexpr const char* microphoneName = "tolvane_test_mic";

  // Throws std::runtime_error when the daemon does not answer.
  PulseDaemon();
  ~PulseDaemon();
  PulseDaemon(const PulseDaemon&) = delete;
  PulseDaemon& operator=(const PulseDaemon&) = delete;

  // "unix:/…/native", the value for PULSE_SERVER.
  const std::string& serverAddress() const { return serverAddress_; }
  // The environment a client program (pactl, paplay) needs to reach this daemon.
  std::map<std::string, std::string> clientEnvironment() const;
  // Sends the daemon a signal: SIGSTOP makes a server that stops answering, SIGCONT ends that.
  void signal(int number) { process_->kill(number); }

 private:
  TempDir directory_;
  std::string serverAddress_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace tolvane::testing
