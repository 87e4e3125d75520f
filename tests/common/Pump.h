#pragma once
// Runs the event loop until a condition holds, with a generous deadline; never a fixed sleep
// where a condition can be waited for.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <chrono>
#include <functional>
#include <thread>

namespace trelmo::test {

// Processes events until cond() is true or timeoutMs passed; returns cond().
inline bool pumpUntil(const std::function<bool()>& cond, int timeoutMs = 15000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired())
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::usleep(500);
    }
    return true;
}

// Processes events for about ms milliseconds (to let something that must NOT happen show).
inline void pumpFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(500);
    }
}

// Waits until cond() holds without running the event loop, so hand-overs to the GUI thread
// stay pending; the deadline only bounds a failing wait.
inline bool WaitWithoutEvents(const std::function<bool()>& cond, int timeoutMs = 15000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired())
            return cond();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace trelmo::test
