#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <iomanip>
#include <iostream>

#include <nlohmann/json.hpp>

#include "app/cli/cli_command.h"
#include "kit/auth/auth_error.h"
#include "kit/auth/desktop_sign_in.h"
#include "kit/base/format.h"
#include "kit/vault/local_date_format.h"

extern char** environ;

namespace tolvane::cli {
namespace {

std::string deviceName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
  return "Linux";
}

bool hasDisplay() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// Hands the link to the desktop's browser; returns the opener's PID, or -1.
pid_t openInBrowser(const std::string& url) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open";
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

AuthSession waitWithSpinner(const DesktopSignIn& signIn, const SignInRequest& request, Console& console) {
  auto approval = std::async(std::launch::async, [&] { return signIn.waitForApproval(request); });
  if (!console.isTerminal) return approval.get();
  static const char* frames[] = {"⠋", "⠙", "⠹", "⠸", "⠼", "⠴", "⠦", "⠧", "⠇", "⠏"};
  std::size_t frame = 0;
  while (approval.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    console.err << "\r" << frames[frame++ % std::size(frames)] << " Waiting for you to approve the sign-in in the browser…"
                << std::flush;
  }
  console.err << "\r\033[K" << std::flush;
  return approval.get();
}

int login(Args& args, Console& console) {
  args.finish();
  CliServices cli;
  const DesktopSignIn& signIn = cli.services.signIn();
  const SignInRequest request = signIn.start(deviceName());

  console.err << "Open this link to sign in to Tolvane:\n";
  console.out << request.connectURL << std::endl;
  pid_t opener = -1;
  if (hasDisplay()) opener = openInBrowser(request.connectURL);

  const AuthSession session = waitWithSpinner(signIn, request, console);
  cli.services.auth()->adopt(session);
  if (opener > 0) waitpid(opener, nullptr, WNOHANG);
  console.out << "Signed in" << (session.email ? " as " + *session.email : std::string()) << "." << std::endl;
  return 0;
}

int logout(Args& args, Console& console) {
  args.finish();
  CliServices cli;
  const bool wasSignedIn = cli.services.auth()->isSignedIn();
  cli.services.auth()->signOutEverywhere();
  console.out << (wasSignedIn ? "Signed out." : "You're signed out of Tolvane.") << std::endl;
  return 0;
}

std::string planName(const AccountInfo& account) {
  std::string plan = account.lifetime ? "Pro (lifetime)" : account.pro ? "Pro" : "Free";
  if (account.admin) plan += ", admin";
  return plan;
}

int whoami(Args& args, Console& console) {
  const bool asJSON = args.flag("--json");
  args.finish();
  CliServices cli;
  const AccountInfo account = cli.services.api()->me();
  if (asJSON) {
    console.out << account.toJSON().dump(2) << std::endl;
    return 0;
  }
  const auto email = account.email ? account.email : cli.services.auth()->email();
  console.out << "E-mail: " << email.value_or("(unknown)") << "\n"
              << "Plan:   " << planName(account) << std::endl;
  return 0;
}

// Local time, as `vault list` shows it.
std::string localDate(const RecordingSummary& recording) {
  const auto created = recording.created();
  if (!created) return recording.createdAt;
  return formatLocalDate(*created, "yyyy-MM-dd HH:mm", "en_US_POSIX");
}

int library(Args& args, Console& console) {
  const auto limit = args.intOption("--limit", 1, 1000).value_or(100);
  const bool asJSON = args.flag("--json");
  args.finish();
  CliServices cli;
  const auto recordings = cli.services.api()->library(limit);

  if (asJSON) {
    auto list = nlohmann::json::array();
    for (const auto& recording : recordings) list.push_back(recording.toJSON());
    console.out << list.dump(2) << std::endl;
    return 0;
  }
  if (recordings.empty()) {
    console.err << "Your library is empty." << std::endl;
    return 0;
  }
  for (const auto& recording : recordings) {
    console.out << std::left << std::setw(17) << localDate(recording) << std::right << std::setw(8)
                << formatDuration(static_cast<double>(recording.durationSec)) << "  " << std::setw(5) << recording.views
                << (recording.views == 1 ? " view   " : " views  ") << recording.title << "  " << recording.shareUrl
                << "\n";
  }
  console.out << std::flush;
  return 0;
}

}  // namespace

std::vector<Command> accountCommands() {
  return {
      {"login", "", "sign in through the browser and keep the session in the keyring", login},
      {"logout", "", "sign out and forget the stored session", logout},
      {"whoami", "[--json]", "show the signed-in account's e-mail and plan", whoami},
      {"library", "[--limit N] [--json]", "list the recordings in your web library", library},
  };
}

}  // namespace tolvane::cli
