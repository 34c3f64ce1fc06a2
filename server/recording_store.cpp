#include "server/recording_store.h"

#include <algorithm>
#include <cctype>

#include "kit/base/uuid.h"
#include "server/database.h"
#include "server/unix_time.h"

namespace tolvane::server {
namespace {

constexpr const char* kColumns =
    "uid, account_id, name, title, duration_sec, saved_at, created_at, views, upload_id, probed_duration, ready";

Video fromRow(const Database::Row& row) {
  Video video;
  video.uid = row.text(0);
  video.accountId = row.text(1);
  video.name = row.text(2);
  if (!row.isNull(3)) video.title = row.text(3);
  video.durationSec = row.optionalInteger(4);
  video.savedAt = row.optionalInteger(5);
  video.createdAt = row.integer(6);
  video.views = row.integer(7);
  if (!row.isNull(8)) video.uploadId = row.text(8);
  video.probedDurationSec = row.optionalReal(9);
  video.isReady = row.integer(10) != 0;
  return video;
}

}  // namespace

std::optional<Video> RecordingStore::create(const std::string& accountId, const std::string& name,
                                            std::optional<int64_t> limit) {
  return database_.transaction([&]() -> std::optional<Video> {
    if (limit) {
      const auto count = database_.queryOne("SELECT COUNT(*) FROM videos WHERE account_id = ?", {accountId});
      if (count->integer(0) >= *limit) return std::nullopt;
    }
    std::string uid = makeUUID();
    std::transform(uid.begin(), uid.end(), uid.begin(), [](char c) { return char(std::tolower(c)); });
    database_.execute(
        "INSERT INTO videos (uid, seq, account_id, name, created_at) "
        "VALUES (?, (SELECT COALESCE(MAX(seq), 0) + 1 FROM videos), ?, ?, ?)",
        {uid, accountId, name, unixNow()});
    return find(uid);
  });
}

std::optional<Video> RecordingStore::find(const std::string& uid) {
  const auto row = database_.queryOne(std::string("SELECT ") + kColumns + " FROM videos WHERE uid = ?", {uid});
  if (!row) return std::nullopt;
  return fromRow(*row);
}

std::vector<Video> RecordingStore::library(const std::string& accountId, int64_t limit, int64_t offset) {
  const auto rows = database_.query(std::string("SELECT ") + kColumns +
                                        " FROM videos WHERE account_id = ? AND saved_at IS NOT NULL "
                                        "ORDER BY saved_at DESC, seq DESC LIMIT ? OFFSET ?",
                                    {accountId, limit, offset});
  std::vector<Video> videos;
  videos.reserve(rows.size());
  for (const auto& row : rows) videos.push_back(fromRow(row));
  return videos;
}

void RecordingStore::save(const std::string& uid, const std::string& title, int64_t durationSec) {
  // Saving again (a retried request) keeps the first save time, so the library order
  // stays stable.
  database_.execute(
      "UPDATE videos SET title = ?, duration_sec = ?, saved_at = COALESCE(saved_at, ?) WHERE uid = ?",
      {title, durationSec, unixNow(), uid});
}

void RecordingStore::rename(const std::string& uid, const std::string& title) {
  database_.execute("UPDATE videos SET title = ? WHERE uid = ?", {title, uid});
}

void RecordingStore::attachUpload(const std::string& uid, const std::string& uploadId, std::optional<double> durationSec,
                                  bool isReady) {
  Database::Value duration = nullptr;
  if (durationSec) duration = *durationSec;
  database_.execute("UPDATE videos SET upload_id = ?, probed_duration = ?, ready = ? WHERE uid = ?",
                    {uploadId, duration, int64_t(isReady ? 1 : 0), uid});
}

void RecordingStore::countView(const std::string& uid) {
  database_.execute("UPDATE videos SET views = views + 1 WHERE uid = ?", {uid});
}

}  // namespace tolvane::server
