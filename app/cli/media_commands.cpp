#include "app/cli/cli_command.h"

namespace tolvane::cli {

std::vector<Command> mediaCommands() { return {}; }

}  // namespace tolvane::cli
