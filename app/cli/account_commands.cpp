#include "app/cli/cli_command.h"

namespace tolvane::cli {

std::vector<Command> accountCommands() { return {}; }

}  // namespace tolvane::cli
