#include "app/cli/cli_command.h"

namespace tolvane::cli {

std::vector<Command> captureCommands() { return {}; }

}  // namespace tolvane::cli
