#include "app/shell/shortcut_notice.h"

#include <array>

namespace tolvane {
namespace {

constexpr std::array kKeys{ShortcutKey::record, ShortcutKey::draw};

// "a", "a and b", "a, b and c".
QString joinedForReading(const QStringList& parts) {
  if (parts.size() <= 1) return parts.value(0);
  return parts.mid(0, parts.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + parts.last();
}

}  // namespace

QString shortcutName(ShortcutKey key) {
  switch (key) {
    case ShortcutKey::record:
      return QStringLiteral("Ctrl+Alt+R");
    case ShortcutKey::draw:
      return QStringLiteral("Ctrl+Alt+D");
  }
  return {};
}

QStringList shortcutFallbackCommands(ShortcutKey key) {
  switch (key) {
    case ShortcutKey::record:
      return {QStringLiteral("tolvane --action start-recording"), QStringLiteral("tolvane --action stop-recording")};
    case ShortcutKey::draw:
      return {QStringLiteral("tolvane --action toggle-drawing")};
  }
  return {};
}

QString shortcutNoticeText(const QStringList& unavailable) {
  QStringList names;
  QStringList commands;
  for (const QString& name : unavailable) {
    if (name.isEmpty() || names.contains(name)) continue;
    names << name;
    for (ShortcutKey key : kKeys) {
      if (shortcutName(key) != name) continue;
      for (const QString& command : shortcutFallbackCommands(key)) commands << QStringLiteral("“%1”").arg(command);
    }
  }
  if (names.isEmpty()) return {};

  const bool several = names.size() > 1;
  QString text = QStringLiteral("%1 %2 used by another program.")
                     .arg(joinedForReading(names), several ? QStringLiteral("are") : QStringLiteral("is"));
  // A name we have no command for (not one of ours) is still reported, without advice.
  if (commands.isEmpty()) return text;
  return text + QStringLiteral(" Instead, bind %1 to %2 of your choice in your desktop's keyboard settings.")
                    .arg(joinedForReading(commands),
                         commands.size() > 1 ? QStringLiteral("keys") : QStringLiteral("a key"));
}

}  // namespace tolvane
