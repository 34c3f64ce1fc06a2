#include "app/cli/record_selection.h"

#include <fmt/format.h>

#include <charconv>
#include <vector>

#include "app/cli/cli_args.h"

namespace tolvane::cli {
namespace {

// Comma-separated fractions between 0 and 1, exactly `count` of them.
std::vector<double> parseFractions(const std::string& text, std::size_t count, const char* option, const char* form) {
  std::vector<double> values;
  const char* position = text.data();
  const char* end = text.data() + text.size();
  while (values.size() < count) {
    double value = 0;
    auto [next, error] = std::from_chars(position, end, value);
    const bool last = values.size() + 1 == count;
    const bool separatorOK = last ? next == end : (next < end && *next == ',');
    if (error != std::errc() || !separatorOK || value < 0 || value > 1) {
      throw UsageError(fmt::format("{} takes {}, fractions between 0 and 1, not '{}'", option, form, text));
    }
    values.push_back(value);
    position = next + 1;
  }
  return values;
}

}  // namespace

// "0.5,0.5,0.2": the bubble's centre and its diameter as a fraction of the shorter side.
BubbleLayout parseBubble(const std::string& text) {
  auto values = parseFractions(text, 3, "--bubble", "X,Y,SIZE");
  return BubbleLayout{{values[0], values[1]}, values[2]};
}

// "0.1,0.1,0.3,0.2": a region to blur, its top-left corner and size as fractions of the frame.
Rect parseBlur(const std::string& text) {
  auto values = parseFractions(text, 4, "--blur", "X,Y,WIDTH,HEIGHT");
  return Rect{values[0], values[1], values[2], values[3]};
}

}  // namespace tolvane::cli
