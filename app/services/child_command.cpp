#include "app/services/child_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

extern char** environ;

namespace tolvane {
namespace {

std::vector<char*> argvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  pointers.reserve(argv.size() + 1);
  for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// Attributes every child gets: an empty signal mask and default dispositions for the
// signals the application catches, whatever thread starts it.
struct SpawnAttributes {
  explicit SpawnAttributes(bool newSession) {
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attributes, flags);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t attributes;
};

struct FileActions {
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t actions;
};

}  // namespace

ChildCommand::Result ChildCommand::run(const std::vector<std::string>& argv) {
  Result result;
  if (argv.empty()) return result;
  std::array<int, 2> pipeEnds{};
  if (pipe2(pipeEnds.data(), O_CLOEXEC) != 0) return result;

  FileActions files;
  posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&files.actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&files.actions, pipeEnds[1], STDERR_FILENO);
  SpawnAttributes attributes(/*newSession=*/false);
  auto pointers = argvPointers(argv);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv.front().c_str(), &files.actions, &attributes.attributes,
                                   pointers.data(), environ);
  close(pipeEnds[1]);
  if (spawned != 0) {
    close(pipeEnds[0]);
    result.output = "could not start " + argv.front();
    return result;
  }

  std::array<char, 4096> buffer{};
  for (;;) {
    const ssize_t got = read(pipeEnds[0], buffer.data(), buffer.size());
    if (got > 0) {
      result.output.append(buffer.data(), static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipeEnds[0]);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  return result;
}

pid_t ChildCommand::startDetached(const std::vector<std::string>& argv, int standardInput) {
  if (argv.empty()) return -1;
  FileActions files;
  if (standardInput >= 0) {
    posix_spawn_file_actions_adddup2(&files.actions, standardInput, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  SpawnAttributes attributes(/*newSession=*/true);
  auto pointers = argvPointers(argv);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv.front().c_str(), &files.actions, &attributes.attributes, pointers.data(),
                   environ) != 0) {
    return -1;
  }
  return pid;
}

}  // namespace tolvane
