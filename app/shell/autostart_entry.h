#pragma once

#include <QString>

namespace tolvane {

// "Open at login": the XDG autostart entry ($XDG_CONFIG_HOME/autostart/
// com.tolvanelabs.Tolvane.desktop) that desktops read when the user logs in.
class AutostartEntry {
 public:
  // `configHome` empty: $XDG_CONFIG_HOME, or ~/.config.
  explicit AutostartEntry(QString configHome = {});

  bool isEnabled() const;
  // Writes or removes the entry; false (with a log line) when the folder can't be written.
  bool setEnabled(bool enabled);
  QString path() const;

 private:
  QString path_;
};

}  // namespace tolvane
