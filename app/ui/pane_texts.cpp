#include "app/ui/pane_texts.h"

#include <QHash>
#include <QUrl>
#include <algorithm>

namespace tolvane {
namespace {

QString counted(qint64 count, const QString& one, const QString& many) {
  return QString::number(count) + QLatin1Char(' ') + (count == 1 ? one : many);
}

}  // namespace

QString PaneTexts::viewCount(qint64 count) { return counted(count, QStringLiteral("view"), QStringLiteral("views")); }

QString PaneTexts::recordingCount(qint64 count) {
  return counted(count, QStringLiteral("recording"), QStringLiteral("recordings"));
}

QString PaneTexts::planLine(bool paid) {
  return paid ? QStringLiteral("Pro — unlimited recordings") : QStringLiteral("Free plan");
}

QString PaneTexts::siteName(const QString& siteURL) {
  QString host = QUrl(siteURL).host();
  if (host.startsWith(QLatin1String("www."))) host.remove(0, 4);
  return host;
}

QString PaneTexts::libraryEmptyText(const QString& siteName) {
  return QStringLiteral("Record something and it'll appear here and on %1.").arg(siteName);
}

QString PaneTexts::stateBadge(const QString& state) {
  static const QHash<QString, QString> labels{
      {QStringLiteral("recording"), QStringLiteral("Recording")},
      {QStringLiteral("finalizing"), QStringLiteral("Finishing")},
      {QStringLiteral("ready"), QStringLiteral("Waiting to upload")},
      {QStringLiteral("uploading"), QStringLiteral("Uploading")},
      {QStringLiteral("uploaded"), QStringLiteral("Uploaded — confirming")},
      {QStringLiteral("verified"), QStringLiteral("Safe in your library")},
      {QStringLiteral("needsAttention"), QStringLiteral("Needs your attention — the file is safe here")}};
  return labels.value(state);
}

QString PaneTexts::deleteTitle() { return QStringLiteral("Delete this recording from this computer?"); }

QString PaneTexts::deleteMessage(const QString& state) {
  if (state == QStringLiteral("verified")) {
    return QStringLiteral(
        "It's already safe in your Tolvane library, so this only removes the local copy. It goes to the Trash, "
        "not straight to nowhere.");
  }
  return QStringLiteral(
      "This copy hasn't finished uploading yet — deleting it now means it's gone for good. It goes to the Trash.");
}

int PaneTexts::uploadPercent(qint64 uploadedBytes, qint64 fileSizeBytes) {
  if (fileSizeBytes <= 0 || uploadedBytes <= 0) return 0;
  const double fraction = std::min(1.0, double(uploadedBytes) / double(fileSizeBytes));
  return int(fraction * 100.0);
}

PaneTexts::Status PaneTexts::reviewStatus(const QVariantMap& item, const QString& linkCopiedNotice) {
  const QString state = item.value(QStringLiteral("state")).toString();
  if (state == QStringLiteral("uploaded") || state == QStringLiteral("verified")) {
    return {linkCopiedNotice.isEmpty() ? QStringLiteral("Saved to your library") : linkCopiedNotice,
            QStringLiteral("success")};
  }
  if (state == QStringLiteral("uploading")) {
    const int percent = uploadPercent(item.value(QStringLiteral("uploadedBytes")).toLongLong(),
                                      item.value(QStringLiteral("fileSizeBytes")).toLongLong());
    return {QStringLiteral("Uploading %1%").arg(percent), QStringLiteral("progress")};
  }
  if (state == QStringLiteral("needsAttention")) {
    const QString error = item.value(QStringLiteral("lastError")).toString();
    return {error.isEmpty() ? QStringLiteral("Upload needs attention") : error, QStringLiteral("warning")};
  }
  return {QStringLiteral("Saved on this computer — uploading shortly"), QStringLiteral("neutral")};
}

}  // namespace tolvane
