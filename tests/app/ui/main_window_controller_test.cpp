#include "app/ui/main_window_controller.h"

#include <gtest/gtest.h>

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QSettings>
#include <QTest>
#include <atomic>
#include <stdexcept>

#include "app/capture/sources/synthetic_sources.h"
#include "app/core/app_model.h"
#include "kit/base/format.h"
#include "tests/app/core/fake_model_clock.h"
#include "tests/app/ui/fake_actions.h"
#include "tests/app/ui/ui_test_support.h"
#include "tests/support/temp_dir.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace tolvane {
namespace {

struct SettablePermissions final : DevicePermissions {
  std::atomic<bool> screen = true;
  std::atomic<PermissionStatus> microphone = PermissionStatus::authorised;
  std::atomic<PermissionStatus> camera = PermissionStatus::authorised;
  bool screenRecordingGranted() override { return screen; }
  PermissionStatus microphoneStatus(const std::optional<std::string>&) override { return microphone; }
  PermissionStatus cameraStatus(const std::optional<std::string>&) override { return camera; }
};

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    testing::guiApplication();
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

  ~MainWindowTest() override {
    controller.reset();
    engine.reset();
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
    auto* content = flickable->property("contentItem").value<QQuickItem*>();
    const double top = item->mapToItem(content, QPointF(0, 0)).y();
    const double visible = flickable->height();
    const double current = flickable->property("contentY").toDouble();
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

  // Waits until the pane's entrance has played, then keeps the picture for review.
  void saveScreenshot(const std::string& name) {
    QQuickWindow& window = *controller->window();
    QTest::qWait(400);
    const QImage image = window.grabWindow();
    ASSERT_FALSE(image.isNull());
    const auto path = testing::screenshotDirectory() / name;
    ASSERT_TRUE(image.save(QString::fromStdString(path.string())));
  }

  testing::TempDir dir;
  std::shared_ptr<FakeModelClock> clock = std::make_shared<FakeModelClock>();
  std::shared_ptr<SettablePermissions> permissions = std::make_shared<SettablePermissions>();
  std::unique_ptr<AppModel> model;
  testing::FakeActions actions;
  std::unique_ptr<QQmlEngine> engine;
  std::unique_ptr<MainWindowController> controller;
};

TEST_F(MainWindowTest, OpensCentredAsTolvaneOnTheModelsPaneAndClosingOnlyHidesIt) {
  EXPECT_EQ(controller->window(), nullptr) << "nothing is made before the first show";
  QQuickWindow& window = shownWindow();
  EXPECT_EQ(window.size(), QSize(940, 640));
  EXPECT_EQ(window.geometry().center(), QRect(0, 0, 1920, 1080).center());
  EXPECT_EQ(paneName(), "recordPane");
  EXPECT_TRUE(find(QStringLiteral("signInCard"))->isVisible()) << "signed out";

  window.close();
  EXPECT_TRUE(testing::spinUntil([&] { return !window.isVisible(); }));
  EXPECT_EQ(controller->window(), &window) << "closing keeps the window";

  QQuickWindow& again = shownWindow(QStringLiteral("library"));
  EXPECT_EQ(&again, &window);
  EXPECT_EQ(model->mainPane(), "library");
  EXPECT_EQ(paneName(), "libraryPane");
}

TEST_F(MainWindowTest, PanesFollowTheSidebarAndTheButtonsAndKeysReachTheActions) {
  QQuickWindow& window = shownWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  click(find(QStringLiteral("sidebarRow-local")));
  EXPECT_EQ(model->mainPane(), "local");
  EXPECT_TRUE(testing::spinUntil([&] { return paneName() == "localPane"; }));
  EXPECT_TRUE(find(QStringLiteral("sidebarRow-local"))->property("isSelected").toBool());
  EXPECT_FALSE(find(QStringLiteral("sidebarRow-record"))->property("isSelected").toBool());

  QTest::keyClick(&window, Qt::Key_1, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(actions.triggered, (QStringList{"show-library", "start-recording"}));

  actions.triggered.clear();
  click(find(QStringLiteral("sidebarRow-record")));
  ASSERT_TRUE(testing::spinUntil([&] { return paneName() == "recordPane"; }));
  click(find(QStringLiteral("startRecordingButton")));
  EXPECT_EQ(actions.triggered, QStringList{"start-recording"});
}

TEST_F(MainWindowTest, TheRecoveryNoticeIsDismissedAndTheLastLinkCopiedFromTheRecordPane) {
  model->library().setRecoveryNotice(QStringLiteral("1 recording recovered after Tolvane closed unexpectedly."));
  model->library().setLastShareURL(QStringLiteral("https://tolvane.test/v/abc"));
  shownWindow();
  QQuickItem* banner = find(QStringLiteral("recoveryBanner"));
  ASSERT_TRUE(banner && banner->isVisible());
  click(find(QStringLiteral("dismissBanner"), banner));
  EXPECT_TRUE(model->library().recoveryNotice().isEmpty());
  EXPECT_FALSE(banner->isVisible());

  QQuickItem* copy = find(QStringLiteral("copyLinkButton"));
  click(copy);
  EXPECT_EQ(actions.triggered, QStringList{"copy-last-link"});
  EXPECT_EQ(copy->property("text").toString(), "\u2713 Copied");
  // A new link is a new thing to copy.
  model->library().setLastShareURL(QStringLiteral("https://tolvane.test/v/def"));
  EXPECT_EQ(copy->property("text").toString(), "Copy link");
}

TEST_F(MainWindowTest, MenuItemsAskTheActionsAgainWhenTheySayAvailabilityChanged) {
  shownWindow();
  auto* stop = find<QObject>(QStringLiteral("menu-stop-recording"));
  auto* signOut = find<QObject>(QStringLiteral("menu-sign-out"));
  auto* openAtLogin = find<QObject>(QStringLiteral("menu-open-at-login"));
  ASSERT_TRUE(stop && signOut && openAtLogin);
  EXPECT_TRUE(stop->property("enabled").toBool());

  actions.setDisabled({"stop-recording", "sign-out"});
  EXPECT_FALSE(stop->property("enabled").toBool());
  EXPECT_FALSE(signOut->property("enabled").toBool());
  actions.setDisabled({});
  EXPECT_TRUE(stop->property("enabled").toBool());

  // A click toggles the item, but the autostart entry decides what it shows.
  QMetaObject::invokeMethod(openAtLogin, "trigger");
  EXPECT_EQ(actions.triggered, QStringList{"open-at-login"});
  EXPECT_FALSE(openAtLogin->property("checked").toBool());
  actions.setOpenAtLogin(true);
  EXPECT_TRUE(openAtLogin->property("checked").toBool());
}

TEST_F(MainWindowTest, TheFrameIsRememberedButNotRestoredOffEveryScreen) {
  QQuickWindow& window = shownWindow();
  window.setGeometry(100, 120, 1000, 700);
  EXPECT_TRUE(testing::spinUntil([&] { return window.geometry() == QRect(100, 120, 1000, 700); }));
  window.close();
  controller.reset();

  controller = std::make_unique<MainWindowController>(*model, *engine);
  EXPECT_EQ(shownWindow().geometry(), QRect(100, 120, 1000, 700));
  controller.reset();

  QSettings(QStringLiteral("com.tolvanelabs.Tolvane"), QStringLiteral("Tolvane"))
      .setValue(QStringLiteral("TolvaneMainWindow/geometry"), QRect(5000, 3000, 900, 600));
  controller = std::make_unique<MainWindowController>(*model, *engine);
  EXPECT_EQ(shownWindow().geometry(), MainWindowController::defaultGeometry());
}

// Watches the root window as a window manager would, and reads window properties.
class X11Observer {
 public:
  X11Observer() : display_(XOpenDisplay(testing::testDisplayName().c_str())) {
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XSync(display_, False);
    netWmState_ = XInternAtom(display_, "_NET_WM_STATE", False);
    skipTaskbar_ = XInternAtom(display_, "_NET_WM_STATE_SKIP_TASKBAR", False);
  }
  ~X11Observer() { XCloseDisplay(display_); }

  // The next _NET_WM_STATE request for the skip-taskbar state: 1 add, 0 remove.
  std::optional<long> nextSkipTaskbarRequest(WId window) {
    std::optional<long> action;
    testing::spinUntil(
        [&] {
          while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == ClientMessage && event.xclient.message_type == netWmState_ &&
                event.xclient.window == window && static_cast<Atom>(event.xclient.data.l[1]) == skipTaskbar_) {
              action = event.xclient.data.l[0];
            }
          }
          return action.has_value();
        },
        std::chrono::seconds(5));
    return action;
  }

  bool carriesSkipTaskbar(WId window) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(display_, window, netWmState_, 0, 64, False, XA_ATOM, &type, &format, &count, &remaining,
                           &data) == Success &&
        data) {
      const auto* atoms = reinterpret_cast<const Atom*>(data);
      for (unsigned long i = 0; i < count; ++i) found = found || atoms[i] == skipTaskbar_;
    }
    if (data) XFree(data);
    return found;
  }

 private:
  Display* display_;
  Atom netWmState_ = 0;
  Atom skipTaskbar_ = 0;
};

TEST_F(MainWindowTest, StaysOutOfTheTaskbarOnlyWhileARecordingRuns) {
  X11Observer observer;
  QQuickWindow& window = shownWindow();
  const WId id = window.winId();

  // Mapped: the window manager is asked.
  controller->setHiddenFromTaskbar(true);
  EXPECT_EQ(observer.nextSkipTaskbarRequest(id), 1);
  // Closed by the user while nothing records: an ordinary application again.
  window.close();
  EXPECT_EQ(observer.nextSkipTaskbarRequest(id), 0);

  // Unmapped: the state waits in the window's own property for the next map…
  controller->setHiddenFromTaskbar(true);
  EXPECT_TRUE(testing::spinUntil([&] { return observer.carriesSkipTaskbar(id); }, std::chrono::seconds(5)));
  // …and showing the window puts it back in the taskbar before it maps.
  shownWindow();
  EXPECT_TRUE(testing::spinUntil([&] { return !observer.carriesSkipTaskbar(id); }, std::chrono::seconds(5)));
}

TEST_F(MainWindowTest, AboutShowsTheVersionAndTheCreditsAndComesBackAfterClosing) {
  controller->showAbout();
  QQuickWindow* about = controller->aboutWindow();
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(testing::spinUntil([&] { return about->isExposed(); }));
  EXPECT_EQ(find<QObject>(QStringLiteral("aboutVersion"), about)->property("text").toString(),
            "Version " + AppModel::currentVersion());
  const QImage image = about->grabWindow();
  image.save(QString::fromStdString((testing::screenshotDirectory() / "about.png").string()));

  about->close();
  EXPECT_TRUE(testing::spinUntil([&] { return !about->isVisible(); }));
  controller->showAbout();
  EXPECT_EQ(controller->aboutWindow(), about);
  EXPECT_TRUE(testing::spinUntil([&] { return about->isVisible(); }));
}

TEST_F(MainWindowTest, TheRecordPaneFollowsARecordingFromStartToFinish) {
  ASSERT_TRUE(testing::readSceneSources(model->recording()));
  model->setShortcutNotice(QStringLiteral(
      "Ctrl+Alt+D is taken by another program. Use the menu or bind `tolvane --action toggle-drawing` instead."));
  shownWindow();
  EXPECT_FALSE(find(QStringLiteral("permissionChecklist"))->isVisible()) << "everything is allowed";
  EXPECT_TRUE(find(QStringLiteral("shortcutBanner"))->isVisible());
  ASSERT_TRUE(model->recording().selectedTarget().has_value());
  EXPECT_EQ(find(QStringLiteral("targetPicker"))->property("displayText").toString().toStdString(),
            model->recording().selectedTarget()->label());
  saveScreenshot("record-pane-idle.png");

  permissions->microphone = PermissionStatus::denied;
  auto reread = model->recording().refreshPermissionsAsync();
  ASSERT_TRUE(testing::spinUntil([&] { return reread.isReady(); }));
  EXPECT_TRUE(find(QStringLiteral("permissionChecklist"))->isVisible());
  saveScreenshot("record-pane-permissions.png");
  permissions->microphone = PermissionStatus::authorised;
  reread = model->recording().refreshPermissionsAsync();
  ASSERT_TRUE(testing::spinUntil([&] { return reread.isReady(); }));
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
  ASSERT_TRUE(testing::spinUntil([&] {
    return model->recording().phaseText() == "recording" || !model->recording().recordingError().isEmpty();
  }));
  ASSERT_EQ(model->recording().phaseText(), "recording")
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
