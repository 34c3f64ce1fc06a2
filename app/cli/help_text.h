#pragma once

#include <string>
#include <vector>

#include "app/cli/cli_command.h"

namespace tolvane::cli {

// Help laid out as other command-line tools lay it out: each command's usage on its own
// line (wrapped between option groups, so a long one stays on screen), its description
// indented below it, nothing wider than 80 columns.
std::string commandListHelp(const std::vector<Command>& commands);
// "Usage: tolvane-cli NAME USAGE", wrapped like the list.
std::string commandUsage(const Command& command);
// The usage and the description below it, for `NAME --help`.
std::string commandHelp(const Command& command);

}  // namespace tolvane::cli
