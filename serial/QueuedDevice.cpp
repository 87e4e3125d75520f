#include "serial/QueuedDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace trelmo::serial {

QueuedDevice::QueuedDevice() : ring_(kMinRing) {}

int QueuedDevice::Setup(uint32_t inQueue, uint32_t /*outQueue*/) {
    std::unique_lock lock(mutex_);
    if (closed_)
        return EBADF;
    if (lostCode_)
        return lostCode_;
    const size_t wanted = std::max<size_t>(kMinRing, inQueue);
    bool released = false;
    if (wanted > ring_.size()) {
        std::vector<uint8_t> bigger(wanted);
        // The held bytes in order: from the head to the end, then the part that wrapped.
        const size_t first = std::min(fill_, ring_.size() - head_);
        if (first)
            std::memcpy(bigger.data(), ring_.data() + head_, first);
        if (fill_ > first)
            std::memcpy(bigger.data() + first, ring_.data(), fill_ - first);
        ring_.swap(bigger);
        head_ = 0;
        if (held_ && RoomRegained()) {
            held_ = false;
            released = true;
            room_.notify_all();
        }
    }
    lock.unlock();
    if (released)
        RoomMade();
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
    stat.cbLost = lostBytes_;
    lostBytes_ = 0;
    stat.cbInQue = static_cast<uint32_t>(fill_);
    lock.unlock();
    stat.cbOutQue = OutQueued();
    return 0;
}

int QueuedDevice::Read(uint8_t* buffer, size_t count, size_t& got, ArrivalMarks* marks) {
    std::unique_lock lock(mutex_);
    got = 0;
    if (marks)
        marks->clear();
    if (closed_)
        return EBADF;
    const size_t n = std::min(count, fill_);
    const size_t first = std::min(n, ring_.size() - head_);
    if (n) {
        std::memcpy(buffer, ring_.data() + head_, first);
        std::memcpy(buffer + first, ring_.data(), n - first);
        TakeMarks(n, marks);
    }
    head_ = (head_ + n) % ring_.size();
    headPosition_ += n;
    fill_ -= n;
    got = n;
    // Received-characters is level-triggered: bytes left after a read make another event.
    if (n > 0 && fill_ > 0 && (mask_ & EV_RXCHAR)) {
        pending_ |= EV_RXCHAR;
        changed_.notify_all();
    }
    bool released = false;
    if (n > 0 && held_ && RoomRegained()) {
        held_ = false;
        released = true;
        room_.notify_all();
    }
    const int code = (n == 0 && lostCode_) ? lostCode_ : 0;
    lock.unlock();
    if (released)
        RoomMade();
    return code;
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

bool QueuedDevice::RoomRegained() const {
    return fill_ == 0 || ring_.size() - fill_ >= kResumeRoom;
}

bool QueuedDevice::Held() {
    std::lock_guard lock(mutex_);
    if (held_ && RoomRegained())
        held_ = false;
    else if (!held_ && fill_ == ring_.size())
        held_ = true;
    return held_;
}

size_t QueuedDevice::Push(const uint8_t* data, size_t count, int64_t arrivalNs) {
    if (count == 0)
        return 0;
    return PushAll(data, count, arrivalNs, 0, 0);
}

size_t QueuedDevice::PushAll(const uint8_t* data, size_t count, int64_t arrivalNs, uint32_t events,
                             uint32_t errorFlags, uint64_t lostBytes) {
    std::lock_guard lock(mutex_);
    return PushLocked(data, count, arrivalNs, events, errorFlags, lostBytes);
}

bool QueuedDevice::PushWaiting(const uint8_t* data, size_t count, int64_t arrivalNs,
                               uint32_t events, uint32_t errorFlags, uint64_t lostBytes,
                               size_t& queued) {
    std::unique_lock lock(mutex_);
    queued = 0;
    bool first = true;
    for (;;) {
        if (closed_ || lostCode_)
            return false;
        if (first || !held_) {
            queued += first ? PushLocked(data, count, arrivalNs, events, errorFlags, lostBytes)
                            : PushLocked(data + queued, count - queued, arrivalNs, 0, 0, 0);
            first = false;
            if (queued == count)
                return true;
        }
        room_.wait(lock, [&] { return closed_ || lostCode_ || !held_; });
    }
}

size_t QueuedDevice::PushLocked(const uint8_t* data, size_t count, int64_t arrivalNs,
                                uint32_t events, uint32_t errorFlags, uint64_t lostBytes) {
    lostBytes_ += lostBytes;
    if (errorFlags || lostBytes) {
        errors_ |= errorFlags;
        events |= EV_ERR;
        if (errorFlags & CE_RXPARITY)
            events |= EV_PERR;
        if (errorFlags & CE_BREAK)
            events |= EV_BREAK;
    }
    const size_t size = ring_.size();
    const size_t n = std::min(size - fill_, count);
    if (n) {
        // Behind the held bytes up to the end of the block, the rest from its start.
        const size_t tail = (head_ + fill_) % size;
        const size_t first = std::min(n, size - tail);
        std::memcpy(ring_.data() + tail, data, first);
        if (n > first)
            std::memcpy(ring_.data(), data + first, n - first);
        AddMark(arrivalNs);
        fill_ += n;
        events |= EV_RXCHAR;
    }
    // The rest stays with the producer, which waits for room.
    if (n < count)
        held_ = true;
    pending_ |= events & mask_;
    changed_.notify_all();
    return n;
}

void QueuedDevice::AddMark(int64_t ns) {
    if (!marks_.empty() && marks_.back().ns == ns)
        return;  // the same arrival goes on
    marks_.push_back({headPosition_ + fill_, ns});
    if (marks_.size() <= kMaxMarks)
        return;
    // Thin out: keep every other mark, the first (it covers the head) and the newest (it
    // is the time of the bytes just taken) included.
    std::deque<Mark> kept;
    for (size_t i = 0; i + 1 < marks_.size(); i += 2)
        kept.push_back(marks_[i]);
    kept.push_back(marks_.back());
    marks_.swap(kept);
}

void QueuedDevice::TakeMarks(size_t n, ArrivalMarks* marks) {
    const uint64_t end = headPosition_ + n;
    if (marks) {
        // The first byte arrived with the mark that covers the head.
        marks->push_back({0, marks_.front().ns});
        for (size_t i = 1; i < marks_.size() && marks_[i].position < end; ++i)
            marks->push_back(
                {static_cast<size_t>(marks_[i].position - headPosition_), marks_[i].ns});
    }
    if (n == fill_) {
        marks_.clear();
        return;
    }
    while (marks_.size() > 1 && marks_[1].position <= end)
        marks_.pop_front();
}

void QueuedDevice::Raise(uint32_t events) {
    std::lock_guard lock(mutex_);
    pending_ |= events & mask_;
    changed_.notify_all();
}

void QueuedDevice::AddErrors(uint32_t flags, uint64_t lostBytes) {
    if (!flags && !lostBytes)
        return;
    std::lock_guard lock(mutex_);
    PushLocked(nullptr, 0, 0, 0, flags, lostBytes);
}

void QueuedDevice::MarkLost(int code) {
    std::lock_guard lock(mutex_);
    if (!lostCode_)
        lostCode_ = code ? code : EIO;
    changed_.notify_all();
    room_.notify_all();
}

bool QueuedDevice::MarkClosed() {
    std::lock_guard lock(mutex_);
    if (closed_)
        return false;
    closed_ = true;
    changed_.notify_all();
    room_.notify_all();
    return true;
}

bool QueuedDevice::IsClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

}  // namespace trelmo::serial
