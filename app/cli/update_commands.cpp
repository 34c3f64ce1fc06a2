#include <chrono>
#include <iostream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "app/cli/cli_command.h"
#include "kit/update/update_feed.h"
#include "kit/update/update_public_key.h"

namespace tolvane::cli {
namespace {

// Fetches and verifies the site's signed update feed. Every failure becomes one
// sentence: the command's one line on stderr.
UpdateFeed fetchFeed(const AppServices& services, std::string& feedURL) {
  feedURL = services.siteURL().appendingPathComponent("updates/feed.json").text();
  try {
    HTTPRequest request;
    request.url = feedURL;
    request.timeoutSec = 60;
    const HTTPResponse response = services.http()->data(request);
    if (response.status != 200) {
      throw std::runtime_error("The site answered HTTP " + std::to_string(response.status) + " for " + feedURL + ".");
    }
    // The command line keeps no memory of earlier feeds, so it cannot refuse a replayed
    // one; the desktop app does.
    return UpdateFeedVerifier(updatePublicKey()).verify(response.body, std::chrono::system_clock::now());
  } catch (const std::exception& error) {
    throw std::runtime_error(std::string("Couldn't check for updates: ") + error.what());
  }
}

int check(Args& args, Console& console) {
  const bool asJSON = args.flag("--json");
  args.finish();
  CliServices cli;
  std::string feedURL;
  const UpdateFeed feed = fetchFeed(cli.services, feedURL);
  const auto newer = feed.newestAfter(TOLVANE_VERSION);
  if (asJSON) {
    nlohmann::json answer = {{"currentVersion", TOLVANE_VERSION}, {"feedGeneratedAt", feed.generatedAt},
                             {"update", nullptr}};
    if (newer) {
      answer["update"] = newer->toJSON();
      answer["update"]["packageURL"] = newer->packageURLRelativeTo(feedURL);
    }
    console.out << answer.dump(2) << std::endl;
    return 0;
  }
  if (!newer) {
    console.out << "Tolvane " << TOLVANE_VERSION << " is up to date." << std::endl;
    return 0;
  }
  console.out << "Tolvane " << newer->version << " is available (this is " << TOLVANE_VERSION << ").\n"
              << "Published: " << newer->publishedAt << "\n"
              << "Needs:     " << newer->minimumOS << "\n"
              << "Package:   " << newer->packageURLRelativeTo(feedURL) << " (" << newer->size << " bytes)\n";
  if (!newer->notes.empty()) console.out << "\n" << newer->notes << (newer->notes.ends_with('\n') ? "" : "\n");
  console.out << std::flush;
  return 0;
}

}  // namespace

std::vector<Command> updateCommands() {
  return {{"update check", "[--json]", "say whether a newer Tolvane is published (the site's signed update feed)", check}};
}

}  // namespace tolvane::cli
