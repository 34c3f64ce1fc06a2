#include "app/cli/cli_command.h"

namespace tolvane::cli {

std::vector<Command> vaultCommands() { return {}; }

}  // namespace tolvane::cli
