#include "app/ui/ui_format.h"

#include <chrono>

#include "app/ui/pane_texts.h"
#include "app/ui/trim_rules.h"
// The kit's helpers, which the command line prints with too.
#include "kit/base/format.h"
#include "kit/base/relative_date_format.h"
#include "kit/config/config.h"
#include "kit/vault/local_date_format.h"

namespace tolvane {
namespace {

// Z, numeric offsets and fractions of a second all parse; a text without a zone is
// taken as local time.
QDateTime parsedDate(const QVariant& value) {
  if (value.metaType().id() == QMetaType::QDateTime) return value.toDateTime();
  if (value.metaType().id() != QMetaType::QString) return {};
  return QDateTime::fromString(value.toString().trimmed(), Qt::ISODateWithMs);
}

Date toDate(const QDateTime& dateTime) { return Date(std::chrono::milliseconds(dateTime.toMSecsSinceEpoch())); }

}  // namespace

QString UiFormat::duration(double seconds) const { return QString::fromStdString(formatDuration(seconds)); }

QString UiFormat::byteCount(qint64 bytes) const { return QString::fromStdString(formatByteCount(bytes)); }

QString UiFormat::relativeDate(const QString& iso8601) const {
  return relativeDate(iso8601, QDateTime::currentDateTimeUtc());
}

QString UiFormat::relativeDate(const QString& iso8601, const QDateTime& now) {
  const QDateTime date = parsedDate(iso8601);
  if (!date.isValid()) return {};
  return QString::fromStdString(formatRelativeDate(toDate(date), toDate(now), userDateLocale()));
}

QString UiFormat::shortDate(const QVariant& date) const {
  const QDateTime parsed = parsedDate(date);
  if (!parsed.isValid()) return {};
  return QString::fromStdString(formatLocalDate(toDate(parsed), "MMM d, h:mm a", userDateLocale()));
}

QString UiFormat::viewCount(qint64 count) const { return PaneTexts::viewCount(count); }

QString UiFormat::recordingCount(qint64 count) const { return PaneTexts::recordingCount(count); }

QString UiFormat::planLine(bool paid) const { return PaneTexts::planLine(paid); }

QString UiFormat::libraryEmptyText() const {
  return PaneTexts::libraryEmptyText(PaneTexts::siteName(QString::fromStdString(Config::siteURL().text())));
}

QString UiFormat::stateBadge(const QString& state) const { return PaneTexts::stateBadge(state); }

QString UiFormat::deleteTitle() const { return PaneTexts::deleteTitle(); }

QString UiFormat::deleteMessage(const QString& state) const { return PaneTexts::deleteMessage(state); }

QVariantMap UiFormat::reviewStatus(const QVariantMap& item, const QString& linkCopiedNotice) const {
  const PaneTexts::Status status = PaneTexts::reviewStatus(item, linkCopiedNotice);
  return {{QStringLiteral("text"), status.text}, {QStringLiteral("tone"), status.tone}};
}

double UiFormat::trimDuration(double durationSec) const { return TrimRules::trackDuration(durationSec); }

double UiFormat::clampTrimStart(double value, double trimEnd) const { return TrimRules::clampStart(value, trimEnd); }

double UiFormat::clampTrimEnd(double value, double trimStart, double duration) const {
  return TrimRules::clampEnd(value, trimStart, duration);
}

bool UiFormat::keepsWhole(double trimStart, double trimEnd, double duration) const {
  return TrimRules::keepsWhole(trimStart, trimEnd, duration);
}

double UiFormat::secondsAt(double x, double width, double duration) const {
  return TrimRules::secondsAt(x, width, duration);
}

}  // namespace tolvane
