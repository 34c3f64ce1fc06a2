#include "app/ui/pane_texts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "app/ui/trim_rules.h"
#include "app/ui/ui_format.h"

namespace tolvane {
namespace {

TEST(UiFormat, DurationsRoundToTheSecondAndNonsenseReadsZero) {
  const UiFormat format;
  const std::pair<double, const char*> cases[] = {{59.5, "1:00"},
                                                  {59.4, "0:59"},
                                                  {3600, "1:00:00"},
                                                  {3599.5, "1:00:00"},
                                                  {std::nan(""), "0:00"},
                                                  {-3, "0:00"},
                                                  {std::numeric_limits<double>::infinity(), "0:00"},
                                                  {754, "12:34"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(format.duration(seconds), QString::fromUtf8(text)) << seconds;
}

TEST(PaneTexts, CountsPlanBadgesAndDeleteTexts) {
  EXPECT_EQ(PaneTexts::viewCount(1), "1 view");
  EXPECT_EQ(PaneTexts::viewCount(0), "0 views");
  EXPECT_EQ(PaneTexts::viewCount(12), "12 views");
  EXPECT_EQ(PaneTexts::recordingCount(1), "1 recording");
  EXPECT_EQ(PaneTexts::recordingCount(1000), "1000 recordings");
  EXPECT_EQ(PaneTexts::planLine(false), "Free plan");
  EXPECT_EQ(PaneTexts::planLine(true), "Pro — unlimited recordings");
  EXPECT_EQ(PaneTexts::libraryEmptyText(PaneTexts::siteName("https://www.tolvane.example/app")),
            "Record something and it'll appear here and on tolvane.example.");
  EXPECT_EQ(PaneTexts::siteName("http://127.0.0.1:8080"), "127.0.0.1");

  const std::pair<const char*, const char*> badges[] = {
      {"recording", "Recording"},
      {"finalizing", "Finishing"},
      {"ready", "Waiting to upload"},
      {"uploading", "Uploading"},
      {"uploaded", "Uploaded — confirming"},
      {"verified", "Safe in your library"},
      {"needsAttention", "Needs your attention — the file is safe here"},
      {"Verified", ""}};
  for (const auto& [state, label] : badges) EXPECT_EQ(PaneTexts::stateBadge(state), QString::fromUtf8(label)) << state;

  EXPECT_EQ(PaneTexts::deleteTitle(), "Delete this recording from this computer?");
  const QString safe = QString::fromUtf8(
      "It's already safe in your Tolvane library, so this only removes the local copy. It goes to the Trash, not "
      "straight to nowhere.");
  const QString gone = QString::fromUtf8(
      "This copy hasn't finished uploading yet — deleting it now means it's gone for good. It goes to the Trash.");
  EXPECT_EQ(PaneTexts::deleteMessage("verified"), safe);
  // An uploaded copy is not confirmed yet: deleting it could still lose it.
  for (const char* state : {"uploaded", "uploading", "ready", "needsAttention", "recording"}) {
    EXPECT_EQ(PaneTexts::deleteMessage(state), gone) << state;
  }
}

struct StatusCase {
  const char* name;
  QVariantMap item;
  QString notice;
  QString text;
  QString tone;
};

// Test names, not bytes, in ctest's listing.
void PrintTo(const StatusCase& c, std::ostream* out) { *out << c.name; }

class ReviewStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ReviewStatus, FollowsTheManifestState) {
  const StatusCase& c = GetParam();
  const QVariantMap status = UiFormat().reviewStatus(c.item, c.notice);
  EXPECT_EQ(status.value("text").toString(), c.text);
  EXPECT_EQ(status.value("tone").toString(), c.tone);
}

QVariantMap uploading(qint64 sent, qint64 size) {
  return {{"state", "uploading"}, {"uploadedBytes", sent}, {"fileSizeBytes", size}};
}

INSTANTIATE_TEST_SUITE_P(
    States, ReviewStatus,
    ::testing::Values(
        StatusCase{"Verified", {{"state", "verified"}}, "", "Saved to your library", "success"},
        StatusCase{"UploadedWithNotice",
                   {{"state", "uploaded"}},
                   "Link copied — paste it anywhere.",
                   "Link copied — paste it anywhere.",
                   "success"},
        StatusCase{"UploadingHalf", uploading(50, 100), "", "Uploading 50%", "progress"},
        StatusCase{"UploadingNearlyDoneIsNot100", uploading(999, 1000), "", "Uploading 99%", "progress"},
        StatusCase{"UploadingSizeZero", uploading(500, 0), "", "Uploading 0%", "progress"},
        StatusCase{"UploadingMoreThanTheSize", uploading(300, 100), "", "Uploading 100%", "progress"},
        StatusCase{"NeedsAttentionWithError",
                   {{"state", "needsAttention"}, {"lastError", "The server refused it."}},
                   "",
                   "The server refused it.",
                   "warning"},
        StatusCase{
            "NeedsAttentionWithoutError", {{"state", "needsAttention"}}, "", "Upload needs attention", "warning"},
        // The notice belongs to an uploaded recording; a pending one says what it is.
        StatusCase{"ReadyIgnoresNotice",
                   {{"state", "ready"}},
                   "Link copied — paste it anywhere.",
                   "Saved on this computer — uploading shortly",
                   "neutral"},
        StatusCase{"NoState", {}, "", "Saved on this computer — uploading shortly", "neutral"}),
    [](const ::testing::TestParamInfo<StatusCase>& param) { return std::string(param.param.name); });

TEST(TrimRules, TheKeptRangeNeverShrinksBelowHalfASecond) {
  EXPECT_DOUBLE_EQ(TrimRules::trackDuration(12), 12);
  EXPECT_DOUBLE_EQ(TrimRules::trackDuration(0), 0.1);
  EXPECT_DOUBLE_EQ(TrimRules::trackDuration(std::nan("")), 0.1);

  // Start handle: not before 0, not within half a second of the end.
  EXPECT_DOUBLE_EQ(TrimRules::clampStart(-2, 10), 0);
  EXPECT_DOUBLE_EQ(TrimRules::clampStart(3, 10), 3);
  EXPECT_DOUBLE_EQ(TrimRules::clampStart(9.8, 10), 9.5);
  // End handle: not past the track, not within half a second of the start.
  EXPECT_DOUBLE_EQ(TrimRules::clampEnd(12, 2, 10), 10);
  EXPECT_DOUBLE_EQ(TrimRules::clampEnd(7, 2, 10), 7);
  EXPECT_DOUBLE_EQ(TrimRules::clampEnd(2.1, 2, 10), 2.5);

  EXPECT_DOUBLE_EQ(TrimRules::secondsAt(100, 400, 20), 5);
  // A track not laid out yet (width 0) still gives a finite time.
  EXPECT_DOUBLE_EQ(TrimRules::secondsAt(3, 0, 20), 60);
  // A trimmed movie a frame shorter than the range that made it is still kept whole.
  EXPECT_TRUE(TrimRules::keepsWhole(0, 4.98, 5));
  EXPECT_FALSE(TrimRules::keepsWhole(0, 4.9, 5));
  EXPECT_FALSE(TrimRules::keepsWhole(0.2, 5, 5));

  // UiFormat hands the panes the same rules.
  const UiFormat format;
  EXPECT_DOUBLE_EQ(format.clampTrimStart(9.8, 10), 9.5);
  EXPECT_DOUBLE_EQ(format.clampTrimEnd(2.1, 2, 10), 2.5);
  EXPECT_DOUBLE_EQ(format.trimDuration(0), 0.1);
  EXPECT_DOUBLE_EQ(format.secondsAt(100, 400, 20), 5);
  EXPECT_TRUE(format.keepsWhole(0.01, 10, 10));
}

TEST(UiFormat, RelativeAndShortDatesReadTheTextOrGiveNothing) {
  // The phrases are in the user's locale; this test reads English ones.
  const QByteArray savedLocale = qgetenv("LC_ALL");
  qputenv("LC_ALL", "en_US.UTF-8");
  const QDateTime now = QDateTime::fromString("2026-03-05T15:00:00Z", Qt::ISODate);
  EXPECT_EQ(UiFormat::relativeDate("2026-03-05T12:00:00Z", now), "3 hr. ago");
  // Fractions and offsets, as services write them: 1 h 59 min 59.75 s is still an hour.
  EXPECT_EQ(UiFormat::relativeDate("2026-03-05T14:00:00.250+01:00", now), "1 hr. ago");
  EXPECT_EQ(UiFormat::relativeDate("not a date", now), "");
  EXPECT_EQ(UiFormat::relativeDate("", now), "");

  const UiFormat format;
  EXPECT_FALSE(format.shortDate(QStringLiteral("2026-03-05T14:07:09Z")).isEmpty());
  EXPECT_EQ(format.shortDate(QStringLiteral("yesterday")), "");
  EXPECT_EQ(format.shortDate(QVariant()), "");
  if (savedLocale.isNull()) {
    qunsetenv("LC_ALL");
  } else {
    qputenv("LC_ALL", savedLocale);
  }
}

}  // namespace
}  // namespace tolvane
