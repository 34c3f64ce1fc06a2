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
// the upload queue can run whole passes without a network. Answers can be overridden
// per route; PATCH requests can be held until the caller's stop token fires.
// Thread-safe.
class FakeUploadService final : public HTTPPerforming {
 public:
  static constexpr const char* site = "https://tolvane.test";
  // Answers a request instead of the service when it returns a response.
  using Override = std::function<std::optional<HTTPResponse>(const HTTPRequest&)>;

  HTTPResponse data(const HTTPRequest& request, std::stop_token stop) override {
    return serve(request, request.body ? &*request.body : nullptr, stop);
  }
  HTTPResponse upload(const HTTPRequest& request, std::span<const std::byte> body, std::stop_token stop) override {
    const std::string bytes(reinterpret_cast<const char*>(body.data()), body.size());
    return serve(request, &bytes, stop);
  }

  void setOverride(Override override) {
    std::lock_guard lock(mutex_);
    override_ = std::move(override);
  }
  // Holds every PATCH until the stop token fires; counts the held requests.
  void holdPatches(bool hold) {
    std::lock_guard lock(mutex_);
    holdPatches_ = hold;
    changed_.notify_all();
  }
  void waitForHeldPatch() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return heldPatches_ > 0; });
  }

  // Paths ("POST /api/stream/upload-url") of every request, in order.
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
    std::int64_t length = 0;
    std::string bytes;
  };

  static HTTPResponse json(std::int64_t status, const nlohmann::json& body) { return {status, {}, body.dump()}; }

  HTTPResponse serve(const HTTPRequest& request, const std::string* body, const std::stop_token& stop) {
    if (stop.stop_requested()) throw CancellationError();
    const std::string_view prefix = site;
    const std::string path = request.url.starts_with(prefix) ? request.url.substr(prefix.size()) : request.url;
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
      uploads_[id] =
          TusUpload{request.header("VideoId").value_or(""), std::stoll(*request.header("Upload-Length")), {}};
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
      const std::string uid = nlohmann::json::parse(*body)["uid"];
      return json(200, {{"ok", true}, {"shareUrl", std::string(site) + "/share/" + uid}});
    }
    if (request.method == "GET" && path.starts_with("/api/stream/video/")) {
      return json(200, {{"uid", path.substr(18)}, {"name", "Demo"}, {"durationSec", 12.5}, {"readyToStream", true}});
    }
    return HTTPResponse{404, {}, R"({"error":"Not found."})"};
  }

  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  Override override_;
  bool holdPatches_ = false;
  int heldPatches_ = 0;
  int nextVideo_ = 1;
  std::map<std::string, TusUpload> uploads_;  // by upload id
  std::vector<std::string> calls_;
};

}  // namespace tolvane::testing
