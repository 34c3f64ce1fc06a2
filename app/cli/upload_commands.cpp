#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>

#include "app/cli/cli_command.h"
#include "app/cli/upload_progress_view.h"
#include "kit/auth/auth_store.h"
#include "kit/auth/session_storage_factory.h"
#include "kit/base/format.h"
#include "kit/config/config.h"
#include "kit/net/curl_http_client.h"
#include "kit/upload/tolvane_api.h"
#include "kit/upload/upload_queue.h"
#include "kit/vault/recording_vault.h"

namespace tolvane::cli {
namespace {

using namespace std::chrono_literals;

// The collaborators of the upload queue, built the way the application builds them.
struct UploadServices {
  std::shared_ptr<RecordingVault> vault = std::make_shared<RecordingVault>(Config::vaultDirectory());
  std::shared_ptr<CurlHTTPClient> http = std::make_shared<CurlHTTPClient>();
  std::shared_ptr<AuthStore> auth = std::make_shared<AuthStore>(std::shared_ptr<SessionStorage>(makeSessionStorage()), http,
                                                                Config::authURL(), Config::authAnonKey());
  std::shared_ptr<TolvaneAPI> api = std::make_shared<TolvaneAPI>(auth, http, Config::siteURL());
  std::shared_ptr<TusUploader> uploader = std::make_shared<TusUploader>(makeUploadSession(), TusUploader::defaultChunkSize);
  UploadQueue queue{vault, api, auth, uploader};
};

bool isQueueState(RecordingState state) {
  return state == RecordingState::ready || state == RecordingState::uploading || state == RecordingState::uploaded ||
         state == RecordingState::needsAttention;
}

// The earliest time at which an item that waits for its hold or retry time becomes
// eligible; none when nothing waits.
std::optional<Date> nextWake(const std::vector<VaultItem>& items, Date now) {
  std::optional<Date> earliest;
  for (const VaultItem& item : items) {
    const RecordingManifest& m = item.manifest;
    if (!isQueueState(m.state) || !item.videoExists()) continue;
    const Date eligibleAt = std::max(m.nextAttemptAt.value_or(Date{}), m.holdUploadUntil.value_or(Date{}));
    if (eligibleAt <= now) continue;
    if (!earliest || eligibleAt < *earliest) earliest = eligibleAt;
  }
  return earliest;
}

// Reports what the queue did to each recording since the last look: share links on
// stdout, problems on stderr.
class OutcomeReporter {
 public:
  OutcomeReporter(RecordingVault& vault, Console& console, UploadProgressView& progress)
      : vault_(vault), console_(console), progress_(progress) {
    for (const VaultItem& item : vault_.all()) seen_[item.id()] = item.manifest;
  }

  void report() {
    std::lock_guard lock(mutex_);
    for (const VaultItem& item : vault_.all()) {
      const RecordingManifest& now = item.manifest;
      const auto before = seen_.find(item.id());
      const bool isNew = before == seen_.end();
      if (isNew || before->second != now) {
        touched_.insert(item.id());
        progress_.finish();
        if (now.shareURL && (isNew || before->second.shareURL != now.shareURL)) {
          console_.out << *now.shareURL << std::endl;
          ++uploaded_;
        }
        if (now.lastError && (isNew || before->second.lastError != now.lastError)) {
          console_.err << fmt::format("\"{}\": {}", now.title, *now.lastError) << std::endl;
          ++failed_;
        }
      }
      seen_[item.id()] = now;
    }
  }

  int uploaded() const { return uploaded_; }
  int failed() const { return failed_; }
  // Success is where each recording ended, not whether an attempt failed on the way.
  bool allTouchedVerified() const {
    return std::all_of(touched_.begin(), touched_.end(),
                       [&](const std::string& id) { return seen_.at(id).state == RecordingState::verified; });
  }

 private:
  std::mutex mutex_;
  RecordingVault& vault_;
  Console& console_;
  UploadProgressView& progress_;
  std::map<std::string, RecordingManifest> seen_;
  std::set<std::string> touched_;  // ids whose manifest changed while the queue ran
  int uploaded_ = 0;
  int failed_ = 0;
};

// Runs the queue in the foreground until nothing eligible is left (with `wait`, until
// no recording waits for a hold or a retry time either).
int runQueue(UploadServices& services, Console& console, bool wait, const std::optional<std::string>& retryID) {
  UploadProgressView progress(console.err, console.isTerminal);
  OutcomeReporter reporter(*services.vault, console, progress);
  std::map<std::string, std::string> titles;
  services.queue.setOnProgress([&](const std::string& id, const TusUploader::Progress& report) {
    auto title = titles.find(id);
    if (title == titles.end()) {
      const auto item = services.vault->item(id);
      title = titles.emplace(id, item ? item->manifest.title : id).first;
    }
    progress.update(id, title->second, report.uploadedBytes, report.totalBytes);
  });
  services.queue.setOnChange([&] { reporter.report(); });

  if (retryID) services.queue.retryNow(*retryID);
  services.queue.start();
  services.queue.waitUntilIdle();
  reporter.report();

  while (wait && services.auth->isSignedIn()) {
    const Date now = std::chrono::system_clock::now();
    const auto wake = nextWake(services.vault->all(), now);
    if (!wake) break;
    console.err << fmt::format("Waiting {} for the next upload…",
                               formatDuration(std::chrono::duration<double>(*wake - now).count()))
                << std::endl;
    std::this_thread::sleep_until(*wake + 1s);
    services.queue.kick(UploadQueue::Trigger::timer);
    services.queue.waitUntilIdle();
    reporter.report();
  }
  services.queue.stop();
  progress.finish();

  if (!services.auth->isSignedIn()) {
    throw std::runtime_error("You're signed out of Tolvane. Sign in, and your recordings upload automatically.");
  }
  if (reporter.uploaded() == 0 && reporter.failed() == 0) console.err << "Nothing to upload." << std::endl;
  return reporter.allTouchedVerified() ? 0 : 1;
}

// The full id of the recording `text` names: its id or a unique beginning of it.
std::string resolveID(RecordingVault& vault, const std::string& text) {
  std::vector<std::string> matches;
  for (const VaultItem& item : vault.all()) {
    std::string id = item.id();
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    if (id == upper) return id;
    if (!upper.empty() && id.starts_with(upper)) matches.push_back(id);
  }
  if (matches.size() == 1) return matches.front();
  if (matches.empty()) throw std::runtime_error(fmt::format("No recording has the id {}.", text));
  throw std::runtime_error(fmt::format("{} matches {} recordings; give more of the id.", text, matches.size()));
}

}  // namespace

std::vector<Command> uploadCommands() {
  return {
      Command{"upload", "[--wait]",
              "upload finished recordings and print their share links; --wait also waits out holds and retries",
              [](Args& args, Console& console) {
                const bool wait = args.flag("--wait");
                args.finish();
                UploadServices services;
                return runQueue(services, console, wait, std::nullopt);
              }},
      Command{"retry", "ID [--wait]", "clear a recording's retry state and upload it now",
              [](Args& args, Console& console) {
                const bool wait = args.flag("--wait");
                const std::string text = args.positional("ID");
                args.finish();
                UploadServices services;
                const std::string id = resolveID(*services.vault, text);
                return runQueue(services, console, wait, id);
              }},
  };
}

}  // namespace tolvane::cli
