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
#include <QQuickView>
#include <QQuickWindow>
#include <QScreen>
#include <QThread>
#include <mutex>
#include <tuple>

#include "app/shell/popover_placement.h"
#include "app/shell/tray_icon_painter.h"
#include "kit/base/format.h"
#include "tests/app/desktop_test_env.h"
#include "tests/app/shell/shell_model_fixture.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

TEST(PopoverPlacementTest, OpensAwayFromThePanelAndStaysOnTheScreen) {
  const QRect screen(0, 0, 1920, 1080), topPanel(0, 28, 1920, 1052);
  const QSize size(328, 500);
  const struct {
    QRect icon;
    QPoint pointer;
    QSize size;
    QRect area;
    QPoint expected;
  } cases[] = {
      {QRect(900, 2, 24, 24), {-1, -1}, size, topPanel, {912 - 164, 28 + 6}},  // below the icon, centred on it
      {QRect(1890, 2, 24, 24), {-1, -1}, size, topPanel, {1920 - 328, 34}},    // pulled back inside the right edge
      {QRect(20, 1048, 24, 24), {-1, -1}, size, QRect(0, 0, 1920, 1040), {0, 1040 - 6 - 500}},  // above a bottom panel
      {QRect(12, 10, 24, 24), {-1, -1}, size, QRect(48, 0, 1872, 1080), {48 + 6, 0}},  // beside a left panel, not above the screen
      // StatusNotifierItem hosts give no geometry: at the pointer, above it near the bottom.
      {QRect(), {1900, 1070}, size, screen, {1920 - 328, 1070 - 6 - 500}},
      // Taller than the screen: its top (the header and the start button) stays in view.
      {QRect(), {500, 1070}, QSize(328, 1200), screen, {500 - 163, 0}},
  };
  for (const auto& c : cases) {
    const QPoint at = popoverPosition(c.icon, c.pointer, c.size, c.area);
    EXPECT_EQ(at, c.expected) << at.x() << "," << at.y();
  }
}

// A StatusNotifierWatcher as a desktop's panel runs it, with its own connection and
// thread (Qt's tray asks it questions with blocking calls from the GUI thread). It offers
// what the tray reads: the registration and whether a host is there.
class StandInWatcher final : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierWatcher\">"
        "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/></interface>");
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QVariantList args = message.arguments();
    if (message.member() == QLatin1String("Get") && args.value(1).toString() == QLatin1String("IsStatusNotifierHostRegistered")) {
      return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(true))));
    }
    if (message.member() != QLatin1String("RegisterStatusNotifierItem") || args.size() != 1) return false;
    // An item names its service, or only its object path on the caller's connection.
    const QString given = args[0].toString();
    std::lock_guard lock(mutex);
    items << (given.startsWith('/') ? message.service() + given : given);
    return connection.send(message.createReply());
  }
  QString firstItem() {
    std::lock_guard lock(mutex);
    return items.value(0);
  }

 private:
  std::mutex mutex;
  QStringList items;
};

// The labelled rows of a com.canonical.dbusmenu layout, as id → (label, enabled).
void readLayout(const QDBusArgument& node, QList<std::tuple<int, QString, bool>>& rows) {
  int id = 0;
  QVariantMap properties;
  node.beginStructure();
  node >> id >> properties;
  if (properties.value("type").toString() != QLatin1String("separator") && properties.contains("label")) {
    rows.append({id, properties.value("label").toString(), properties.value("enabled", true).toBool()});
  }
  node.beginArray();
  for (QDBusVariant child; !node.atEnd();) {
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
    static testing::TempDir dir;
    static testing::PrivateBus bus(dir.path());
    address = bus.qAddress();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    qunsetenv("XDG_CURRENT_DESKTOP");
    testing::desktopApplication<QApplication>();
  }

  TrayTest() {
    model = std::make_unique<AppModel>(testing::sceneModelSettings(work.path(), clock, /*withMicrophone=*/true));
    EXPECT_TRUE(testing::readSceneSources(model->recording()));
    router = std::make_unique<ActionRouter>(*model, host, autostart);
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.rootContext()->setContextProperty(QStringLiteral("model"), model.get());
    engine.rootContext()->setContextProperty(QStringLiteral("actions"), router.get());
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
    ASSERT_TRUE(connection.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    ASSERT_TRUE(testing::spinUntil([&] { return !watcher->firstItem().isEmpty(); }));
    item = watcher->firstItem();
  }
  void stopPanel() {
    if (!watcherThread) return;
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    watcherThread->quit();
    watcherThread->wait();
    watcher.reset();
    watcherThread.reset();
  }

  // A call to the item, without blocking: it answers from this very thread.
  QDBusMessage call(const QString& path, const QString& interface, const QString& member, const QVariantList& args) {
    QDBusMessage message = QDBusMessage::createMethodCall(item, path, interface, member);
    message.setArguments(args);
    QDBusPendingCall pending = client.asyncCall(message);
    EXPECT_TRUE(testing::spinUntil([&] { return pending.isFinished(); }));
    return pending.reply();
  }
  QVariant itemProperty(const QString& name) {
    const QDBusMessage reply = call(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), name});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply.arguments().value(0).value<QDBusVariant>().variant();
  }
  // The tooltip (icon name, pixmaps, title, text) as its title and text.
  QString toolTipText() {
    const QDBusArgument tip = itemProperty(QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString icon, title, text;
    tip.beginStructure();
    tip >> icon;
    tip.asVariant();  // the pixmaps
    tip >> title >> text;
    tip.endStructure();
    return title + text;
  }
  // The alpha at the centre of the largest of the item's pixmaps (ARGB32, big-endian).
  int iconCentreAlpha() {
    const QDBusArgument pixmaps = itemProperty(QStringLiteral("IconPixmap")).value<QDBusArgument>();
    int bestWidth = 0, alpha = -1;
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
  QString menuPath() { return itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path(); }
  QList<std::tuple<int, QString, bool>> menuRows() {
    const QDBusMessage reply = call(menuPath(), QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"),
                                    {0, -1, QStringList()});
    QList<std::tuple<int, QString, bool>> rows;
    if (reply.arguments().size() == 2) readLayout(reply.arguments()[1].value<QDBusArgument>(), rows);
    return rows;
  }
  QStringList labels() {
    QStringList out;
    for (const auto& row : menuRows()) out << std::get<1>(row);
    return out;
  }
  void click(const QString& label) {
    for (const auto& [id, text, enabled] : menuRows()) {
      if (text != label) continue;
      EXPECT_TRUE(enabled) << label.toStdString();
      call(menuPath(), QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
           {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
      return;
    }
    ADD_FAILURE() << "no row " << label.toStdString();
  }

  QQuickWindow* popover() {
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
      if (window->objectName() == QLatin1String("tolvanePopover")) return qobject_cast<QQuickWindow*>(window);
    }
    return nullptr;
  }
  void savePopover(const std::string& name) {
    ASSERT_TRUE(testing::spinUntil([&] { return popover() && popover()->isExposed(); }));
    EXPECT_TRUE(testing::saveForReview(*popover(), name));
  }
  QString elapsedText() { return QString::fromStdString(formatDuration(model->recording().elapsed())); }

  static inline QString address;
  testing::TempDir work;
  std::shared_ptr<FakeModelClock> clock = std::make_shared<FakeModelClock>();
  std::unique_ptr<AppModel> model;
  testing::FakeHost host;
  AutostartEntry autostart{QString::fromStdString(work.path().string())};
  std::unique_ptr<ActionRouter> router;
  QQmlEngine engine;
  QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("panel"));
  std::unique_ptr<QThread> watcherThread;
  std::unique_ptr<StandInWatcher> watcher;
  std::unique_ptr<StatusItemController> tray;
  QString item;
};

TEST_F(TrayTest, AppearsWhenAPanelStartsFollowsTheRecordingAndItsMenuRunsTheActions) {
  tray = std::make_unique<StatusItemController>(*model, *router, engine);
  std::vector<bool> availability;
  QObject::connect(tray.get(), &StatusItemController::availabilityChanged,
                   [&](bool available) { availability.push_back(available); });
  startPanel();
  EXPECT_TRUE(tray->isAvailable());
  EXPECT_EQ(availability, std::vector<bool>{true});  // no host before the panel: nothing was announced
  EXPECT_EQ(toolTipText(), "Tolvane");
  EXPECT_EQ(iconCentreAlpha(), 0) << "idle shows the empty ring";
  EXPECT_EQ(labels(), (QStringList{"Start recording", "My recordings", "On this computer", "Open Tolvane",
                                   "Sign in with your browser", "Quit Tolvane"}));
  click("Open Tolvane");
  click("Quit Tolvane");
  ASSERT_TRUE(testing::spinUntil([&] { return host.calls.size() == 2; }));
  EXPECT_EQ(host.calls, (QStringList{"window:current", "quit"})) << "the main window on its current pane";

  // The panel's left click (Activate) opens the popover next to the pointer, on screen.
  model->library().setLastShareURL(QStringLiteral("http://127.0.0.1:9/v/Zk3q"));
  call(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"),
       {10, 10});
  savePopover("popover.png");
  QQuickWindow* window = popover();
  EXPECT_TRUE(window->screen()->availableGeometry().contains(window->geometry()));
  EXPECT_GT(window->height(), 300);
  tray->toggle();
  EXPECT_FALSE(window->isVisible());
  tray->toggle();  // Esc closes it too
  ASSERT_TRUE(window->isVisible());
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(window, &escape);
  EXPECT_FALSE(window->isVisible());

  // While recording, the icon fills, the tooltip and the popover count, and the menu stops.
  model->recording().startCountdown();
  ASSERT_TRUE(testing::spinUntil([&] { return model->recording().phase().is(RecordingPhase::Kind::countdown); }));
  clock->advance(3);
  ASSERT_TRUE(testing::spinUntil([&] { return model->recording().phase().is(RecordingPhase::Kind::recording); }))
      << model->recording().recordingError().toStdString();
  QThread::msleep(1200);  // the engine runs a little, then the model's timer reads its elapsed time
  clock->advance(1);
  tray->refresh();
  EXPECT_EQ(toolTipText(), QStringLiteral("Tolvane \u2014 ") + elapsedText());
  EXPECT_GT(iconCentreAlpha(), 200) << "recording fills the dot";
  EXPECT_EQ(labels().value(0), "Stop recording");
  tray->toggle();
  savePopover("popover-recording.png");
  auto* elapsed = qobject_cast<QQuickView*>(popover())->rootObject()->findChild<QObject*>(QStringLiteral("elapsed"));
  ASSERT_NE(elapsed, nullptr);
  EXPECT_EQ(elapsed->property("text").toString(), elapsedText());
  click("Stop recording");
  ASSERT_TRUE(testing::spinUntil([&] { return model->recording().phase().is(RecordingPhase::Kind::idle); }, 120s));
  tray->refresh();  // as the phase watcher's next pass does
  EXPECT_EQ(labels().value(0), "Start recording");
  EXPECT_EQ(iconCentreAlpha(), 0);

  // The panel restarts: the item goes with the old one and registers with the new one.
  stopPanel();
  ASSERT_TRUE(testing::spinUntil([&] { return !tray->isAvailable(); }));
  startPanel();
  EXPECT_EQ(availability, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(toolTipText(), "Tolvane");
}

// Not a test of pixels: a sheet of the tray icons at every size on a dark and a light
// panel, kept for review with the popover's pictures.
TEST(TrayIconPainterTest, SheetForReview) {
  QImage sheet(8 + 6 * 76, 4 * 72, QImage::Format_ARGB32);
  QPainter painter(&sheet);
  for (int strip = 0; strip < 4; ++strip) {
    painter.fillRect(0, strip * 72, sheet.width(), 72, QColor(strip < 2 ? "#2b2b2b" : "#ececec"));
    int x = 8;
    for (int size : {16, 22, 24, 32, 48, 64}) {
      painter.drawImage(x, strip * 72 + (72 - size) / 2, TrayIconPainter::render(size, strip % 2 == 1));
      x += 76;
    }
  }
  painter.end();
  EXPECT_TRUE(sheet.save(QString::fromStdString((testing::screenshotDirectory() / "tray-icons.png").string())));
}

}  // namespace
}  // namespace tolvane
