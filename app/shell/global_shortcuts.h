#pragma once

#include <QObject>
#include <QStringList>
#include <memory>

#include "app/shell/shortcut_command.h"

namespace tolvane {

// Ctrl+Alt+R and Ctrl+Alt+D from any application, on X11: the keys are grabbed on the
// root window of our own X connection under every combination of Caps Lock and Num Lock,
// and its events are read from the event loop. Elsewhere (Wayland, no display) nothing is
// grabbed and `tolvane --action NAME` bound in the desktop's settings takes their place.
class GlobalShortcuts : public QObject {
  Q_OBJECT

 public:
  explicit GlobalShortcuts(QObject* parent = nullptr);
  ~GlobalShortcuts() override;

  // Grabs both shortcuts; answers those another program already holds ("Ctrl+Alt+R"),
  // each also logged. Without an X display answers nothing and logs the fallback.
  QStringList install();

 signals:
  // Exactly Ctrl+Alt with the key (Shift or Super held make the press ignored).
  void pressed(ShortcutKey key);

 private:
  struct X11Grab;
  std::unique_ptr<X11Grab> grab_;
};

}  // namespace tolvane
