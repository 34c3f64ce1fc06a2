// tolvane-cli: the headless front end over the core library.
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <iterator>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli_command.h"
#include "app/cli/help_text.h"
#include "kit/base/log.h"

namespace tolvane::cli {
namespace {

std::vector<Command> allCommands() {
  std::vector<Command> all;
  for (auto group : {vaultCommands, mediaCommands, accountCommands, uploadCommands, captureCommands, updateCommands}) {
    auto commands = group();
    all.insert(all.end(), std::make_move_iterator(commands.begin()), std::make_move_iterator(commands.end()));
  }
  return all;
}

// The command whose name matches the most leading words.
const Command* findCommand(const std::vector<Command>& commands, const std::vector<std::string>& words,
                           std::size_t& consumed) {
  const Command* best = nullptr;
  consumed = 0;
  for (const auto& c : commands) {
    std::istringstream name(c.name);
    std::vector<std::string> parts{std::istream_iterator<std::string>(name), std::istream_iterator<std::string>()};
    if (parts.size() > words.size() || parts.size() <= consumed) continue;
    if (std::equal(parts.begin(), parts.end(), words.begin())) {
      best = &c;
      consumed = parts.size();
    }
  }
  return best;
}

int run(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  const bool verbose = std::erase(words, std::string("--verbose")) > 0;
  if (!Log::stderrLevelFromEnvironment()) Log::setStderrLevel(verbose ? LogLevel::info : LogLevel::off);

  Console console{std::cout, std::cerr, isatty(STDERR_FILENO) == 1};
  const auto commands = allCommands();
  if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    (words.empty() ? std::cerr : std::cout) << commandListHelp(commands);
    return words.empty() ? 2 : 0;
  }
  if (words[0] == "--version") {
    std::cout << "tolvane-cli " << TOLVANE_VERSION << "\n";
    return 0;
  }

  std::size_t consumed = 0;
  const Command* command = findCommand(commands, words, consumed);
  if (command == nullptr) {
    std::cerr << "tolvane-cli: unknown command '" << words[0] << "'; see 'tolvane-cli --help'\n";
    return 2;
  }
  Args args(std::vector<std::string>(words.begin() + static_cast<std::ptrdiff_t>(consumed), words.end()));
  if (args.flag("--help")) {
    std::cout << commandHelp(*command);
    return 0;
  }
  try {
    return command->run(args, console);
  } catch (const UsageError& error) {
    std::cerr << "tolvane-cli " << command->name << ": " << error.what() << "\n" << commandUsage(*command);
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "tolvane-cli: " << error.what() << "\n";
    return 1;
  }
}

}  // namespace
}  // namespace tolvane::cli

int main(int argc, char** argv) { return tolvane::cli::run(argc, argv); }
