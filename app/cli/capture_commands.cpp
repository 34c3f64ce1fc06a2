#include "app/cli/cli_command.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "app/capture/sources/capture_sources.h"
#include "app/capture/sources/synthetic_sources.h"
#include "app/capture/sources/system_source_catalog.h"

namespace tolvane::cli {

namespace {

struct Row {
  std::string id;
  std::string text;
};

void printSection(std::ostream& out, const std::string& heading, const std::vector<Row>& rows) {
  out << heading << "\n";
  if (rows.empty()) out << "  (none)\n";
  std::size_t width = 0;
  for (const Row& row : rows) width = std::max(width, row.id.size());
  for (const Row& row : rows) out << "  " << row.id << std::string(width - row.id.size() + 2, ' ') << row.text << "\n";
}

std::string sizeText(const CaptureTarget& target) {
  return std::to_string(target.width()) + "\u00d7" + std::to_string(target.height());
}

nlohmann::ordered_json targetJSON(const CaptureTarget& target) {
  nlohmann::ordered_json json{{"id", target.id()}, {"label", target.label()}, {"width", target.width()},
                      {"height", target.height()}};
  if (target.isDisplay()) {
    json["name"] = target.asDisplay().name;
  } else {
    json["title"] = target.asWindow().title;
    json["applicationName"] = target.asWindow().applicationName;
  }
  return json;
}

template <typename Option>
nlohmann::ordered_json optionsJSON(const std::vector<Option>& options) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Option& option : options) list.push_back({{"id", option.id}, {"name", option.name}});
  return list;
}

int listSources(Args& args, Console& console) {
  const bool asJSON = args.flag("--json");
  args.finish();

  SystemSourceCatalog catalog;
  // Without an X display there is nothing to record: that is the one-line error.
  CaptureSources::Content content = CaptureSources::shareableContent(catalog);
  std::vector<AudioDeviceOption> microphones = CaptureSources::microphones(catalog);
  std::vector<CameraOption> cameras = CaptureSources::cameras(catalog);

  if (asJSON) {
    nlohmann::ordered_json json;
    json["displays"] = nlohmann::ordered_json::array();
    for (const auto& target : content.displays) json["displays"].push_back(targetJSON(target));
    json["windows"] = nlohmann::ordered_json::array();
    for (const auto& target : content.windows) json["windows"].push_back(targetJSON(target));
    json["microphones"] = optionsJSON(microphones);
    json["cameras"] = optionsJSON(cameras);
    json["synthetic"] = {{"screen", SyntheticSources::screenID},
                         {"microphone", SyntheticSources::toneID},
                         {"camera", SyntheticSources::barsID}};
    console.out << json.dump(2) << "\n";
    return 0;
  }

  std::vector<Row> rows;
  for (const auto& target : content.displays) rows.push_back({target.id(), target.label() + "  " + sizeText(target)});
  printSection(console.out, "Displays", rows);
  rows.clear();
  for (const auto& target : content.windows) rows.push_back({target.id(), target.label() + "  " + sizeText(target)});
  printSection(console.out, "Windows", rows);
  rows.clear();
  for (const auto& option : microphones) rows.push_back({option.id, option.name});
  printSection(console.out, "Microphones", rows);
  rows.clear();
  for (const auto& option : cameras) rows.push_back({option.id, option.name});
  printSection(console.out, "Cameras", rows);
  printSection(console.out, "Test sources",
               {{std::string(SyntheticSources::screenID), "moving test scene (screen)"},
                {std::string(SyntheticSources::toneID), "440 Hz tone (microphone)"},
                {std::string(SyntheticSources::barsID), "colour bars (camera)"}});
  return 0;
}

}  // namespace

std::vector<Command> captureCommands() {
  return {
      Command{"sources", "[--json]", "list the displays, windows, microphones and cameras that can be recorded",
              listSources},
  };
}

}  // namespace tolvane::cli
