#include "app/cli/cli_command.h"

namespace tolvane::cli {

std::vector<Command> uploadCommands() { return {}; }

}  // namespace tolvane::cli
