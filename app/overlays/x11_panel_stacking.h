#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <functional>
#include <vector>

class QWindow;

namespace tolvane {

// Keeps the floating panels above every other window, full-screen ones included, and in
// their own order among themselves. The panels bypass the window manager, so no layer of
// the manager's can put a window over them; only a later raise by someone else can. The
// keeper hears every window mapped or restacked on the desktop and, when one of them now
// lies above a panel, raises the panels again.
//
// GUI thread only. Does nothing where there is no X11 display.
class X11PanelStacking : public QObject, public QAbstractNativeEventFilter {
  Q_OBJECT

 public:
  // The panels, lowest first; hidden and null ones are skipped.
  using Panels = std::function<std::vector<QWindow*>()>;

  explicit X11PanelStacking(Panels panels, QObject* parent = nullptr);
  ~X11PanelStacking() override;
  X11PanelStacking(const X11PanelStacking&) = delete;
  X11PanelStacking& operator=(const X11PanelStacking&) = delete;

  // Raises the shown panels, in order, when anything else (or a panel out of order) lies
  // above one of them; returns whether it had to.
  bool restack();

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  void scheduleRestack();
  bool isPanel(std::uint32_t id) const;

  Panels panels_;
  bool listening_ = false;
  bool scheduled_ = false;
};

}  // namespace tolvane
