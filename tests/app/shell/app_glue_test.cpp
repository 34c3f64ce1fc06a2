// The application's glue with the desktop, under a private X server and session bus: the
// clipboard, the file manager and browser hand-offs, and the `tolvane` program's command
// line.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/shell/desktop_services_opener.h"
#include "app/shell/qt_clipboard.h"
#include "tests/app/desktop_test_env.h"
#include "tests/support/temp_dir.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

// A file manager that only writes down what it was asked to show, and where
// QDesktopServices would have sent a URL.
class FakeDesktop : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

 public slots:
  void ShowItems(const QStringList& uris, const QString&) { shown << uris; }
  void open(const QUrl& url) { opened << url.toString(); }

 public:
  QStringList shown, opened;
};

TEST(AppGlueTest, TheClipboardAndTheHandOffsToTheFileManagerAndTheBrowser) {
  testing::desktopApplication<QGuiApplication>();
  // A copied link can be pasted with Ctrl+V or the middle button.
  QtClipboard().setText("https://tolvane.test/v/abc");
  EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Clipboard), "https://tolvane.test/v/abc");
  EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Selection), "https://tolvane.test/v/abc");

  testing::TempDir dir;
  testing::PrivateBus bus(dir.path());
  FakeDesktop desktop;
  QDesktopServices::setUrlHandler("file", &desktop, "open");
  QDesktopServices::setUrlHandler("https", &desktop, "open");
  const QString movie = QString::fromStdString((dir / "vault" / "Clip 1" / "recording.mp4").string());
  {
    // No file manager on this bus: the folder opens instead.
    DesktopServicesOpener opener(QDBusConnection::connectToBus(bus.qAddress(), "opener-alone"));
    opener.showInFolder(movie);
    EXPECT_TRUE(testing::spinUntil([&] { return !desktop.opened.isEmpty(); }));
    opener.openURL(QUrl("https://tolvane.test/library"));
    opener.openFile(movie);
    EXPECT_EQ(desktop.opened, (QStringList{QUrl::fromLocalFile(QString::fromStdString((dir / "vault" / "Clip 1").string())).toString(),
                                           "https://tolvane.test/library", QUrl::fromLocalFile(movie).toString()}));
    desktop.opened.clear();
  }
  auto service = QDBusConnection::connectToBus(bus.qAddress(), "file-manager");
  ASSERT_TRUE(service.registerObject("/org/freedesktop/FileManager1", &desktop, QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
  {
    DesktopServicesOpener opener(QDBusConnection::connectToBus(bus.qAddress(), "opener"));
    opener.showInFolder(movie);
    EXPECT_TRUE(testing::spinUntil([&] { return !desktop.shown.isEmpty(); }));
    EXPECT_EQ(desktop.shown, QStringList{QUrl::fromLocalFile(movie).toString()});
    testing::spinUntil([] { return false; }, 300ms);  // a late fallback would show up here
    EXPECT_TRUE(desktop.opened.isEmpty());
  }
  for (const char* name : {"opener-alone", "opener", "file-manager"}) QDBusConnection::disconnectFromBus(name);
  QDesktopServices::unsetUrlHandler("file");
  QDesktopServices::unsetUrlHandler("https");
}

// The program's answers that need no display.
TEST(TolvaneProgramTest, VersionAndAMistypedCommandLineAnswerWithoutADisplay) {
  const std::string program = testing::builtProgram("app/shell/tolvane").string();
  const std::map<std::string, std::string> noDisplay = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
  const auto version = testing::runCommand({program, "--version"}, noDisplay);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "Tolvane " + AppModel::currentVersion().toStdString() + "\n");

  const auto mistyped = testing::runCommand({program, "--action", "format-disk"}, noDisplay);
  EXPECT_EQ(mistyped.status, 2);
  EXPECT_EQ(mistyped.err.rfind("tolvane: Unknown action \"format-disk\"; the actions are: start-recording, ", 0), 0u)
      << mistyped.err;
  EXPECT_EQ(std::count(mistyped.err.begin(), mistyped.err.end(), '\n'), 1);

  EXPECT_EQ(testing::runCommand({program, "start-recording"}, noDisplay).status, 2);
}

}  // namespace
}  // namespace tolvane

#include "app_glue_test.moc"
