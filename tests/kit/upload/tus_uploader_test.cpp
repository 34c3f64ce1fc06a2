#include "kit/upload/tus_uploader.h"

#include <gtest/gtest.h>

#include "kit/base/errors.h"
#include "kit/net/http_error.h"
#include "kit/net/transport_error.h"
#include "kit/upload/local_upload_error.h"
#include "tests/kit/net/fake_http_transport.h"
#include "tests/kit/net/thrown.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::FakeHTTPTransport;
using Handler = FakeHTTPTransport::Handler;
using Bytes = std::vector<std::int64_t>;

constexpr std::int64_t kChunk = 8192;
constexpr const char* kUploadURL = "https://tus.test/files/abc";

UploadTicket ticket(std::int64_t expire = 100000, std::string signature = "sig") {
  return UploadTicket{"video-1", "lib-7", std::move(signature), expire, "https://tus.test/files/"};
}

Handler reply(std::int64_t status, HTTPHeaders headers = {}, std::string body = {}) {
  return [=](const HTTPRequest&) { return HTTPResponse{status, headers, body}; };
}
Handler offsetIs(const char* offset) { return reply(200, {{"Upload-Offset", offset}}); }
const Handler created = reply(201, {{"Location", kUploadURL}});

// A server that accepts every PATCH whole and reports its new offset.
HTTPResponse acceptPatch(const HTTPRequest& request) {
  const auto offset = std::stoll(request.header("Upload-Offset").value_or("0"));
  return HTTPResponse{204, {{"Upload-Offset", std::to_string(offset + std::int64_t(request.body->size()))}}, {}};
}

HTTPResponse cut(const HTTPRequest&) {
  throw TransportError(TransportError::Kind::connectionLost, "The network connection was lost.");
}

// "<status> <message>" for an HTTPError, "local <message>" for a condition on this computer.
template <class F>
std::string failure(F&& call) {
  try {
    return testing::httpFailure(call);
  } catch (const LocalUploadError& error) {
    return std::string("local ") + error.what();
  }
}

class TusUploaderTest : public ::testing::Test {
 protected:
  TusUploaderTest() {
    std::string contents(20000, '\0');
    for (std::size_t i = 0; i < contents.size(); ++i) contents[i] = char('a' + i % 26);
    testing::writeFile(file_, contents);
  }

  void script(const std::vector<Handler>& answers, Handler fallback = {}) {
    for (const auto& handler : answers) http_->enqueue(handler);
    http_->setFallback(std::move(fallback));
  }

  TusUploader::Outcome run(std::optional<std::string> resumeFrom = std::nullopt, std::stop_token stop = {},
                           std::function<void()> afterFirstChunk = {}) {
    progress_.clear();
    const auto nextTicket = [this] { return ++ticketCalls_, ticket(); };
    return uploader_.upload(
        file_, "Demo", nextTicket, resumeFrom, [this](const std::string& url) { announced_.push_back(url); },
        [&](const TusUploader::Progress& progress) {
          progress_.push_back(progress.uploadedBytes);
          if (afterFirstChunk && progress.uploadedBytes == kChunk) afterFirstChunk();
        },
        stop);
  }

  testing::TempDir dir_;
  std::filesystem::path file_ = dir_ / "recording.mp4";
  std::shared_ptr<FakeHTTPTransport> http_ = std::make_shared<FakeHTTPTransport>();
  TusUploader uploader_{
      http_, kChunk, [] { return Date(std::chrono::seconds(1000)); },
      [this](std::chrono::seconds delay, const std::stop_token&) { waits_.push_back(delay.count()); }};
  int ticketCalls_ = 0;
  std::vector<std::string> announced_;
  Bytes progress_;
  Bytes waits_;  // seconds the uploader waited, without sleeping
};

// The next chunk starts where the server says: past the whole chunk when the answer
// names no offset, and at the HEAD's offset after a 409 or a resume. A resumed upload
// that is gone (404, 410) starts afresh with a new ticket.
TEST_F(TusUploaderTest, TheServersOffsetDecidesWhereTheNextChunkStarts) {
  struct Case {
    std::optional<std::string> resumeFrom;
    std::vector<Handler> answers;
    Handler fallback;
    std::string uploadURL;
    Bytes progress;
    int tickets;
  };
  const Bytes whole = {0, 8192, 16384, 20000};
  const Case cases[] = {
      {std::nullopt, {reply(200, {{"location", "/uploads/xyz"}})}, reply(204), "https://tus.test/uploads/xyz", whole, 1},
      {std::nullopt, {created, reply(409), offsetIs("+16384")}, acceptPatch, kUploadURL, {0, 16384, 20000}, 1},
      {kUploadURL, {offsetIs("12000")}, acceptPatch, kUploadURL, {12000, 20000}, 1},
      {kUploadURL, {reply(404), reply(201, {{"Location", "new"}})}, acceptPatch, "https://tus.test/files/new", whole, 2},
      {kUploadURL, {reply(410), created}, acceptPatch, kUploadURL, whole, 2},
  };
  for (const auto& c : cases) {
    announced_.clear();
    ticketCalls_ = 0;
    script(c.answers, c.fallback);
    EXPECT_EQ(run(c.resumeFrom).uploadURL, c.uploadURL);
    EXPECT_EQ(progress_, c.progress) << c.uploadURL;
    EXPECT_EQ(ticketCalls_, c.tickets);
    EXPECT_EQ(announced_, c.tickets == 1 && c.resumeFrom ? std::vector<std::string>{} : std::vector{c.uploadURL});
  }
  EXPECT_EQ(http_->requests()[8].method, "HEAD");
  EXPECT_EQ(http_->requests()[9].header("Upload-Offset"), "12000");
}

TEST_F(TusUploaderTest, FailuresCarryTheirStatusAndMessage) {
  struct Case {
    std::optional<std::string> resumeFrom;
    std::vector<Handler> answers;
    std::string failure;
  };
  const std::vector<Case> cases = {
      // A server behind what it accepted means no progress.
      {std::nullopt, {created, acceptPatch, reply(409), offsetIs("4096")}, "local The upload stopped making progress."},
      {kUploadURL, {reply(403)}, "403 Couldn't check how much of the upload arrived."},
      {kUploadURL, {offsetIs("twelve")}, "200 The upload server didn't report an offset."},
      {std::nullopt, {reply(201)}, "201 The upload server didn't say where to send the file."},
      {std::nullopt, {reply(413, {}, "too big")}, "413 That recording is larger than the upload service accepts."},
      {std::nullopt, {created, reply(401, {}, "nope")}, "401 The upload was rejected as unauthorised."},
      {std::nullopt, {reply(500)}, "500 Upload failed (500)."},
      {std::nullopt, {created, reply(502, {}, "\n  Bad gateway\r\n")}, "502 Upload failed (502): Bad gateway"},
  };
  for (const auto& c : cases) {
    script(c.answers);
    EXPECT_EQ(failure([&] { run(c.resumeFrom); }), c.failure);
  }
  EXPECT_EQ(TusUploader::describe(0, "whatever"), "No response from the upload service.");

  const auto malformed = [] { return UploadTicket{"u", "l", "s", 1, "not a url"}; };
  EXPECT_EQ(failure([&] { TusUploader(http_, kChunk).upload(file_, "t", malformed, std::nullopt, {}, {}); }),
            "local The upload endpoint is malformed.");

  const std::size_t requests = http_->requestCount();
  std::filesystem::remove(file_);
  EXPECT_EQ(failure([&] { run(); }), "local The recording's video file is missing.");
  EXPECT_EQ(http_->requestCount(), requests);
  EXPECT_EQ(ticketCalls_, 8) << "no ticket for a missing file";
}

// A cut mid-chunk: wait, ask the server's offset and go on, all within the attempt; after
// waits of 1, 3 and 5 s without getting through, the transport's error ends the attempt.
TEST_F(TusUploaderTest, ACutMidChunkResumesWithinTheAttemptAfterWaitsOfOneThreeAndFiveSeconds) {
  script({created, acceptPatch, cut, cut, offsetIs("8192"), acceptPatch, cut, offsetIs("16000")}, acceptPatch);
  EXPECT_EQ(run().bytesSent, 20000);
  EXPECT_EQ(waits_, (Bytes{1, 3, 1}));  // an accepted chunk starts the waits anew
  EXPECT_EQ(progress_, (Bytes{0, 8192, 8192, 16384, 16000, 20000}));
  EXPECT_EQ(http_->lastRequest().header("Upload-Offset"), "16000");

  waits_.clear();
  script({created},
         [](const HTTPRequest& request) { return request.method == "HEAD" ? offsetIs("0")(request) : cut(request); });
  EXPECT_THROW(run(), TransportError);
  EXPECT_EQ(waits_, (Bytes{1, 3, 5}));
}

TEST_F(TusUploaderTest, ATicketAboutToExpireIsReplacedBeforeTheNextChunk) {
  // The clock says 1000; a ticket expiring at 1599 is inside the 600 s margin, 1600 is not.
  const std::vector<UploadTicket> tickets = {ticket(1600, "first"), ticket(1599, "second"), ticket(99999, "third")};
  const std::pair<std::size_t, std::vector<std::string>> runs[] = {{0, {"first", "first", "first", "first"}},
                                                                   {1, {"second", "third", "third", "third"}}};
  for (const auto& [firstTicket, signatures] : runs) {
    const std::size_t before = http_->requestCount();
    std::size_t handedOut = firstTicket;
    script({created}, acceptPatch);
    uploader_.upload(file_, "Demo", [&] { return tickets.at(handedOut++); }, std::nullopt, {}, {});
    std::vector<std::string> sent;
    for (const auto& request : http_->requests()) sent.push_back(*request.header("AuthorizationSignature"));
    EXPECT_EQ(std::vector(sent.begin() + std::ptrdiff_t(before), sent.end()), signatures);
  }
}

// Between chunks: the file got shorter, or the user cancelled.
TEST_F(TusUploaderTest, AFileThatEndsEarlyReportsTheBytesAcceptedAndCancellationStopsBeforeTheNextRequest) {
  script({created}, acceptPatch);
  EXPECT_EQ(run(std::nullopt, {}, [&] { std::filesystem::resize_file(file_, kChunk); }).bytesSent, kChunk);
  EXPECT_EQ(http_->requestCount(), 2u);  // creation and one PATCH

  std::filesystem::resize_file(file_, 20000);
  std::stop_source stop;
  script({created}, acceptPatch);
  EXPECT_THROW(run(std::nullopt, stop.get_token(), [&] { stop.request_stop(); }), CancellationError);
  EXPECT_EQ(http_->requestCount(), 4u);
}

}  // namespace
}  // namespace tolvane
