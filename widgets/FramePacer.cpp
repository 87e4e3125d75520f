#include "widgets/FramePacer.h"

#include <QCoreApplication>
#include <QEvent>

namespace trelmo {

FramePacer::FramePacer(QWidget* window, int frameMs)
    : QObject(window), window_(window), frameMs_(frameMs) {
    due_.setSingleShot(true);
    connect(&due_, &QTimer::timeout, this, [this] {
        if (window_)
            QCoreApplication::postEvent(window_, new QEvent(QEvent::UpdateRequest),
                                        Qt::LowEventPriority);
    });
    window->installEventFilter(this);
}

bool FramePacer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || event->type() != QEvent::UpdateRequest)
        return false;
    if (!ImmediatePaint::active() && lastPaint_.isValid() && lastPaint_.elapsed() < frameMs_) {
        ++heldBack_;
        if (!due_.isActive())
            due_.start(static_cast<int>(frameMs_ - lastPaint_.elapsed()));
        return true;
    }
    due_.stop();
    lastPaint_.start();
    return false;
}

}  // namespace trelmo
