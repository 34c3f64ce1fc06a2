#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kit/base/iso8601.h"
#include "kit/vault/recording_vault.h"
#include "tests/kit/media/movie_judge.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using testing::TempDir;

class MediaCommandsTest : public ::testing::Test {
 protected:
  testing::CommandResult cli(std::vector<std::string> words) {
    words.insert(words.begin(), testing::builtProgram("app/cli/tolvane-cli").string());
    return testing::runCommand(words, {{"TOLVANE_VAULT_DIR", (dir_ / "vault").string()}});
  }

  TempDir dir_;
  RecordingVault vault_{dir_ / "vault"};
};

TEST_F(MediaCommandsTest, ProbePrintsTheMeasuredSeconds) {
  testing::writeTestMovie(dir_ / "m.mp4", 2.0);
  auto result = cli({"probe", (dir_ / "m.mp4").string()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "2.000\n");
  auto json = nlohmann::json::parse(cli({"probe", (dir_ / "m.mp4").string(), "--json"}).out);
  EXPECT_NEAR(json["durationSec"].get<double>(), 2.0, 1e-6);

  testing::writeFile(dir_ / "noise.mp4", std::string(5000, 'n'));
  result = cli({"probe", (dir_ / "noise.mp4").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "tolvane-cli: Tolvane couldn't read a movie in " + (dir_ / "noise.mp4").string() + ".\n");
  EXPECT_EQ(cli({"probe"}).status, 2);
}

TEST_F(MediaCommandsTest, TrimPointsTheManifestAtTheTrimmedFile) {
  const auto item = vault_.createRecording("Clip", false, false, false);
  testing::writeTestMovie(item.videoPath(), 3.0);
  vault_.update(item.id(), [](RecordingManifest& m) {
    m.state = RecordingState::ready;
    m.durationSec = 3.0;
    m.holdUploadUntil = parseISO8601("2030-01-01T00:00:00Z");
  });

  auto refused = cli({"trim", item.id(), "1", "1.49"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "tolvane-cli: Keep at least half a second of the recording.\n");
  EXPECT_FALSE(std::filesystem::exists(item.directory / "recording-trimmed.mp4"));

  auto result = cli({"trim", item.id(), "0.5", "2", "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto manifest = vault_.item(item.id())->manifest;
  EXPECT_EQ(manifest.fileName, "recording-trimmed.mp4");
  EXPECT_NEAR(manifest.durationSec, 1.5, 0.05);
  EXPECT_DOUBLE_EQ(nlohmann::json::parse(result.out)["durationSec"].get<double>(), manifest.durationSec);
  EXPECT_FALSE(manifest.holdUploadUntil.has_value());
  EXPECT_TRUE(std::filesystem::exists(item.videoPath()));  // the original stays

  EXPECT_EQ(cli({"trim", "NO-SUCH-ID", "0", "1"}).status, 1);
  EXPECT_EQ(cli({"trim", item.id(), "zero", "1"}).status, 2);
}

}  // namespace
}  // namespace tolvane
