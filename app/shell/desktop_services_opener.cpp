#include "app/shell/desktop_services_opener.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace tolvane {
namespace {

constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";
constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";
constexpr const char* kFileManagerInterface = "org.freedesktop.FileManager1";

void openWithDesktop(const QUrl& url, const Logger& log) {
  if (!QDesktopServices::openUrl(url)) log.warning("nothing could open {}", url.toString().toStdString());
}

}  // namespace

DesktopServicesOpener::DesktopServicesOpener(QDBusConnection bus) : bus_(std::move(bus)) {}

void DesktopServicesOpener::openURL(const QUrl& url) { open(url); }

void DesktopServicesOpener::openFile(const QString& filePath) { open(QUrl::fromLocalFile(filePath)); }

void DesktopServicesOpener::showInFolder(const QString& filePath) {
  const QUrl folder = QUrl::fromLocalFile(QFileInfo(filePath).absolutePath());
  if (!bus_.isConnected()) {
    open(folder);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kFileManagerService, kFileManagerPath, kFileManagerInterface,
                                                     QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath()).toString()} << QString();
  // The bus may start a file manager for the call, which can take a moment; the answer
  // (or its absence) is handled when it comes.
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), nullptr);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [log = log_, watcher, folder](QDBusPendingCallWatcher*) {
    watcher->deleteLater();
    const QDBusPendingReply<> reply = *watcher;
    if (!reply.isError()) return;
    log.info("no file manager showed the file ({}); opening its folder", reply.error().message().toStdString());
    openWithDesktop(folder, log);
  });
}

void DesktopServicesOpener::open(const QUrl& url) { openWithDesktop(url, log_); }

}  // namespace tolvane
