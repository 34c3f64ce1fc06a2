#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvane {

// Runs a program to its end. The application blocks its termination signals in every
// thread (they are read from a signalfd), and a child started with posix_spawn would
// inherit that mask and could no longer be terminated; these start every child with the
// signals unblocked and at their default actions.
class ChildCommand {
 public:
  struct Result {
    int exitStatus = -1;  // the exit code, or -1 when the program could not run or was killed
    std::string output;   // standard output and standard error, interleaved
  };

  // Runs `argv` (argv[0] looked up on PATH) and waits for it. Standard input is /dev/null.
  static Result run(const std::vector<std::string>& argv);
  // Starts `argv` in a session of its own and does not wait for it; it writes where this
  // process writes (the journal, a terminal) and reads `standardInput` (a descriptor of
  // ours, or /dev/null when negative). Returns its process id, or -1 when it could not
  // be started.
  static pid_t startDetached(const std::vector<std::string>& argv, int standardInput = -1);
};

}  // namespace tolvane
