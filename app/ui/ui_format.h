#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace tolvane {

// The formatting every view shares, for QML (the context property `format`): one place
// decides how a duration, a size, a date or a state reads, so the tray and the panes
// never disagree. The rules themselves live in PaneTexts and TrimRules.
class UiFormat final : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // "m:ss", or "h:mm:ss" from an hour on.
  Q_INVOKABLE QString duration(double seconds) const;
  // "734 MB", "2.15 GB".
  Q_INVOKABLE QString byteCount(qint64 bytes) const;

  // "3 hr. ago", "yesterday" in the user's locale, for an ISO 8601 time; "" when the
  // text is not one.
  Q_INVOKABLE QString relativeDate(const QString& iso8601) const;
  // The same, seen from `now` rather than the present moment.
  static QString relativeDate(const QString& iso8601, const QDateTime& now);
  // "Mar 5, 2:07 PM" in the local time zone, for a date or an ISO 8601 text; "" for
  // anything else.
  Q_INVOKABLE QString shortDate(const QVariant& date) const;

  Q_INVOKABLE QString viewCount(qint64 count) const;
  Q_INVOKABLE QString recordingCount(qint64 count) const;
  Q_INVOKABLE QString planLine(bool paid) const;
  // The empty library's invitation, naming this build's web site.
  Q_INVOKABLE QString libraryEmptyText() const;
  Q_INVOKABLE QString stateBadge(const QString& state) const;
  Q_INVOKABLE QString deleteTitle() const;
  Q_INVOKABLE QString deleteMessage(const QString& state) const;
  // {text, tone}: tone is "success", "progress", "warning" or "neutral".
  Q_INVOKABLE QVariantMap reviewStatus(const QVariantMap& item, const QString& linkCopiedNotice) const;

  Q_INVOKABLE double trimDuration(double durationSec) const;
  Q_INVOKABLE double clampTrimStart(double value, double trimEnd) const;
  Q_INVOKABLE double clampTrimEnd(double value, double trimStart, double duration) const;
  Q_INVOKABLE double secondsAt(double x, double width, double duration) const;
  Q_INVOKABLE bool keepsWhole(double trimStart, double trimEnd, double duration) const;
};

}  // namespace tolvane
