#pragma once

#include <QObject>
#include <QString>

namespace tolvane {

class AppModel;

// The links the panes hand out (the context property `links`): a card's or a row's share
// URL goes to the same clipboard and browser as the tray's, through the model, so a copy
// from the window and a copy from the tray land in the same places.
class PaneLinks final : public QObject {
  Q_OBJECT

 public:
  explicit PaneLinks(AppModel& model, QObject* parent = nullptr);

  // Copies `url` to the clipboard and the primary selection; an empty URL copies nothing.
  Q_INVOKABLE void copy(const QString& url);
  // Opens `url` in the default browser; only web addresses are opened.
  Q_INVOKABLE void open(const QString& url);

 private:
  AppModel& model_;
};

}  // namespace tolvane
