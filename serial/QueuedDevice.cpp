#include "serial/QueuedDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace trelmo::serial {

QueuedDevice::QueuedDevice() : ring_(kMinRing) {}

int QueuedDevice::Setup(uint32_t inQueue, uint32_t /*outQueue*/) {
    std::lock_guard lock(mutex_);
    if (closed_)
        return EBADF;
    if (lostCode_)
        return lostCode_;
    const size_t wanted = std::max<size_t>(kMinRing, inQueue);
    if (wanted > ring_.size()) {
        std::vector<uint8_t> bigger(wanted);
        for (size_t i = 0; i < fill_; ++i)
            bigger[i] = ring_[(head_ + i) % ring_.size()];
        ring_.swap(bigger);
        head_ = 0;
    }
    return 0;
}

int QueuedDevice::SetTimeouts(const TVaCommTimeouts& timeouts) {
    std::lock_guard lock(mutex_);
    if (closed_)
        return EBADF;
    if (lostCode_)
        return lostCode_;
    timeouts_ = timeouts;
    return 0;
}

int QueuedDevice::SetMask(uint32_t mask) {
    std::lock_guard lock(mutex_);
    if (closed_)
        return EBADF;
    if (lostCode_)
        return lostCode_;
    mask_ = mask;
    pending_ &= mask;
    if ((mask & EV_RXCHAR) && fill_ > 0)
        pending_ |= EV_RXCHAR;
    changed_.notify_all();
    return 0;
}

int QueuedDevice::WaitEvent(uint32_t& mask) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return woken_ || closed_ || lostCode_ || (pending_ & mask_); });
    if (woken_) {
        woken_ = false;
        return kWaitWoken;
    }
    if (closed_)
        return EBADF;
    // Events that happened before the device vanished are still reported (bytes already
    // received are not lost); the loss comes after them.
    if (pending_ & mask_) {
        mask = pending_ & mask_;
        pending_ &= ~mask;
        return 0;
    }
    return lostCode_;
}

void QueuedDevice::WakeWait() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    changed_.notify_all();
}

int QueuedDevice::ClearError(uint32_t& errors, TVaComStat& stat) {
    std::unique_lock lock(mutex_);
    errors = 0;
    stat = TVaComStat{};
    if (closed_)
        return EBADF;
    errors = errors_;
    errors_ = 0;
    stat.cbInQue = static_cast<uint32_t>(fill_);
    lock.unlock();
    stat.cbOutQue = OutQueued();
    return 0;
}

int QueuedDevice::Read(uint8_t* buffer, size_t count, size_t& got) {
    std::lock_guard lock(mutex_);
    got = 0;
    if (closed_)
        return EBADF;
    const size_t n = std::min(count, fill_);
    const size_t first = std::min(n, ring_.size() - head_);
    if (n) {
        std::memcpy(buffer, ring_.data() + head_, first);
        std::memcpy(buffer + first, ring_.data(), n - first);
    }
    head_ = (head_ + n) % ring_.size();
    fill_ -= n;
    got = n;
    // Received-characters is level-triggered: bytes left after a read make another event.
    if (n > 0 && fill_ > 0 && (mask_ & EV_RXCHAR)) {
        pending_ |= EV_RXCHAR;
        changed_.notify_all();
    }
    if (n == 0 && lostCode_)
        return lostCode_;
    return 0;
}

bool QueuedDevice::Lost(int* code) const {
    std::lock_guard lock(mutex_);
    if (code)
        *code = lostCode_;
    return lostCode_ != 0;
}

size_t QueuedDevice::RingCapacity() const {
    std::lock_guard lock(mutex_);
    return ring_.size();
}

size_t QueuedDevice::RingFree() const {
    std::lock_guard lock(mutex_);
    return ring_.size() - fill_;
}

void QueuedDevice::Push(const uint8_t* data, size_t count) {
    if (count == 0)
        return;
    PushAll(data, count, 0, 0);
}

void QueuedDevice::PushAll(const uint8_t* data, size_t count, uint32_t events,
                           uint32_t errorFlags) {
    std::lock_guard lock(mutex_);
    if (errorFlags) {
        errors_ |= errorFlags;
        events |= EV_ERR;
        if (errorFlags & CE_RXPARITY)
            events |= EV_PERR;
        if (errorFlags & CE_BREAK)
            events |= EV_BREAK;
    }
    const size_t room = ring_.size() - fill_;
    const size_t n = std::min(room, count);
    for (size_t i = 0; i < n; ++i)
        ring_[(head_ + fill_ + i) % ring_.size()] = data[i];
    fill_ += n;
    if (n)
        events |= EV_RXCHAR;
    if (n < count) {
        errors_ |= CE_RXOVER;
        events |= EV_ERR;
    }
    pending_ |= events & mask_;
    changed_.notify_all();
}

void QueuedDevice::Raise(uint32_t events) {
    std::lock_guard lock(mutex_);
    pending_ |= events & mask_;
    changed_.notify_all();
}

void QueuedDevice::AddErrors(uint32_t flags) {
    if (!flags)
        return;
    std::lock_guard lock(mutex_);
    errors_ |= flags;
    uint32_t events = EV_ERR;
    if (flags & CE_RXPARITY)
        events |= EV_PERR;
    if (flags & CE_BREAK)
        events |= EV_BREAK;
    pending_ |= events & mask_;
    changed_.notify_all();
}

void QueuedDevice::MarkLost(int code) {
    std::lock_guard lock(mutex_);
    if (!lostCode_)
        lostCode_ = code ? code : EIO;
    changed_.notify_all();
}

bool QueuedDevice::MarkClosed() {
    std::lock_guard lock(mutex_);
    if (closed_)
        return false;
    closed_ = true;
    changed_.notify_all();
    return true;
}

bool QueuedDevice::IsClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

}  // namespace trelmo::serial
