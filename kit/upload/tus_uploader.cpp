#include "kit/upload/tus_uploader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <mutex>

#include <fmt/format.h>

#include "kit/base/errors.h"
#include "kit/base/file_descriptor.h"
#include "kit/config/url.h"
#include "kit/net/http_error.h"
#include "kit/net/transport_error.h"
#include "kit/upload/local_upload_error.h"

namespace tolvane {
namespace {

constexpr double kRequestTimeoutSec = 60;
// A ticket this close to its expiry is replaced before the next chunk, so that no
// request goes out with a signature that may lapse while it is in flight.
constexpr std::int64_t kTicketRenewalMarginSec = 600;
constexpr std::size_t kDescribedBodyBytes = 300;

std::string base64(std::string_view bytes) {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const auto n = (std::uint32_t(std::uint8_t(bytes[i])) << 16) | (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8) |
                   std::uint8_t(bytes[i + 2]);
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += alphabet[(n >> 6) & 63];
    out += alphabet[n & 63];
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    std::uint32_t n = std::uint32_t(std::uint8_t(bytes[i])) << 16;
    if (rest == 2) n |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += rest == 2 ? alphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// "Upload-Offset" as a decimal signed 64-bit number with an optional sign.
std::optional<std::int64_t> parseOffset(const std::optional<std::string>& header) {
  if (!header || header->empty()) return std::nullopt;
  std::string_view text = *header;
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front()))) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return negative ? -value : value;
}

bool isValidUTF8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

std::string trimmed(std::string_view text) {
  const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::int64_t unixSeconds(Date date) {
  return std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count();
}

// The user reads about the recording, not about a path and an errno.
LocalUploadError fileError(int error) {
  if (error == ENOENT) return LocalUploadError("The recording's video file is missing.");
  if (error == EACCES || error == EPERM) return LocalUploadError("Tolvane isn't allowed to read the recording's video file.");
  return LocalUploadError("Couldn't read the recording's video file.");
}

// A connection that broke while a chunk was on its way, or could not be made again
// right after: worth asking the server where it got to.
bool isInterruption(const TransportError& error) {
  using Kind = TransportError::Kind;
  return error.kind() == Kind::connectionLost || error.kind() == Kind::cannotConnect || error.kind() == Kind::timedOut;
}

void waitOrCancel(std::chrono::seconds delay, const std::stop_token& stop) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  if (wake.wait_for(lock, stop, delay, [] { return false; }) || stop.stop_requested()) throw CancellationError();
}

// The recording, open for reading by offset; closed whatever happens to the upload.
class ChunkReader {
 public:
  explicit ChunkReader(const std::filesystem::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (!fd_.isOpen()) throw fileError(errno);
  }

  // The file's size now, which may differ from the one the upload started with.
  std::int64_t size() const {
    struct stat status {};
    if (::fstat(fd_.get(), &status) != 0) throw fileError(errno);
    return std::int64_t(status.st_size);
  }

  // Fills as much of `buffer` as the file holds from `offset` on; answers the count.
  std::size_t read(std::int64_t offset, std::span<std::byte> buffer) {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
      const ssize_t n =
          ::pread(fd_.get(), buffer.data() + filled, buffer.size() - filled, off_t(offset) + off_t(filled));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw fileError(errno);
      if (n == 0) break;
      filled += std::size_t(n);
    }
    return filled;
  }

 private:
  FileDescriptor fd_;
};

}  // namespace

double TusUploader::Progress::fraction() const {
  if (totalBytes < 1) return 0;
  return double(uploadedBytes) / double(totalBytes);
}

TusUploader::TusUploader(std::shared_ptr<HTTPPerforming> session, std::int64_t chunkSize, Now now, Wait wait)
    : session_(std::move(session)),
      chunkSize_(chunkSize > 0 ? chunkSize : defaultChunkSize),
      now_(std::move(now)),
      wait_(wait ? std::move(wait) : Wait(waitOrCancel)) {}

TusUploader::Outcome TusUploader::upload(const std::filesystem::path& fileURL, const std::string& title,
                                         const TicketProvider& ticketProvider,
                                         const std::optional<std::string>& resumeFrom,
                                         const UploadURLHandler& onUploadURL, const ProgressHandler& onProgress,
                                         std::stop_token stop) {
  // Opened first: a missing or unreadable file fails before any request.
  ChunkReader file(fileURL);
  const std::int64_t total = file.size();
  if (total < 1) throw LocalUploadError("That recording file is empty.");

  UploadTicket ticket = ticketProvider();

  std::optional<std::string> uploadURL;
  std::int64_t offset = 0;
  if (resumeFrom) {
    try {
      offset = serverOffset(*resumeFrom, ticket, stop);
      uploadURL = resumeFrom;
      log_.info("resuming upload at {}/{} bytes", offset, total);
    } catch (const HTTPError& error) {
      if (error.status() != 404 && error.status() != 410) throw;
      log_.error("previous upload no longer exists; starting a fresh one");
      ticket = ticketProvider();
    }
  }
  if (!uploadURL) {
    uploadURL = createUpload(ticket, total, title, stop);
    if (onUploadURL) onUploadURL(*uploadURL);
    offset = 0;
  }
  if (onProgress) onProgress({offset, total});

  const std::int64_t chunkLimit = std::min(chunkSize_, total);
  std::size_t interruptions = 0;  // waits used since the last accepted chunk
  while (offset < total) {
    if (stop.stop_requested()) throw CancellationError();
    if (unixSeconds(now_()) > ticket.expire - kTicketRenewalMarginSec) ticket = ticketProvider();
    // A chunk is as much as the file holds from the offset on, up to the chunk size; its
    // length goes out before its bytes, so it is taken from the file's size right now.
    const std::int64_t length = std::min(chunkLimit, file.size() - offset);
    if (length <= 0) break;
    const std::int64_t chunkStart = offset;
    const HTTPPerforming::BodyReader read = [&](std::int64_t at, std::span<std::byte> into) {
      const std::size_t count = file.read(chunkStart + at, into);
      // Bytes counted a moment ago are gone: the file was cut while it was being sent.
      if (count == 0) throw LocalUploadError("The recording got shorter while it was being sent.");
      return count;
    };
    std::int64_t reached = 0;
    try {
      reached = patch(*uploadURL, ticket, offset, length, read, stop);
      interruptions = 0;
    } catch (const TransportError& error) {
      // A connection cut mid-chunk: wait a little, ask the server what arrived and go
      // on from there, within this attempt; after the last wait the attempt fails.
      if (!isInterruption(error) || interruptions == resumeWaits.size()) throw;
      offset = resumeAfterInterruption(*uploadURL, ticket, interruptions, stop);
      if (onProgress) onProgress({offset, total});
      continue;
    }
    if (reached <= offset) throw LocalUploadError("The upload stopped making progress.");
    offset = reached;
    if (onProgress) onProgress({offset, total});
  }
  return Outcome{*uploadURL, offset};
}

std::int64_t TusUploader::resumeAfterInterruption(const std::string& uploadURL, const UploadTicket& ticket,
                                                  std::size_t& interruptions, const std::stop_token& stop) {
  for (;;) {
    const auto delay = resumeWaits[interruptions++];
    log_.info("connection lost mid-chunk; asking the server for its offset in {}s", delay.count());
    wait_(delay, stop);
    try {
      return serverOffset(uploadURL, ticket, stop);
    } catch (const TransportError& error) {
      if (!isInterruption(error) || interruptions == resumeWaits.size()) throw;
    }
  }
}

HTTPHeaders TusUploader::authHeaders(const UploadTicket& ticket) const {
  return {{"Tus-Resumable", "1.0.0"},
          {"AuthorizationSignature", ticket.signature},
          {"AuthorizationExpire", std::to_string(ticket.expire)},
          {"LibraryId", ticket.libraryId},
          {"VideoId", ticket.uid}};
}

HTTPRequest TusUploader::makeRequest(const std::string& method, const std::string& url,
                                     const UploadTicket& ticket) const {
  HTTPRequest request;
  request.method = method;
  request.url = url;
  request.headers = authHeaders(ticket);
  request.timeoutSec = kRequestTimeoutSec;
  return request;
}

std::string TusUploader::createUpload(const UploadTicket& ticket, std::int64_t totalBytes, const std::string& title,
                                      const std::stop_token& stop) {
  const auto endpoint = Url::parse(ticket.endpoint);
  if (!endpoint) throw LocalUploadError("The upload endpoint is malformed.");

  HTTPRequest request = makeRequest("POST", endpoint->text(), ticket);
  request.setHeader("Upload-Length", std::to_string(totalBytes));
  request.setHeader("Upload-Metadata", encodeMetadata({{"filetype", "video/mp4"}, {"title", title}}));
  // No body, said explicitly: an empty body goes out with "Content-Length: 0", without
  // which some servers wait for a body that never comes.
  request.body = std::string();
  const HTTPResponse response = session_->data(request, stop);

  if (response.status != 200 && response.status != 201) {
    throw HTTPError(response.status, describe(response.status, response.body));
  }
  const auto location = response.header("Location");
  const auto resolved = location ? endpoint->resolving(*location) : std::nullopt;
  if (!resolved) throw HTTPError(response.status, "The upload server didn't say where to send the file.");
  return resolved->text();
}

std::int64_t TusUploader::serverOffset(const std::string& uploadURL, const UploadTicket& ticket,
                                       const std::stop_token& stop) {
  const HTTPResponse response = session_->data(makeRequest("HEAD", uploadURL, ticket), stop);
  if (response.status != 200 && response.status != 204) {
    throw HTTPError(response.status, "Couldn't check how much of the upload arrived.");
  }
  const auto offset = parseOffset(response.header("Upload-Offset"));
  if (!offset) throw HTTPError(response.status, "The upload server didn't report an offset.");
  return *offset;
}

std::int64_t TusUploader::patch(const std::string& uploadURL, const UploadTicket& ticket, std::int64_t offset,
                                std::int64_t length, const HTTPPerforming::BodyReader& read,
                                const std::stop_token& stop) {
  HTTPRequest request = makeRequest("PATCH", uploadURL, ticket);
  request.setHeader("Upload-Offset", std::to_string(offset));
  request.setHeader("Content-Type", "application/offset+octet-stream");
  const HTTPResponse response = session_->uploadStreaming(request, length, read, stop);

  if (response.status == 200 || response.status == 204) {
    return parseOffset(response.header("Upload-Offset")).value_or(offset + length);
  }
  // The server holds a different offset than we assumed: ask it, and carry on from there.
  if (response.status == 409) return serverOffset(uploadURL, ticket, stop);
  throw HTTPError(response.status, describe(response.status, response.body));
}

std::string TusUploader::encodeMetadata(const std::map<std::string, std::string>& metadata) {
  std::string out;
  for (const auto& [key, value] : metadata) {
    if (!out.empty()) out += ',';
    out += key;
    out += ' ';
    out += base64(value);
  }
  return out;
}

std::string TusUploader::describe(std::int64_t status, std::string_view data) {
  const std::string_view head = data.substr(0, std::min(data.size(), kDescribedBodyBytes));
  const std::string text = isValidUTF8(head) ? trimmed(head) : std::string();
  if (status == 0) return "No response from the upload service.";
  if (status == 401 || status == 403) return "The upload was rejected as unauthorised.";
  if (status == 413) return "That recording is larger than the upload service accepts.";
  if (text.empty()) return fmt::format("Upload failed ({}).", status);
  return fmt::format("Upload failed ({}): {}", status, text);
}

}  // namespace tolvane
