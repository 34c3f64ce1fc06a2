#include <algorithm>
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
#include "kit/base/format.h"
#include "kit/upload/upload_queue.h"
#include "kit/vault/recording_vault.h"

namespace tolvane::cli {
namespace {

using namespace std::chrono_literals;

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
// stdout, problems on stderr. Lives on the executor's thread, like the progress view it
// shares the terminal with.
class OutcomeReporter {
 public:
  OutcomeReporter(RecordingVault& vault, Console& console, UploadProgressView& progress)
      : vault_(vault), console_(console), progress_(progress) {
    for (const VaultItem& item : vault_.all()) seen_[item.id()] = item.manifest;
  }

  void report() {
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
  RecordingVault& vault_;
  Console& console_;
  UploadProgressView& progress_;
  std::map<std::string, RecordingManifest> seen_;
  std::set<std::string> touched_;  // ids whose manifest changed while the queue ran
  int uploaded_ = 0;
  int failed_ = 0;
};

// Runs the queue in the foreground until nothing eligible is left (with `wait`, until
// no recording waits for a hold or a retry time either). The progress view and the
// reporter are touched only on the executor's thread: the queue's callbacks arrive there,
// and this thread goes there through sync().
int runQueue(CliServices& cli, Console& console, bool wait, const std::optional<std::string>& retryID) {
  AppServices& services = cli.services;
  SerialQueueExecutor& executor = *cli.executor;
  UploadProgressView progress(console.err, console.isTerminal);
  OutcomeReporter reporter(*services.vault(), console, progress);
  std::map<std::string, std::string> titles;
  services.setOnUploadProgress([&](const std::string& id, const TusUploader::Progress& report) {
    auto title = titles.find(id);
    if (title == titles.end()) {
      const auto item = services.vault()->item(id);
      title = titles.emplace(id, item ? item->manifest.title : id).first;
    }
    progress.update(id, title->second, report.uploadedBytes, report.totalBytes);
  });
  services.setOnUploadChange([&] { reporter.report(); });
  // Before the view and the reporter go, however this returns: no callback reaches them
  // after the queue stopped and the handlers are gone.
  struct Detach {
    AppServices& services;
    ~Detach() {
      services.stopUploads();
      services.setOnUploadProgress(nullptr);
      services.setOnUploadChange(nullptr);
    }
  } detach{services};

  const auto& queue = services.uploadQueue();
  if (retryID) queue->retryNow(*retryID);
  services.startUploads();
  queue->waitUntilIdle();
  executor.sync([&] { reporter.report(); });

  while (wait && services.auth()->isSignedIn()) {
    const Date now = std::chrono::system_clock::now();
    const auto wake = nextWake(services.vault()->all(), now);
    if (!wake) break;
    executor.sync([&] {
      progress.finish();
      console.err << fmt::format("Waiting {} for the next upload…",
                                 formatDuration(std::chrono::duration<double>(*wake - now).count()))
                  << std::endl;
    });
    std::this_thread::sleep_until(*wake + 1s);
    queue->kick(UploadQueue::Trigger::timer);
    queue->waitUntilIdle();
    executor.sync([&] { reporter.report(); });
  }
  services.stopUploads();
  // The queue's last callbacks were posted before it stopped; they run first.
  executor.sync([&] {
    reporter.report();
    progress.finish();
  });

  if (!services.auth()->isSignedIn()) {
    throw std::runtime_error("You're signed out of Tolvane. Sign in, and your recordings upload automatically.");
  }
  const auto [uploaded, failed, allVerified] = executor.sync(
      [&] { return std::tuple(reporter.uploaded(), reporter.failed(), reporter.allTouchedVerified()); });
  if (uploaded == 0 && failed == 0) console.err << "Nothing to upload." << std::endl;
  return allVerified ? 0 : 1;
}

}  // namespace

std::vector<Command> uploadCommands() {
  return {
      Command{"upload", "[--wait]",
              "upload finished recordings and print their share links; --wait also waits out holds and retries",
              [](Args& args, Console& console) {
                const bool wait = args.flag("--wait");
                args.finish();
                CliServices cli;
                return runQueue(cli, console, wait, std::nullopt);
              }},
      Command{"retry", "ID [--wait]", "clear a recording's retry state and upload it now",
              [](Args& args, Console& console) {
                const bool wait = args.flag("--wait");
                const std::string text = args.positional("ID");
                args.finish();
                CliServices cli;
                const std::string id = cli.services.library().find(text).id();
                return runQueue(cli, console, wait, id);
              }},
  };
}

}  // namespace tolvane::cli
