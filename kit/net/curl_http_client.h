#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "kit/base/log.h"
#include "kit/net/http_performing.h"
#include "kit/net/http_session_settings.h"

typedef void CURL;

namespace tolvane {

// The production transport over libcurl.
//
// Thread-safe: any number of threads may send requests at once. Each request runs on
// the calling thread with an easy handle taken from a pool; handles go back to the pool
// afterwards with their open connections, so consecutive requests to the same host reuse
// a connection. DNS answers and TLS sessions are shared between all handles.
// TLS peers and host names are always verified. Redirects are followed (at most 10).
class CurlHTTPClient final : public HTTPPerforming {
 public:
  explicit CurlHTTPClient(HTTPSessionSettings settings = HTTPSessionSettings::standard());
  ~CurlHTTPClient() override;
  CurlHTTPClient(const CurlHTTPClient&) = delete;
  CurlHTTPClient& operator=(const CurlHTTPClient&) = delete;

  HTTPResponse data(const HTTPRequest& request, std::stop_token stop = {}) override;
  HTTPResponse upload(const HTTPRequest& request, std::span<const std::byte> body, std::stop_token stop = {}) override;
  // Streams the body through libcurl's own upload buffer: `read` writes straight into it,
  // a quarter of a mebibyte at a time.
  HTTPResponse uploadStreaming(const HTTPRequest& request, std::int64_t length, const BodyReader& read,
                               std::stop_token stop = {}) override;
  // Hands each piece of the body to `write` from libcurl's own receive buffer.
  HTTPResponse download(const HTTPRequest& request, const BodyWriter& write, std::stop_token stop = {}) override;

  const HTTPSessionSettings& settings() const { return settings_; }

 private:
  struct Share;
  class HandleLease;
  struct RequestBody;

  HTTPResponse perform(const HTTPRequest& request, const RequestBody& body, std::stop_token stop,
                       const BodyWriter* write = nullptr);
  CURL* takeHandle();
  void returnHandle(CURL* handle);

  HTTPSessionSettings settings_;
  std::unique_ptr<Share> share_;
  std::mutex poolMutex_;
  std::vector<CURL*> idleHandles_;  // guarded by poolMutex_
  Logger log_{"http"};
};

// A new transport with the upload settings, for the tus uploader.
std::shared_ptr<CurlHTTPClient> makeUploadSession();

}  // namespace tolvane
