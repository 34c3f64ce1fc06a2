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
using testing::TempDir;

constexpr std::int64_t kChunk = 8192;
constexpr const char* kEndpoint = "https://tus.test/files/";
constexpr const char* kUploadURL = "https://tus.test/files/abc";

Date clockAt(std::int64_t unixSeconds) { return Date(std::chrono::seconds(unixSeconds)); }

UploadTicket ticket(std::int64_t expire = 100000, std::string signature = "sig") {
  return UploadTicket{"video-1", "lib-7", std::move(signature), expire, kEndpoint};
}

HTTPResponse answer(std::int64_t status, HTTPHeaders headers = {}, std::string body = {}) {
  return HTTPResponse{status, std::move(headers), std::move(body)};
}

// A server that accepts every PATCH whole and reports its new offset.
HTTPResponse acceptPatch(const HTTPRequest& request) {
  const auto offset = std::stoll(request.header("Upload-Offset").value_or("0"));
  return answer(204, {{"Upload-Offset", std::to_string(offset + std::int64_t(request.body->size()))}});
}

HTTPResponse cut(const HTTPRequest&) {
  throw TransportError(TransportError::Kind::connectionLost, "The network connection was lost.");
}

// What the upload threw: "<status> <message>" for an HTTPError, "local <message>" for a
// condition on this computer.
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
  TusUploaderTest()
      : http_(std::make_shared<FakeHTTPTransport>()),
        uploader_(http_, kChunk, [] { return clockAt(1000); },
                  [this](std::chrono::seconds delay, const std::stop_token&) { waits_.push_back(delay.count()); }) {}

  std::filesystem::path makeFile(std::size_t bytes) {
    std::string contents(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) contents[i] = char('a' + i % 26);
    const auto path = dir_ / "recording.mp4";
    testing::writeFile(path, contents);
    return path;
  }

  TusUploader::Outcome run(const std::filesystem::path& file, std::optional<std::string> resumeFrom = std::nullopt,
                           std::stop_token stop = {}) {
    return uploader_.upload(
        file, "Demo", [this] { ++ticketCalls_; return ticket(); }, resumeFrom,
        [this](const std::string& url) { announced_.push_back(url); },
        [this](const TusUploader::Progress& progress) { progress_.push_back(progress.uploadedBytes); }, stop);
  }

  TempDir dir_;
  std::shared_ptr<FakeHTTPTransport> http_;
  TusUploader uploader_;
  int ticketCalls_ = 0;
  std::vector<std::string> announced_;
  std::vector<std::int64_t> progress_;
  std::vector<std::int64_t> waits_;  // seconds the uploader waited, without sleeping
};

// The next chunk starts where the server says after a 409 (HEAD), or past the whole chunk
// when the answer names no offset. Resuming from a HEAD: UploadQueueTest.
TEST_F(TusUploaderTest, TheServersOffsetDecidesWhereTheNextChunkStarts) {
  const auto file = makeFile(20000);
  const auto at = [](const char* offset) {
    return [offset](const HTTPRequest&) { return answer(200, {{"Upload-Offset", offset}}); };
  };
  const FakeHTTPTransport::Handler noOffset = [](const HTTPRequest&) { return answer(204); };
  struct Case {
    std::vector<FakeHTTPTransport::Handler> answers;
    FakeHTTPTransport::Handler fallback;
    std::string uploadURL;
    std::vector<std::int64_t> progress;
  };
  const Case cases[] = {
      {{[](const HTTPRequest&) { return answer(200, {{"location", "/uploads/xyz"}}); }}, noOffset,
       "https://tus.test/uploads/xyz", {0, 8192, 16384, 20000}},
      {{[](const HTTPRequest&) { return answer(201, {{"Location", kUploadURL}}); },
        [](const HTTPRequest&) { return answer(409); }, at("+16384")},
       acceptPatch, kUploadURL, {0, 16384, 20000}},
  };
  for (const auto& c : cases) {
    progress_.clear();
    for (const auto& handler : c.answers) http_->enqueue(handler);
    http_->setFallback(c.fallback);
    EXPECT_EQ(run(file).uploadURL, c.uploadURL);
    EXPECT_EQ(progress_, c.progress);
  }
}

TEST_F(TusUploaderTest, ResumingALostUploadCreatesAFreshOneWithANewTicket) {
  const auto file = makeFile(5000);
  for (const std::int64_t gone : {404, 410}) {
    announced_.clear();
    progress_.clear();
    ticketCalls_ = 0;
    http_->enqueue([gone](const HTTPRequest&) { return answer(gone); });
    http_->enqueue([](const HTTPRequest&) { return answer(201, {{"Location", "https://tus.test/files/new"}}); });
    http_->enqueue(acceptPatch);
    EXPECT_EQ(run(file, kUploadURL).uploadURL, "https://tus.test/files/new");
    EXPECT_EQ(announced_, std::vector<std::string>{"https://tus.test/files/new"});
    EXPECT_EQ(progress_, (std::vector<std::int64_t>{0, 5000}));
    EXPECT_EQ(ticketCalls_, 2);
  }
}

TEST_F(TusUploaderTest, FailuresCarryTheirStatusAndMessage) {
  const auto file = makeFile(20000);
  const auto created = [](const HTTPRequest&) { return answer(201, {{"Location", kUploadURL}}); };
  struct Case {
    std::optional<std::string> resumeFrom;
    std::vector<FakeHTTPTransport::Handler> answers;
    std::string failure;
  };
  const std::vector<Case> cases = {
      // A 409 re-reads the offset; a server behind what it accepted means no progress.
      {std::nullopt,
       {created, acceptPatch, [](const HTTPRequest&) { return answer(409); },
        [](const HTTPRequest&) { return answer(200, {{"Upload-Offset", "4096"}}); }},
       "local The upload stopped making progress."},
      {kUploadURL,
       {[](const HTTPRequest&) { return answer(403); }},
       "403 Couldn't check how much of the upload arrived."},
      {kUploadURL,
       {[](const HTTPRequest&) { return answer(200, {{"Upload-Offset", "twelve"}}); }},
       "200 The upload server didn't report an offset."},
      {std::nullopt, {[](const HTTPRequest&) { return answer(201); }},
       "201 The upload server didn't say where to send the file."},
      {std::nullopt, {[](const HTTPRequest&) { return answer(413, {}, "too big"); }},
       "413 That recording is larger than the upload service accepts."},
      {std::nullopt, {created, [](const HTTPRequest&) { return answer(401, {}, "nope"); }},
       "401 The upload was rejected as unauthorised."},
  };
  for (const auto& c : cases) {
    for (const auto& handler : c.answers) http_->enqueue(handler);
    EXPECT_EQ(failure([&] { run(file, c.resumeFrom); }), c.failure);
  }
  EXPECT_EQ(http_->requests()[3].method, "HEAD");

  TusUploader badEndpoint(http_, kChunk);
  EXPECT_EQ(failure([&] {
              badEndpoint.upload(file, "t", [] { return UploadTicket{"u", "l", "s", 1, "not a url"}; }, std::nullopt,
                                 {}, {});
            }),
            "local The upload endpoint is malformed.");
}

TEST_F(TusUploaderTest, EmptyAndMissingFilesFailBeforeAnyRequest) {
  EXPECT_EQ(failure([&] { run(dir_ / "missing.mp4"); }), "local The recording's video file is missing.");
  EXPECT_EQ(http_->requestCount(), 0u);
  EXPECT_EQ(ticketCalls_, 0);
}

// A cut mid-chunk: wait, ask the server's offset and go on, all within the attempt; after
// waits of 1, 3 and 5 s without getting through, the transport's error ends the attempt.
TEST_F(TusUploaderTest, ACutMidChunkResumesWithinTheAttemptAfterWaitsOfOneThreeAndFiveSeconds) {
  const auto file = makeFile(20000);
  const auto at = [](const char* offset) {
    return [offset](const HTTPRequest&) { return answer(200, {{"Upload-Offset", offset}}); };
  };
  http_->enqueue([](const HTTPRequest&) { return answer(201, {{"Location", kUploadURL}}); });
  for (const auto& handler : std::vector<FakeHTTPTransport::Handler>{acceptPatch, cut, cut, at("8192"), acceptPatch,
                                                                     cut, at("16000")}) {
    http_->enqueue(handler);
  }
  http_->setFallback(acceptPatch);
  EXPECT_EQ(run(file).bytesSent, 20000);
  EXPECT_EQ(waits_, (std::vector<std::int64_t>{1, 3, 1}));  // an accepted chunk starts the waits anew
  EXPECT_EQ(progress_, (std::vector<std::int64_t>{0, 8192, 8192, 16384, 16000, 20000}));
  EXPECT_EQ(http_->lastRequest().header("Upload-Offset"), "16000");

  waits_.clear();
  http_->enqueue([](const HTTPRequest&) { return answer(201, {{"Location", kUploadURL}}); });
  http_->setFallback([&](const HTTPRequest& request) { return request.method == "HEAD" ? at("0")(request) : cut(request); });
  EXPECT_THROW(run(file), TransportError);
  EXPECT_EQ(waits_, (std::vector<std::int64_t>{1, 3, 5}));
}

TEST_F(TusUploaderTest, ATicketAboutToExpireIsReplacedBeforeTheNextChunk) {
  const auto file = makeFile(20000);
  // The clock says 1000; a ticket expiring at 1599 is inside the 600 s margin, 1600 is not.
  const std::vector<UploadTicket> tickets = {ticket(1600, "first"), ticket(1599, "second"), ticket(99999, "third")};
  const std::pair<std::size_t, std::vector<std::string>> runs[] = {
      {0, {"first", "first", "first", "first"}}, {1, {"second", "third", "third", "third"}}};
  http_->setFallback(acceptPatch);
  for (const auto& [firstTicket, signatures] : runs) {
    const std::size_t before = http_->requestCount();
    std::size_t handedOut = firstTicket;
    http_->enqueue([](const HTTPRequest&) { return answer(201, {{"Location", kUploadURL}}); });
    uploader_.upload(file, "Demo", [&] { return tickets.at(handedOut++); }, std::nullopt, {}, {});
    std::vector<std::string> sent;
    for (const auto& request : http_->requests()) sent.push_back(*request.header("AuthorizationSignature"));
    EXPECT_EQ(std::vector(sent.begin() + std::ptrdiff_t(before), sent.end()), signatures);
  }
}

// Between chunks: the file got shorter, or the user cancelled.
TEST_F(TusUploaderTest, AFileThatEndsEarlyReportsTheBytesAcceptedAndCancellationStopsBeforeTheNextRequest) {
  const auto file = makeFile(20000);
  http_->setFallback(acceptPatch);
  const auto afterFirstChunk = [&](std::function<void()> act, std::stop_token stop = {}) {
    http_->enqueue([](const HTTPRequest&) { return answer(201, {{"Location", kUploadURL}}); });
    return uploader_.upload(
        file, "Demo", [] { return ticket(); }, std::nullopt, {},
        [&](const TusUploader::Progress& progress) {
          if (progress.uploadedBytes == 8192) act();
        },
        stop);
  };
  EXPECT_EQ(afterFirstChunk([&] { std::filesystem::resize_file(file, 8192); }).bytesSent, 8192);
  EXPECT_EQ(http_->requestCount(), 2u);  // creation and one PATCH

  std::filesystem::resize_file(file, 20000);
  std::stop_source stop;
  EXPECT_THROW(afterFirstChunk([&] { stop.request_stop(); }, stop.get_token()), CancellationError);
  EXPECT_EQ(http_->requestCount(), 4u);
}

TEST(TusUploaderDescribe, MessagesForEveryKindOfFailure) {
  const std::vector<std::tuple<std::int64_t, std::string, std::string>> cases = {
      {0, "whatever", "No response from the upload service."},
      {500, "", "Upload failed (500)."},
      {502, "\n  Bad gateway\r\n", "Upload failed (502): Bad gateway"},
  };
  for (const auto& [status, body, expected] : cases) EXPECT_EQ(TusUploader::describe(status, body), expected) << status;
}

}  // namespace
}  // namespace tolvane
