// The built tolvane-cli, run as a user would run it.
#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "kit/vault/manifest_json.h"
#include "kit/vault/recording_vault.h"
#include "tests/kit/media/movie_judge.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::CommandResult;
using testing::writeFile;

class CommandsTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  fs::path home = dir / "home";
  fs::path root = dir / "vault";
  testing::ScopedEnv noVaultVariable{"TOLVANE_VAULT_DIR", nullptr};

  void SetUp() override { fs::create_directories(home); }

  CommandResult cli(std::vector<std::string> words) const { return cli(std::move(words), root.string()); }
  // The vault variable is left unset when `vaultDir` is nullopt.
  CommandResult cli(std::vector<std::string> words, std::optional<std::string> vaultDir) const {
    words.insert(words.begin(), testing::builtProgram("app/cli/tolvane-cli").string());
    std::map<std::string, std::string> env = {{"HOME", home.string()}, {"XDG_CONFIG_HOME", (home / ".config").string()},
                                              {"XDG_DATA_HOME", (home / ".local/share").string()},
                                              {"TZ", "UTC"}, {"LC_ALL", "C.UTF-8"}};
    if (vaultDir) env["TOLVANE_VAULT_DIR"] = *vaultDir;
    return testing::runCommand(words, env);
  }

  // Two recordings made through the vault, the second one newer.
  std::pair<VaultItem, VaultItem> twoRecordings() {
    RecordingVault vault(root);
    const auto older = vault.createRecording("Older", false, true, false);
    vault.update(older.id(), [](RecordingManifest& m) {
      m.createdAt = *parseISO8601("2026-03-05T14:07:09Z");
      m.durationSec = 65.4;
      m.state = RecordingState::verified;
    });
    writeFile(older.videoPath(), std::string(1'500'000, 'v'));
    const auto newer = vault.createRecording("Newer — with a dash", true, true, true);
    return {*vault.item(older.id()), *vault.item(newer.id())};
  }
};

TEST_F(CommandsTest, PathHonoursTheVariableAndOtherwiseTheVideosDirectory) {
  EXPECT_EQ(cli({"vault", "path"}).out, root.string() + "\n");
  fs::create_directories(home / ".config");
  EXPECT_EQ(cli({"vault", "path"}, std::nullopt).out, (home / "Videos/Tolvane").string() + "\n");
  writeFile(home / ".config/user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
  EXPECT_EQ(cli({"vault", "path"}, std::nullopt).out, (home / "Filme/Tolvane").string() + "\n");
}

TEST_F(CommandsTest, ListNewestFirstShowByIdOrPrefixAndDeleteToTheTrash) {
  EXPECT_EQ(cli({"vault", "list"}).out, "No recordings in " + root.string() + "\n");
  EXPECT_EQ(json::parse(cli({"vault", "list", "--json"}).out), json::array());

  const auto [older, newer] = twoRecordings();
  const auto table = cli({"vault", "list"});
  ASSERT_EQ(table.status, 0) << table.err;
  const auto newerAt = table.out.find("\n" + newer.id() + "  recording  Newer — with a dash  ");
  const auto olderAt = table.out.find("\n" + older.id() + "  verified   Older                2026-03-05 14:07  1:05      1.5 MB   " +
                                      older.videoPath().string() + "\n");
  EXPECT_TRUE(table.out.starts_with("ID ") && newerAt < olderAt && olderAt != std::string::npos) << table.out;
  const auto listed = json::parse(cli({"vault", "list", "--json"}).out);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0]["id"], newer.id());
  EXPECT_EQ(listed[1], (json{{"id", older.id()}, {"title", "Older"}, {"state", "verified"},
                             {"createdAt", "2026-03-05T14:07:09Z"}, {"durationSec", 65.4}, {"sizeBytes", 1'500'000},
                             {"file", older.videoPath().string()}, {"directory", older.directory.string()}}));

  auto result = cli({"vault", "show", older.id()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, encodeManifest(older.manifest) + "\n");
  EXPECT_EQ(decodeManifest(cli({"vault", "show", newer.id().substr(0, 6)}).out), newer.manifest);

  result = cli({"vault", "delete", older.id()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Moved “Older” to the Trash.\n");
  EXPECT_FALSE(fs::exists(older.directory));
  EXPECT_TRUE(fs::exists(home / ".local/share/Trash/files" / older.directory.filename() / "recording.mp4"));
  EXPECT_EQ(json::parse(cli({"vault", "list", "--json"}).out).size(), 1u);
  EXPECT_EQ(cli({"vault", "show", older.id()}).err, "tolvane-cli: No recording has the id " + older.id() + ".\n");
}

TEST_F(CommandsTest, HelpPutsEachDescriptionUnderItsUsageWithinEightyColumns) {
  const std::string list = cli({"--help"}).out;
  const std::string record = cli({"record", "--help"}).out;
  std::istringstream lines(list + record);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  EXPECT_NE(list.find("\n  vault list [--json]\n      list the recordings, newest first\n"), std::string::npos) << list;
  EXPECT_TRUE(record.starts_with("Usage: tolvane-cli record [--target ID]")) << record;
  EXPECT_NE(record.find("\n\n  record the screen"), std::string::npos) << record;
}

TEST_F(CommandsTest, ProbePrintsTheMeasuredSecondsAndUsageErrorsUnreadableMoviesAndUnusableVaultsFail) {
  testing::writeTestMovie(dir / "m.mp4", 2.0);
  EXPECT_EQ(cli({"probe", (dir / "m.mp4").string()}).out, "2.000\n");
  writeFile(dir / "noise.mp4", std::string(5000, 'n'));
  auto result = cli({"probe", (dir / "noise.mp4").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "tolvane-cli: Tolvane couldn't read a movie in " + (dir / "noise.mp4").string() + ".\n");
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"vault", "list", "--bogus"}, {"vault", "show"}, {"vault", "delete"}, {"vault", "path", "extra"}, {"probe"}}) {
    result = cli(words);
    EXPECT_EQ(result.status, 2) << words.back();
    EXPECT_EQ(result.out, "");
  }
  writeFile(dir / "file", "not a directory");
  result = cli({"vault", "list"}, (dir / "file/vault").string());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "tolvane-cli: Tolvane could not open the vault at " + (dir / "file/vault").string() + ".\n");
}

}  // namespace
}  // namespace tolvane
