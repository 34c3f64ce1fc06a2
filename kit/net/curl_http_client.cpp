#include "kit/net/curl_http_client.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>

#include <curl/curl.h>

#include "kit/base/errors.h"
#include "kit/net/transport_error.h"

namespace tolvane {
namespace {

constexpr std::size_t kMaxIdleHandles = 8;
constexpr long kMaxRedirects = 10;

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// libcurl's upload buffer for streamed bodies: large enough that the per-call overhead of
// the reader vanishes, small enough to stay in the CPU caches.
constexpr long kStreamingBufferBytes = 256 * 1024;

// Everything one transfer's callbacks touch.
struct Transfer {
  HTTPResponse response;
  std::stop_token stop;
  const std::function<void(std::int64_t, std::int64_t)>* onUploadProgress = nullptr;
  // A streamed body: its reader, its announced length and the offset of the next byte.
  const HTTPPerforming::BodyReader* reader = nullptr;
  std::int64_t bodyLength = 0;
  std::int64_t bodyPosition = 0;
  // Why the reader stopped the transfer, to be thrown once libcurl has returned.
  std::exception_ptr readerError;
  bool bodyEndedEarly = false;
  // A body handed over as it arrives instead of kept, with the offset of its next byte
  // and what the writer threw.
  const HTTPPerforming::BodyWriter* writer = nullptr;
  std::int64_t received = 0;
  std::exception_ptr writerError;
};

std::size_t readBody(char* buffer, std::size_t size, std::size_t count, void* context) {
  auto& transfer = *static_cast<Transfer*>(context);
  if (transfer.stop.stop_requested()) return CURL_READFUNC_ABORT;
  const std::int64_t left = transfer.bodyLength - transfer.bodyPosition;
  if (left <= 0) return 0;
  const std::size_t wanted = std::min<std::size_t>(size * count, static_cast<std::size_t>(left));
  std::size_t written = 0;
  try {
    written = (*transfer.reader)(transfer.bodyPosition, std::span(reinterpret_cast<std::byte*>(buffer), wanted));
  } catch (...) {
    // Exceptions must not unwind through libcurl; it is aborted and the error rethrown.
    transfer.readerError = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
  // Ending early would leave the server waiting for bytes announced but never sent.
  if (written == 0 || written > wanted) {
    transfer.bodyEndedEarly = true;
    return CURL_READFUNC_ABORT;
  }
  transfer.bodyPosition += std::int64_t(written);
  return written;
}

// libcurl rewinds the body when it has to send the request again (a redirect, a reused
// connection that turned out closed); the reader reads by offset, so any point will do.
int seekBody(void* context, curl_off_t offset, int origin) {
  auto& transfer = *static_cast<Transfer*>(context);
  if (origin != SEEK_SET || offset < 0 || offset > transfer.bodyLength) return CURL_SEEKFUNC_FAIL;
  transfer.bodyPosition = offset;
  return CURL_SEEKFUNC_OK;
}

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto& transfer = *static_cast<Transfer*>(context);
  const std::size_t length = size * count;
  if (transfer.writer == nullptr) {
    transfer.response.body.append(data, length);
    return length;
  }
  try {
    (*transfer.writer)(transfer.received, std::string_view(data, length));
  } catch (...) {
    // Any count but `length` makes libcurl stop with CURLE_WRITE_ERROR.
    transfer.writerError = std::current_exception();
    return 0;
  }
  transfer.received += static_cast<std::int64_t>(length);
  return length;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

std::size_t writeHeader(char* data, std::size_t size, std::size_t count, void* context) {
  auto& transfer = *static_cast<Transfer*>(context);
  const std::string_view line(data, size * count);
  // A status line starts the headers of a new response (after a redirect or a
  // "100 Continue"): only the final response's headers are kept.
  if (line.starts_with("HTTP/")) {
    transfer.response.headers.clear();
    return size * count;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return size * count;
  transfer.response.headers.emplace_back(std::string(trimmed(line.substr(0, colon))),
                                         std::string(trimmed(line.substr(colon + 1))));
  return size * count;
}

int reportProgress(void* context, curl_off_t, curl_off_t, curl_off_t uploadTotal, curl_off_t uploaded) {
  auto& transfer = *static_cast<Transfer*>(context);
  // A non-zero answer aborts the transfer at once, even in the middle of a body.
  if (transfer.stop.stop_requested()) return 1;
  if (transfer.onUploadProgress && *transfer.onUploadProgress && uploadTotal > 0) {
    (*transfer.onUploadProgress)(uploaded, uploadTotal);
  }
  return 0;
}

TransportError transportError(CURLcode code) {
  using Kind = TransportError::Kind;
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return {Kind::timedOut, "The request timed out.", code};
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return {Kind::cannotFindHost, "A server with the specified hostname could not be found.", code};
    case CURLE_COULDNT_CONNECT:
      return {Kind::cannotConnect, "Could not connect to the server.", code};
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return {Kind::badURL, "The address of the server is not a valid web address.", code};
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return {Kind::connectionLost, "The network connection was lost.", code};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return {Kind::secureConnectionFailed,
              "An SSL error has occurred and a secure connection to the server cannot be made.", code};
    default:
      // libcurl's own wording is for the log (the code travels with the error).
      return {Kind::other, "A network error occurred.", code};
  }
}

// No route, no name server: the machine is offline, and waiting for the network makes
// sense. A refused connection is an answer (the server is down) and fails at once, so
// that the caller's back-off, not this wait, decides when to try again.
bool isConnectivityFailure(CURLcode code, long osErrno) {
  if (code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY) return true;
  return code == CURLE_COULDNT_CONNECT && osErrno != ECONNREFUSED;
}

long wholeSeconds(double seconds) { return std::max(1L, static_cast<long>(std::ceil(seconds))); }

struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
  void append(const std::string& line) {
    if (auto* grown = curl_slist_append(list, line.c_str())) list = grown;
  }
};

}  // namespace

// What goes out after the headers: nothing, bytes in memory, or bytes from a reader.
struct CurlHTTPClient::RequestBody {
  bool present = false;
  std::span<const std::byte> bytes;
  const BodyReader* reader = nullptr;
  std::int64_t length = 0;

  static RequestBody none(bool saysEmpty) {
    RequestBody body;
    body.present = saysEmpty;
    return body;
  }
  static RequestBody inMemory(std::span<const std::byte> bytes) {
    RequestBody body;
    body.present = true;
    body.bytes = bytes;
    return body;
  }
  static RequestBody streamed(const BodyReader& reader, std::int64_t length) {
    RequestBody body;
    body.present = true;
    body.reader = &reader;
    body.length = std::max<std::int64_t>(length, 0);
    return body;
  }
};

// DNS answers and TLS sessions shared between the pool's handles, with the locks libcurl
// asks for. Connections stay per handle: libcurl does not support one connection cache
// used by concurrent threads.
struct CurlHTTPClient::Share {
  CURLSH* handle = nullptr;
  std::mutex locks[CURL_LOCK_DATA_LAST];

  Share() {
    handle = curl_share_init();
    curl_share_setopt(handle, CURLSHOPT_LOCKFUNC, &Share::lock);
    curl_share_setopt(handle, CURLSHOPT_UNLOCKFUNC, &Share::unlock);
    curl_share_setopt(handle, CURLSHOPT_USERDATA, this);
    curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  }
  ~Share() { curl_share_cleanup(handle); }

  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* context) {
    static_cast<Share*>(context)->locks[data].lock();
  }
  static void unlock(CURL*, curl_lock_data data, void* context) { static_cast<Share*>(context)->locks[data].unlock(); }
};

// A pooled easy handle for the length of one request.
class CurlHTTPClient::HandleLease {
 public:
  explicit HandleLease(CurlHTTPClient& client) : client_(client), handle_(client.takeHandle()) {}
  ~HandleLease() { client_.returnHandle(handle_); }
  HandleLease(const HandleLease&) = delete;
  HandleLease& operator=(const HandleLease&) = delete;
  CURL* get() const { return handle_; }

 private:
  CurlHTTPClient& client_;
  CURL* handle_;
};

CurlHTTPClient::CurlHTTPClient(HTTPSessionSettings settings) : settings_(settings) {
  initialiseCurlOnce();
  share_ = std::make_unique<Share>();
}

CurlHTTPClient::~CurlHTTPClient() {
  for (CURL* handle : idleHandles_) curl_easy_cleanup(handle);
}

CURL* CurlHTTPClient::takeHandle() {
  {
    std::lock_guard lock(poolMutex_);
    if (!idleHandles_.empty()) {
      CURL* handle = idleHandles_.back();
      idleHandles_.pop_back();
      return handle;
    }
  }
  CURL* handle = curl_easy_init();
  if (handle == nullptr) throw std::bad_alloc();
  return handle;
}

void CurlHTTPClient::returnHandle(CURL* handle) {
  // Resetting the options keeps the handle's live connections for the next request.
  curl_easy_reset(handle);
  {
    std::lock_guard lock(poolMutex_);
    if (idleHandles_.size() < kMaxIdleHandles) {
      idleHandles_.push_back(handle);
      return;
    }
  }
  curl_easy_cleanup(handle);
}

HTTPResponse CurlHTTPClient::data(const HTTPRequest& request, std::stop_token stop) {
  if (!request.body) {
    // A POST, PUT or PATCH without a body still says "Content-Length: 0", or the server
    // would wait for a body that never comes.
    const bool expectsBody = request.method == "POST" || request.method == "PUT" || request.method == "PATCH";
    return perform(request, RequestBody::none(expectsBody), std::move(stop));
  }
  return perform(request, RequestBody::inMemory(std::as_bytes(std::span(*request.body))), std::move(stop));
}

HTTPResponse CurlHTTPClient::upload(const HTTPRequest& request, std::span<const std::byte> body,
                                    std::stop_token stop) {
  return perform(request, RequestBody::inMemory(body), std::move(stop));
}

HTTPResponse CurlHTTPClient::uploadStreaming(const HTTPRequest& request, std::int64_t length, const BodyReader& read,
                                             std::stop_token stop) {
  return perform(request, RequestBody::streamed(read, length), std::move(stop));
}

HTTPResponse CurlHTTPClient::download(const HTTPRequest& request, const BodyWriter& write, std::stop_token stop) {
  if (!request.body) return perform(request, RequestBody::none(false), std::move(stop), &write);
  return perform(request, RequestBody::inMemory(std::as_bytes(std::span(*request.body))), std::move(stop), &write);
}

HTTPResponse CurlHTTPClient::perform(const HTTPRequest& request, const RequestBody& body, std::stop_token stop,
                                     const BodyWriter* write) {
  const bool hasBody = body.present;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(settings_.resourceTimeoutSec));
  const double idleTimeoutSec = request.timeoutSec.value_or(settings_.requestTimeoutSec);
  auto retryDelay = std::chrono::milliseconds(250);
  bool loggedWaiting = false;

  while (true) {
    if (stop.stop_requested()) throw CancellationError();
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (remaining.count() <= 0) throw transportError(CURLE_OPERATION_TIMEDOUT);

    HandleLease lease(*this);
    CURL* curl = lease.get();
    Transfer transfer;
    transfer.stop = stop;
    transfer.onUploadProgress = &request.onUploadProgress;
    transfer.reader = body.reader;
    transfer.bodyLength = body.length;
    transfer.writer = write;
    HeaderList headers;
    bool hasContentType = false;
    for (const auto& [name, value] : request.headers) {
      headers.append(name + ": " + value);
      if (strcasecmp(name.c_str(), "Content-Type") == 0) hasContentType = true;
    }
    // libcurl would add a form Content-Type to any body and "Expect: 100-continue" to
    // large ones; the callers say exactly which headers go out.
    if (hasBody && !hasContentType) headers.append("Content-Type:");
    headers.append("Expect:");

    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_SHARE, share_->handle);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idleTimeoutSec * 1000));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, wholeSeconds(idleTimeoutSec));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(remaining.count()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &writeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &reportProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);

    if (request.method == "HEAD") {
      curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (body.reader != nullptr) {
      // A POST whose body libcurl pulls from the read callback, announced with a
      // Content-Length, under the caller's method; the same framing as a buffer below.
      curl_easy_setopt(curl, CURLOPT_POST, 1L);
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.length));
      curl_easy_setopt(curl, CURLOPT_READFUNCTION, &readBody);
      curl_easy_setopt(curl, CURLOPT_READDATA, &transfer);
      curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, &seekBody);
      curl_easy_setopt(curl, CURLOPT_SEEKDATA, &transfer);
      curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kStreamingBufferBytes);
      curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    } else if (hasBody) {
      // libcurl sends the caller's buffer in place (no copy of an 8 MiB chunk) and always
      // with a Content-Length, "0" included.
      const char* bytes = body.bytes.empty() ? "" : reinterpret_cast<const char*>(body.bytes.data());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, bytes);
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.bytes.size()));
      curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    } else if (request.method != "GET") {
      curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    const CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK) {
      long status = 0;
      curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
      transfer.response.status = status;
      return std::move(transfer.response);
    }
    if (transfer.readerError) std::rethrow_exception(transfer.readerError);
    if (transfer.writerError) std::rethrow_exception(transfer.writerError);
    if (transfer.bodyEndedEarly) throw bodyEndedEarly();
    if (result == CURLE_ABORTED_BY_CALLBACK || stop.stop_requested()) throw CancellationError();
    long osErrno = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
    if (!settings_.waitsForConnectivity || !isConnectivityFailure(result, osErrno)) {
      log_.error("{} {} failed: {} (errno {})", request.method, request.url, curl_easy_strerror(result), osErrno);
      throw transportError(result);
    }

    if (!loggedWaiting) {
      log_.info("waiting for connectivity to reach {}", request.url);
      loggedWaiting = true;
    }
    // Sleep until the next attempt, waking early when the caller cancels.
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_until(lock, stop, std::min(deadline, Clock::now() + retryDelay), [] { return false; });
    retryDelay = std::min(retryDelay * 2, std::chrono::milliseconds(5000));
  }
}

std::shared_ptr<CurlHTTPClient> makeUploadSession() {
  return std::make_shared<CurlHTTPClient>(HTTPSessionSettings::upload());
}

}  // namespace tolvane
