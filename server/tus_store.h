#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>

namespace tolvane::server {

class Database;

// One tus upload resource. Its offset is not stored: it is the size of its file, so
// whatever reached the disk (even from a request cut off mid-body, or before the server
// was killed) counts, and nothing else does.
struct Upload {
  std::string id;  // 32 lower-case hex characters; also the file name
  std::string videoUid;
  int64_t length = 0;
  std::string metadata;  // the Upload-Metadata header as sent
  int64_t createdAt = 0;
  int64_t expiresAt = 0;
  std::optional<int64_t> completedAt;

  bool isExpired(int64_t now) const { return !completedAt && expiresAt <= now; }
};

class TusStore {
 public:
  // The exclusive right to append to one upload; released on destruction.
  class WriteLease {
   public:
    WriteLease(TusStore& store, std::string id) : store_(&store), id_(std::move(id)) {}
    ~WriteLease();
    WriteLease(WriteLease&& other) noexcept : store_(other.store_), id_(std::move(other.id_)) { other.store_ = nullptr; }
    WriteLease(const WriteLease&) = delete;
    WriteLease& operator=(const WriteLease&) = delete;
    WriteLease& operator=(WriteLease&&) = delete;

   private:
    TusStore* store_;
    std::string id_;
  };

  // What one account may hold: bytes of finished and unfinished uploads together (0: no
  // limit) and unfinished uploads.
  struct Limits {
    std::string accountId;
    int64_t quotaBytes = 0;
    int64_t maxUnfinished = 10;
  };
  enum class Refusal { overQuota, tooManyUnfinished };

  TusStore(Database& database, std::filesystem::path directory, int64_t ttl);

  // A new upload of the video, within the account's limits. Unfinished uploads of the
  // same video are abandoned: their files are deleted and they answer 410 from then on.
  std::variant<Upload, Refusal> create(const std::string& videoUid, int64_t length, const std::string& metadata,
                                       const Limits& limits);
  std::optional<Upload> find(std::string_view id);
  int64_t offset(const Upload& upload) const;
  std::filesystem::path path(const std::string& id) const { return directory_ / (id + ".bin"); }
  void markCompleted(const std::string& id);
  // Deletes the file of an upload nobody needs any more (replaced by a newer upload of
  // its video); its record stays, marked removed.
  void remove(const std::string& id);
  // Deletes the files of unfinished uploads past their expiry; their records stay, so
  // that a client resuming one learns it expired (410). Returns how many were removed.
  int purgeExpired();
  // None while another request is writing the same upload.
  std::optional<WriteLease> lease(const std::string& id);

  static bool isValidId(std::string_view text);

 private:
  Database& database_;
  std::filesystem::path directory_;
  int64_t ttl_;
  std::mutex busyMutex_;
  std::set<std::string> busy_;
};

}  // namespace tolvane::server
