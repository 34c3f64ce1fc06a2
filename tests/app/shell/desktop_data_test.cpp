#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "app/shell/app_action.h"
#include "kit/base/application_id.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

// The files the desktop reads about the application: the desktop entry, the D-Bus service
// file, the icons and the AppStream metainfo. The desktop's own validators judge the
// format; these tests judge that the files agree with the program (names it accepts, the
// one application id, the version) — a mismatch there installs cleanly and then fails
// silently in a launcher or a software centre.

namespace tolvane {
namespace {

using testing::readFile;
using testing::runCommand;

const std::string kID(kApplicationID);

std::filesystem::path sourceDir() { return std::filesystem::path(std::getenv("TOLVANE_SOURCE_DIR")) / "data"; }
std::filesystem::path buildDir() { return std::filesystem::path(std::getenv("TOLVANE_BUILD_DIR")) / "data"; }

// Groups of key=value lines, as the desktop entry and D-Bus service formats have them.
using KeyFile = std::map<std::string, std::map<std::string, std::string>>;

KeyFile parseKeyFile(const std::filesystem::path& path) {
  KeyFile groups;
  std::istringstream lines(readFile(path));
  std::string line;
  std::string group;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      group = line.substr(1, line.size() - 2);
      groups[group];
      continue;
    }
    const auto equals = line.find('=');
    if (equals != std::string::npos) groups[group][line.substr(0, equals)] = line.substr(equals + 1);
  }
  return groups;
}

TEST(DesktopDataTest, TheDesktopValidatorsAcceptTheFiles) {
  const auto desktop = runCommand({"desktop-file-validate", (sourceDir() / (kID + ".desktop")).string()});
  EXPECT_EQ(desktop.status, 0) << desktop.out << desktop.err;
  // desktop-file-validate exits 0 on mere warnings but prints them: none are wanted.
  EXPECT_EQ(desktop.out + desktop.err, "");

  const auto metainfo =
      runCommand({"appstreamcli", "validate", "--no-net", (sourceDir() / (kID + ".metainfo.xml")).string()});
  EXPECT_EQ(metainfo.status, 0) << metainfo.out << metainfo.err;
  EXPECT_EQ(metainfo.out.find("W:"), std::string::npos) << metainfo.out;
  EXPECT_EQ(metainfo.out.find("E:"), std::string::npos) << metainfo.out;
}

TEST(DesktopDataTest, TheEntryAndTheServiceFileStartThisProgramAndOnlyItsExportedActions) {
  const KeyFile entry = parseKeyFile(sourceDir() / (kID + ".desktop"));
  ASSERT_TRUE(entry.contains("Desktop Entry"));
  const auto& main = entry.at("Desktop Entry");
  // A D-Bus activatable entry is found by its file name, which must be the bus name.
  EXPECT_EQ(main.at("DBusActivatable"), "true");
  EXPECT_EQ(main.at("Icon"), kID);
  EXPECT_EQ(main.at("Exec"), "tolvane");
  std::istringstream actions(main.at("Actions"));
  int count = 0;
  for (std::string name; std::getline(actions, name, ';'); ++count) {
    SCOPED_TRACE(name);
    const auto action = appActionFromName(QString::fromStdString(name));
    ASSERT_TRUE(action.has_value());
    EXPECT_TRUE(isExportedAction(*action));
    ASSERT_TRUE(entry.contains("Desktop Action " + name));
    EXPECT_EQ(entry.at("Desktop Action " + name).at("Exec"), "tolvane --action " + name);
  }
  EXPECT_EQ(count, 3) << "start, stop and drawing";

  const auto path = buildDir() / (kID + ".service");
  const KeyFile service = parseKeyFile(path);
  ASSERT_TRUE(service.contains("D-BUS Service")) << path;
  EXPECT_EQ(service.at("D-BUS Service").at("Name"), kID);
  const std::filesystem::path exec = service.at("D-BUS Service").at("Exec");
  EXPECT_TRUE(exec.is_absolute()) << exec << ": the bus has no search path";
  EXPECT_EQ(exec.filename(), "tolvane");
  EXPECT_EQ(readFile(path).find('@'), std::string::npos) << "an unsubstituted variable";
}

TEST(DesktopDataTest, EveryIconSizeIsAPngOfThatSizeAndTheMetainfoNamesTheEntryAndTheRelease) {
  EXPECT_TRUE(std::filesystem::exists(sourceDir() / "icons" / (kID + ".svg")));
  for (int size : {16, 32, 48, 64, 128, 256}) {
    const auto path = sourceDir() / "icons" / (kID + "-" + std::to_string(size) + ".png");
    EXPECT_EQ(QImage(QString::fromStdString(path.string()), "PNG").size(), QSize(size, size)) << path;
  }
  const std::string xml = readFile(sourceDir() / (kID + ".metainfo.xml"));
  auto first = [&](const std::string& pattern) {
    std::smatch match;
    return std::regex_search(xml, match, std::regex(pattern)) ? match[1].str() : std::string("(missing)");
  };
  EXPECT_EQ(first("<id>([^<]*)</id>"), kID);
  EXPECT_EQ(first("<launchable type=\"desktop-id\">([^<]*)</launchable>"), kID + ".desktop");
  // The newest release comes first; a version bump that forgets it ships stale notes.
  EXPECT_EQ(first("<release version=\"([^\"]*)\""), TOLVANE_PROJECT_VERSION);
}

}  // namespace
}  // namespace tolvane
