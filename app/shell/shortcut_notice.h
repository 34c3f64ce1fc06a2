#pragma once

#include <QString>
#include <QStringList>

#include "app/shell/shortcut_command.h"

namespace tolvane {

// How a shortcut is written for people: "Ctrl+Alt+R", "Ctrl+Alt+D".
QString shortcutName(ShortcutKey key);

// The command lines that stand in for a shortcut when bound in the desktop's own
// keyboard settings: R starts and stops, so it needs two.
QStringList shortcutFallbackCommands(ShortcutKey key);

// The sentence the record pane shows when shortcuts could not be taken: names each one
// (as shortcutName() writes them) and tells which commands to bind instead. Nothing
// unavailable, nothing to say.
QString shortcutNoticeText(const QStringList& unavailable);

}  // namespace tolvane
