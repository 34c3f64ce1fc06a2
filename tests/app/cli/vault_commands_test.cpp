// The vault commands of the built tolvane-cli, run as a user would run them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kit/vault/manifest_json.h"
#include "kit/vault/recording_vault.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::CommandResult;
using testing::writeFile;

class VaultCommandsTest : public ::testing::Test {
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
    std::map<std::string, std::string> env = {{"HOME", home.string()},
                                              {"XDG_CONFIG_HOME", (home / ".config").string()},
                                              {"XDG_DATA_HOME", (home / ".local/share").string()},
                                              {"TZ", "UTC"},
                                              {"LC_ALL", "C.UTF-8"}};
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

TEST_F(VaultCommandsTest, PathHonoursTheVariableAndOtherwiseTheVideosDirectory) {
  EXPECT_EQ(cli({"vault", "path"}).out, root.string() + "\n");
  fs::create_directories(home / ".config");
  EXPECT_EQ(cli({"vault", "path"}, std::nullopt).out, (home / "Videos/Tolvane").string() + "\n");
  writeFile(home / ".config/user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
  EXPECT_EQ(cli({"vault", "path"}, std::nullopt).out, (home / "Filme/Tolvane").string() + "\n");
}

TEST_F(VaultCommandsTest, ListNewestFirstShowByIdOrPrefixAndDeleteToTheTrash) {
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
  std::string prefix = newer.id().substr(0, 6);
  std::transform(prefix.begin(), prefix.end(), prefix.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_EQ(decodeManifest(cli({"vault", "show", prefix}).out), newer.manifest);

  result = cli({"vault", "delete", older.id()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Moved “Older” to the Trash.\n");
  EXPECT_FALSE(fs::exists(older.directory));
  EXPECT_TRUE(fs::exists(home / ".local/share/Trash/files" / older.directory.filename() / "recording.mp4"));
  EXPECT_EQ(json::parse(cli({"vault", "list", "--json"}).out).size(), 1u);
  for (const auto& command : {"show", "delete"}) {
    result = cli({"vault", command, older.id()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tolvane-cli: No recording with the id " + older.id() + " is in the vault.\n");
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(VaultCommandsTest, UsageErrorsAndUnusableVaults) {
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"vault", "list", "--bogus"}, {"vault", "show"}, {"vault", "delete"}, {"vault", "path", "extra"}}) {
    const auto result = cli(words);
    EXPECT_EQ(result.status, 2) << words.back();
    EXPECT_EQ(result.out, "");
  }
  writeFile(dir / "file", "not a directory");
  const auto result = cli({"vault", "list"}, (dir / "file/vault").string());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "tolvane-cli: Tolvane could not open the vault at " + (dir / "file/vault").string() + ".\n");
}

}  // namespace
}  // namespace tolvane
