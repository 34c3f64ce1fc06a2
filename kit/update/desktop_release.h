#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tolvane {

// The latest desktop release the service offers.
struct DesktopRelease {
  std::string version;  // dotted, e.g. "1.4.2"
  bool available = false;
  std::string downloadUrl;
  std::string pageUrl;

  // Compares dotted versions numerically position by position ("1.10" is newer than
  // "1.9"; a missing position or a piece that is not a number counts as 0, so "1.2"
  // equals "1.2.0" and "1.2.beta" reads as "1.2.0").
  bool isNewer(std::string_view than) const;

  static DesktopRelease fromJSON(const nlohmann::json& object);
  bool operator==(const DesktopRelease&) const = default;
};

}  // namespace tolvane
