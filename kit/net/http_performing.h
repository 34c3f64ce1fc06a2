#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane {

using HTTPHeaders = std::vector<std::pair<std::string, std::string>>;

// Case-insensitive lookup of the first header called `name`.
std::optional<std::string> findHeader(const HTTPHeaders& headers, std::string_view name);

// One request as the callers build it. Only what is set here goes on the wire (the
// transport adds nothing but the framing headers HTTP itself needs).
struct HTTPRequest {
  std::string method = "GET";
  std::string url;
  HTTPHeaders headers;
  std::optional<std::string> body;
  // Longest stretch without any bytes moving before the request fails as timed out;
  // none uses the session's `requestTimeoutSec`.
  std::optional<double> timeoutSec;
  // Bytes of the request body sent so far and in total; called on the transfer thread.
  std::function<void(std::int64_t sentBytes, std::int64_t totalBytes)> onUploadProgress;

  std::optional<std::string> header(std::string_view name) const { return findHeader(headers, name); }
  void setHeader(std::string name, std::string value);
};

// The final answer of a request (after redirects): status, headers and the whole body.
struct HTTPResponse {
  std::int64_t status = 0;
  HTTPHeaders headers;
  std::string body;

  std::optional<std::string> header(std::string_view name) const { return findHeader(headers, name); }
};

// The transport seam of every network caller (service API, token refresh, sign-in,
// update check, tus uploads), so that each can be driven by a fake in tests.
//
// Implementations are safe to call from several threads at once. A transport failure
// (no connection, time-out, TLS) is thrown as TransportError; a request whose stop token
// is triggered, before or during the transfer, throws CancellationError. Any HTTP status,
// including 4xx and 5xx, is an answer, not an error.
class HTTPPerforming {
 public:
  virtual ~HTTPPerforming() = default;

  // Sends the request (with its own body, if any) and returns the answer.
  virtual HTTPResponse data(const HTTPRequest& request, std::stop_token stop = {}) = 0;
  // Sends the request with `body` as its body, ignoring `request.body`. The bytes must
  // stay alive until the call returns; they are not copied.
  virtual HTTPResponse upload(const HTTPRequest& request, std::span<const std::byte> body,
                              std::stop_token stop = {}) = 0;

  // Supplies body bytes: fills the front of `into` with the body from `offset` on and
  // answers how many it wrote, at least one while the body has bytes left. Called on the
  // transfer thread, in order, but from an earlier offset again when the request has to
  // be sent anew (a redirect, a retried connection). Whatever it throws aborts the request
  // and comes out of uploadStreaming() unchanged.
  using BodyReader = std::function<std::size_t(std::int64_t offset, std::span<std::byte> into)>;

  // Sends the request with a body of exactly `length` bytes taken from `read` while the
  // transfer goes, so that a large body never has to sit in memory whole. A reader that
  // runs dry before `length` fails the request with a TransportError.
  //
  // This default reads the whole body into a buffer and sends it with upload(), which
  // serves transports that cannot stream; CurlHTTPClient streams.
  virtual HTTPResponse uploadStreaming(const HTTPRequest& request, std::int64_t length, const BodyReader& read,
                                       std::stop_token stop = {});

  // Takes the final response's body bytes as they arrive: `offset` is where `bytes`
  // start in the body, back at 0 when the request is sent anew after a lost connection
  // (the sink starts over). Whatever it throws aborts the request and comes out of
  // download() unchanged.
  using BodyWriter = std::function<void(std::int64_t offset, std::string_view bytes)>;

  // Sends the request and hands the answer's body to `write` instead of keeping it, so
  // that a large download never sits in memory whole; the returned response has no body.
  //
  // This default collects the body with data() and hands it over at once, which serves
  // transports that cannot stream; CurlHTTPClient streams.
  virtual HTTPResponse download(const HTTPRequest& request, const BodyWriter& write, std::stop_token stop = {});
};

}  // namespace tolvane
