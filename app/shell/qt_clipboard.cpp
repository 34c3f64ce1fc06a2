#include "app/shell/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tolvane {

void QtClipboard::setText(const QString& text) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr) return;
  clipboard->setText(text, QClipboard::Clipboard);
  if (clipboard->supportsSelection()) clipboard->setText(text, QClipboard::Selection);
}

}  // namespace tolvane
