#include "kit/upload/curl_http_client.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

#include "kit/base/errors.h"
#include "kit/upload/transport_error.h"
#include "kit/upload/tus_uploader.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

// A cpp-httplib server on 127.0.0.1 for the life of a test.
class LoopbackServer {
 public:
  LoopbackServer() {
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
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
};

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
  HTTPRequest request;
  request.method = "PATCH";
  request.url = url;
  request.headers = {{"Content-Type", "application/offset+octet-stream"}, {"Upload-Offset", "0"}};
  return request;
}

TEST(StreamingUpload, TheBodyArrivesWholeWithItsLengthAndProgressOnAReusedConnection) {
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
  const HTTPResponse first = client.uploadStreaming(request, std::int64_t(body.size()), read);
  const HTTPResponse second = client.uploadStreaming(request, std::int64_t(body.size()), read);

  EXPECT_EQ(first.status, 204);
  EXPECT_EQ(second.header("Upload-Offset"), std::to_string(body.size()));
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

TEST(StreamingUpload, CancellingMidBodyAbortsAndTheClientCarriesOn) {
  LoopbackServer loopback;
  std::atomic<int> handled{0};
  loopback.server().Patch("/files/1", [&](const httplib::Request&, httplib::Response& response) {
    ++handled;
    response.status = 204;
  });
  loopback.start();

  const std::string body = randomBytes(8 * 1024 * 1024, 11);
  std::stop_source stop;
  std::int64_t furthest = 0;
  const HTTPPerforming::BodyReader read = [&](std::int64_t offset, std::span<std::byte> into) {
    // The user cancels once a mebibyte is on its way.
    if (offset >= 1024 * 1024) stop.request_stop();
    const std::size_t count = std::min(into.size(), body.size() - std::size_t(offset));
    std::memcpy(into.data(), body.data() + offset, count);
    furthest = std::max(furthest, offset + std::int64_t(count));
    return count;
  };
  CurlHTTPClient client;
  EXPECT_THROW(client.uploadStreaming(patchRequest(loopback.url("/files/1")), std::int64_t(body.size()), read,
                                      stop.get_token()),
               CancellationError);
  EXPECT_LT(furthest, std::int64_t(body.size()) / 2) << "reading went on after the cancellation";
  EXPECT_EQ(handled.load(), 0) << "the server must never see a whole body";

  // The aborted transfer leaves nothing behind that spoils the next request.
  StringReader source{body};
  EXPECT_EQ(client.uploadStreaming(patchRequest(loopback.url("/files/1")), std::int64_t(body.size()),
                                   std::ref(source)).status,
            204);
  EXPECT_EQ(handled.load(), 1);
}

TEST(StreamingUpload, ReaderFailuresComeOutUnchangedAndAShortBodyIsAnError) {
  LoopbackServer loopback;
  loopback.server().Patch("/files/1", [](const httplib::Request&, httplib::Response& response) {
    response.status = 204;
  });
  loopback.start();
  CurlHTTPClient client;
  const auto request = patchRequest(loopback.url("/files/1"));

  const HTTPPerforming::BodyReader failing = [](std::int64_t, std::span<std::byte>) -> std::size_t {
    throw std::filesystem::filesystem_error("Couldn't read the recording", std::make_error_code(std::errc::io_error));
  };
  EXPECT_THROW(client.uploadStreaming(request, 1000, failing), std::filesystem::filesystem_error);

  const std::string half(500, 'h');
  StringReader shortSource{half};
  try {
    client.uploadStreaming(request, 1000, std::ref(shortSource));
    ADD_FAILURE() << "expected a transport error";
  } catch (const TransportError& error) {
    EXPECT_STREQ(error.what(), "The request body ended before its announced length.");
  }
}

// A transport that only knows buffered uploads, like the test fakes.
class BufferedOnly final : public HTTPPerforming {
 public:
  HTTPResponse data(const HTTPRequest&, std::stop_token) override { return {}; }
  HTTPResponse upload(const HTTPRequest&, std::span<const std::byte> body, std::stop_token) override {
    received.assign(reinterpret_cast<const char*>(body.data()), body.size());
    return {204, {}, {}};
  }
  std::string received;
};

TEST(StreamingUpload, TheDefaultReadsTheBodyWholeAndUploadsIt) {
  const std::string body = randomBytes(100000, 3);
  BufferedOnly transport;
  StringReader source{body};
  EXPECT_EQ(transport.uploadStreaming({}, std::int64_t(body.size()), std::ref(source)).status, 204);
  EXPECT_TRUE(transport.received == body);

  const std::string half(10, 'h');
  StringReader shortSource{half};
  EXPECT_THROW(transport.uploadStreaming({}, 20, std::ref(shortSource)), TransportError);
}

// The uploader over the real transport against a minimal tus server: each PATCH is
// checked against the file at its offset.
TEST(StreamingUpload, TheUploaderStreamsEachChunkFromTheFileAtItsOffset) {
  testing::TempDir dir;
  const std::string file = randomBytes(2 * 1024 * 1024 + 300 * 1024 + 5, 21);
  testing::writeFile(dir / "movie.mp4", file);

  LoopbackServer loopback;
  std::mutex mutex;
  std::string stored;
  std::vector<std::string> patchLengths;
  loopback.server().Post("/tus", [&](const httplib::Request&, httplib::Response& response) {
    response.status = 201;
    response.set_header("Location", "/tus/1");
  });
  loopback.server().Patch("/tus/1", [&](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard lock(mutex);
    if (request.get_header_value("Upload-Offset") != std::to_string(stored.size())) {
      response.status = 409;
      return;
    }
    patchLengths.push_back(request.get_header_value("Content-Length"));
    stored += request.body;
    response.status = 204;
    response.set_header("Upload-Offset", std::to_string(stored.size()));
  });
  loopback.start();

  TusUploader uploader(std::make_shared<CurlHTTPClient>(), 1024 * 1024);
  std::vector<std::int64_t> progress;
  const auto outcome = uploader.upload(
      dir / "movie.mp4", "Demo", [&] { return UploadTicket{"uid", "lib", "sig", 4102444800, loopback.url("/tus")}; },
      std::nullopt, {}, [&](const TusUploader::Progress& p) { progress.push_back(p.uploadedBytes); });

  EXPECT_EQ(outcome.uploadURL, loopback.url("/tus/1"));
  EXPECT_EQ(outcome.bytesSent, std::int64_t(file.size()));
  EXPECT_TRUE(stored == file) << "the server holds " << stored.size() << " different bytes";
  EXPECT_EQ(patchLengths, (std::vector<std::string>{"1048576", "1048576", std::to_string(300 * 1024 + 5)}));
  EXPECT_EQ(progress, (std::vector<std::int64_t>{0, 1048576, 2097152, std::int64_t(file.size())}));
}

}  // namespace
}  // namespace tolvane
