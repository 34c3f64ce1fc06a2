#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/cli/cli_args.h"
#include "app/services/app_services.h"
#include "app/services/serial_queue_executor.h"
#include "kit/config/config.h"

namespace tolvane::cli {

// Where a command writes. Data goes to `out`; progress and messages to `err`.
struct Console {
  std::ostream& out;
  std::ostream& err;
  bool isTerminal;  // stderr is a terminal: progress bars are drawn in place
};

// The services a command works with. Their callbacks run on the command line's own
// serial queue, so what they touch (a progress bar, a report) is touched from that one
// thread; the command's thread reaches it there through executor->sync().
struct CliServices {
  std::shared_ptr<SerialQueueExecutor> executor =
      std::make_shared<SerialQueueExecutor>(std::string(Config::applicationID) + ".cli");
  AppServices services{executor};
};

// One command, e.g. "vault list". `run` returns the exit status (0 on success); it
// throws UsageError for a bad call (status 2) and any other exception for a failure
// (status 1, its message printed as one line).
struct Command {
  std::string name;     // one or more words
  std::string usage;    // arguments after the name, e.g. "[--json]"
  std::string summary;  // one line for --help
  std::function<int(Args&, Console&)> run;
};

// Command groups, one file each.
std::vector<Command> vaultCommands();
std::vector<Command> mediaCommands();
std::vector<Command> accountCommands();
std::vector<Command> uploadCommands();
std::vector<Command> captureCommands();
std::vector<Command> updateCommands();

}  // namespace tolvane::cli
