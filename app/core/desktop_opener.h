#pragma once

#include <QString>
#include <QUrl>

namespace tolvane {

// The desktop's own handlers: the default browser for pages, the file browser and the
// default video player for recordings. The shell implements it (QDesktopServices and the
// FileManager1 D-Bus call); tests record what was asked.
class DesktopOpener {
 public:
  virtual ~DesktopOpener() = default;
  virtual void openURL(const QUrl& url) = 0;
  // Shows the file's folder in the file browser with the file selected.
  virtual void showInFolder(const QString& filePath) = 0;
  // Opens the file with its default application.
  virtual void openFile(const QString& filePath) = 0;
};

}  // namespace tolvane
