#include "kit/net/curl_http_client.h"

#include <algorithm>
#include <atomic>
#include <latch>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

#include "kit/base/errors.h"
#include "kit/net/transport_error.h"
#include "tests/kit/net/thrown.h"
#include "tests/support/child_process.h"

namespace tolvane {
namespace {

// A cpp-httplib server on 127.0.0.1 for the life of a test, serving once its routes are set.
struct LoopbackServer {
  LoopbackServer() { server.set_keep_alive_timeout(1); }  // stopping waits for idle keep-alive connections
  ~LoopbackServer() {
    server.stop();
    if (thread.joinable()) thread.join();
  }
  void start() {
    thread = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

  httplib::Server server;
  int port = server.bind_to_any_port("127.0.0.1");
  std::thread thread;
};

HTTPRequest makeRequest(std::string method, std::string url, HTTPHeaders headers = {}) {
  HTTPRequest request;
  request.method = std::move(method);
  request.url = std::move(url);
  request.headers = std::move(headers);
  return request;
}

// Serves `bytes` by offset, noting the largest piece asked for.
struct StringReader {
  const std::string& bytes;
  std::size_t largestRead = 0;
  std::size_t operator()(std::int64_t offset, std::span<std::byte> into) {
    largestRead = std::max(largestRead, into.size());
    const std::size_t count = std::min(into.size(), bytes.size() - std::size_t(offset));
    std::memcpy(into.data(), bytes.data() + offset, count);
    return count;
  }
};

// A server that never answers: the request ends by its idle time-out, or by the caller's
// stop token. A refused connection is an answer (the server is down): it fails at once,
// even in a session that waits for connectivity.
TEST(CurlHTTPClient, ASilentServerTimesOutOrIsCancelledAndARefusedOneFailsAtOnce) {
  LoopbackServer loopback;
  std::latch arrived(2);
  std::latch release(1);
  loopback.server.Get("/silent", [&](const httplib::Request&, httplib::Response&) {
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

// A body cancelled, failed by its reader or ended short aborts the request; the client
// carries on.
TEST(CurlHTTPClient, AbortedBodiesFailTheirRequestOnly) {
  LoopbackServer loopback;
  std::atomic<int> handled{0};
  std::atomic<bool> framed{false};  // chunked, or made to wait for "100 Continue"
  loopback.server.Patch("/files/1", [&](const httplib::Request& request, httplib::Response& response) {
    ++handled;
    framed = request.has_header("Transfer-Encoding") || request.has_header("Expect");
    response.status = 204;
  });
  loopback.start();

  const std::string body(8 * 1024 * 1024, 'b');
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
  const auto request = makeRequest("PATCH", loopback.url("/files/1"), {{"Upload-Offset", "0"}});
  EXPECT_THROW(client.uploadStreaming(request, std::int64_t(body.size()), read, stop.get_token()), CancellationError);
  EXPECT_LT(furthest, std::int64_t(body.size()) / 2) << "reading went on after the cancellation";
  EXPECT_EQ(handled.load(), 0) << "the server must never see a whole body";

  // The aborted transfer leaves nothing behind that spoils the next request.
  EXPECT_EQ(client.uploadStreaming(request, std::int64_t(body.size()), std::ref(source)).status, 204);
  EXPECT_EQ(handled.load(), 1);
  EXPECT_FALSE(framed.load()) << "a streamed body goes out plainly, with its Content-Length";
  EXPECT_LE(source.largestRead, 256u * 1024) << "read in small pieces, never the whole body at once";

  const HTTPPerforming::BodyReader failing = [](std::int64_t, std::span<std::byte>) -> std::size_t {
    throw std::filesystem::filesystem_error("Couldn't read the recording", std::make_error_code(std::errc::io_error));
  };
  EXPECT_THROW(client.uploadStreaming(request, 1000, failing), std::filesystem::filesystem_error);

  const std::string half(500, 'h');
  StringReader shortSource{half};
  EXPECT_EQ(testing::thrownWhat<TransportError>([&] { client.uploadStreaming(request, 1000, std::ref(shortSource)); }),
            "The request body ended before its announced length.");
}

// A download reaches its writer in pieces, in order, through a redirect; a writer that
// fails (a full disk) stops the transfer with its own error.
TEST(CurlHTTPClient, DownloadsHandTheBodyOverInPiecesAndAFailingWriterStopsThem) {
  LoopbackServer loopback;
  const std::string package(3 * 1024 * 1024 + 17, 'p');
  loopback.server.Get("/latest", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/packages/p.deb");
  });
  loopback.server.Get("/packages/p.deb", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(package, "application/vnd.debian.binary-package");
  });
  loopback.start();

  CurlHTTPClient client;
  std::string written;
  std::size_t pieces = 0;
  const HTTPPerforming::BodyWriter write = [&](std::int64_t offset, std::string_view bytes) {
    ASSERT_EQ(offset, std::int64_t(written.size()));
    written.append(bytes);
    ++pieces;
  };
  const HTTPResponse response = client.download(makeRequest("GET", loopback.url("/latest")), write);
  EXPECT_EQ(response.status, 200);
  EXPECT_TRUE(response.body.empty()) << "nothing of a download is kept in memory";
  EXPECT_TRUE(written == package);
  EXPECT_GT(pieces, 1u);

  const HTTPPerforming::BodyWriter full = [](std::int64_t offset, std::string_view) {
    if (offset > 0) throw std::filesystem::filesystem_error("disk full", std::make_error_code(std::errc::no_space_on_device));
  };
  EXPECT_THROW(client.download(makeRequest("GET", loopback.url("/packages/p.deb")), full),
               std::filesystem::filesystem_error);
}

}  // namespace
}  // namespace tolvane
