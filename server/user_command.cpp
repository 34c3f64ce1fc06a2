#include "server/user_command.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "server/account_store.h"
#include "server/database.h"
#include "server/server_options.h"
#include "server/tus_store.h"

namespace tolvane::server {
namespace {

constexpr const char* kUsage =
    "Usage: tolvane-server user add EMAIL | passwd EMAIL | list | remove EMAIL [--data DIR]\n";

std::string readLine(bool echo) {
  termios saved{};
  const bool terminal = !echo && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  std::getline(std::cin, line);
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputc('\n', stderr);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string askPassword(std::FILE* err) {
  if (!::isatty(STDIN_FILENO)) return readLine(true);
  std::fputs("Password: ", err);
  std::fflush(err);
  const std::string password = readLine(false);
  std::fputs("Password again: ", err);
  std::fflush(err);
  if (readLine(false) != password) throw std::invalid_argument("The two passwords differ; nothing was changed.");
  return password;
}

}  // namespace

int UserCommand::run(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
  std::vector<std::string> words;
  std::vector<std::string> flags;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--data" && i + 1 < arguments.size()) {
      flags = {"--data", arguments[++i]};
    } else {
      words.push_back(arguments[i]);
    }
  }
  const std::string action = words.empty() ? "" : words[0];
  const bool needsEmail = action == "add" || action == "passwd" || action == "remove";
  if (!(needsEmail && words.size() == 2) && !(action == "list" && words.size() == 1)) {
    std::fputs(kUsage, err);
    return 2;
  }
  try {
    const ServerOptions options = ServerOptions::parse(flags);
    // The folder and everything in it belong to the server's user alone.
    ::umask(077);
    std::filesystem::create_directories(options.dataDirectory);
    std::filesystem::permissions(options.dataDirectory, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    Database database(options.databasePath());
    AccountStore accounts(database);
    if (action == "list") {
      for (const auto& account : accounts.list()) std::fprintf(out, "%s\n", account.email.c_str());
      return 0;
    }
    const std::string& email = words[1];
    if (action == "remove") {
      const auto uploads = accounts.remove(email);
      if (!uploads) throw std::invalid_argument(fmt::format("There is no account {}.", email));
      for (const auto& id : *uploads) {
        std::error_code ignored;
        std::filesystem::remove(options.uploadDirectory() / (id + ".bin"), ignored);
      }
      std::fprintf(out, "Removed %s and its %zu uploads.\n", email.c_str(), uploads->size());
      return 0;
    }
    if (action == "passwd" && !accounts.byEmail(email)) {
      throw std::invalid_argument(fmt::format("There is no account {}.", email));
    }
    const std::string password = askPassword(err);
    if (action == "add") {
      const auto account = accounts.create(email, password);
      std::fprintf(out, "Created %s.\n", account.email.c_str());
    } else {
      accounts.setPassword(email, password);
      std::fprintf(out, "Changed the password of %s.\n", email.c_str());
    }
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(err, "tolvane-server: %s\n", failure.what());
    return 1;
  }
}

}  // namespace tolvane::server
