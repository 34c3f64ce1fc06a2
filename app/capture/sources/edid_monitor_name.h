#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {

// The product name a monitor reports in its EDID block (display descriptor 0xFC), e.g.
// "DELL U2720Q"; empty when the block is too short or carries no name.
std::string edidMonitorName(const std::vector<std::uint8_t>& edid);

}  // namespace tolvane
