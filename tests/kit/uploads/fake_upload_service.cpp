#include "tests/kit/uploads/fake_upload_service.h"

#include <nlohmann/json.hpp>

#include "kit/base/errors.h"

namespace tolvane::testing {
namespace {

std::string pathOf(const std::string& url) {
  const std::string prefix = FakeUploadService::site;
  return url.starts_with(prefix) ? url.substr(prefix.size()) : url;
}

HTTPResponse json(std::int64_t status, const nlohmann::json& body) { return HTTPResponse{status, {}, body.dump()}; }

}  // namespace

HTTPResponse FakeUploadService::data(const HTTPRequest& request, std::stop_token stop) {
  return serve(request, request.body ? &*request.body : nullptr, stop);
}

HTTPResponse FakeUploadService::upload(const HTTPRequest& request, std::span<const std::byte> body,
                                       std::stop_token stop) {
  const std::string bytes(reinterpret_cast<const char*>(body.data()), body.size());
  return serve(request, &bytes, stop);
}

void FakeUploadService::setOverride(Override override) {
  std::lock_guard lock(mutex_);
  override_ = std::move(override);
}

void FakeUploadService::setGivesShareLinks(bool gives) {
  std::lock_guard lock(mutex_);
  givesShareLinks_ = gives;
}

void FakeUploadService::holdPatches(bool hold) {
  std::lock_guard lock(mutex_);
  holdPatches_ = hold;
  changed_.notify_all();
}

void FakeUploadService::waitForHeldPatch() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return heldPatches_ > 0; });
}

std::vector<std::string> FakeUploadService::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::size_t FakeUploadService::count(const std::string& call) const {
  std::lock_guard lock(mutex_);
  return std::size_t(std::count(calls_.begin(), calls_.end(), call));
}

std::string FakeUploadService::storedBytes(const std::string& uid) const {
  std::lock_guard lock(mutex_);
  for (const auto& [id, upload] : uploads_) {
    if (upload.uid == uid) return upload.bytes;
  }
  return {};
}

HTTPResponse FakeUploadService::serve(const HTTPRequest& request, const std::string* body, const std::stop_token& stop) {
  if (stop.stop_requested()) throw CancellationError();
  const std::string path = pathOf(request.url);
  Override override;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(request.method + " " + (path.starts_with("/tus/") ? std::string("/tus/*") : path));
    override = override_;
  }
  if (override) {
    if (auto answer = override(request)) return *answer;
  }

  std::unique_lock lock(mutex_);
  if (request.method == "POST" && path == "/api/stream/upload-url") {
    const auto payload = nlohmann::json::parse(*body);
    const std::string uid = payload.contains("uid") ? payload["uid"].get<std::string>()
                                                     : "video-" + std::to_string(nextVideo_++);
    return json(200, {{"uid", uid}, {"libraryId", "lib"}, {"signature", "sig"}, {"expire", 4102444800},
                      {"endpoint", std::string(site) + "/tus"}});
  }
  if (request.method == "POST" && path == "/tus") {
    const std::string id = "u" + std::to_string(uploads_.size() + 1);
    uploads_[id] = TusUpload{request.header("VideoId").value_or(""), std::stoll(*request.header("Upload-Length")), {}};
    return HTTPResponse{201, {{"Location", "/tus/" + id}}, {}};
  }
  if (path.starts_with("/tus/")) {
    const auto found = uploads_.find(path.substr(5));
    if (found == uploads_.end()) return HTTPResponse{404, {}, {}};
    TusUpload& upload = found->second;
    if (request.method == "HEAD") {
      return HTTPResponse{200, {{"Upload-Offset", std::to_string(upload.bytes.size())}}, {}};
    }
    if (holdPatches_) {
      ++heldPatches_;
      changed_.notify_all();
      changed_.wait(lock, stop, [] { return false; });
      throw CancellationError();
    }
    if (std::to_string(upload.bytes.size()) != request.header("Upload-Offset")) return HTTPResponse{409, {}, {}};
    upload.bytes += *body;
    return HTTPResponse{204, {{"Upload-Offset", std::to_string(upload.bytes.size())}}, {}};
  }
  if (request.method == "POST" && path == "/api/recordings") {
    const auto payload = nlohmann::json::parse(*body);
    nlohmann::json answer = {{"ok", true}};
    if (givesShareLinks_) answer["shareUrl"] = std::string(site) + "/share/" + payload["uid"].get<std::string>();
    return json(200, answer);
  }
  if (request.method == "GET" && path.starts_with("/api/stream/video/")) {
    const std::string uid = path.substr(18);
    return json(200, {{"uid", uid}, {"name", "Demo"}, {"durationSec", 12.5}, {"readyToStream", true}});
  }
  return HTTPResponse{404, {}, R"({"error":"Not found."})"};
}

}  // namespace tolvane::testing
