#include "core/mbus/MbusDriver.h"

#include <algorithm>

namespace trelmo::mbus::inline records {

BusDriver::BusDriver(QObject* parent) : QObject(parent) {
    wait_.setSingleShot(true);
    settle_.setSingleShot(true);
    connect(&wait_, &QTimer::timeout, this, &BusDriver::waitOver);
    connect(&settle_, &QTimer::timeout, this, &BusDriver::settled);
}

void BusDriver::setBaud(int baud) {
    baud_ = std::max(baud, 1);
}

int BusDriver::replyWaitMs(const QByteArray& request, int taskWaitMs) const {
    // A character is 11 bits on the line (start, 8 data, parity, stop).
    const qint64 sendingMs = (static_cast<qint64>(request.size()) * 11 * 1000 + baud_ - 1) / baud_;
    return static_cast<int>(std::min<qint64>(taskWaitMs + sendingMs, 3'600'000));
}

int BusDriver::settleMs() const {
    return std::max(5, (33 * 1000 + baud_ - 1) / baud_);
}

void BusDriver::run(BusTask* task) {
    if (task_)
        cancel();
    if (!task)
        return;
    task_ = task;
    task_->start();
    next();
}

void BusDriver::cancel() {
    if (!task_)
        return;
    task_ = nullptr;
    waiting_ = false;
    wait_.stop();
    settle_.stop();
    reply_.clear();
    emit finished(true);
}

void BusDriver::next() {
    if (!task_)
        return;
    const Action a = task_->next();
    if (a.kind != Action::Kind::Send) {
        task_ = nullptr;
        waiting_ = false;
        emit finished(false);
        return;
    }
    reply_.clear();
    waiting_ = true;
    wait_.start(replyWaitMs(a.bytes, a.timeoutMs));
    emit stepped(a.what, task_->done(), task_->total());
    // The receiver may have cancelled the task on its step.
    if (task_ && waiting_)
        emit send(a.bytes);
}

void BusDriver::received(QByteArrayView bytes) {
    if (!task_ || !waiting_ || bytes.isEmpty())
        return;
    reply_.append(bytes);
    if (!settle_.isActive() && replyComplete(reply_)) {
        wait_.stop();
        settle_.start(settleMs());
    }
}

void BusDriver::waitOver() {
    if (!task_ || !waiting_)
        return;
    settle_.stop();
    waiting_ = false;
    // Whatever came is handed over (a cut answer is the task's to judge); nothing is a
    // timeout.
    if (reply_.isEmpty())
        task_->onTimeout();
    else
        task_->onReply(reply_);
    reply_.clear();
    next();
}

void BusDriver::settled() {
    if (!task_ || !waiting_)
        return;
    waiting_ = false;
    task_->onReply(reply_);
    reply_.clear();
    next();
}

}  // namespace trelmo::mbus::inline records
