#include "app/cli/help_text.h"

namespace tolvane::cli {
namespace {

constexpr std::size_t kWidth = 80;

// Words of `text`, an option group in brackets ("[--mic ID | --no-mic]") kept as one.
std::vector<std::string> groups(const std::string& text) {
  std::vector<std::string> result;
  std::string current;
  int depth = 0;
  for (char c : text) {
    if (c == ' ' && depth == 0) {
      if (!current.empty()) result.push_back(std::move(current));
      current.clear();
      continue;
    }
    if (c == '[') ++depth;
    if (c == ']' && depth > 0) --depth;
    current += c;
  }
  if (!current.empty()) result.push_back(std::move(current));
  return result;
}

// `head` followed by `text`'s groups, wrapped so that continuation lines start under the
// first group.
std::string wrap(const std::string& head, const std::string& text, std::size_t continuationIndent) {
  std::string out = head;
  std::size_t column = head.size();
  bool first = true;
  for (const std::string& group : groups(text)) {
    if (!first && column + 1 + group.size() > kWidth) {
      out += '\n';
      out.append(continuationIndent, ' ');
      column = continuationIndent;
    } else if (!out.empty() && out.back() != ' ') {
      out += ' ';
      ++column;
    }
    out += group;
    column += group.size();
    first = false;
  }
  return out + "\n";
}

std::string usageLines(const std::string& lead, const Command& command) {
  const std::string head = lead + command.name;
  return wrap(head, command.usage, head.size() + 1);
}

}  // namespace

std::string commandListHelp(const std::vector<Command>& commands) {
  std::string out =
      "Usage: tolvane-cli COMMAND [ARGS]\n\n"
      "Tolvane records the screen, keeps every recording in a local vault and uploads\n"
      "it to your library.\n\nCommands:\n";
  for (const Command& command : commands) {
    out += usageLines("  ", command);
    out += wrap("      ", command.summary, 6);
  }
  out += "\nOptions:\n  --help     show this help (after a command: that command's help)\n"
         "  --version  show the version\n  --verbose  log progress to stderr\n"
         "\nExit status: 0 on success, 1 on failure, 2 on a usage error.\n";
  return out;
}

std::string commandUsage(const Command& command) { return usageLines("Usage: tolvane-cli ", command); }

std::string commandHelp(const Command& command) { return commandUsage(command) + "\n" + wrap("  ", command.summary, 2); }

}  // namespace tolvane::cli
