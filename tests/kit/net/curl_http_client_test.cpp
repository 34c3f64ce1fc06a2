#include "kit/net/curl_http_client.h"

#include <algorithm>
#include <atomic>
#include <latch>
#include <cstring>
#include <filesystem>
#include <future>
#include <random>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

#include "kit/base/errors.h"
#include "kit/net/transport_error.h"
#include "tests/kit/net/fake_http_transport.h"
#include "tests/kit/net/thrown.h"
#include "tests/support/child_process.h"

namespace tolvane {
namespace {

// A cpp-httplib server on 127.0.0.1 for the life of a test.
class LoopbackServer {
 public:
  LoopbackServer() {
    // Stopping waits for idle keep-alive connections; keep that short.
    server_.set_keep_alive_timeout(1);
    port_ = server_.bind_to_any_port("127.0.0.1");
  }
  ~LoopbackServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

  httplib::Server& server() { return server_; }
  void start() {
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  int port() const { return port_; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
};

HTTPRequest makeRequest(std::string method, std::string url, HTTPHeaders headers = {}) {
  HTTPRequest request;
  request.method = std::move(method);
  request.url = std::move(url);
  request.headers = std::move(headers);
  return request;
}

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

// Serves `bytes` by offset, counting the reads and the largest piece asked for.
struct StringReader {
  const std::string& bytes;
  std::size_t reads = 0;
  std::size_t largestRead = 0;
  std::size_t operator()(std::int64_t offset, std::span<std::byte> into) {
    ++reads;
    largestRead = std::max(largestRead, into.size());
    const std::size_t count = std::min(into.size(), bytes.size() - std::size_t(offset));
    std::memcpy(into.data(), bytes.data() + offset, count);
    return count;
  }
};

HTTPRequest patchRequest(const std::string& url) {
  return makeRequest("PATCH", url, {{"Content-Type", "application/offset+octet-stream"}, {"Upload-Offset", "0"}});
}

TEST(CurlHTTPClient, SendsExactlyTheRequestAndReturnsTheFinalAnswer) {
  LoopbackServer loopback;
  httplib::Request seen;
  loopback.server().Post("/api/echo", [&](const httplib::Request& request, httplib::Response& response) {
    seen = request;
    response.status = 201;
    response.set_header("Upload-Offset", "42");
    response.set_content(R"({"ok":true})", "application/json");
  });
  loopback.server().Get("/old", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/new");
    response.set_header("X-Hop", "first");
  });
  loopback.server().Get("/new", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("arrived", "text/plain");
  });
  loopback.start();

  CurlHTTPClient client;
  HTTPRequest request = makeRequest("POST", loopback.url("/api/echo"),
                                    {{"Authorization", "Bearer abc"}, {"Content-Type", "application/json"}});
  request.body = R"({"name":"Demo"})";
  const HTTPResponse response = client.data(request);
  EXPECT_EQ(response.status, 201);
  EXPECT_EQ(response.body, R"({"ok":true})");
  EXPECT_EQ(response.header("upload-offset"), "42");
  EXPECT_EQ(seen.body, R"({"name":"Demo"})");
  EXPECT_EQ(seen.get_header_value("Authorization"), "Bearer abc");
  EXPECT_EQ(seen.get_header_value("Content-Type"), "application/json");
  EXPECT_FALSE(seen.has_header("Expect"));

  // No form type may be invented for a body, and a POST without one still says there is nothing to wait for.
  request.headers.clear();
  request.body = "raw bytes";
  client.data(request);
  EXPECT_FALSE(seen.has_header("Content-Type"));
  EXPECT_EQ(seen.body, "raw bytes");
  EXPECT_EQ(client.data(makeRequest("POST", loopback.url("/api/echo"))).status, 201);
  EXPECT_EQ(seen.get_header_value("Content-Length"), "0");
  EXPECT_FALSE(seen.has_header("Content-Type"));

  const auto redirected = client.data(makeRequest("GET", loopback.url("/old")));
  EXPECT_EQ(redirected.status, 200);
  EXPECT_EQ(redirected.body, "arrived");
  EXPECT_FALSE(redirected.header("X-Hop")) << "only the final answer's headers are kept";
}

// A server that never answers: the request ends by its idle time-out, or by the caller's
// stop token. A refused connection is an answer (the server is down): it fails at once,
// even in a session that waits for connectivity.
TEST(CurlHTTPClient, ASilentServerTimesOutOrIsCancelledAndARefusedOneFailsAtOnce) {
  LoopbackServer loopback;
  std::latch arrived(2);
  std::latch release(1);
  loopback.server().Get("/silent", [&](const httplib::Request&, httplib::Response&) {
    arrived.count_down();
    release.wait();
  });
  loopback.start();

  CurlHTTPClient client;
  HTTPRequest silent = makeRequest("GET", loopback.url("/silent"));
  std::stop_source stop;
  auto cancelled = std::async(std::launch::async, [&, silent] { client.data(silent, stop.get_token()); });
  silent.timeoutSec = 1;
  const auto refused = makeRequest("GET", "http://127.0.0.1:" + std::to_string(testing::freeLoopbackPort()) + "/");
  CurlHTTPClient waiting(HTTPSessionSettings{.waitsForConnectivity = true, .resourceTimeoutSec = 5});
  const std::tuple<CurlHTTPClient*, HTTPRequest, TransportError::Kind, std::string> cases[] = {
      {&client, silent, TransportError::Kind::timedOut, "The request timed out."},
      {&client, refused, TransportError::Kind::cannotConnect, "Could not connect to the server."},
      {&waiting, refused, TransportError::Kind::cannotConnect, "Could not connect to the server."},
      {&client, makeRequest("GET", "ftp://127.0.0.1/"), TransportError::Kind::badURL,
       "The address of the server is not a valid web address."}};
  for (const auto& [session, request, kind, message] : cases) {
    try {
      session->data(request);
      ADD_FAILURE() << "expected: " << message;
    } catch (const TransportError& error) {
      EXPECT_EQ(error.kind(), kind);
      EXPECT_EQ(error.what(), message);
    }
  }
  arrived.wait();
  stop.request_stop();
  EXPECT_THROW(cancelled.get(), CancellationError);
  EXPECT_THROW(client.data(silent, stop.get_token()), CancellationError);
  release.count_down();
}

TEST(CurlHTTPClient, AStreamedBodyArrivesWholeWithItsLengthAndProgressOnAReusedConnection) {
  LoopbackServer loopback;
  std::mutex mutex;
  std::vector<httplib::Request> seen;
  loopback.server().Patch("/files/1", [&](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard lock(mutex);
    seen.push_back(request);
    response.status = 204;
    response.set_header("Upload-Offset", std::to_string(request.body.size()));
  });
  loopback.start();

  // Not a multiple of the transport's buffer, so the last read is a short one.
  const std::string body = randomBytes(3 * 1024 * 1024 + 17, 7);
  StringReader source{body};
  std::atomic<std::int64_t> lastSent{0};
  std::atomic<std::int64_t> lastTotal{0};
  HTTPRequest request = patchRequest(loopback.url("/files/1"));
  request.onUploadProgress = [&](std::int64_t sent, std::int64_t total) {
    lastSent = sent;
    lastTotal = total;
  };
  CurlHTTPClient client;
  const HTTPPerforming::BodyReader read = std::ref(source);
  EXPECT_EQ(client.uploadStreaming(request, std::int64_t(body.size()), read).status, 204);
  EXPECT_EQ(client.uploadStreaming(request, std::int64_t(body.size()), read).header("Upload-Offset"),
            std::to_string(body.size()));

  ASSERT_EQ(seen.size(), 2u);
  for (const auto& arrived : seen) {
    EXPECT_EQ(arrived.method, "PATCH");
    EXPECT_TRUE(arrived.body == body) << "the body arrived altered (" << arrived.body.size() << " bytes)";
    EXPECT_EQ(arrived.get_header_value("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(arrived.get_header_value("Content-Type"), "application/offset+octet-stream");
    EXPECT_FALSE(arrived.has_header("Transfer-Encoding"));
    EXPECT_FALSE(arrived.has_header("Expect"));
  }
  EXPECT_EQ(seen[0].remote_port, seen[1].remote_port) << "the second request should reuse the connection";
  EXPECT_EQ(lastSent.load(), std::int64_t(body.size()));
  EXPECT_EQ(lastTotal.load(), std::int64_t(body.size()));
  // Read in small pieces, never the whole body at once.
  EXPECT_LE(source.largestRead, 256u * 1024);
  EXPECT_GE(source.reads, 2 * 13u);
}

// A body cancelled, failed by its reader or ended short aborts the request; the client
// carries on.
TEST(CurlHTTPClient, AbortedBodiesFailTheirRequestOnly) {
  LoopbackServer loopback;
  std::atomic<int> handled{0};
  loopback.server().Patch("/files/1", [&](const httplib::Request&, httplib::Response& response) {
    ++handled;
    response.status = 204;
  });
  loopback.start();

  const std::string body = randomBytes(8 * 1024 * 1024, 11);
  std::stop_source stop;
  StringReader source{body};
  std::int64_t furthest = 0;
  const HTTPPerforming::BodyReader read = [&](std::int64_t offset, std::span<std::byte> into) {
    // The user cancels once a mebibyte is on its way.
    if (offset >= 1024 * 1024) stop.request_stop();
    const std::size_t count = source(offset, into);
    furthest = std::max(furthest, offset + std::int64_t(count));
    return count;
  };
  CurlHTTPClient client;
  const auto request = patchRequest(loopback.url("/files/1"));
  EXPECT_THROW(client.uploadStreaming(request, std::int64_t(body.size()), read, stop.get_token()), CancellationError);
  EXPECT_LT(furthest, std::int64_t(body.size()) / 2) << "reading went on after the cancellation";
  EXPECT_EQ(handled.load(), 0) << "the server must never see a whole body";

  // The aborted transfer leaves nothing behind that spoils the next request.
  EXPECT_EQ(client.uploadStreaming(request, std::int64_t(body.size()), std::ref(source)).status, 204);
  EXPECT_EQ(handled.load(), 1);

  const HTTPPerforming::BodyReader failing = [](std::int64_t, std::span<std::byte>) -> std::size_t {
    throw std::filesystem::filesystem_error("Couldn't read the recording", std::make_error_code(std::errc::io_error));
  };
  EXPECT_THROW(client.uploadStreaming(request, 1000, failing), std::filesystem::filesystem_error);

  // The same from libcurl's streaming and from the buffering default of other transports.
  const std::string half(500, 'h');
  StringReader shortSource{half};
  testing::FakeHTTPTransport buffering;
  for (HTTPPerforming* transport : std::initializer_list<HTTPPerforming*>{&client, &buffering}) {
    EXPECT_EQ(testing::thrownWhat<TransportError>(
                  [&] { transport->uploadStreaming(request, 1000, std::ref(shortSource)); }),
              "The request body ended before its announced length.");
  }
  EXPECT_EQ(buffering.requestCount(), 0u);
}

}  // namespace
}  // namespace tolvane
