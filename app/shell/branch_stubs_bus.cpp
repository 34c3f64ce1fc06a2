// Stand-ins for classes other branches build, so this branch links; dropped at merge.
#include "app/core/app_model.h"
#include "app/ui/main_window_controller.h"

namespace tolvane {

MainWindowController::MainWindowController(AppModel& model, QQmlEngine& engine, QObject* parent)
    : QObject(parent), model_(model), engine_(engine) {}
MainWindowController::~MainWindowController() = default;
void MainWindowController::show(std::optional<QString> pane) {
  if (pane) model_.selectPane(*pane);
}
void MainWindowController::hide() {}
void MainWindowController::setHiddenFromTaskbar(bool) {}
void MainWindowController::showAbout() {}

}  // namespace tolvane

#include "app/ui/moc_main_window_controller.cpp"
