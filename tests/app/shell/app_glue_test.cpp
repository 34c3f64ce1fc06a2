// The application's glue with the desktop, under a private X server and session bus: the
// clipboard, the file manager and browser hand-offs, and the `tolvane` program's command
// line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/core/app_model.h"
#include "app/shell/desktop_services_opener.h"
#include "app/shell/qt_clipboard.h"
#include "tests/app/desktop_test_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

// A file manager that only writes down what it was asked to show.
class FakeFileManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

 public slots:
  void ShowItems(const QStringList& uris, const QString&) { shown << uris; }

 public:
  QStringList shown;
};

// Where QDesktopServices would have sent a URL.
class UrlCatcher : public QObject {
  Q_OBJECT

 public slots:
  void open(const QUrl& url) { opened << url.toString(); }

 public:
  QStringList opened;
};

class AppGlueTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    xvfb = new testing::XvfbServer(800, 600);
    setenv("DISPLAY", xvfb->displayName().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "shell_life_desktop_tests";
    static char* argv[] = {name, nullptr};
    app = new QApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app;
    delete xvfb;
  }

  static inline testing::XvfbServer* xvfb = nullptr;
  static inline QApplication* app = nullptr;
  testing::TempDir dir;
};

TEST_F(AppGlueTest, ACopiedLinkCanBePastedWithCtrlVOrTheMiddleButton) {
  QtClipboard().setText("https://tolvane.test/v/abc");
  EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Clipboard), "https://tolvane.test/v/abc");
  EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Selection), "https://tolvane.test/v/abc");
}

TEST_F(AppGlueTest, ShowInFolderAsksTheFileManagerAndFallsBackToTheFolder) {
  testing::PrivateBus bus(dir.path());
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("file", &catcher, "open");
  QDesktopServices::setUrlHandler("https", &catcher, "open");
  const QString movie = QString::fromStdString((dir / "vault" / "Clip 1" / "recording.mp4").string());
  const QString folder = QUrl::fromLocalFile(QString::fromStdString((dir / "vault" / "Clip 1").string())).toString();

  {
    // No file manager on this bus: the folder opens instead.
    auto client = QDBusConnection::connectToBus(bus.qAddress(), "opener-alone");
    ASSERT_TRUE(client.isConnected());
    DesktopServicesOpener opener(client);
    opener.showInFolder(movie);
    EXPECT_TRUE(testing::spinUntil([&] { return !catcher.opened.isEmpty(); }));
    EXPECT_EQ(catcher.opened, QStringList{folder});
    catcher.opened.clear();

    opener.openURL(QUrl("https://tolvane.test/library"));
    opener.openFile(movie);
    EXPECT_EQ(catcher.opened, (QStringList{"https://tolvane.test/library", QUrl::fromLocalFile(movie).toString()}));
    catcher.opened.clear();
  }
  QDBusConnection::disconnectFromBus("opener-alone");

  FakeFileManager fileManager;
  auto service = QDBusConnection::connectToBus(bus.qAddress(), "file-manager");
  ASSERT_TRUE(service.registerObject("/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
  {
    auto client = QDBusConnection::connectToBus(bus.qAddress(), "opener");
    DesktopServicesOpener opener(client);
    opener.showInFolder(movie);
    EXPECT_TRUE(testing::spinUntil([&] { return !fileManager.shown.isEmpty(); }));
    EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(movie).toString()});
    testing::spinUntil([] { return false; }, 300ms);  // a late fallback would show up here
    EXPECT_TRUE(catcher.opened.isEmpty());
  }
  QDBusConnection::disconnectFromBus("opener");
  QDBusConnection::disconnectFromBus("file-manager");
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
