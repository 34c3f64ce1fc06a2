#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QQmlContext;
class QQmlEngine;
class QQuickItem;
class QQuickWindow;
class QScreen;

namespace tolvane {

class AppModel;
class CameraFrameStore;
class UiFormat;
class X11PanelStacking;

// The floating panels of a recording: the countdown, the control pill, the camera
// bubble, the drawing canvas and its toolbar (frameless, always on top, never taking the
// focus). The phase watcher decides when each shows; the views read and write the model.
//
// The controller is also the QML context property `overlays`, which tells the record pane
// whether the panels can stay out of a display recording.
class OverlayController : public QObject {
  Q_OBJECT
  // Empty while a compositing manager runs; otherwise the sentence for the record pane.
  Q_PROPERTY(QString compositingNotice READ compositingNotice CONSTANT)

 public:
  OverlayController(AppModel& model, QQmlEngine& engine, QObject* parent = nullptr);
  ~OverlayController() override;

  void showCountdown(int seconds);
  void dropCountdown();
  void showPill();
  void dropPill();
  void showBubble();
  void hideBubble();
  void showAnnotations();
  void hideAnnotations();

  QString compositingNotice() const { return compositingNotice_; }

  // The panels while they exist, for tests and for the capture side; null otherwise.
  QQuickWindow* countdownPanel() const { return countdown_.get(); }
  QQuickWindow* pillPanel() const { return pill_.get(); }
  QQuickWindow* bubblePanel() const { return bubble_.get(); }
  QQuickWindow* canvasPanel() const { return canvas_.get(); }
  QQuickWindow* toolbarPanel() const { return toolbar_.get(); }

  // The screen the countdown, the canvas and the toolbar go on.
  QScreen* targetScreen() const;

 private:
  struct PanelDeleter {
    void operator()(QQuickWindow* window) const;
  };
  using Panel = std::unique_ptr<QQuickWindow, PanelDeleter>;

  enum class Kind { pill, bubble, countdown, canvas, toolbar };
  // A hidden panel with `file`'s view as its content; null (logged) when the view fails.
  Panel makePanel(Kind kind, const QString& file);
  static QString panelTitle(Kind kind);
  // Keeps a panel at its content's fitting size.
  void fitToContent(QQuickWindow& window);
  void positionBubble();
  void syncBubbleLayout();
  // Puts the shown panels above every other window, in their order.
  void keepOnTop();

  AppModel& model_;
  QQmlEngine& engine_;
  std::unique_ptr<QQmlContext> context_;
  std::unique_ptr<UiFormat> format_;
  std::unique_ptr<CameraFrameStore> frames_;
  std::unique_ptr<X11PanelStacking> stacking_;  // on X11 only
  QString compositingNotice_;
  bool compositing_ = false;
  bool placingBubble_ = false;

  Panel pill_;
  Panel bubble_;
  Panel countdown_;
  Panel canvas_;
  Panel toolbar_;
};

}  // namespace tolvane
