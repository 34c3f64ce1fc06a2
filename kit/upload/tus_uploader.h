#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>

#include "kit/base/iso8601.h"
#include "kit/base/log.h"
#include "kit/net/http_performing.h"
#include "kit/upload/service_records.h"

namespace tolvane {

// Moves one recording file to the streaming service with the tus 1.0.0 protocol:
// creates the upload (POST), asks where an interrupted one stopped (HEAD) and sends the
// file in fixed-size chunks (PATCH), reporting progress after every accepted chunk.
//
// One call of upload() is one attempt; nothing is kept between calls, so the class is
// safe to use from several threads. The caller persists what resuming needs (the URL
// announced through onUploadURL, the offsets reported through onProgress) and passes
// the URL back as `resumeFrom` on its next attempt.
//
// A connection cut while a chunk is on its way does not end the attempt at once: after
// waits of 1 s, 3 s and 5 s (each followed by a HEAD for the server's offset) the upload
// goes on from what arrived; only when the last wait did not help does the transport's
// error come out.
//
// Errors: HTTPError with the server's status for answers it refused; TransportError
// from the session unchanged (offline, timed out, refused); LocalUploadError for the
// uploader's own conditions (empty or unreadable file, malformed endpoint, no progress);
// CancellationError when `stop` fires, before a chunk, during a request or a wait;
// whatever the ticket provider throws.
class TusUploader {
 public:
  static constexpr std::int64_t defaultChunkSize = 8388608;  // 8 MiB
  // The waits before asking the server's offset after a connection cut mid-chunk.
  static constexpr std::array<std::chrono::seconds, 3> resumeWaits = {std::chrono::seconds(1), std::chrono::seconds(3),
                                                                      std::chrono::seconds(5)};

  struct Progress {
    std::int64_t uploadedBytes = 0;
    std::int64_t totalBytes = 0;
    // uploadedBytes / totalBytes, or 0 when totalBytes is below 1.
    double fraction() const;
    bool operator==(const Progress&) const = default;
  };

  struct Outcome {
    std::string uploadURL;      // absolute URL of the tus upload resource
    std::int64_t bytesSent = 0;  // the server's final offset
  };

  // Supplies a valid ticket; called at the start, when the ticket is about to expire and
  // when a lost upload is recreated. Its errors propagate out of upload().
  using TicketProvider = std::function<UploadTicket()>;
  using UploadURLHandler = std::function<void(const std::string& uploadURL)>;
  using ProgressHandler = std::function<void(const Progress&)>;
  using Now = std::function<Date()>;
  // Waits `delay` unless `stop` fires first, which throws CancellationError.
  using Wait = std::function<void(std::chrono::seconds delay, const std::stop_token& stop)>;

  // `session` should be the dedicated upload transport (makeUploadSession()). `wait`
  // sleeps on a condition variable when none is given.
  explicit TusUploader(std::shared_ptr<HTTPPerforming> session, std::int64_t chunkSize = defaultChunkSize,
                       Now now = [] { return std::chrono::system_clock::now(); }, Wait wait = {});

  std::int64_t chunkSize() const { return chunkSize_; }

  // Sends `fileURL` whole, continuing the upload at `resumeFrom` when given. Each chunk
  // is streamed from the file while its PATCH goes out (with a transport that streams),
  // so never more than one chunk, and usually far less, is in memory. `onUploadURL` hears about a newly created
  // upload before any byte is sent; `onProgress` hears the offset at the start and after
  // every accepted chunk. Both run on the calling thread.
  Outcome upload(const std::filesystem::path& fileURL, const std::string& title, const TicketProvider& ticketProvider,
                 const std::optional<std::string>& resumeFrom, const UploadURLHandler& onUploadURL,
                 const ProgressHandler& onProgress, std::stop_token stop = {});

  // The "Upload-Metadata" value: entries sorted by key, each "key base64(value)",
  // joined by ",".
  static std::string encodeMetadata(const std::map<std::string, std::string>& metadata);

  // The sentence for a failed response with this status and body.
  static std::string describe(std::int64_t status, std::string_view data);

 private:
  HTTPHeaders authHeaders(const UploadTicket& ticket) const;
  std::string createUpload(const UploadTicket& ticket, std::int64_t totalBytes, const std::string& title,
                           const std::stop_token& stop);
  std::int64_t serverOffset(const std::string& uploadURL, const UploadTicket& ticket, const std::stop_token& stop);
  std::int64_t patch(const std::string& uploadURL, const UploadTicket& ticket, std::int64_t offset,
                     std::int64_t length, const HTTPPerforming::BodyReader& read, const std::stop_token& stop);
  std::int64_t resumeAfterInterruption(const std::string& uploadURL, const UploadTicket& ticket,
                                       std::size_t& interruptions, const std::stop_token& stop);
  HTTPRequest makeRequest(const std::string& method, const std::string& url, const UploadTicket& ticket) const;

  std::shared_ptr<HTTPPerforming> session_;
  std::int64_t chunkSize_;
  Now now_;
  Wait wait_;
  Logger log_{"tus"};
};

}  // namespace tolvane
