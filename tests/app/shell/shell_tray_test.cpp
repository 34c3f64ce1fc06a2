// The tray item as a StatusNotifierItem host sees it: a stand-in watcher on a private
// session bus receives the item, the test reads its icon, tooltip and menu over D-Bus the
// way a panel would, clicks menu rows and the icon, and keeps pictures of the popover.
#include "app/shell/status_item_controller.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QKeyEvent>
#include <QPainter>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickView>
#include <QQuickWindow>
#include <QScreen>
#include <QThread>
#include <mutex>

#include "app/core/app_model.h"
#include "app/shell/action_router.h"
#include "app/shell/autostart_entry.h"
#include "app/shell/popover_placement.h"
#include "app/shell/tray_icon_painter.h"
#include "kit/base/format.h"
#include "tests/app/core/fake_model_clock.h"
#include "tests/app/desktop_test_env.h"
#include "tests/app/shell/shell_model_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

QT_BEGIN_NAMESPACE
// Failure messages show coordinates, not bytes.
inline void PrintTo(const QPoint& point, std::ostream* out) { *out << '(' << point.x() << ", " << point.y() << ')'; }
QT_END_NAMESPACE

namespace tolvane {
namespace {

using namespace std::chrono_literals;

TEST(PopoverPlacementTest, OpensAwayFromThePanelAndStaysOnTheScreen) {
  const QRect screen(0, 0, 1920, 1080);
  const QSize size(328, 500);
  const QPoint nowhere(-1, -1);
  // A top panel 28 px high: below the icon, centred on it.
  const QRect topArea(0, 28, 1920, 1052);
  EXPECT_EQ(popoverPosition(QRect(900, 2, 24, 24), nowhere, size, topArea), QPoint(912 - 164, 28 + 6));
  // An icon in the top right corner: pulled back inside the screen's right edge.
  EXPECT_EQ(popoverPosition(QRect(1890, 2, 24, 24), nowhere, size, topArea).x(), 1920 - 328);
  // A bottom panel: above the icon, whose top is the area's end.
  const QRect bottomArea(0, 0, 1920, 1040);
  EXPECT_EQ(popoverPosition(QRect(20, 1048, 24, 24), nowhere, size, bottomArea), QPoint(0, 1040 - 6 - 500));
  // A panel on the left: beside it, level with the icon but never above the screen.
  const QRect leftArea(48, 0, 1872, 1080);
  EXPECT_EQ(popoverPosition(QRect(12, 10, 24, 24), nowhere, size, leftArea), QPoint(48 + 6, 0));
  // StatusNotifierItem hosts give no geometry: at the pointer, above it near the bottom.
  EXPECT_EQ(popoverPosition(QRect(), QPoint(1900, 1070), size, screen), QPoint(1920 - 328, 1070 - 6 - 500));
  // Taller than the screen: its top (the header and the start button) stays in view.
  EXPECT_EQ(popoverPosition(QRect(), QPoint(500, 1070), QSize(328, 1200), screen).y(), 0);
}

// A StatusNotifierWatcher as a desktop's panel runs it, with its own connection and
// thread (Qt's tray asks it questions with blocking calls from the GUI thread).
class StandInWatcher final : public QDBusVirtualObject {
 public:
  static constexpr const char* kInterface = "org.kde.StatusNotifierWatcher";

  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierWatcher\">"
        "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
        "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
        "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
        "<signal name=\"StatusNotifierItemRegistered\"><arg type=\"s\"/></signal>"
        "<signal name=\"StatusNotifierItemUnregistered\"><arg type=\"s\"/></signal>"
        "<signal name=\"StatusNotifierHostRegistered\"/>"
        "</interface>");
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member();
    const QVariantList args = message.arguments();
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") && member == QLatin1String("Get") &&
        args.size() == 2) {
      const QVariant value = property(args[1].toString());
      if (!value.isValid()) return false;
      connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
      return true;
    }
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") && member == QLatin1String("GetAll")) {
      QVariantMap all;
      for (const char* name : {"RegisteredStatusNotifierItems", "IsStatusNotifierHostRegistered", "ProtocolVersion"}) {
        all.insert(QLatin1String(name), property(QLatin1String(name)));
      }
      connection.send(message.createReply(all));
      return true;
    }
    if (member == QLatin1String("RegisterStatusNotifierItem") && args.size() == 1) {
      // An item names its service, or only its object path on the caller's connection.
      const QString given = args[0].toString();
      const QString item = given.startsWith('/') ? message.service() + given : given;
      {
        std::lock_guard lock(mutex_);
        items_ << item;
      }
      connection.send(message.createReply());
      QDBusMessage registered = QDBusMessage::createSignal(QStringLiteral("/StatusNotifierWatcher"),
                                                           QLatin1String(kInterface),
                                                           QStringLiteral("StatusNotifierItemRegistered"));
      registered << item;
      connection.send(registered);
      return true;
    }
    if (member == QLatin1String("RegisterStatusNotifierHost")) {
      connection.send(message.createReply());
      return true;
    }
    return false;
  }

  QStringList items() const {
    std::lock_guard lock(mutex_);
    return items_;
  }

 private:
  QVariant property(const QString& name) const {
    if (name == QLatin1String("IsStatusNotifierHostRegistered")) return true;
    if (name == QLatin1String("ProtocolVersion")) return 0;
    if (name == QLatin1String("RegisteredStatusNotifierItems")) return items();
    return {};
  }

  mutable std::mutex mutex_;
  QStringList items_;
};

// One labelled row of a com.canonical.dbusmenu layout.
struct MenuRowSeen {
  int id = 0;
  QString label;
  bool enabled = true;
};

void readLayout(const QDBusArgument& node, std::vector<MenuRowSeen>& rows) {
  int id = 0;
  QVariantMap properties;
  node.beginStructure();
  node >> id >> properties;
  if (properties.value("type").toString() != QLatin1String("separator") && properties.contains("label")) {
    rows.push_back({id, properties.value("label").toString(), properties.value("enabled", true).toBool()});
  }
  node.beginArray();
  while (!node.atEnd()) {
    QDBusVariant child;
    node >> child;
    readLayout(child.variant().value<QDBusArgument>(), rows);
  }
  node.endArray();
  node.endStructure();
}

class TrayTest : public ::testing::Test {
 protected:
  // One display, bus and application for the program (QApplication can't be made twice).
  static void SetUpTestSuite() {
    dir = new testing::TempDir;
    xvfb = new testing::XvfbServer(1920, 1080);
    bus = new testing::PrivateBus(dir->path());
    address = bus->qAddress();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    qputenv("DISPLAY", QByteArray::fromStdString(xvfb->displayName()));
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_QUICK_BACKEND", "software");
    qunsetenv("XDG_CURRENT_DESKTOP");
    static int argc = 1;
    static char name[] = "shell_tray_tests";
    static char* argv[] = {name, nullptr};
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    app = new QApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app;
    delete bus;
    delete xvfb;
    delete dir;
  }

  TrayTest() {
    model = std::make_unique<AppModel>(testing::sceneModelSettings(work.path(), clock, /*withMicrophone=*/true));
    EXPECT_TRUE(testing::readSceneSources(model->recording()));

    router = std::make_unique<ActionRouter>(*model, host, autostart);
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.rootContext()->setContextProperty(QStringLiteral("model"), model.get());
    engine.rootContext()->setContextProperty(QStringLiteral("actions"), router.get());
    client = QDBusConnection::connectToBus(address, QStringLiteral("panel"));
  }

  ~TrayTest() override {
    tray.reset();
    stopPanel();
    QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
  }

  // The panel starts after the application, as after a login or a panel restart.
  void startPanel() {
    watcherThread = std::make_unique<QThread>();
    watcherThread->start();
    watcher = std::make_unique<StandInWatcher>();
    watcher->moveToThread(watcherThread.get());
    QDBusConnection connection = QDBusConnection::connectToBus(address, QStringLiteral("watcher"));
    ASSERT_TRUE(connection.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), watcher.get()));
    ASSERT_TRUE(connection.registerService(QLatin1String(StandInWatcher::kInterface)));
  }

  void stopPanel() {
    if (!watcherThread) return;
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    watcherThread->quit();
    watcherThread->wait();
    watcher.reset();
    watcherThread.reset();
  }

  QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& member,
                    const QVariantList& args = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, member);
    message.setArguments(args);
    // Without blocking: the item answers from this very thread.
    QDBusPendingCall pending = client.asyncCall(message);
    EXPECT_TRUE(testing::spinUntil([&] { return pending.isFinished(); }));
    return pending.reply();
  }
  QVariant itemProperty(const QString& name) {
    const QDBusMessage reply = call(item, QStringLiteral("/StatusNotifierItem"),
                                    QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                    {QStringLiteral("org.kde.StatusNotifierItem"), name});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply.arguments().value(0).value<QDBusVariant>().variant();
  }
  QString toolTipText() {
    const QDBusArgument toolTip = itemProperty(QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString iconName, title, text;
    toolTip.beginStructure();
    toolTip >> iconName;
    toolTip.beginArray();
    while (!toolTip.atEnd()) {
      int width = 0, height = 0;
      QByteArray pixels;
      toolTip.beginStructure();
      toolTip >> width >> height >> pixels;
      toolTip.endStructure();
    }
    toolTip.endArray();
    toolTip >> title >> text;
    toolTip.endStructure();
    return title + text;
  }
  // The largest of the item's icon pixmaps (ARGB32, big-endian): the alpha at its centre.
  int iconCentreAlpha() {
    const QDBusArgument pixmaps = itemProperty(QStringLiteral("IconPixmap")).value<QDBusArgument>();
    int bestWidth = 0;
    int alpha = -1;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
      int width = 0, height = 0;
      QByteArray pixels;
      pixmaps.beginStructure();
      pixmaps >> width >> height >> pixels;
      pixmaps.endStructure();
      if (width <= bestWidth || pixels.size() != width * height * 4) continue;
      bestWidth = width;
      alpha = static_cast<unsigned char>(pixels[((height / 2) * width + width / 2) * 4]);
    }
    pixmaps.endArray();
    return alpha;
  }
  std::vector<MenuRowSeen> menuRows() {
    const QString menuPath = itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
    EXPECT_FALSE(menuPath.isEmpty());
    const QDBusMessage reply = call(item, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"),
                                    {0, -1, QStringList()});
    std::vector<MenuRowSeen> rows;
    if (reply.arguments().size() == 2) readLayout(reply.arguments()[1].value<QDBusArgument>(), rows);
    return rows;
  }
  void click(const std::vector<MenuRowSeen>& rows, const QString& label) {
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const MenuRowSeen& r) { return r.label == label; });
    ASSERT_NE(row, rows.end()) << label.toStdString();
    const QString menuPath = itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
    call(item, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
         {row->id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
  }
  static QStringList labels(const std::vector<MenuRowSeen>& rows) {
    QStringList out;
    for (const auto& row : rows) out << row.label;
    return out;
  }

  void makeTrayAndWaitForItem() {
    tray = std::make_unique<StatusItemController>(*model, *router, engine);
    QObject::connect(tray.get(), &StatusItemController::availabilityChanged,
                     [this](bool available) { availability.push_back(available); });
    startPanel();
    ASSERT_TRUE(testing::spinUntil([&] { return !watcher->items().isEmpty(); }));
    item = watcher->items().first();
  }

  QQuickWindow* popover() {
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
      if (window->objectName() == QLatin1String("tolvanePopover")) return qobject_cast<QQuickWindow*>(window);
    }
    return nullptr;
  }
  // Kept for review next to the build, not compared.
  void savePopover(QQuickWindow* window, const std::string& name) {
    // The glyphs are painted a frame or two after the window first shows; the picture
    // is for people, so it waits a moment for them rather than for any one event.
    testing::spinUntil([] { return false; }, 1000ms);
    ASSERT_TRUE(window->grabWindow().save(QString::fromStdString((testing::screenshotDirectory() / name).string())));
  }

  static inline testing::TempDir* dir = nullptr;
  static inline testing::XvfbServer* xvfb = nullptr;
  static inline testing::PrivateBus* bus = nullptr;
  static inline QApplication* app = nullptr;
  static inline QString address;

  testing::TempDir work;
  std::shared_ptr<FakeModelClock> clock = std::make_shared<FakeModelClock>();
  std::unique_ptr<AppModel> model;
  testing::FakeHost host;
  AutostartEntry autostart{QString::fromStdString(work.path().string())};
  std::unique_ptr<ActionRouter> router;
  QQmlEngine engine;
  QDBusConnection client{QString()};
  std::unique_ptr<QThread> watcherThread;
  std::unique_ptr<StandInWatcher> watcher;
  std::unique_ptr<StatusItemController> tray;
  std::vector<bool> availability;
  QString item;
};

TEST_F(TrayTest, AppearsWhenAPanelStartsAndItsMenuRunsTheActions) {
  makeTrayAndWaitForItem();
  EXPECT_TRUE(tray->isAvailable());
  EXPECT_EQ(availability, std::vector<bool>{true});  // no host before the panel: nothing was announced

  EXPECT_EQ(toolTipText(), "Tolvane");
  EXPECT_EQ(iconCentreAlpha(), 0) << "idle shows the empty ring";

  const auto rows = menuRows();
  EXPECT_EQ(labels(rows), (QStringList{"Start recording", "My recordings", "On this computer", "Open Tolvane",
                                       "Sign in with your browser", "Quit Tolvane"}));
  click(rows, "Open Tolvane");
  click(rows, "Quit Tolvane");
  ASSERT_TRUE(testing::spinUntil([&] { return host.calls.size() == 2; }));
  EXPECT_EQ(host.calls, (QStringList{"window:current", "quit"})) << "the main window on its current pane";

  // The panel's left click (Activate) opens the popover next to the pointer, on screen.
  model->library().setLastShareURL(QStringLiteral("http://127.0.0.1:9/v/Zk3q"));
  call(item, QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"),
       QStringLiteral("Activate"), {10, 10});
  ASSERT_TRUE(testing::spinUntil([&] { return popover() && popover()->isExposed(); }));
  QQuickWindow* window = popover();
  EXPECT_TRUE(window->screen()->availableGeometry().contains(window->geometry()));
  EXPECT_GT(window->height(), 300);
  savePopover(window, "popover.png");
  tray->toggle();
  EXPECT_FALSE(window->isVisible());
  // Esc closes it too.
  tray->toggle();
  ASSERT_TRUE(window->isVisible());
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(window, &escape);
  EXPECT_FALSE(window->isVisible());

  // The panel restarts: the item goes with the old one and registers with the new one.
  stopPanel();
  ASSERT_TRUE(testing::spinUntil([&] { return !tray->isAvailable(); }));
  startPanel();
  ASSERT_TRUE(testing::spinUntil([&] { return !watcher->items().isEmpty(); }));
  EXPECT_EQ(availability, (std::vector<bool>{true, false, true}));
  item = watcher->items().first();
  EXPECT_EQ(toolTipText(), "Tolvane");
}

// Not a test of pixels: a sheet of the tray icons at every size on a dark and a light
// panel, kept for review with the popover's pictures.
TEST(TrayIconPainterTest, SheetForReview) {
  const int sizes[] = {16, 22, 24, 32, 48, 64};
  QImage sheet(8 + 6 * 76, 4 * 72, QImage::Format_ARGB32);
  QPainter painter(&sheet);
  const QColor panels[] = {QColor("#2b2b2b"), QColor("#ececec")};
  for (int strip = 0; strip < 4; ++strip) {
    painter.fillRect(0, strip * 72, sheet.width(), 72, panels[strip / 2]);
    int x = 8;
    for (int size : sizes) {
      painter.drawImage(x, strip * 72 + (72 - size) / 2, TrayIconPainter::render(size, strip % 2 == 1));
      x += 76;
    }
  }
  painter.end();
  EXPECT_TRUE(sheet.save(QString::fromStdString((testing::screenshotDirectory() / "tray-icons.png").string())));
}

TEST_F(TrayTest, WhileRecordingTheIconFillsTheTooltipCountsAndTheMenuStops) {
  makeTrayAndWaitForItem();
  model->recording().startCountdown();
  ASSERT_TRUE(testing::spinUntil([&] { return model->recording().phase().is(RecordingPhase::Kind::countdown); }));
  clock->advance(3);
  ASSERT_TRUE(testing::spinUntil([&] { return model->recording().phase().is(RecordingPhase::Kind::recording); }))
      << model->recording().recordingError().toStdString();
  // Let the engine run a little, then let the model's timer read its elapsed time.
  QThread::msleep(1200);
  clock->advance(1);
  tray->refresh();

  EXPECT_EQ(toolTipText(), QStringLiteral("Tolvane \u2014 ") + QString::fromStdString(formatDuration(model->recording().elapsed())));
  EXPECT_GT(iconCentreAlpha(), 200) << "recording fills the dot";
  const auto rows = menuRows();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front().label, "Stop recording");
  EXPECT_TRUE(rows.front().enabled);

  tray->toggle();
  ASSERT_TRUE(testing::spinUntil([&] { return popover() && popover()->isExposed(); }));
  // The popover's clock and the tooltip's agree.
  auto* view = qobject_cast<QQuickView*>(popover());
  ASSERT_NE(view, nullptr);
  auto* elapsed = view->rootObject()->findChild<QObject*>(QStringLiteral("elapsed"));
  ASSERT_NE(elapsed, nullptr);
  EXPECT_EQ(elapsed->property("text").toString(), QString::fromStdString(formatDuration(model->recording().elapsed())));
  savePopover(popover(), "popover-recording.png");

  click(rows, "Stop recording");
  ASSERT_TRUE(testing::spinUntil([&] { return model->recording().phase().is(RecordingPhase::Kind::idle); }, 120s));
  tray->refresh();  // as the phase watcher's next pass does
  EXPECT_EQ(labels(menuRows()).front(), "Start recording");
  EXPECT_EQ(iconCentreAlpha(), 0);
}

}  // namespace
}  // namespace tolvane
