#include "app/capture/sources/edid_monitor_name.h"

namespace tolvane {

namespace {

constexpr std::size_t blockSize = 128;
constexpr std::size_t firstDescriptor = 54;
constexpr std::size_t descriptorSize = 18;
constexpr std::size_t descriptorCount = 4;
constexpr std::uint8_t monitorNameTag = 0xFC;

}  // namespace

std::string edidMonitorName(const std::vector<std::uint8_t>& edid) {
  if (edid.size() < blockSize) return {};
  for (std::size_t i = 0; i < descriptorCount; ++i) {
    const std::uint8_t* d = edid.data() + firstDescriptor + i * descriptorSize;
    // Display descriptors start with a zero pixel clock; detailed timings do not.
    if (d[0] != 0 || d[1] != 0 || d[3] != monitorNameTag) continue;
    std::string name;
    for (std::size_t k = 5; k < descriptorSize && d[k] != 0x0A && d[k] != 0; ++k) {
      if (d[k] >= 0x20 && d[k] < 0x7F) name.push_back(static_cast<char>(d[k]));
    }
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
  }
  return {};
}

}  // namespace tolvane
