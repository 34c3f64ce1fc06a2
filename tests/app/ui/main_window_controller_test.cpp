#include "app/ui/main_window_controller.h"

#include <gtest/gtest.h>

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QSettings>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "app/capture/sources/synthetic_sources.h"
#include "kit/base/format.h"
#include "tests/app/core/fake_model_clock.h"
#include "tests/app/ui/fake_actions.h"
#include "tests/app/desktop_test_env.h"
#include "tests/support/temp_dir.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace tolvane {
namespace {

// Everything allowed but the microphone, as the test says.
struct SettablePermissions final : DevicePermissions {
  std::atomic<PermissionStatus> microphone = PermissionStatus::authorised;
  bool screenRecordingGranted() override { return true; }
  PermissionStatus microphoneStatus(const std::optional<std::string>&) override { return microphone; }
  PermissionStatus cameraStatus(const std::optional<std::string>&) override { return PermissionStatus::authorised; }
};

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    testing::desktopApplication<QGuiApplication>();
    QSettings(QStringLiteral("com.tolvanelabs.Tolvane"), QStringLiteral("Tolvane")).clear();
    AppModel::Settings settings = testing::sceneModelSettings(dir.path(), clock, /*withMicrophone=*/true, /*online=*/false);
    settings.recording.permissions = permissions;
    settings.recording.defaultMicrophoneID = [] { return std::string(SyntheticSources::toneID); };
    model = std::make_unique<AppModel>(std::move(settings));
    engine = std::make_unique<QQmlEngine>();
    engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine->rootContext()->setContextProperty(QStringLiteral("model"), model.get());
    engine->rootContext()->setContextProperty(QStringLiteral("actions"), &actions);
    controller = std::make_unique<MainWindowController>(*model, *engine);
  }

  QQuickWindow& shownWindow(std::optional<QString> pane = std::nullopt) {
    controller->show(std::move(pane));
    QQuickWindow* window = controller->window();
    if (!window) throw std::runtime_error("the main window could not be made");
    EXPECT_TRUE(testing::spinUntil([&] { return window->isExposed(); }));
    return *window;
  }

  template <typename T = QQuickItem>
  T* find(const QString& name, QObject* root = nullptr) {
    return (root ? root : controller->window())->findChild<T*>(name);
  }

  QString paneName() {
    const auto* loader = find<QQuickItem>(QStringLiteral("paneLoader"));
    const auto* pane = loader ? loader->property("item").value<QQuickItem*>() : nullptr;
    return pane ? pane->objectName() : QString();
  }

  // Scrolls the pane until `item` is in sight, as a user would before clicking it.
  static void scrollIntoView(QQuickItem* item) {
    QQuickItem* flickable = item->parentItem();
    while (flickable && !flickable->inherits("QQuickFlickable")) flickable = flickable->parentItem();
    if (!flickable) return;
    const double top = item->mapToItem(flickable->property("contentItem").value<QQuickItem*>(), QPointF(0, 0)).y();
    const double current = flickable->property("contentY").toDouble(), visible = flickable->height();
    if (top >= current && top + item->height() <= current + visible) return;
    flickable->setProperty("contentY", std::max(0.0, top + item->height() - visible + 16));
    QCoreApplication::processEvents();
  }

  // A real click in the middle of a visible item.
  void click(QQuickItem* item) {
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->isVisible()) << item->objectName().toStdString();
    scrollIntoView(item);
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(controller->window(), Qt::LeftButton, {}, centre.toPoint());
  }

  void saveScreenshot(const std::string& name) { EXPECT_TRUE(testing::saveForReview(*controller->window(), name)); }

  testing::TempDir dir;
  std::shared_ptr<FakeModelClock> clock = std::make_shared<FakeModelClock>();
  std::shared_ptr<SettablePermissions> permissions = std::make_shared<SettablePermissions>();
  std::unique_ptr<AppModel> model;
  testing::FakeActions actions;
  std::unique_ptr<QQmlEngine> engine;
  std::unique_ptr<MainWindowController> controller;
};

TEST_F(MainWindowTest, OpensCentredRemembersItsFrameAndClosingOnlyHidesIt) {
  EXPECT_EQ(controller->window(), nullptr) << "nothing is made before the first show";
  QQuickWindow& window = shownWindow();
  EXPECT_EQ(window.size(), QSize(940, 640));
  EXPECT_EQ(window.geometry().center(), QRect(0, 0, 1920, 1080).center());
  EXPECT_EQ(paneName(), "recordPane");
  window.setGeometry(100, 120, 1000, 700);
  EXPECT_TRUE(testing::spinUntil([&] { return window.geometry() == QRect(100, 120, 1000, 700); }));
  window.close();
  EXPECT_TRUE(testing::spinUntil([&] { return !window.isVisible(); }));
  EXPECT_EQ(&shownWindow(QStringLiteral("library")), &window) << "closing keeps the window";
  EXPECT_EQ(model->mainPane(), "library");
  EXPECT_EQ(paneName(), "libraryPane");

  window.close();
  controller = std::make_unique<MainWindowController>(*model, *engine);
  EXPECT_EQ(shownWindow().geometry(), QRect(100, 120, 1000, 700));
  // A frame off every screen is not restored.
  controller.reset();
  QSettings(QStringLiteral("com.tolvanelabs.Tolvane"), QStringLiteral("Tolvane"))
      .setValue(QStringLiteral("TolvaneMainWindow/geometry"), QRect(5000, 3000, 900, 600));
  controller = std::make_unique<MainWindowController>(*model, *engine);
  EXPECT_EQ(shownWindow().geometry(), MainWindowController::defaultGeometry());

  controller->showAbout();
  QQuickWindow* about = controller->aboutWindow();
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(testing::spinUntil([&] { return about->isExposed(); }));
  EXPECT_EQ(find<QObject>(QStringLiteral("aboutVersion"), about)->property("text").toString(),
            "Version " + AppModel::currentVersion());
  EXPECT_TRUE(testing::saveForReview(*about, "about.png"));
  about->close();
  EXPECT_TRUE(testing::spinUntil([&] { return !about->isVisible(); }));
  controller->showAbout();
  EXPECT_EQ(controller->aboutWindow(), about);
  EXPECT_TRUE(testing::spinUntil([&] { return about->isVisible(); }));
}

TEST_F(MainWindowTest, TheSidebarButtonsMenusAndKeysReachTheActions) {
  model->library().setRecoveryNotice(QStringLiteral("1 recording recovered after Tolvane closed unexpectedly."));
  model->library().setLastShareURL(QStringLiteral("https://tolvane.test/v/abc"));
  QQuickWindow& window = shownWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  EXPECT_TRUE(find(QStringLiteral("signInCard"))->isVisible()) << "signed out";
  QQuickItem* banner = find(QStringLiteral("recoveryBanner"));
  ASSERT_TRUE(banner && banner->isVisible());
  click(find(QStringLiteral("dismissBanner"), banner));
  EXPECT_TRUE(model->library().recoveryNotice().isEmpty());
  EXPECT_FALSE(banner->isVisible());
  QQuickItem* copy = find(QStringLiteral("copyLinkButton"));
  click(copy);
  EXPECT_EQ(copy->property("text").toString(), "\u2713 Copied");
  model->library().setLastShareURL(QStringLiteral("https://tolvane.test/v/def"));
  EXPECT_EQ(copy->property("text").toString(), "Copy link") << "a new link is a new thing to copy";
  click(find(QStringLiteral("startRecordingButton")));

  click(find(QStringLiteral("sidebarRow-local")));
  EXPECT_EQ(model->mainPane(), "local");
  EXPECT_TRUE(testing::spinUntil([&] { return paneName() == "localPane"; }));
  EXPECT_FALSE(find(QStringLiteral("sidebarRow-record"))->property("isSelected").toBool());
  QTest::keyClick(&window, Qt::Key_1, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(actions.triggered, (QStringList{"copy-last-link", "start-recording", "show-library", "start-recording"}));

  // Menu items ask the actions again when they say availability changed.
  auto* stop = find<QObject>(QStringLiteral("menu-stop-recording"));
  auto* openAtLogin = find<QObject>(QStringLiteral("menu-open-at-login"));
  ASSERT_TRUE(stop && openAtLogin);
  actions.setDisabled({"stop-recording"});
  EXPECT_FALSE(stop->property("enabled").toBool());
  actions.setDisabled({});
  EXPECT_TRUE(stop->property("enabled").toBool());
  // A click toggles the item, but the autostart entry decides what it shows.
  QMetaObject::invokeMethod(openAtLogin, "trigger");
  EXPECT_EQ(actions.triggered.last(), "open-at-login");
  EXPECT_FALSE(openAtLogin->property("checked").toBool());
  actions.setOpenAtLogin(true);
  EXPECT_TRUE(openAtLogin->property("checked").toBool());
}

TEST_F(MainWindowTest, StaysOutOfTheTaskbarOnlyWhileARecordingRuns) {
  // The root window watched as a window manager would.
  Display* x = XOpenDisplay(testing::testDisplayName().c_str());
  XSelectInput(x, DefaultRootWindow(x), SubstructureNotifyMask);
  XSync(x, False);
  const Atom state = XInternAtom(x, "_NET_WM_STATE", False), skip = XInternAtom(x, "_NET_WM_STATE_SKIP_TASKBAR", False);
  // The next request to the window manager about skip-taskbar: 1 add, 0 remove.
  const auto nextRequest = [&](WId window) {
    long action = -1;
    testing::spinUntil([&] {
      for (XEvent event; XPending(x) > 0;) {
        XNextEvent(x, &event);
        const XClientMessageEvent& m = event.xclient;
        if (event.type == ClientMessage && m.message_type == state && m.window == window && Atom(m.data.l[1]) == skip) {
          action = m.data.l[0];
        }
      }
      return action >= 0;
    }, std::chrono::seconds(5));
    return action;
  };
  // Whether the window's own _NET_WM_STATE carries skip-taskbar.
  const auto carries = [&](WId window) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(x, window, state, 0, 64, False, XA_ATOM, &type, &format, &count, &remaining, &data);
    const bool found = data && std::count(reinterpret_cast<Atom*>(data), reinterpret_cast<Atom*>(data) + count, skip);
    if (data) XFree(data);
    return found;
  };
  QQuickWindow& window = shownWindow();
  const WId id = window.winId();
  controller->setHiddenFromTaskbar(true);  // mapped: the window manager is asked
  EXPECT_EQ(nextRequest(id), 1);
  window.close();  // closed by the user while nothing records: an ordinary application again
  EXPECT_EQ(nextRequest(id), 0);
  // Unmapped: the state waits in the window's property, and showing the window clears it before it maps.
  controller->setHiddenFromTaskbar(true);
  EXPECT_TRUE(testing::spinUntil([&] { return carries(id); }, std::chrono::seconds(5)));
  shownWindow();
  EXPECT_TRUE(testing::spinUntil([&] { return !carries(id); }, std::chrono::seconds(5)));
  XCloseDisplay(x);
}

TEST_F(MainWindowTest, TheRecordPaneFollowsARecordingFromStartToFinish) {
  ASSERT_TRUE(testing::readSceneSources(model->recording()));
  model->setShortcutNotice(QStringLiteral(
      "Ctrl+Alt+D is used by another program. Instead, bind “tolvane --action toggle-drawing” to a key of your "
      "choice in your desktop's keyboard settings."));
  shownWindow();
  EXPECT_FALSE(find(QStringLiteral("permissionChecklist"))->isVisible()) << "everything is allowed";
  EXPECT_TRUE(find(QStringLiteral("shortcutBanner"))->isVisible());
  ASSERT_TRUE(model->recording().selectedTarget().has_value());
  EXPECT_EQ(find(QStringLiteral("targetPicker"))->property("displayText").toString().toStdString(),
            model->recording().selectedTarget()->label());
  saveScreenshot("record-pane-idle.png");

  const auto microphone = [&](PermissionStatus status) {
    permissions->microphone = status;
    auto reread = model->recording().refreshPermissionsAsync();
    return testing::spinUntil([&] { return reread.isReady(); });
  };
  ASSERT_TRUE(microphone(PermissionStatus::denied));
  EXPECT_TRUE(find(QStringLiteral("permissionChecklist"))->isVisible());
  saveScreenshot("record-pane-permissions.png");
  ASSERT_TRUE(microphone(PermissionStatus::authorised));
  model->setShortcutNotice({});

  // The shell's router would do this with the record pane's buttons.
  actions.onTrigger = [&](const QString& name) {
    if (name == "start-recording") model->recording().startCountdown();
    if (name == "stop-recording") model->recording().stopRecording();
  };
  click(find(QStringLiteral("startRecordingButton")));
  ASSERT_TRUE(testing::spinUntil([&] { return model->recording().phaseText() == "countdown(3)"; }));
  EXPECT_FALSE(find(QStringLiteral("startRecordingButton"))->isEnabled()) << "one start at a time";
  clock->advance(3);
  ASSERT_TRUE(testing::spinUntil([&] { return model->recording().phaseText() == "recording"; }))
      << model->recording().phaseText().toStdString() << ": " << model->recording().recordingError().toStdString();
  ASSERT_TRUE(testing::spinUntil([&] {
    clock->advance(0.25);
    return model->recording().elapsed() >= 1.0;
  }));
  auto* elapsed = find<QObject>(QStringLiteral("elapsedLabel"));
  EXPECT_EQ(elapsed->property("text").toString(), QString::fromStdString(formatDuration(model->recording().elapsed())));
  EXPECT_TRUE(find(QStringLiteral("stopRecordingButton"))->isVisible());
  EXPECT_FALSE(find(QStringLiteral("startRecordingButton"))->isVisible());
  scrollIntoView(find(QStringLiteral("recordCard")));
  saveScreenshot("record-pane-recording.png");

  click(find(QStringLiteral("stopRecordingButton")));
  ASSERT_TRUE(testing::spinUntil([&] { return model->recording().phaseText() == "idle"; }, std::chrono::seconds(60)));

  controller->show(QStringLiteral("local"));
  ASSERT_TRUE(testing::spinUntil([&] { return model->library().localItems().size() == 1; }));
  saveScreenshot("local-pane.png");
  controller->show(QStringLiteral("review"));
  saveScreenshot("review-pane.png");
}

}  // namespace
}  // namespace tolvane
