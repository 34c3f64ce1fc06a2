#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::server {

class Database;

// A video on the service: created by an upload ticket, filled by a tus upload, and a
// recording of the library once saved with a title.
struct Video {
  std::string uid;
  std::string accountId;
  std::string name;  // the name the ticket was asked for
  std::optional<std::string> title;
  std::optional<int64_t> durationSec;  // as saved by the client
  std::optional<int64_t> savedAt;      // Unix seconds; set once it is in the library
  int64_t createdAt = 0;
  int64_t views = 0;
  std::optional<std::string> uploadId;  // the completed upload holding the file
  std::optional<double> probedDurationSec;
  bool isReady = false;  // the completed file probes as a playable MP4

  std::string displayTitle() const { return title.value_or(name); }
};

class RecordingStore {
 public:
  explicit RecordingStore(Database& database) : database_(database) {}

  // A new video for the account; none when the account already holds `limit` videos.
  std::optional<Video> create(const std::string& accountId, const std::string& name, std::optional<int64_t> limit);
  std::optional<Video> find(const std::string& uid);
  // The account's saved recordings, newest first.
  std::vector<Video> library(const std::string& accountId, int64_t limit, int64_t offset = 0);

  // Puts the video into the library (again) with a title and duration.
  void save(const std::string& uid, const std::string& title, int64_t durationSec);
  void rename(const std::string& uid, const std::string& title);
  void attachUpload(const std::string& uid, const std::string& uploadId, std::optional<double> durationSec, bool isReady);
  void countView(const std::string& uid);

 private:
  Database& database_;
};

}  // namespace tolvane::server
