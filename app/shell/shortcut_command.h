#pragma once

#include "app/core/recording_phase.h"

namespace tolvane {

// The two global shortcuts: Ctrl+Alt+R and Ctrl+Alt+D.
enum class ShortcutKey { record, draw };

enum class ShortcutCommand { none, startCountdown, stopRecording, toggleDrawing };

// What a press of `key` does in `phase`: R stops a recording under way and otherwise asks
// for a countdown (which itself does nothing unless idle, so R during the countdown or
// while finishing does nothing); D toggles drawing only while recording or paused.
ShortcutCommand shortcutCommand(ShortcutKey key, const RecordingPhase& phase);

}  // namespace tolvane
