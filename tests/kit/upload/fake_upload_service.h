#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kit/base/errors.h"
#include "kit/net/http_performing.h"

namespace tolvane::testing {

// The service, its tus endpoint and the token endpoint in one fake transport, so that
// the upload queue can run whole passes without a network. One call can be answered
// otherwise; PATCH requests can be held until the caller's stop token fires.
// Thread-safe.
class FakeUploadService final : public HTTPPerforming {
 public:
  static constexpr const char* site = "https://tolvane.test";

  HTTPResponse data(const HTTPRequest& request, std::stop_token stop) override {
    return serve(request, request.body ? &*request.body : nullptr, stop);
  }
  HTTPResponse upload(const HTTPRequest& request, std::span<const std::byte> body, std::stop_token stop) override {
    const std::string bytes(reinterpret_cast<const char*>(body.data()), body.size());
    return serve(request, &bytes, stop);
  }

  // Answers `call` (as calls() names it) with this status and body instead of the
  // service; an empty call answers everything as the service does again.
  void answer(std::string call, std::int64_t status = 0, std::string body = {}) {
    std::lock_guard lock(mutex_);
    answer_ = {std::move(call), HTTPResponse{status, {}, std::move(body)}};
  }
  // Holds every PATCH from this offset on until the stop token fires (none: never).
  void holdPatchesFrom(std::optional<std::int64_t> offset) {
    std::lock_guard lock(mutex_);
    holdFrom_ = offset;
  }
  void waitForHeldPatch() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return heldPatches_ > 0; });
  }

  // "METHOD /path" of every request, in order; tus uploads are "/tus/*".
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  // The bytes the tus endpoint holds for this video.
  std::string storedBytes(const std::string& uid) const {
    std::lock_guard lock(mutex_);
    for (const auto& [id, upload] : uploads_) {
      if (upload.uid == uid) return upload.bytes;
    }
    return {};
  }

 private:
  struct TusUpload {
    std::string uid;
    std::string bytes;
  };

  static HTTPResponse json(const nlohmann::json& body) { return {200, {}, body.dump()}; }

  HTTPResponse serve(const HTTPRequest& request, const std::string* body, const std::stop_token& stop) {
    if (stop.stop_requested()) throw CancellationError();
    const std::string path = request.url.substr(std::string_view(site).size());
    std::unique_lock lock(mutex_);
    calls_.push_back(request.method + " " + (path.starts_with("/tus/") ? std::string("/tus/*") : path));
    if (!answer_.first.empty() && calls_.back() == answer_.first) return answer_.second;

    if (request.method == "POST" && path == "/api/stream/upload-url") {
      const auto payload = nlohmann::json::parse(*body);
      const std::string uid = payload.value("uid", "video-" + std::to_string(nextVideo_++));
      nlohmann::json ticket = {{"uid", uid}, {"libraryId", "lib"}, {"signature", "sig"}, {"expire", 4102444800}};
      ticket["endpoint"] = std::string(site) + "/tus";
      return json(ticket);
    }
    if (request.method == "POST" && path == "/tus") {
      const std::string id = "u" + std::to_string(uploads_.size() + 1);
      uploads_[id] = TusUpload{request.header("VideoId").value_or(""), {}};
      return HTTPResponse{201, {{"Location", "/tus/" + id}}, {}};
    }
    if (path.starts_with("/tus/")) {
      const auto found = uploads_.find(path.substr(5));
      if (found == uploads_.end()) return HTTPResponse{404, {}, {}};
      std::string& bytes = found->second.bytes;
      const std::string offset = std::to_string(bytes.size());
      if (request.method == "HEAD") return HTTPResponse{200, {{"Upload-Offset", offset}}, {}};
      if (holdFrom_ && std::int64_t(bytes.size()) >= *holdFrom_) {
        ++heldPatches_;
        changed_.notify_all();
        changed_.wait(lock, stop, [] { return false; });
        throw CancellationError();
      }
      if (offset != request.header("Upload-Offset")) return HTTPResponse{409, {}, {}};
      bytes += *body;
      return HTTPResponse{204, {{"Upload-Offset", std::to_string(bytes.size())}}, {}};
    }
    if (request.method == "POST" && path == "/api/recordings") {
      const std::string uid = nlohmann::json::parse(*body)["uid"];
      return json({{"ok", true}, {"shareUrl", std::string(site) + "/share/" + uid}});
    }
    if (request.method == "GET" && path.starts_with("/api/stream/video/")) {
      return json({{"uid", path.substr(18)}, {"name", "Demo"}, {"durationSec", 12.5}, {"readyToStream", true}});
    }
    return HTTPResponse{404, {}, R"({"error":"Not found."})"};
  }

  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  std::pair<std::string, HTTPResponse> answer_;
  std::optional<std::int64_t> holdFrom_;
  int heldPatches_ = 0;
  int nextVideo_ = 1;
  std::map<std::string, TusUpload> uploads_;  // by upload id
  std::vector<std::string> calls_;
};

}  // namespace tolvane::testing
