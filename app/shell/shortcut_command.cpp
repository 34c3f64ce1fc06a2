#include "app/shell/shortcut_command.h"

namespace tolvane {

ShortcutCommand shortcutCommand(ShortcutKey key, const RecordingPhase& phase) {
  switch (key) {
    case ShortcutKey::record:
      return phase.isCapturing() ? ShortcutCommand::stopRecording : ShortcutCommand::startCountdown;
    case ShortcutKey::draw:
      return phase.isCapturing() ? ShortcutCommand::toggleDrawing : ShortcutCommand::none;
  }
  return ShortcutCommand::none;
}

}  // namespace tolvane
