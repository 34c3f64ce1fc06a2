#pragma once

#include <QDBusConnection>

#include "app/core/desktop_opener.h"
#include "kit/base/log.h"

namespace tolvane {

// The desktop's own handlers: pages and files through QDesktopServices (xdg-open or the
// portal), and "Show in Folder" through the file manager's org.freedesktop.FileManager1
// interface, which opens the folder with the file selected. Without a file manager that
// answers it, the folder is opened instead. Nothing here waits on the bus.
class DesktopServicesOpener final : public DesktopOpener {
 public:
  explicit DesktopServicesOpener(QDBusConnection bus = QDBusConnection::sessionBus());

  void openURL(const QUrl& url) override;
  void showInFolder(const QString& filePath) override;
  void openFile(const QString& filePath) override;

 private:
  void open(const QUrl& url);

  QDBusConnection bus_;
  Logger log_{"app"};
};

}  // namespace tolvane
