#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/integration/server_process.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

// The built `tolvane` as a user meets it: on an X display with a window manager and a
// compositor, on a session bus of its own, signed in to a loopback tolvane-server and
// recording the synthetic sources. It is driven only from outside — D-Bus calls, key
// presses through XTest, signals — and judged by what it leaves behind: the vault's
// manifests, its State properties, its windows and its log.

namespace tolvane::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kBusName = "com.tolvanelabs.Tolvane";
const std::string kObjectPath = "/com/tolvanelabs/Tolvane";

// Polls `condition` until it holds or `limit` passes; the limits are generous ceilings
// for a loaded machine, never a measurement.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  for (const auto deadline = Clock::now() + limit; !condition(); std::this_thread::sleep_for(100ms)) {
    if (Clock::now() > deadline) return false;
  }
  return true;
}

class AppEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(app())) GTEST_SKIP() << app() << " is not built";
    server_.start();
    if (HasFatalFailure()) return;

    // The session the app finds: a sign-in kept in the file under the private config
    // folder (no keyring answers on the private bus), as `tolvane-cli login` leaves it.
    const auto login = runCommand({cli().string(), "login"}, clientEnv({{"DBUS_SESSION_BUS_ADDRESS", ""}, {"DISPLAY", ""}}));
    ASSERT_EQ(login.status, 0) << login.out << login.err;

    display_ = std::make_unique<XvfbServer>(1280, 800);
    const std::map<std::string, std::string> onDisplay = {{"DISPLAY", display_->displayName()}};
    windowManager_ = std::make_unique<ChildProcess>(std::vector<std::string>{"openbox", "--sm-disable"}, onDisplay,
                                                    dir_ / "openbox.log");
    compositor_ = std::make_unique<ChildProcess>(std::vector<std::string>{"xcompmgr"}, onDisplay, dir_ / "xcompmgr.log");

    // A bus that starts only the services a test puts in its own folder: nothing from
    // the machine (a keyring, a tray host) answers on it. What it starts inherits its
    // environment, the desktop's.
    std::filesystem::create_directories(dir_ / "services");
    writeFile(dir_ / "bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>\n"
              "<servicedir>" + (dir_ / "services").string() + "</servicedir>\n"
              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    busAddress_ = "unix:path=" + (dir_ / "bus").string();
    bus_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--config-file=" + (dir_ / "bus.conf").string(), "--nofork",
                                 "--address=" + busAddress_},
        desktopEnv(), dir_ / "bus.log");
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(dir_ / "bus"); }, 10s)) << readFile(dir_ / "bus.log");
    // The window manager takes the screen before any window of the app appears.
    ASSERT_TRUE(eventually([&] { return run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).out.find("window id") !=
                                        std::string::npos; },
                           20s))
        << readFile(dir_ / "openbox.log");
  }

  static std::filesystem::path cli() { return builtProgram("app/cli/tolvane-cli"); }
  static std::filesystem::path app() { return builtProgram("app/shell/tolvane"); }

  std::map<std::string, std::string> clientEnv(std::map<std::string, std::string> extra = {}) const {
    std::map<std::string, std::string> env = {{"TOLVANE_SITE_URL", server_.url()},
                                              {"TOLVANE_VAULT_DIR", (dir_ / "vault").string()},
                                              {"XDG_CONFIG_HOME", (dir_ / "config").string()},
                                              {"XDG_DATA_HOME", (dir_ / "data").string()},
                                              {"XDG_CACHE_HOME", (dir_ / "cache").string()},
                                              {"TOLVANE_TEST_SOURCES", "1"}};
    for (auto& [key, value] : extra) env[key] = value;
    return env;
  }

  std::map<std::string, std::string> desktopEnv(const std::map<std::string, std::string>& extra = {}) const {
    auto env = clientEnv({{"DISPLAY", display_->displayName()},
                          {"DBUS_SESSION_BUS_ADDRESS", busAddress_},
                          {"QT_QPA_PLATFORM", "xcb"},
                          {"QT_QUICK_BACKEND", "software"},
                          {"TOLVANE_LOG_LEVEL", "info"}});
    for (const auto& [key, value] : extra) env[key] = value;
    return env;
  }

  CommandResult run(const std::vector<std::string>& argv) const { return runCommand(argv, desktopEnv()); }

  std::unique_ptr<ChildProcess> launch(const std::string& logName, const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv = args;
    argv.insert(argv.begin(), app().string());
    return std::make_unique<ChildProcess>(argv, desktopEnv(), dir_ / logName);
  }

  std::string log(const std::string& name = "tolvane.log") const { return readFile(dir_ / name); }

  bool nameOwned() const {
    return run({"gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                "--method", "org.freedesktop.DBus.NameHasOwner", kBusName})
               .out.find("true") != std::string::npos;
  }

  // The PID of the process that owns the application's bus name; empty when none does.
  std::string nameOwnerPid() const {
    const auto answer = run({"gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                             "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                             kBusName});
    std::smatch match;
    return std::regex_search(answer.out, match, std::regex(R"(uint32 (\d+))")) ? match[1].str() : std::string();
  }

  // A State property as plain text: gdbus prints (<'recording'>,) or (<3.5>,).
  std::string property(const std::string& name) const {
    const auto result = run({"gdbus", "call", "--session", "--dest", kBusName, "--object-path", kObjectPath, "--method",
                             "org.freedesktop.DBus.Properties.Get", "com.tolvanelabs.Tolvane.State", name});
    if (result.status != 0) return "(unreadable: " + result.err + ")";
    std::smatch match;
    static const std::regex wrapped(R"(^\(<'?(.*?)'?>,\)\s*$)");
    return std::regex_match(result.out, match, wrapped) ? match[1].str() : result.out;
  }

  ::testing::AssertionResult reachesPhase(const std::string& pattern, std::chrono::milliseconds limit = 30s) const {
    const std::regex wanted(pattern);
    if (eventually([&] { return std::regex_match(property("Phase"), wanted); }, limit)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << property("Phase") << "\n" << log();
  }

  CommandResult activateAction(const std::string& name) const {
    return run({"gdbus", "call", "--session", "--dest", kBusName, "--object-path", kObjectPath, "--method",
                "org.freedesktop.Application.ActivateAction", name, "[]", "{}"});
  }

  nlohmann::json vaultItems() const {
    const auto list = runCommand({cli().string(), "vault", "list", "--json"}, clientEnv());
    return list.status == 0 ? nlohmann::json::parse(list.out, nullptr, false) : nlohmann::json::array();
  }
  bool onlyItemIs(const std::string& state, std::chrono::milliseconds limit = 20s) const {
    return eventually([&] {
      const auto items = vaultItems();
      return items.is_array() && items.size() == 1 && items[0].value("state", "") == state;
    }, limit);
  }

  // The app's main window, when it is mapped on the screen.
  bool mainWindowShown() const {
    return run({"xdotool", "search", "--onlyvisible", "--name", "^Tolvane$"}).status == 0;
  }

  TempDir dir_;
  ServerProcess server_;
  std::unique_ptr<XvfbServer> display_;
  std::unique_ptr<ChildProcess> windowManager_;
  std::unique_ptr<ChildProcess> compositor_;
  std::string busAddress_;
  std::unique_ptr<ChildProcess> bus_;
};

// The review pane is judged by two things it does: the review holds the upload (the
// manifest's holdUploadUntil, written by nothing else) and it brings back the main window
// that the countdown took off the screen.
TEST_F(AppEndToEndTest, RecordsFromTheDBusActionStopsOnCtrlAltRAndOpensTheReview) {
  auto tolvane = launch("tolvane.log");
  ASSERT_TRUE(eventually([&] { return mainWindowShown(); }, 30s)) << log();
  // As a desktop's shortcut would, right after launch: the application holds the action
  // until its bootstrap has listed the screens, so one call is enough.
  ASSERT_TRUE(eventually([&] { return nameOwned(); }, 30s)) << log();
  ASSERT_EQ(activateAction("start-recording").status, 0) << log();
  ASSERT_TRUE(reachesPhase("recording"));
  EXPECT_TRUE(eventually([&] { return !mainWindowShown(); }, 10s)) << "the window stays off the recorded screen\n" << log();
  ASSERT_TRUE(onlyItemIs("recording")) << vaultItems().dump();

  // Shift held makes the press someone else's: the recording goes on.
  ASSERT_EQ(run({"xdotool", "key", "ctrl+alt+shift+r"}).status, 0);
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(reachesPhase("recording", 0s));
  // The grab is on the root window: the key reaches the app whichever window has the focus.
  ASSERT_EQ(run({"xdotool", "key", "ctrl+alt+r"}).status, 0);
  ASSERT_TRUE(reachesPhase("idle", 60s));
  EXPECT_TRUE(onlyItemIs("ready", 30s)) << vaultItems().dump() << "\n" << log();
  const auto items = vaultItems();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_TRUE(eventually(
      [&] {
        const auto manifest =
            runCommand({cli().string(), "vault", "show", items[0].value("id", "")}, clientEnv()).out;
        return manifest.find("holdUploadUntil") != std::string::npos;
      },
      20s))
      << log();
  EXPECT_TRUE(eventually([&] { return mainWindowShown(); }, 20s)) << log();
  EXPECT_TRUE(tolvane->isRunning());
}

TEST_F(AppEndToEndTest, ASecondLaunchHandsOverAndSigtermMidRecordingLeavesTheItemForRecovery) {
  auto first = launch("tolvane.log");
  ASSERT_TRUE(eventually([&] { return nameOwned(); }, 30s)) << log();
  ASSERT_TRUE(eventually([&] { return mainWindowShown(); }, 30s)) << log();

  // Close the window as a user would, through the window manager (Alt+F4 in openbox);
  // the app stays, in the tray. The press is repeated when it came before the window
  // manager had given the window the focus.
  ASSERT_TRUE(eventually(
      [&] {
        if (!mainWindowShown()) return true;
        run({"xdotool", "search", "--onlyvisible", "--name", "^Tolvane$", "windowactivate", "--sync"});
        run({"xdotool", "key", "alt+F4"});
        return eventually([&] { return !mainWindowShown(); }, 2s);
      },
      30s))
      << log();
  EXPECT_TRUE(first->isRunning());

  auto second = launch("second.log");
  EXPECT_EQ(second->wait(30s), std::optional<int>(0)) << log("second.log");
  EXPECT_TRUE(eventually([&] { return mainWindowShown(); }, 20s)) << log();
  EXPECT_TRUE(first->isRunning());
  EXPECT_TRUE(nameOwned());

  // The command line reaches the running one too: a bound desktop shortcut's way in.
  auto action = launch("action.log", {"--action", "start-recording"});
  EXPECT_EQ(action->wait(30s), std::optional<int>(0)) << log("action.log");
  // A name it does not know is refused without harm.
  activateAction("format-disk");
  ASSERT_TRUE(reachesPhase("recording"));
  ASSERT_TRUE(onlyItemIs("recording")) << vaultItems().dump();

  // SIGTERM mid-recording: a clean exit that leaves the item for the next launch to recover.
  first->kill(SIGTERM);
  EXPECT_EQ(first->wait(30s), std::optional<int>(0)) << log();
  EXPECT_NE(log().find("received signal 15"), std::string::npos) << log();
  EXPECT_TRUE(onlyItemIs("finalizing", 0s)) << vaultItems().dump();
  EXPECT_FALSE(nameOwned());
}

// What a desktop's launcher does for a D-Bus activatable application: it calls the
// action on the bus name, and the bus starts the program from the installed service
// file when none runs.
TEST_F(AppEndToEndTest, TheBusStartsTolvaneFromItsServiceFileForAnAction) {
  const auto installed = readFile(std::filesystem::path(std::getenv("TOLVANE_BUILD_DIR")) / "data" / (kBusName + ".service"));
  ASSERT_FALSE(installed.empty());
  // The same file, starting the program of this build rather than the installed one.
  writeFile(dir_ / "services" / (kBusName + ".service"),
            std::regex_replace(installed, std::regex("Exec=.*"), "Exec=" + app().string()));
  ASSERT_FALSE(nameOwned());

  const auto call = activateAction("show-library");
  EXPECT_EQ(call.status, 0) << call.err << readFile(dir_ / "bus.log");
  ASSERT_TRUE(eventually([&] { return nameOwned(); }, 30s)) << readFile(dir_ / "bus.log");
  EXPECT_TRUE(eventually([&] { return mainWindowShown(); }, 30s)) << readFile(dir_ / "bus.log");
  EXPECT_TRUE(eventually([&] { return readFile(dir_ / "bus.log").find("sidebar: library") != std::string::npos; }, 30s))
      << readFile(dir_ / "bus.log");

  // The bus started it, so the test stops it by the PID the bus reports.
  const std::string owner = nameOwnerPid();
  ASSERT_FALSE(owner.empty());
  std::error_code error;
  ASSERT_EQ(std::filesystem::read_symlink("/proc/" + owner + "/exe", error), std::filesystem::canonical(app()))
      << "the name's owner " << owner << " is not this build's tolvane";
  ::kill(std::stoi(owner), SIGTERM);
  EXPECT_TRUE(eventually([&] { return !nameOwned(); }, 30s));
}

// The updater against a loopback server that publishes a newer release signed with a key
// of the test's own, and a stand-in installer that writes down, at the moment it runs,
// the package it was given, its SHA-256 and the vault's items (was a recording or an
// upload under way?). After a successful install the app relaunches itself: the test
// sees the old process end, the new one take the bus name, and stops it by its PID.
class UpdateEndToEndTest : public AppEndToEndTest {
 protected:
  void SetUp() override {
    AppEndToEndTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    publicKey_ = server_.releasePublicKey();
    writeFile(dir_ / "installer", "#!/bin/sh\nset -e\ncd '" + dir_.path().string() + "'\n" +
                                      "'" + cli().string() + "' vault list --json > vault.json 2>> installer.err\n" +
                                      "{ echo \"$1\"; sha256sum \"$1\" | cut -d' ' -f1; tr -d '\\n' < vault.json; echo; }"
                                      " > record\ncat record >> installs\n");
    std::filesystem::permissions(dir_ / "installer", std::filesystem::perms::owner_all);
  }
  void TearDown() override {
    if (relaunched_ > 0) ::kill(relaunched_, SIGKILL);
  }

  std::unique_ptr<ChildProcess> launchUpdatable() {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{app().string()},
        desktopEnv({{"TOLVANE_UPDATE_PUBLIC_KEY", publicKey_}, {"TOLVANE_UPDATE_INSTALLER", (dir_ / "installer").string()}}),
        dir_ / "tolvane.log");
  }

  // Publishes version 99.0.0 of a stand-in package, before the app is launched with the
  // feed's key; returns its SHA-256.
  std::string publishNewerRelease() {
    writeFile(dir_ / "tolvane_99.0.0_amd64.deb", std::string(50000, 'd') + "a newer Tolvane");
    publicKey_ = server_.publishRelease(dir_ / "tolvane_99.0.0_amd64.deb", "99.0.0");
    return runCommand({"sh", "-c", "sha256sum '" + (dir_ / "tolvane_99.0.0_amd64.deb").string() + "' | cut -d' ' -f1"}, {})
        .out;
  }

  // The installs so far: the package path, its SHA-256 and the vault's items as JSON.
  struct Install {
    std::string package;
    std::string sha256;
    nlohmann::json vault;
  };
  std::vector<Install> installs() const {
    std::vector<Install> found;
    std::istringstream lines(std::filesystem::exists(dir_ / "installs") ? readFile(dir_ / "installs") : "");
    Install install;
    while (std::getline(lines, install.package) && std::getline(lines, install.sha256)) {
      std::string vault;
      std::getline(lines, vault);
      install.vault = nlohmann::json::parse(vault, nullptr, false);
      install.sha256 += "\n";
      found.push_back(install);
    }
    return found;
  }

  // The old process ends cleanly, and the one it started takes over the bus name.
  void expectRelaunch(ChildProcess& old) {
    EXPECT_EQ(old.wait(30s), std::optional<int>(0)) << log();
    std::smatch match;
    const std::string text = log();
    ASSERT_TRUE(std::regex_search(text, match, std::regex(R"(relaunching \(process (\d+)\))"))) << text;
    relaunched_ = std::stoi(match[1].str());
    ASSERT_TRUE(eventually([&] { return nameOwned(); }, 30s)) << log();
    EXPECT_EQ(nameOwnerPid(), std::to_string(relaunched_));
    ::kill(relaunched_, SIGTERM);
    EXPECT_TRUE(eventually([&] { return !nameOwned(); }, 30s));
    relaunched_ = -1;
  }

  std::string publicKey_;
  pid_t relaunched_ = -1;
};

TEST_F(UpdateEndToEndTest, WithNothingRunningTheUpdateInstallsAtOnceAndTheAppRelaunches) {
  const std::string sha256 = publishNewerRelease();
  auto tolvane = launchUpdatable();
  ASSERT_TRUE(eventually([&] { return nameOwned(); }, 30s)) << log();
  ASSERT_EQ(activateAction("check-for-updates").status, 0) << log();
  ASSERT_TRUE(eventually([&] { return !installs().empty(); }, 30s)) << log();
  const auto done = installs();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].sha256, sha256);
  EXPECT_EQ(done[0].package, (dir_ / "cache" / "tolvane" / "updates" / "tolvane_99.0.0.deb").string());
  EXPECT_NE(log().find("appcast loaded: 1 item(s)"), std::string::npos) << log();
  EXPECT_EQ(log().find("postponing update install"), std::string::npos) << log();
  expectRelaunch(*tolvane);
}

TEST_F(UpdateEndToEndTest, AnUpdateReadyMidRecordingWaitsForTheRecordingToEnd) {
  auto tolvane = launchUpdatable();
  ASSERT_TRUE(eventually([&] { return nameOwned(); }, 30s)) << log();
  ASSERT_EQ(activateAction("start-recording").status, 0) << log();
  ASSERT_TRUE(reachesPhase("recording"));
  publishNewerRelease();
  // Asked until the check ran: an automatic one under way at that moment takes the request.
  ASSERT_TRUE(eventually(
      [&] {
        activateAction("check-for-updates");
        return eventually([&] { return log().find("postponing update install — recording or upload in progress") !=
                                       std::string::npos; },
                          3s);
      },
      20s))
      << log();
  std::this_thread::sleep_for(2s);
  EXPECT_TRUE(installs().empty()) << "installed mid-recording";
  EXPECT_TRUE(reachesPhase("recording", 0s));

  ASSERT_EQ(activateAction("stop-recording").status, 0) << log();
  ASSERT_TRUE(reachesPhase("idle", 60s));
  // Within one 30-second step of the recording's end.
  ASSERT_TRUE(eventually([&] { return !installs().empty(); }, 45s)) << log();
  const auto done = installs();
  ASSERT_EQ(done.size(), 1u);
  ASSERT_TRUE(done[0].vault.is_array()) << readFile(dir_ / "installs") << readFile(dir_ / "installer.err");
  ASSERT_EQ(done[0].vault.size(), 1u);
  const std::string state = done[0].vault[0].value("state", "");
  EXPECT_NE(state, "recording");
  EXPECT_NE(state, "uploading");
  expectRelaunch(*tolvane);
}

}  // namespace
}  // namespace tolvane::testing
