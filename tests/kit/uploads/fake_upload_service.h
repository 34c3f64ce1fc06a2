#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kit/upload/http_performing.h"

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

  HTTPResponse data(const HTTPRequest& request, std::stop_token stop) override;
  HTTPResponse upload(const HTTPRequest& request, std::span<const std::byte> body, std::stop_token stop) override;

  void setOverride(Override override);
  // Whether saving answers with a "shareUrl".
  void setGivesShareLinks(bool gives);
  // Holds every PATCH until the stop token fires; counts the held requests.
  void holdPatches(bool hold);
  void waitForHeldPatch();

  // Paths ("POST /api/stream/upload-url") of every request, in order.
  std::vector<std::string> calls() const;
  std::size_t count(const std::string& call) const;
  // The bytes the tus endpoint holds for this video.
  std::string storedBytes(const std::string& uid) const;

 private:
  HTTPResponse serve(const HTTPRequest& request, const std::string* body, const std::stop_token& stop);

  struct TusUpload {
    std::string uid;
    std::int64_t length = 0;
    std::string bytes;
  };

  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  Override override_;
  bool givesShareLinks_ = true;
  bool holdPatches_ = false;
  int heldPatches_ = 0;
  int nextVideo_ = 1;
  std::map<std::string, TusUpload> uploads_;  // by upload id
  std::vector<std::string> calls_;
};

}  // namespace tolvane::testing
