#pragma once

#include <QString>
#include <QVariantMap>

namespace tolvane {

// The sentences and labels of the main window's panes, derived from model values only,
// so each can be checked without a window.
class PaneTexts {
 public:
  struct Status {
    QString text;
    QString tone;  // "success", "progress", "warning" or "neutral"
  };

  // "1 view", "12 views".
  static QString viewCount(qint64 count);
  // "1 recording", "12 recordings".
  static QString recordingCount(qint64 count);
  static QString planLine(bool paid);
  // The web site's name for the sentences that point there: the host of its address,
  // without "www.".
  static QString siteName(const QString& siteURL);
  // The empty library's invitation, naming the web site.
  static QString libraryEmptyText(const QString& siteName);
  // The label of a local recording's badge for a manifest state ("ready", …); "" for
  // a state this version does not know.
  static QString stateBadge(const QString& state);
  static QString deleteTitle();
  static QString deleteMessage(const QString& state);
  // The review pane's status line for a local item (its keys as LibraryModel's local
  // rows have them): the copied-link notice wins while it shows.
  static Status reviewStatus(const QVariantMap& item, const QString& linkCopiedNotice);
  // Whole percent of the upload, truncated (a nearly finished upload does not claim 100);
  // 0 when the size is not known yet.
  static int uploadPercent(qint64 uploadedBytes, qint64 fileSizeBytes);
};

}  // namespace tolvane
