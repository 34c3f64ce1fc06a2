#include "tests/support/pulse_daemon.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace tolvane::testing {

PulseDaemon::PulseDaemon() {
  std::filesystem::path socket = directory_ / "native";
  serverAddress_ = "unix:" + socket.string();
  std::filesystem::create_directories(directory_ / "runtime");
  // The daemon shares its clients' home and runtime directory, but must not look for a server itself.
  auto daemonEnvironment = clientEnvironment();
  daemonEnvironment["PULSE_SERVER"] = "";
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{
          "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no", "--disallow-exit",
          "--log-target=stderr",
          std::string("--load=module-null-sink sink_name=") + sinkName,
          std::string("--load=module-null-source source_name=") + microphoneName,
          "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket.string()},
      daemonEnvironment,
      directory_ / "pulseaudio.log");
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline && process_->isRunning()) {
    if (runCommand({"pactl", "info"}, clientEnvironment()).status == 0) {
      runCommand({"pactl", "set-default-sink", sinkName}, clientEnvironment());
      runCommand({"pactl", "set-default-source", microphoneName}, clientEnvironment());
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  throw std::runtime_error("could not start pulseaudio: " + readFile(directory_ / "pulseaudio.log"));
}

PulseDaemon::~PulseDaemon() = default;

std::map<std::string, std::string> PulseDaemon::clientEnvironment() const {
  return {{"PULSE_SERVER", serverAddress_}, {"HOME", directory_.path().string()},
          {"XDG_RUNTIME_DIR", (directory_ / "runtime").string()}};
}

}  // namespace tolvane::testing
