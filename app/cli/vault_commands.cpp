// tolvane-cli vault path | list [--json] | show ID | delete ID
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/cli_command.h"
#include "kit/base/format.h"
#include "kit/config/config.h"
#include "kit/vault/local_date_format.h"
#include "kit/vault/manifest_json.h"

namespace tolvane::cli {
namespace {

// Characters as a terminal shows them: UTF-8 continuation bytes take no column.
std::size_t displayWidth(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void printTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], displayWidth(row[i]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - displayWidth(row[i]) + 2, ' ');
    }
    out << line << "\n";
  }
}

int vaultPath(Args& args, Console& console) {
  args.finish();
  console.out << Config::vaultDirectory().string() << "\n";
  return 0;
}

int vaultList(Args& args, Console& console) {
  const bool json = args.flag("--json");
  args.finish();
  CliServices cli;
  cli.services.library().requireAccessible();
  const auto& vault = cli.services.vault();
  const auto items = vault->all();

  if (json) {
    auto list = nlohmann::json::array();
    for (const auto& item : items) {
      list.push_back({{"id", item.id()},
                      {"state", rawValue(item.manifest.state)},
                      {"title", item.manifest.title},
                      {"createdAt", formatISO8601(item.manifest.createdAt)},
                      {"durationSec", item.manifest.durationSec},
                      {"sizeBytes", item.videoSizeOnDisk()},
                      {"file", item.videoPath().string()},
                      {"directory", item.directory.string()}});
    }
    console.out << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return 0;
  }

  if (items.empty()) {
    console.out << "No recordings in " << vault->root().string() << "\n";
    return 0;
  }
  std::vector<std::vector<std::string>> rows = {{"ID", "STATE", "TITLE", "CREATED", "DURATION", "SIZE", "FILE"}};
  for (const auto& item : items) {
    rows.push_back({item.id(), std::string(rawValue(item.manifest.state)), item.manifest.title,
                    formatLocalDate(item.manifest.createdAt, "yyyy-MM-dd HH:mm", "en_US_POSIX"),
                    formatDuration(item.manifest.durationSec), formatByteCount(item.videoSizeOnDisk()),
                    item.videoPath().string()});
  }
  printTable(console.out, rows);
  return 0;
}

int vaultShow(Args& args, Console& console) {
  const std::string id = args.positional("recording id");
  args.finish();
  CliServices cli;
  cli.services.library().requireAccessible();
  console.out << encodeManifest(cli.services.library().find(id).manifest) << "\n";
  return 0;
}

int vaultDelete(Args& args, Console& console) {
  const std::string id = args.positional("recording id");
  args.finish();
  CliServices cli;
  cli.services.library().requireAccessible();
  const VaultItem item = cli.services.library().find(id);
  cli.services.vault()->deleteItem(item.id());
  console.out << "Moved “" << item.manifest.title << "” to the Trash.\n";
  return 0;
}

}  // namespace

std::vector<Command> vaultCommands() {
  return {
      {"vault path", "", "print the vault directory", vaultPath},
      {"vault list", "[--json]", "list the recordings, newest first", vaultList},
      {"vault show", "ID", "print a recording's manifest (an id or a unique start of one)", vaultShow},
      {"vault delete", "ID", "move a recording to the Trash", vaultDelete},
  };
}

}  // namespace tolvane::cli
