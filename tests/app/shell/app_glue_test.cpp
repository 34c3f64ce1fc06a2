// The application's glue with the desktop, under a private X server and session bus: the
// clipboard, the file manager and browser hand-offs, and the `tolvane` program's command
// line.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "app/shell/desktop_services_opener.h"
#include "app/shell/qt_clipboard.h"
#include "app/shell/x11_startup_notification.h"
#include "tests/app/desktop_test_env.h"
#include "tests/support/temp_dir.h"

#include <xcb/xcb.h>

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

// What the desktop hears when a launcher activates the running Tolvane: the launch's
// feedback ends with its id, and the window is activated with the time of the click.
TEST(AppGlueTest, ALaunchIsCompletedAndItsWindowActivatedWithTheClicksTime) {
  testing::desktopApplication<QGuiApplication>();
  EXPECT_EQ(x11_startup::timestampOf("gnome-shell-1234-host-tolvane-0_TIME98765"), 98765u);
  for (const char* untimed : {"no-time-here", "x_TIME", "x_TIME12ab"}) {
    EXPECT_EQ(x11_startup::timestampOf(untimed), 0u) << untimed;
  }

  // Another client listening on the root window, as a launcher and a window manager do.
  xcb_connection_t* listener = xcb_connect(testing::testDisplayName().c_str(), nullptr);
  ASSERT_EQ(xcb_connection_has_error(listener), 0);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(listener)).data->root;
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(listener, root, XCB_CW_EVENT_MASK, &mask);
  const auto atom = [&](const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(listener, xcb_intern_atom(listener, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : 0;
    free(reply);
    return value;
  };
  const xcb_atom_t begin = atom("_NET_STARTUP_INFO_BEGIN");
  const xcb_atom_t more = atom("_NET_STARTUP_INFO");
  const xcb_atom_t activeWindow = atom("_NET_ACTIVE_WINDOW");  // the round trip also applies the mask

  QWindow window;
  window.resize(200, 100);
  window.show();
  ASSERT_TRUE(testing::spinUntil([&] { return window.isExposed(); }));
  // Long enough to take several messages, with characters the text must escape.
  const QByteArray id = R"(tolvane "launch" \ from the menu_TIME4242)";
  EXPECT_TRUE(x11_startup::endFeedback(id));
  EXPECT_TRUE(x11_startup::activate(window, id));
  EXPECT_FALSE(x11_startup::activate(window, "no-time")) << "without the click's time our own is as good";

  std::string text;
  xcb_window_t sender = 0;
  std::vector<std::pair<xcb_window_t, uint32_t>> activations;
  ASSERT_TRUE(testing::spinUntil([&] {
    while (xcb_generic_event_t* event = xcb_poll_for_event(listener)) {
      if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        const char* bytes = reinterpret_cast<const char*>(message->data.data8);
        if (message->type == begin) {
          sender = message->window;
          text.assign(bytes, 20);
        } else if (message->type == more && message->window == sender) {
          text.append(bytes, 20);
        } else if (message->type == activeWindow) {
          activations.emplace_back(message->window, message->data.data32[1]);
        }
      }
      free(event);
    }
    return text.find('\0') != std::string::npos && !activations.empty();
  }));
  EXPECT_EQ(text.substr(0, text.find('\0')), R"(remove: ID="tolvane \"launch\" \\ from the menu_TIME4242")");
  EXPECT_EQ(activations, (std::vector<std::pair<xcb_window_t, uint32_t>>{{xcb_window_t(window.winId()), 4242u}}));
  xcb_disconnect(listener);
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
