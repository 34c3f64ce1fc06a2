#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

#include <QQuickWindow>
#include <QRect>

#include "app/ui/pane_links.h"
#include "app/ui/ui_format.h"

class QQmlEngine;

namespace tolvane {

class AppModel;

// The one main window ("Tolvane", 940 × 640 at first, centred, its geometry remembered):
// the sidebar, the pane the model selects and the menu bar. Created on first show and
// kept; closing it only hides it. The views reach formatDuration through the context
// property `format` (a UiFormat) the controller sets on the engine, and copy or open
// share links through `links` (a PaneLinks).
class MainWindowController : public QObject {
  Q_OBJECT

 public:
  MainWindowController(AppModel& model, QQmlEngine& engine, QObject* parent = nullptr);
  ~MainWindowController() override;

  // Selects `pane` when given, creates the window on first use, brings it back into the
  // taskbar, raises it and gives it the focus.
  void show(std::optional<QString> pane = std::nullopt);
  // Orders the window out (a recording is about to start).
  void hide();
  // While a recording is prepared or runs the window stays out of the taskbar.
  void setHiddenFromTaskbar(bool hidden);
  // The About box: the version and the credits text.
  void showAbout();

  // None until the first show.
  QQuickWindow* window() const { return window_; }
  // None until the first showAbout().
  QQuickWindow* aboutWindow() const { return about_; }

  // Where the window goes the first time, and whenever the remembered frame no longer
  // fits any screen.
  static QRect defaultGeometry();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QQuickWindow* createWindow(const char* url);
  void ensureWindow();
  void restoreGeometry();
  void saveGeometry() const;
  bool isRecording() const;

  AppModel& model_;
  QQmlEngine& engine_;
  UiFormat format_;
  PaneLinks links_;
  QPointer<QQuickWindow> window_;
  QPointer<QQuickWindow> about_;
  bool hiddenFromTaskbar_ = false;
};

}  // namespace tolvane
