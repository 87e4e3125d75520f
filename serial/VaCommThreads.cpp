#include "serial/VaCommThreads.h"

#include <sys/resource.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QMetaObject>
#include <QString>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "core/Guard.h"
#include "serial/VaComm.h"

namespace trelmo::serial {

namespace {
std::atomic<int> gLiveWorkers{0};

// Thread priorities as nice values (raising needs privileges; failure is ignored).
int NiceOf(TVaThreadPriority p) {
    switch (p) {
        case tpIdle:
            return 19;
        case tpLowest:
            return 10;
        case tpLower:
            return 5;
        case tpNormal:
            return 0;
        case tpHigher:
            return -5;
        case tpHighest:
            return -10;
        case tpTimeCritical:
            return -20;
    }
    return 0;
}
}  // namespace

namespace {
// The process-wide list of calls handed to the GUI thread, in order. Workers add to it
// under the lock and wait; the GUI thread takes them out and runs them. Only standard
// locks guard it, so the hand-over is visible to thread checkers as well.
struct PendingCall {
    const std::function<void()>* routine;
    bool finished = false;
    std::exception_ptr error;
};
std::mutex gCallsMutex;
std::condition_variable gCallsDone;
std::deque<PendingCall*> gPending;
QCoreApplication* gApp = nullptr;
bool gShutDown = false;

// Runs every pending call (GUI thread).
void RunPendingCalls() {
    for (;;) {
        PendingCall* call;
        {
            std::lock_guard l(gCallsMutex);
            if (gPending.empty())
                return;
            call = gPending.front();
            gPending.pop_front();
        }
        std::exception_ptr error;
        try {
            (*call->routine)();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard l(gCallsMutex);
        call->error = std::move(error);  // the worker holds the only reference
        call->finished = true;
        gCallsDone.notify_all();
    }
}

// The application is going away: calls not run by now never will be; release their
// workers.
void ShutDownCalls() {
    std::lock_guard l(gCallsMutex);
    gShutDown = true;
    gApp = nullptr;
    for (PendingCall* call : gPending)
        call->finished = true;
    gPending.clear();
    gCallsDone.notify_all();
}
}  // namespace

void RegisterGuiThread() {
    static std::once_flag once;
    std::call_once(once, [] { qAddPostRoutine(ShutDownCalls); });
    std::lock_guard l(gCallsMutex);
    gApp = QCoreApplication::instance();
    gShutDown = gApp == nullptr;
}

void RunOnGuiThread(const std::function<void()>& routine) {
    PendingCall call{&routine, false, nullptr};
    QCoreApplication* app;
    {
        std::lock_guard l(gCallsMutex);
        if (gShutDown || !gApp)
            return;
        app = gApp;
        gPending.push_back(&call);
    }
    QMetaObject::invokeMethod(
        app, [] { RunPendingCalls(); }, Qt::QueuedConnection);
    std::unique_lock l(gCallsMutex);
    gCallsDone.wait(l, [&] { return call.finished; });
    if (call.error)
        std::rethrow_exception(call.error);
}

uint32_t TickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t TickDiff(uint32_t start, uint32_t now) {
    if (now >= start)
        return now - start;
    return 0xFFFFFFFFu - start + now;
}

// --- TVaCommBuffer ---

void TVaCommBuffer::Append(const uint8_t* bytes, size_t n) {
    if (n)
        std::memcpy(data_.data() + count_, bytes, n);
    count_ += n;
}

void TVaCommBuffer::Remove(size_t n) {
    if (n > count_)
        n = count_;
    std::memmove(data_.data(), data_.data() + n, count_ - n);
    count_ -= n;
}

// --- TVaWorker ---

int TVaWorker::Live() {
    return gLiveWorkers.load();
}

void TVaWorker::SetPriority(TVaThreadPriority priority) {
    priority_ = priority;
    ApplyPriority();
}

void TVaWorker::ApplyPriority() {
    const int tid = tid_.load();
    if (tid)
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceOf(priority_.load()));
}

void TVaWorker::StartThread() {
    auto self = shared_from_this();
    ++gLiveWorkers;
    std::thread([self = std::move(self)] {
        self->tid_ = static_cast<int>(gettid());
        self->ApplyPriority();
        try {
            self->Execute();
        } catch (...) {
            // A worker ends on an exception it cannot hand anywhere.
        }
        self->finished_ = true;
        --gLiveWorkers;
    }).detach();
}

// --- TVaCommEventThread ---

TVaCommEventThread::TVaCommEventThread(std::shared_ptr<PortAnchor> anchor,
                                       std::shared_ptr<CommDevice> device)
    : anchor_(std::move(anchor)), device_(std::move(device)) {}

std::shared_ptr<TVaCommEventThread> TVaCommEventThread::Create(std::shared_ptr<PortAnchor> anchor,
                                                               std::shared_ptr<CommDevice> device) {
    return std::shared_ptr<TVaCommEventThread>(
        new TVaCommEventThread(std::move(anchor), std::move(device)));
}

void TVaCommEventThread::Start() {
    StartThread();
}

void TVaCommEventThread::Terminate() {
    terminated_ = true;
    WakeEvent.SetEvent();
    device_->WakeWait();
}

void TVaCommEventThread::Execute() {
    while (!terminated_) {
        uint32_t mask = 0;
        const int result = device_->WaitEvent(mask);
        if (result == 0) {
            EventMask = mask;
            Dispatch();
            continue;
        }
        if (result == kWaitWoken)
            continue;
        int code = 0;
        if (device_->Lost(&code)) {
            // The device vanished: report it once and stop waiting.
            if (terminated_)
                break;
            const QString message =
                QStringLiteral("Serial device lost (%1), %2").arg(code).arg(CommErrorText(code));
            auto anchor = anchor_;
            RunOnGuiThread([anchor, message] {
                if (anchor->port)
                    runGuarded([&] { anchor->port->DoDeviceLost(message); });
            });
            break;
        }
        // The wait failed for another reason (the device was released under it): sleep
        // until Close wakes the thread rather than retrying in a loop.
        if (!terminated_)
            WakeEvent.WaitFor(INFINITE);
    }
}

void TVaCommEventThread::Dispatch() {
    if (terminated_)
        return;
    auto self = std::static_pointer_cast<TVaCommEventThread>(shared_from_this());
    RunOnGuiThread([self] { self->DispatchEvents(); });
    WakeEvent.ResetEvent();
}

void TVaCommEventThread::DispatchEvents() {
    runGuarded([&] {
        TVaCustomComm* port = anchor_->port;
        if (!port)
            return;
        if (EventMask & EV_RXCHAR) {
            port->DoRxChar();
            EventMask &= ~EV_RXCHAR;
        }
        if (EventMask != 0)
            port->DoEvents(EventMask);
        // Bytes lost below us that a query of this batch fetched, also when no error event
        // is monitored (DoEvents reported them already when it ran).
        if (TVaCustomComm* still = anchor_->port)
            still->DoDataLost();
    });
}

// --- TVaCommWriteThread ---

TVaCommWriteThread::TVaCommWriteThread(std::shared_ptr<PortAnchor> anchor,
                                       std::shared_ptr<CommDevice> device,
                                       std::shared_ptr<TVaCriticalSection> lock, size_t capacity)
    : anchor_(std::move(anchor)),
      device_(std::move(device)),
      lock_(std::move(lock)),
      queue_(capacity) {}

std::shared_ptr<TVaCommWriteThread> TVaCommWriteThread::Create(
    std::shared_ptr<PortAnchor> anchor, std::shared_ptr<CommDevice> device,
    std::shared_ptr<TVaCriticalSection> lock, size_t capacity) {
    return std::shared_ptr<TVaCommWriteThread>(
        new TVaCommWriteThread(std::move(anchor), std::move(device), std::move(lock), capacity));
}

void TVaCommWriteThread::Start() {
    StartThread();
}

void TVaCommWriteThread::Terminate() {
    StopEvent.SetEvent();
    device_->CancelIo();
}

size_t TVaCommWriteThread::QueuedCount() {
    std::lock_guard l(*lock_);
    return queue_.Count();
}

bool TVaCommWriteThread::Queue(const uint8_t* bytes, size_t n, size_t writeSize,
                               uint32_t writeTimeoutMs) {
    if (QueuedCount() + n > writeSize) {
        const uint32_t start = TickCount();
        while (!(QueuedCount() + n < writeSize)) {
            if (TickDiff(start, TickCount()) > writeTimeoutMs)
                return false;
            std::this_thread::yield();
        }
    }
    std::lock_guard l(*lock_);
    // The queue's block never grows: a size raised after the thread started cannot
    // overfill it.
    if (queue_.Count() + n > queue_.Capacity())
        return false;
    queue_.Append(bytes, n);
    DataEvent.SetEvent();
    return true;
}

void TVaCommWriteThread::RunDoEvents(uint32_t mask) {
    auto anchor = anchor_;
    RunOnGuiThread([anchor, mask] {
        if (anchor->port)
            anchor->port->DoEvents(mask);
    });
}

void TVaCommWriteThread::AfterWrite(size_t n) {
    bool emptied;
    {
        std::lock_guard l(*lock_);
        queue_.Remove(n);
        emptied = queue_.Count() == 0;
        if (emptied) {
            DataEvent.ResetEvent();
        } else {
            DataEvent.SetEvent();
        }
    }
    if (emptied)
        RunDoEvents(EV_TXEMPTY);
}

void TVaCommWriteThread::Execute() {
    while (!terminated_) {
        const int which = TVaHandleObject::WaitForAny({&StopEvent, &DataEvent}, INFINITE);
        if (which == 0) {
            terminated_ = true;
            break;
        }
        const uint8_t* start;
        size_t count;
        {
            std::lock_guard l(*lock_);
            start = queue_.Data();
            count = queue_.Count();
            if (count == 0) {
                DataEvent.ResetEvent();
                continue;
            }
        }
        WriteIoEvent.ResetEvent();
        size_t written = 0;
        const int result = device_->Write(start, count, written, -1);
        WriteIoEvent.SetEvent();
        if (StopEvent.Signaled()) {
            // The write was cancelled (or completed) before the queue goes away.
            terminated_ = true;
            break;
        }
        if (written > 0)
            AfterWrite(written);
        if (result == 0 || result == ECANCELED)
            continue;
        int code = 0;
        if (device_->Lost(&code)) {
            const QString message =
                QStringLiteral("Serial device lost (%1), %2").arg(code).arg(CommErrorText(code));
            auto anchor = anchor_;
            RunOnGuiThread([anchor, message] {
                if (anchor->port)
                    runGuarded([&] { anchor->port->DoDeviceLost(message); });
            });
            break;
        }
        if (result == EBADF) {
            // Released under us: nothing can be written until Close stops the thread.
            StopEvent.WaitFor(INFINITE);
            continue;
        }
        RunDoEvents(EV_ERR);
        // Try again, but not in a tight loop.
        if (StopEvent.WaitFor(100) == wrSignaled)
            terminated_ = true;
    }
}

}  // namespace trelmo::serial
