// tolvane-server: the self-hosted Tolvane service.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <vector>

#include <fmt/format.h>

#include "server/server_options.h"
#include "server/tolvane_server.h"
#include "server/release_command.h"
#include "server/user_command.h"

namespace {

// Waits for SIGTERM/SIGINT/SIGHUP on a thread of its own, then stops the server, so
// that the server is never touched from inside a signal handler.
std::thread watchSignals(tolvane::server::TolvaneServer& server, sigset_t signals) {
  return std::thread([&server, signals] {
    int received = 0;
    sigwait(&signals, &received);
    if (received != SIGUSR1) server.stop();
  });
}

}  // namespace

int main(int argc, char** argv) {
  using tolvane::server::ServerOptions;
  if (argc >= 2 && std::string(argv[1]) == "user") {
    return tolvane::server::UserCommand::run(std::vector<std::string>(argv + 2, argv + argc), stdout, stderr);
  }
  if (argc >= 2 && std::string(argv[1]) == "release") {
    return tolvane::server::ReleaseCommand::run(std::vector<std::string>(argv + 2, argv + argc), stdout, stderr);
  }
  ServerOptions options;
  try {
    options = ServerOptions::parse(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tolvane-server: %s\n", error.what());
    return 2;
  }
  if (options.showHelp) {
    std::fputs(ServerOptions::usage().c_str(), stdout);
    return 0;
  }
  if (options.showVersion) {
    std::puts(ServerOptions::versionLine().c_str());
    return 0;
  }
  if (options.printClientConfig) {
    // Lines a client run or build takes as environment or as CMake cache values.
    std::printf("TOLVANE_SITE_URL=%s\nTOLVANE_AUTH_URL=%s\nTOLVANE_ANON_KEY=%s\n", options.siteURL.c_str(),
                options.siteURL.c_str(), options.anonKey.c_str());
    return 0;
  }

  // Whatever the server writes (database, keys, uploads) is for its own user only.
  ::umask(077);
  if (const std::string warning = options.exposureWarning(); !warning.empty()) {
    std::fprintf(stderr, "tolvane-server: %s\n", warning.c_str());
  }

  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    tolvane::server::TolvaneServer server(options);
    std::thread watcher = watchSignals(server, signals);
    try {
      server.run();
    } catch (...) {
      pthread_kill(watcher.native_handle(), SIGUSR1);
      watcher.join();
      throw;
    }
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tolvane-server: %s\n", error.what());
    return 1;
  }
  return 0;
}
