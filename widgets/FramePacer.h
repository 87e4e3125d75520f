#pragma once
// Paints a top-level window at most once a frame. Qt paints a window whenever its event loop
// comes round after an update(); a window fed thousands of blocks a second (the receive
// handlers change labels, the pane and the lamp for every block) would otherwise lay out and
// paint its changed parts thousands of times a second, for a screen that shows sixty.
//
// The pacer filters the window's posted update requests: one arriving sooner than a frame
// after the last paint is held back, and a single request follows when the frame is due, so
// every change is painted, at most a frame late. Painting at once (QWidget::repaint) from
// inside an ImmediatePaint scope passes straight through, as do all other events.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace trelmo {

class FramePacer : public QObject {
    Q_OBJECT
  public:
    // Paces `window` (a top-level widget); the pacer is the window's child.
    explicit FramePacer(QWidget* window, int frameMs = 16);

    // While one exists on the GUI thread, update requests of every paced window go through
    // at once: for a repaint that must be seen now (a lamp switched before a long send).
    class ImmediatePaint {
      public:
        ImmediatePaint() { ++depth_; }
        ~ImmediatePaint() { --depth_; }
        ImmediatePaint(const ImmediatePaint&) = delete;
        ImmediatePaint& operator=(const ImmediatePaint&) = delete;
        static bool active() { return depth_ > 0; }

      private:
        static inline int depth_ = 0;
    };

    // Update requests held back so far (for tests and diagnostics).
    int heldBack() const { return heldBack_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPointer<QWidget> window_;
    int frameMs_;
    QElapsedTimer lastPaint_;
    QTimer due_;
    int heldBack_ = 0;
};

}  // namespace trelmo
