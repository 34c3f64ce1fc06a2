#pragma once

#include <QObject>
#include <QSet>
#include <QStringList>
#include <functional>

namespace tolvane::testing {

// Stands in for the shell's action router as the views see it (`actions` in QML): it
// records what the views ask for and says which actions are unavailable.
class FakeActions final : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool openAtLogin READ openAtLogin NOTIFY openAtLoginChanged)

 public:
  Q_INVOKABLE bool trigger(const QString& name) {
    triggered << name;
    if (onTrigger) onTrigger(name);
    return true;
  }
  Q_INVOKABLE bool isEnabled(const QString& name) const { return !disabled_.contains(name); }
  bool openAtLogin() const { return openAtLogin_; }

  void setDisabled(const QStringList& names) {
    disabled_ = QSet<QString>(names.begin(), names.end());
    emit enabledChanged();
  }
  void setOpenAtLogin(bool open) {
    openAtLogin_ = open;
    emit openAtLoginChanged();
  }

  QStringList triggered;
  // What the real router would do with the action (start a recording…).
  std::function<void(const QString&)> onTrigger;

 signals:
  void enabledChanged();
  void openAtLoginChanged();

 private:
  QSet<QString> disabled_;
  bool openAtLogin_ = false;
};

}  // namespace tolvane::testing
