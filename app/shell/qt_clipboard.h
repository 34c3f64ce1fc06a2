#pragma once

#include "app/core/clipboard.h"

namespace tolvane {

// The desktop's clipboard through Qt: a copied link goes to the clipboard (Ctrl+V) and,
// where the window system has one, to the primary selection (middle click).
class QtClipboard final : public Clipboard {
 public:
  void setText(const QString& text) override;
};

}  // namespace tolvane
