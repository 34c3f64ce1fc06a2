#pragma once

#include <QString>

namespace tolvane {

// Where a copied link goes. The desktop shell implements it with QClipboard, writing
// both the clipboard (Ctrl+V) and the primary selection (middle click), since users
// paste a link either way; the model stays free of Qt Gui and tests observe the copy.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // Replaces what was there with `text` as plain text, in both places.
  virtual void setText(const QString& text) = 0;
};

}  // namespace tolvane
