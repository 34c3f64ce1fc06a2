#pragma once

#include <QStringList>
#include <QUrl>
#include <functional>
#include <vector>

#include "app/core/clipboard.h"
#include "app/core/desktop_opener.h"
#include "app/core/notifier.h"

namespace tolvane::testing {

// The desktop as the model sees it, recording what it was asked to do.
struct FakeClipboard final : Clipboard {
  void setText(const QString& text) override { copied << text; }
  QStringList copied;
};

struct FakeOpener final : DesktopOpener {
  void openURL(const QUrl& url) override { opened << url.toString(); }
  void showInFolder(const QString& path) override { opened << "folder:" + path; }
  void openFile(const QString& path) override { opened << "file:" + path; }
  QStringList opened;
};

struct FakeNotifier final : Notifier {
  struct Shown {
    QString summary;
    QString body;
    std::function<void()> onClick;
  };
  void notify(const QString& summary, const QString& body, std::function<void()> onClick) override {
    shown.push_back({summary, body, std::move(onClick)});
  }
  std::vector<Shown> shown;
};

}  // namespace tolvane::testing
