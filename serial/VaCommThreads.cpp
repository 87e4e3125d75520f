#include "serial/VaCommThreads.h"

#include <sys/resource.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QMetaObject>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "core/Guard.h"

namespace trelmo::serial {

int NiceOf(TVaThreadPriority priority) {
    switch (priority) {
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

namespace {
// The process-wide list of calls handed to the GUI thread, in order. Workers add to it
// under the lock and wait; the GUI thread takes them out and runs them. Only standard
// locks guard it, so the hand-over is visible to thread checkers as well. Allocated once
// and never destroyed: no thread can outlive it.
struct PendingCall {
    const std::function<void()>* routine;
    PortAnchor* owner;
    bool finished = false;
    std::exception_ptr error;
};
struct HandOver {
    std::mutex mutex;
    std::condition_variable done;
    std::deque<PendingCall*> pending;
    // Calls being run by the GUI thread (more than one when a routine runs a nested event
    // loop), innermost last.
    std::vector<PendingCall*> running;
    QCoreApplication* app = nullptr;
    bool shutDown = false;
    bool postRoutineAdded = false;
};
HandOver& handOver() {
    static HandOver* h = new HandOver;
    return *h;
}

// Posts fn to the GUI thread unless the application has gone (hand-over lock held, so the
// application cannot go meanwhile).
template <typename F>
void PostLocked(HandOver& h, F fn) {
    if (h.app && !h.shutDown)
        QMetaObject::invokeMethod(h.app, std::move(fn), Qt::QueuedConnection);
}

// Runs the oldest pending call (GUI thread). Every hand-over posts one event that runs
// this, so each call runs in its turn among the GUI thread's other events: workers that
// hand over without pause cannot keep the GUI thread in here.
void RunPendingCall() {
    HandOver& h = handOver();
    PendingCall* call;
    {
        std::lock_guard l(h.mutex);
        if (h.pending.empty())
            return;  // released, or run by an earlier event
        call = h.pending.front();
        h.pending.pop_front();
        h.running.push_back(call);
    }
    std::exception_ptr error;
    try {
        (*call->routine)();
    } catch (...) {
        error = std::current_exception();
    }
    std::lock_guard l(h.mutex);
    h.running.erase(std::find(h.running.begin(), h.running.end(), call));
    call->error = std::move(error);  // the worker holds the only reference
    call->finished = true;
    h.done.notify_all();
}

// Releases the pending calls that match (hand-over lock held).
template <typename Match>
void ReleasePendingLocked(HandOver& h, Match match) {
    auto kept = std::stable_partition(h.pending.begin(), h.pending.end(),
                                      [&](PendingCall* c) { return !match(c); });
    for (auto it = kept; it != h.pending.end(); ++it)
        (*it)->finished = true;
    h.pending.erase(kept, h.pending.end());
    h.done.notify_all();
}

void ShutDownWorkers();
}  // namespace

// The started workers not yet joined. Only the GUI thread joins; the lock keeps Live()
// exact for any reader.
struct WorkerList {
    std::mutex mutex;
    std::vector<std::shared_ptr<TVaWorker>> workers;

    static WorkerList& Get() {
        static WorkerList* list = new WorkerList;
        return *list;
    }
    void Add(std::shared_ptr<TVaWorker> worker) {
        std::lock_guard l(mutex);
        workers.push_back(std::move(worker));
    }
    void Remove(const TVaWorker* worker) {
        std::lock_guard l(mutex);
        auto it = std::find_if(workers.begin(), workers.end(),
                               [&](const auto& w) { return w.get() == worker; });
        if (it != workers.end())
            workers.erase(it);
    }
    int Count() {
        std::lock_guard l(mutex);
        return static_cast<int>(workers.size());
    }
    // Joins (and forgets) the workers that match: terminated first when terminate is set.
    // The lock is not held while joining.
    template <typename Match>
    void Join(Match match, bool terminate) {
        std::vector<std::shared_ptr<TVaWorker>> chosen;
        {
            std::lock_guard l(mutex);
            for (const auto& w : workers) {
                if (match(*w))
                    chosen.push_back(w);
            }
        }
        for (const auto& w : chosen) {
            if (terminate)
                w->Terminate();
        }
        for (const auto& w : chosen) {
            if (w->thread_.joinable())
                w->thread_.join();
            Remove(w.get());
        }
    }
};

namespace {
// The application is going away: calls not run by now never will be; release their
// workers, then end and join every worker left.
void ShutDownWorkers() {
    HandOver& h = handOver();
    std::vector<PortAnchor*> busy;
    {
        std::lock_guard l(h.mutex);
        h.shutDown = true;
        h.app = nullptr;
        h.postRoutineAdded = false;
        ReleasePendingLocked(h, [](PendingCall*) { return true; });
        for (PendingCall* call : h.running)
            busy.push_back(call->owner);
    }
    // A worker whose call is running (the application destroyed from inside a hand-over)
    // waits for this stack: it cannot be joined here.
    WorkerList::Get().Join(
        [&](const TVaWorker& w) {
            return std::find(busy.begin(), busy.end(), w.Owner()) == busy.end();
        },
        true);
}
}  // namespace

void RegisterGuiThread() {
    HandOver& h = handOver();
    QCoreApplication* app = QCoreApplication::instance();
    bool addRoutine = false;
    {
        std::lock_guard l(h.mutex);
        h.app = app;
        h.shutDown = app == nullptr;
        addRoutine = app && !h.postRoutineAdded;
        if (addRoutine)
            h.postRoutineAdded = true;
    }
    if (addRoutine)
        qAddPostRoutine(ShutDownWorkers);
}

void RunOnGuiThread(const std::function<void()>& routine, PortAnchor* owner) {
    HandOver& h = handOver();
    PendingCall call{&routine, owner, false, nullptr};
    std::unique_lock l(h.mutex);
    if (h.shutDown || !h.app || (owner && owner->callsReleased))
        return;
    h.pending.push_back(&call);
    PostLocked(h, [] { RunPendingCall(); });
    h.done.wait(l, [&] { return call.finished; });
    if (call.error)
        std::rethrow_exception(call.error);
}

bool ReleaseGuiCalls(PortAnchor* owner) {
    HandOver& h = handOver();
    std::lock_guard l(h.mutex);
    owner->callsReleased = true;
    ReleasePendingLocked(h, [&](PendingCall* c) { return c->owner == owner; });
    return std::any_of(h.running.begin(), h.running.end(),
                       [&](PendingCall* c) { return c->owner == owner; });
}

int PendingGuiCalls() {
    HandOver& h = handOver();
    std::lock_guard l(h.mutex);
    return static_cast<int>(h.pending.size());
}

void ReapFinishedWorkers() {
    WorkerList::Get().Join([](const TVaWorker& w) { return w.Finished(); }, false);
}

void JoinWorkersOf(PortAnchor* owner) {
    if (ReleaseGuiCalls(owner))
        return;  // left to ReapFinishedWorkers
    WorkerList::Get().Join([&](const TVaWorker& w) { return w.Owner() == owner; }, true);
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

TVaWorker::~TVaWorker() = default;

int TVaWorker::Live() {
    return WorkerList::Get().Count();
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
    // Listed before the thread runs, so it is kept until joined however it ends.
    WorkerList& list = WorkerList::Get();
    list.Add(shared_from_this());
    try {
        thread_ = std::thread([this] {
            tid_ = static_cast<int>(gettid());
            ApplyPriority();
            try {
                Execute();
            } catch (...) {
                // A worker ends on an exception it cannot hand anywhere.
            }
            finished_ = true;
            // Ask the GUI thread to join this thread.
            HandOver& h = handOver();
            std::lock_guard l(h.mutex);
            PostLocked(h, [] { ReapFinishedWorkers(); });
        });
    } catch (...) {
        list.Remove(this);
        throw;
    }
}

// A vanished device, reported on the GUI thread (once: the port ignores a second report of
// the same opening).
void TVaWorker::ReportDeviceLost(int code) {
    const QString message =
        QStringLiteral("Serial device lost (%1), %2").arg(code).arg(CommErrorText(code));
    auto self = shared_from_this();
    RunOnGuiThread(
        [self, message] {
            // Close terminates the workers of the opening it ends, on this thread, before
            // any later Open: a report that was still waiting is about a device let go.
            if (self->terminated_)
                return;
            if (TVaWorkerPort* port = self->anchor_->port)
                runGuarded([&] { port->DoDeviceLost(message); });
        },
        anchor_.get());
}

// --- TVaCommEventThread ---

TVaCommEventThread::TVaCommEventThread(std::shared_ptr<PortAnchor> anchor,
                                       std::shared_ptr<CommDevice> device)
    : TVaWorker(std::move(anchor)), device_(std::move(device)) {}

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
            if (!terminated_)
                ReportDeviceLost(code);
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
    RunOnGuiThread([self] { self->DispatchEvents(); }, anchor_.get());
    WakeEvent.ResetEvent();
}

void TVaCommEventThread::DispatchEvents() {
    runGuarded([&] {
        TVaWorkerPort* port = anchor_->port;
        if (!port)
            return;
        if (EventMask & EV_RXCHAR) {
            port->DoRxChar();
            EventMask &= ~EV_RXCHAR;
        }
        // A handler may have destroyed the port.
        port = anchor_->port;
        if (port && EventMask != 0)
            port->DoEvents(EventMask);
        // Bytes lost below us that a query of this batch fetched, also when no error event
        // is monitored (DoEvents reported them already when it ran).
        if (TVaWorkerPort* still = anchor_->port)
            still->DoDataLost();
    });
}

// --- TVaCommWriteThread ---

TVaCommWriteThread::TVaCommWriteThread(std::shared_ptr<PortAnchor> anchor,
                                       std::shared_ptr<CommDevice> device,
                                       std::shared_ptr<TVaCriticalSection> lock, size_t capacity)
    : TVaWorker(std::move(anchor)),
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
    terminated_ = true;
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
    RunOnGuiThread(
        [anchor, mask] {
            if (anchor->port)
                anchor->port->DoEvents(mask);
        },
        anchor.get());
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
            ReportDeviceLost(code);
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
