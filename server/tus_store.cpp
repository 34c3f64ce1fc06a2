#include "server/tus_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "server/database.h"
#include "server/server_crypto.h"
#include "server/unix_time.h"

namespace tolvane::server {

TusStore::WriteLease::~WriteLease() {
  if (store_ == nullptr) return;
  std::lock_guard lock(store_->busyMutex_);
  store_->busy_.erase(id_);
}

TusStore::TusStore(Database& database, std::filesystem::path directory, int64_t ttl)
    : database_(database), directory_(std::move(directory)), ttl_(ttl) {
  std::filesystem::create_directories(directory_);
  std::filesystem::permissions(directory_, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
}

bool TusStore::isValidId(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::variant<Upload, TusStore::Refusal> TusStore::create(const std::string& videoUid, int64_t length,
                                                         const std::string& metadata, const Limits& limits) {
  Upload upload;
  upload.id = crypto::randomHex(16);
  upload.videoUid = videoUid;
  upload.length = length;
  upload.metadata = metadata;
  upload.createdAt = unixNow();
  upload.expiresAt = upload.createdAt + ttl_;
  return database_.transaction([&]() -> std::variant<Upload, Refusal> {
    // What the account holds, leaving out the uploads of this video, which this one
    // replaces.
    const auto held = database_.queryOne(
        "SELECT COALESCE(SUM(u.length), 0), COALESCE(SUM(u.completed_at IS NULL), 0) FROM uploads u "
        "JOIN videos v ON v.uid = u.video_uid WHERE v.account_id = ? AND u.removed_at IS NULL "
        "AND u.video_uid != ? AND (u.completed_at IS NOT NULL OR u.expires_at > ?)",
        {limits.accountId, videoUid, upload.createdAt});
    if (held->integer(1) >= limits.maxUnfinished) return Refusal::tooManyUnfinished;
    if (limits.quotaBytes > 0 && held->integer(0) + length > limits.quotaBytes) return Refusal::overQuota;

    for (const auto& row : database_.query(
             "SELECT id FROM uploads WHERE video_uid = ? AND completed_at IS NULL AND removed_at IS NULL", {videoUid})) {
      remove(row.text(0));
    }
    const auto file = path(upload.id);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      throw std::system_error(errno, std::generic_category(), "Couldn't create the upload file " + file.string());
    }
    ::close(fd);
    database_.execute(
        "INSERT INTO uploads (id, video_uid, length, metadata, created_at, expires_at) VALUES (?, ?, ?, ?, ?, ?)",
        {upload.id, upload.videoUid, upload.length, upload.metadata, upload.createdAt, upload.expiresAt});
    return upload;
  });
}

std::optional<Upload> TusStore::find(std::string_view id) {
  if (!isValidId(id)) return std::nullopt;
  const auto row = database_.queryOne(
      "SELECT id, video_uid, length, metadata, created_at, expires_at, completed_at FROM uploads WHERE id = ?",
      {std::string(id)});
  if (!row) return std::nullopt;
  Upload upload;
  upload.id = row->text(0);
  upload.videoUid = row->text(1);
  upload.length = row->integer(2);
  upload.metadata = row->text(3);
  upload.createdAt = row->integer(4);
  upload.expiresAt = row->integer(5);
  upload.completedAt = row->optionalInteger(6);
  return upload;
}

int64_t TusStore::offset(const Upload& upload) const {
  std::error_code error;
  const auto size = std::filesystem::file_size(path(upload.id), error);
  if (error) return 0;
  return int64_t(size);
}

void TusStore::markCompleted(const std::string& id) {
  database_.execute("UPDATE uploads SET completed_at = ? WHERE id = ? AND completed_at IS NULL", {unixNow(), id});
}

void TusStore::remove(const std::string& id) {
  std::error_code error;
  std::filesystem::remove(path(id), error);
  // An unfinished upload removed early expires now, so resuming it answers 410.
  database_.execute(
      "UPDATE uploads SET removed_at = ?, expires_at = MIN(expires_at, ?) WHERE id = ? AND removed_at IS NULL",
      {unixNow(), unixNow(), id});
}

int TusStore::purgeExpired() {
  const auto rows = database_.query(
      "SELECT id FROM uploads WHERE completed_at IS NULL AND removed_at IS NULL AND expires_at <= ?", {unixNow()});
  for (const auto& row : rows) remove(row.text(0));
  return int(rows.size());
}

std::optional<TusStore::WriteLease> TusStore::lease(const std::string& id) {
  std::lock_guard lock(busyMutex_);
  if (!busy_.insert(id).second) return std::nullopt;
  return WriteLease(*this, id);
}

}  // namespace tolvane::server
