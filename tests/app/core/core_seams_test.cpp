#include "app/core/gui_thread_executor.h"

#include <gtest/gtest.h>

#include "app/core/annotation_model.h"
#include "app/core/device_name.h"
#include "tests/app/core/core_test_support.h"
#include "tests/support/temp_dir.h"

#include <QCoreApplication>
#include <QPointF>
#include <QSysInfo>
#include <QThread>
#include <memory>
#include <thread>
#include <vector>

namespace tolvane {
namespace {

using testing::application;

TEST(GuiThreadExecutorTest, RunsTasksInOrderOnTheContextThreadAndDropsThemOnceItIsGone) {
  application();
  auto context = std::make_unique<QObject>();
  GuiThreadExecutor executor(context.get());
  std::vector<int> order;
  bool ranOnContextThread = true;
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) {
      executor.post([&, i] {
        order.push_back(i);
        ranOnContextThread = ranOnContextThread && QThread::currentThread() == context->thread();
      });
    }
  });
  poster.join();
  executor.post([&] { order.push_back(3); });
  EXPECT_TRUE(order.empty()) << "a task must never run inline";
  QCoreApplication::processEvents();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(ranOnContextThread);

  executor.post([&] { order.push_back(4); });
  context.reset();
  executor.post([&] { order.push_back(5); });
  QCoreApplication::processEvents();
  EXPECT_EQ(order.size(), 4u);
}

TEST(DeviceNameTest, ThePrettyHostNameUnquotedElseTheHostName) {
  testing::TempDir dir;
  const auto path = [&](const char* name) { return QString::fromStdString((dir / name).string()); };
  testing::writeFile(dir / "quoted", "ICON_NAME=computer\nPRETTY_HOSTNAME=\"Ana's laptop\"\n");
  testing::writeFile(dir / "bare", "PRETTY_HOSTNAME=Workbench\n");
  testing::writeFile(dir / "blank", "PRETTY_HOSTNAME=\n");
  EXPECT_EQ(deviceName(path("quoted")), "Ana's laptop");
  EXPECT_EQ(deviceName(path("bare")), "Workbench");
  const QString fallback = QSysInfo::machineHostName().isEmpty() ? "Linux" : QSysInfo::machineHostName();
  EXPECT_EQ(deviceName(path("blank")), fallback);
  EXPECT_EQ(deviceName(path("missing")), fallback);
}

TEST(AnnotationModelTest, TheCanvasSeesEachStrokeWithItsToolColourAndPointsUntilItIsUndone) {
  AnnotationModel model;
  model.addStroke(QVariantList{QPointF(0.1, 0.2), QPointF(0.3, 0.4)});
  const QVariantList strokes = model.property("strokes").toList();
  ASSERT_EQ(strokes.size(), 1);
  const QVariantMap stroke = strokes[0].toMap();
  EXPECT_EQ(stroke.value("tool").toString(), "pen");
  EXPECT_EQ(stroke.value("color").toMap(), model.property("activeColor").toMap());
  EXPECT_EQ(stroke.value("points").toList().value(1).toPointF(), QPointF(0.3, 0.4));
  model.undoStroke();
  EXPECT_TRUE(model.property("strokes").toList().isEmpty());
}

}  // namespace
}  // namespace tolvane
