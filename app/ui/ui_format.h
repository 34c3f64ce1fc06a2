#pragma once

#include <QObject>
#include <QString>

namespace tolvane {

// The formatting every view shares, for QML (the context property `format`): one place
// decides how a duration or a file size reads, so the tray and the panes never disagree.
class UiFormat final : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // "m:ss", or "h:mm:ss" from an hour on.
  Q_INVOKABLE QString duration(double seconds) const;
  // "734 MB", "2.15 GB".
  Q_INVOKABLE QString byteCount(qint64 bytes) const;
};

}  // namespace tolvane
