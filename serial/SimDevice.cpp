#include "serial/SimDevice.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "serial/QueuedDevice.h"

namespace trelmo::serial::sim {

namespace {
class SimCommDevice;
}

struct SimState {
    QString name;
    mutable std::mutex m;
    std::condition_variable cv;  // stall released, cancel, close
    std::weak_ptr<SimCommDevice> open;
    bool present = true;
    int opens = 0;
    int closes = 0;
    QByteArray written;
    bool rts = false, dtr = false, cts = false, dsr = false, dcd = false;
    bool stall = false;
    std::map<SimOp, int> failures;
    bool hasDcb = false;
    TVaDcb dcb;
    int dcbCount = 0;
    uint32_t mask = 0, inQueue = 0, outQueue = 0;
    TVaCommTimeouts timeouts;

    int takeFailure(SimOp op) {
        auto it = failures.find(op);
        if (it == failures.end())
            return 0;
        int code = it->second;
        failures.erase(it);
        return code;
    }
};

namespace {

std::mutex gRegistryMutex;
std::map<QString, std::weak_ptr<SimState>>& registry() {
    static std::map<QString, std::weak_ptr<SimState>> r;
    return r;
}

class SimCommDevice : public QueuedDevice {
  public:
    explicit SimCommDevice(std::shared_ptr<SimState> state) : state_(std::move(state)) {}
    ~SimCommDevice() override { Close(); }

    int Check(SimOp op) {
        if (IsClosed())
            return EBADF;
        int lost = 0;
        if (Lost(&lost))
            return lost;
        std::lock_guard l(state_->m);
        return state_->takeFailure(op);
    }

    int SetState(const TVaDcb& dcb) override {
        if (int e = Check(SimOp::SetState))
            return e;
        std::lock_guard l(state_->m);
        state_->hasDcb = true;
        state_->dcb = dcb;
        ++state_->dcbCount;
        // As a real device: the first block after opening decides both lines, later blocks
        // only a line whose control field changed.
        const ModemLineControl::Levels levels = lineControl_.For(dcb);
        if (levels.dtr)
            state_->dtr = *levels.dtr;
        if (levels.rts)
            state_->rts = *levels.rts;
        lineControl_.Applied(dcb);
        return 0;
    }
    int Setup(uint32_t in, uint32_t out) override {
        if (int e = Check(SimOp::Setup))
            return e;
        {
            std::lock_guard l(state_->m);
            state_->inQueue = in;
            state_->outQueue = out;
        }
        return QueuedDevice::Setup(in, out);
    }
    int SetTimeouts(const TVaCommTimeouts& t) override {
        if (int e = Check(SimOp::SetTimeouts))
            return e;
        {
            std::lock_guard l(state_->m);
            state_->timeouts = t;
        }
        return QueuedDevice::SetTimeouts(t);
    }
    int SetMask(uint32_t mask) override {
        if (int e = Check(SimOp::SetMask))
            return e;
        {
            std::lock_guard l(state_->m);
            state_->mask = mask;
        }
        return QueuedDevice::SetMask(mask);
    }
    int ClearError(uint32_t& errors, TVaComStat& stat) override {
        // The receive queue is ours: its status stays readable after the device vanished.
        int failure = 0;
        {
            std::lock_guard l(state_->m);
            failure = state_->takeFailure(SimOp::ClearError);
        }
        if (failure) {
            errors = 0;
            stat = {};
            return failure;
        }
        return QueuedDevice::ClearError(errors, stat);
    }
    int Escape(int function) override {
        if (int e = Check(SimOp::Escape))
            return e;
        std::lock_guard l(state_->m);
        switch (function) {
            case SETRTS:
                state_->rts = true;
                break;
            case CLRRTS:
                state_->rts = false;
                break;
            case SETDTR:
                state_->dtr = true;
                break;
            case CLRDTR:
                state_->dtr = false;
                break;
            default:
                return EINVAL;
        }
        return 0;
    }
    int Read(uint8_t* buffer, size_t count, size_t& got, ArrivalMarks* marks) override {
        got = 0;
        if (marks)
            marks->clear();
        if (IsClosed())
            return EBADF;
        {
            std::lock_guard l(state_->m);
            if (int e = state_->takeFailure(SimOp::Read))
                return e;
        }
        return QueuedDevice::Read(buffer, count, got, marks);
    }
    int Write(const uint8_t* data, size_t count, size_t& written, int timeoutMs) override {
        written = 0;
        if (int e = Check(SimOp::Write))
            return e;
        std::unique_lock l(state_->m);
        auto done = [&] { return !state_->stall || cancelled_.load() || dead_.load(); };
        if (timeoutMs < 0) {
            state_->cv.wait(l, done);
        } else if (!state_->cv.wait_for(l, std::chrono::milliseconds(timeoutMs), done)) {
            return ETIMEDOUT;
        }
        if (dead_.load()) {
            int lost = 0;
            l.unlock();
            return Lost(&lost) ? lost : EBADF;
        }
        if (cancelled_.exchange(false))
            return ECANCELED;
        state_->written.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count));
        written = count;
        l.unlock();
        Raise(EV_TXEMPTY);
        return 0;
    }
    void CancelIo() override {
        cancelled_ = true;
        std::lock_guard l(state_->m);
        state_->cv.notify_all();
    }
    void Close() override {
        if (!MarkClosed())
            return;
        dead_ = true;
        std::lock_guard l(state_->m);
        ++state_->closes;
        state_->open.reset();
        state_->cv.notify_all();
    }

    // Peer side.
    // Like a device that waits: blocks until every byte is queued or the device is gone. The
    // bytes arrive when the peer delivers them, however long they then wait for room.
    bool PeerDeliver(const QByteArray& b, uint32_t ev, uint32_t ce, uint64_t lost) {
        size_t queued = 0;
        return PushWaiting(reinterpret_cast<const uint8_t*>(b.constData()),
                           static_cast<size_t>(b.size()), ArrivalClockNs(), ev, ce, lost, queued);
    }
    size_t PeerTryPush(const QByteArray& b) {
        if (IsClosed() || Lost())
            return 0;
        return Push(reinterpret_cast<const uint8_t*>(b.constData()), static_cast<size_t>(b.size()),
                    ArrivalClockNs());
    }
    void PeerRaise(uint32_t ev) { Raise(ev); }
    void PeerErrors(uint32_t ce, uint64_t lost) { AddErrors(ce, lost); }
    void PeerPull() {
        MarkLost(ENODEV);
        dead_ = true;
        std::lock_guard l(state_->m);
        state_->cv.notify_all();
    }

  private:
    std::shared_ptr<SimState> state_;
    ModemLineControl lineControl_;  // under state_->m
    // Set by CancelIo until a Write sees it (see PosixDevice).
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> dead_{false};
};

std::shared_ptr<SimCommDevice> openOf(const std::shared_ptr<SimState>& s) {
    std::lock_guard l(s->m);
    return s->open.lock();
}

}  // namespace

std::shared_ptr<CommDevice> OpenSimDevice(const QString& name, int& err) {
    std::shared_ptr<SimState> state;
    {
        std::lock_guard l(gRegistryMutex);
        auto it = registry().find(name);
        if (it != registry().end())
            state = it->second.lock();
    }
    if (!state) {
        err = ENOENT;
        return nullptr;
    }
    std::lock_guard l(state->m);
    if (!state->present) {
        err = ENOENT;
        return nullptr;
    }
    if (int e = state->takeFailure(SimOp::Open)) {
        err = e;
        return nullptr;
    }
    if (state->open.lock()) {
        err = EBUSY;
        return nullptr;
    }
    auto dev = std::make_shared<SimCommDevice>(state);
    state->open = dev;
    ++state->opens;
    state->rts = state->dtr = false;
    err = 0;
    return dev;
}

std::shared_ptr<SimPeer> SimPeer::Create(const QString& name) {
    auto state = std::make_shared<SimState>();
    state->name = name;
    {
        std::lock_guard l(gRegistryMutex);
        registry()[name] = state;
    }
    return std::shared_ptr<SimPeer>(new SimPeer(state));
}

SimPeer::SimPeer(std::shared_ptr<SimState> state) : state_(std::move(state)) {}

SimPeer::~SimPeer() {
    std::lock_guard l(gRegistryMutex);
    auto it = registry().find(state_->name);
    if (it != registry().end() && it->second.lock() == state_)
        registry().erase(it);
}

QString SimPeer::DeviceName() const {
    return QStringLiteral("sim:") + state_->name;
}

bool SimPeer::IsOpen() const {
    return openOf(state_) != nullptr;
}

int SimPeer::OpenCount() const {
    std::lock_guard l(state_->m);
    return state_->opens;
}

int SimPeer::CloseCount() const {
    std::lock_guard l(state_->m);
    return state_->closes;
}

bool SimPeer::Inject(const QByteArray& bytes) {
    return Deliver(bytes, 0, 0);
}

size_t SimPeer::TryInject(const QByteArray& bytes) {
    auto dev = openOf(state_);
    if (!dev)
        return 0;
    return dev->PeerTryPush(bytes);
}

bool SimPeer::Deliver(const QByteArray& bytes, uint32_t evBits, uint32_t ceFlags,
                      uint64_t lostBytes) {
    auto dev = openOf(state_);
    if (!dev)
        return false;
    return dev->PeerDeliver(bytes, evBits, ceFlags, lostBytes);
}

QByteArray SimPeer::Written() const {
    std::lock_guard l(state_->m);
    return state_->written;
}

QByteArray SimPeer::TakeWritten() {
    std::lock_guard l(state_->m);
    QByteArray out;
    out.swap(state_->written);
    return out;
}

bool SimPeer::Rts() const {
    std::lock_guard l(state_->m);
    return state_->rts;
}

bool SimPeer::Dtr() const {
    std::lock_guard l(state_->m);
    return state_->dtr;
}

namespace {
void setLine(const std::shared_ptr<SimState>& s, bool SimState::*line, bool on, uint32_t ev) {
    bool changed;
    {
        std::lock_guard l(s->m);
        changed = (*s).*line != on;
        (*s).*line = on;
    }
    if (changed) {
        if (auto dev = openOf(s))
            dev->PeerRaise(ev);
    }
}
}  // namespace

void SimPeer::SetCts(bool on) {
    setLine(state_, &SimState::cts, on, EV_CTS);
}
void SimPeer::SetDsr(bool on) {
    setLine(state_, &SimState::dsr, on, EV_DSR);
}
void SimPeer::SetDcd(bool on) {
    setLine(state_, &SimState::dcd, on, EV_RLSD);
}

void SimPeer::Ring() {
    RaiseEvents(EV_RING);
}

void SimPeer::RaiseErrors(uint32_t ceFlags) {
    if (auto dev = openOf(state_))
        dev->PeerErrors(ceFlags, 0);
}

void SimPeer::RaiseOverrun(uint64_t lostBytes) {
    if (auto dev = openOf(state_))
        dev->PeerErrors(CE_OVERRUN, lostBytes);
}

void SimPeer::RaiseEvents(uint32_t evBits) {
    if (auto dev = openOf(state_))
        dev->PeerRaise(evBits);
}

void SimPeer::SetTxStall(bool stalled) {
    std::lock_guard l(state_->m);
    state_->stall = stalled;
    state_->cv.notify_all();
}

void SimPeer::FailNext(SimOp op, int code) {
    std::lock_guard l(state_->m);
    state_->failures[op] = code;
}

void SimPeer::Pull() {
    std::shared_ptr<SimCommDevice> dev;
    {
        std::lock_guard l(state_->m);
        state_->present = false;
        dev = state_->open.lock();
    }
    if (dev)
        dev->PeerPull();
}

void SimPeer::Plug() {
    std::lock_guard l(state_->m);
    state_->present = true;
}

bool SimPeer::HasDcb() const {
    std::lock_guard l(state_->m);
    return state_->hasDcb;
}
TVaDcb SimPeer::LastDcb() const {
    std::lock_guard l(state_->m);
    return state_->dcb;
}
int SimPeer::DcbCount() const {
    std::lock_guard l(state_->m);
    return state_->dcbCount;
}
uint32_t SimPeer::Mask() const {
    std::lock_guard l(state_->m);
    return state_->mask;
}
uint32_t SimPeer::InQueueSize() const {
    std::lock_guard l(state_->m);
    return state_->inQueue;
}
uint32_t SimPeer::OutQueueSize() const {
    std::lock_guard l(state_->m);
    return state_->outQueue;
}
TVaCommTimeouts SimPeer::Timeouts() const {
    std::lock_guard l(state_->m);
    return state_->timeouts;
}

}  // namespace trelmo::serial::sim
