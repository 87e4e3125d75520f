#include "widgets/ScreenFit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace trelmo {
namespace {

// Waits, from the window's first showing, for its frame to be known, and fits the window
// with it once; gives up after a while (a window system that draws no frame).
class FrameFit : public QObject {
  public:
    explicit FrameFit(QWidget* window) : QObject(window), window_(window) {
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || !window_->isVisible())
            return false;
        switch (event->type()) {
            case QEvent::Show:
            case QEvent::Move:
            case QEvent::Resize:
                QTimer::singleShot(0, this, [this] { fitWithFrame(); });
                if (!deadlineSet_) {
                    deadlineSet_ = true;
                    QTimer::singleShot(5000, this, [this] { deleteLater(); });
                }
                break;
            default:
                break;
        }
        return false;
    }

  private:
    void fitWithFrame() {
        if (done_ || !window_ || !window_->isVisible())
            return;
        const QRect outer = window_->frameGeometry();
        const QRect inner = window_->geometry();
        const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                             outer.right() - inner.right(), outer.bottom() - inner.bottom());
        if (frame.isNull())
            return;  // not known yet
        done_ = true;
        const QRect fitted = fitToScreen(inner, availableScreenArea(window_), frame);
        if (fitted != inner) {
            window_->resize(fitted.size());
            // A window's position is its frame's.
            window_->move(fitted.topLeft() - QPoint(frame.left(), frame.top()));
        }
        deleteLater();
    }

    QPointer<QWidget> window_;
    bool deadlineSet_ = false;
    bool done_ = false;
};

}  // namespace

QRect fitToScreen(const QRect& wanted, const QRect& available, const QMargins& frame) {
    if (available.isEmpty())
        return wanted;
    const QSize frameSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize room = (available.size() - frameSize).expandedTo(QSize(1, 1));
    const QSize size = wanted.size().boundedTo(room);
    // The frame's outer rectangle, moved inside the area.
    QRect outer(wanted.topLeft() - QPoint(frame.left(), frame.top()), size + frameSize);
    outer.moveLeft(std::clamp(outer.left(), available.left(),
                              std::max(available.left(), available.right() + 1 - outer.width())));
    outer.moveTop(std::clamp(outer.top(), available.top(),
                             std::max(available.top(), available.bottom() + 1 - outer.height())));
    return outer.marginsRemoved(frame);
}

QRect availableScreenArea(const QWidget* window) {
    const QScreen* screen = window ? window->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void fitFrameWhenShown(QWidget* window) {
    new FrameFit(window);
}

void placeOnScreen(QWidget* window, const QRect& wanted) {
    const QRect placed = fitToScreen(wanted, availableScreenArea(window));
    window->resize(placed.size());
    window->move(placed.topLeft());
    fitFrameWhenShown(window);
}

}  // namespace trelmo
