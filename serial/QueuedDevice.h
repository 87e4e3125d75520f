#pragma once
// What both backends share: the receive ring buffer, pending event bits, line error flags
// and the count of bytes lost below the program, the wakeable event wait and the "device
// lost" state. A backend feeds it from its own side (Push, PushAll, PushWaiting, Raise,
// AddErrors, MarkLost) and implements the device-specific calls.
//
// The ring never drops a byte. A producer offers bytes and learns how many were taken; when
// the ring is full the producer is held back (Held) until the consumer's reads have made
// room again: at least kResumeRoom free, or the ring empty. So a reader that takes little
// per call is not answered by a trickle of single bytes. While held, a backend leaves the
// bytes where they are (in the kernel, at the far end) and waits: RoomMade() is called, or
// PushWaiting's waiter woken, when the producer may go on.
//
// Each offer of bytes carries the time they arrived; the ring keeps one mark (stream
// position, time) per offer beside the bytes, and Read hands the marks of the block it
// takes. Offers of the same time share a mark.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "serial/CommDevice.h"

namespace trelmo::serial {

class QueuedDevice : public CommDevice {
  public:
    static constexpr size_t kMinRing = 1024 * 1024;
    // Room a full ring must regain (unless it empties) before a held producer goes on.
    static constexpr size_t kResumeRoom = 64 * 1024;
    // Arrival marks kept at most: beyond that every other mark goes, so the bytes of a
    // dropped mark take the earlier time of the mark before it. (A flood is read in chunks of
    // up to 64 KiB, a handful of marks for the whole ring; only a great many small chunks
    // waiting unread come near this.)
    static constexpr size_t kMaxMarks = 4096;

    QueuedDevice();

    // Grows the ring to the receive queue size when that is larger (never shrinks it).
    int Setup(uint32_t inQueue, uint32_t outQueue) override;
    int SetTimeouts(const TVaCommTimeouts& timeouts) override;
    int SetMask(uint32_t mask) override;
    int WaitEvent(uint32_t& mask) override;
    void WakeWait() override;
    // Returns and clears the error flags and the lost-byte count (stat.cbLost).
    int ClearError(uint32_t& errors, TVaComStat& stat) override;
    // Takes bytes from the ring and, into marks (when not null), their arrival times; bytes
    // left behind raise another received-characters event. A read that frees enough room
    // releases a held producer.
    int Read(uint8_t* buffer, size_t count, size_t& got, ArrivalMarks* marks) override;
    bool Lost(int* code = nullptr) const override;

    size_t RingCapacity() const;

  protected:
    // Appends received bytes as far as there is room and returns how many were taken. The
    // caller keeps the rest and offers it again once the ring has room: nothing is dropped.
    // arrivalNs is when the bytes were taken from the device (ArrivalClockNs); the rest,
    // offered again later, keeps that time.
    size_t Push(const uint8_t* data, size_t count, int64_t arrivalNs);
    // Bytes, events, error flags and a count of bytes lost below us at once, so a waiter
    // sees them in one batch. Events, flags and the count always take effect; returns how
    // many bytes were taken (see Push). Error flags or a lost count raise EV_ERR.
    size_t PushAll(const uint8_t* data, size_t count, int64_t arrivalNs, uint32_t events,
                   uint32_t errorFlags, uint64_t lostBytes = 0);
    // As PushAll, but queues every byte, waiting for the consumer's reads to make room (for
    // a producer that may block; never call it on the thread that reads). Events, flags and
    // the count go with the first bytes; every byte keeps arrivalNs. False, with nothing more
    // queued, once the device is closed or vanished; queued receives how many bytes were
    // queued (a leading part of data, which the port can still read).
    bool PushWaiting(const uint8_t* data, size_t count, int64_t arrivalNs, uint32_t events,
                     uint32_t errorFlags, uint64_t lostBytes, size_t& queued);
    // True while the producer must not offer bytes: the ring filled up and has not yet
    // regained kResumeRoom of room (nor emptied). RoomMade() follows when it turns false.
    bool Held();
    // Called without the lock when Read or Setup released a held producer. A backend whose
    // producer sleeps elsewhere (in poll) wakes it here.
    virtual void RoomMade() {}
    // Adds event bits (only those selected by the mask are kept).
    void Raise(uint32_t events);
    // Adds line error flags and raises EV_ERR (and EV_PERR for a parity error, EV_BREAK
    // for a break). lostBytes adds to the count of bytes known lost below us (returned by
    // ClearError as cbLost); the flags say how they were lost (CE_OVERRUN, CE_RXOVER).
    void AddErrors(uint32_t flags, uint64_t lostBytes = 0);
    // The device vanished: every wait and I/O call fails with code from now on.
    void MarkLost(int code);
    // Marks the device closed and wakes every waiter; returns false when it already was.
    bool MarkClosed();
    bool IsClosed() const;
    // Bytes the backend still holds for transmission (cbOutQue).
    virtual uint32_t OutQueued() const { return 0; }
    // Room left in the ring.
    size_t RingFree() const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;

  private:
    // Where a chunk of bytes starts in the stream of all bytes received, and when it arrived.
    struct Mark {
        uint64_t position;
        int64_t ns;
    };

    size_t PushLocked(const uint8_t* data, size_t count, int64_t arrivalNs, uint32_t events,
                      uint32_t errorFlags, uint64_t lostBytes);
    // True when a held producer may go on (mutex_ held).
    bool RoomRegained() const;
    // Notes that bytes from the ring's end on arrived at ns (mutex_ held).
    void AddMark(int64_t ns);
    // Hands the marks of the n bytes at the head to marks and forgets those no byte left in
    // the ring needs (mutex_ held; before the head moves).
    void TakeMarks(size_t n, ArrivalMarks* marks);

    std::vector<uint8_t> ring_;
    size_t head_ = 0;
    size_t fill_ = 0;
    // The stream position of the byte at head_ (bytes read so far).
    uint64_t headPosition_ = 0;
    // The marks of the bytes in the ring, in order; while the ring holds bytes the first
    // covers the byte at the head (its position is at or before headPosition_).
    std::deque<Mark> marks_;
    bool held_ = false;
    std::condition_variable room_;  // a held producer released, or the device closed/lost
    uint32_t mask_ = 0;
    uint32_t pending_ = 0;
    uint32_t errors_ = 0;
    uint64_t lostBytes_ = 0;
    bool woken_ = false;
    bool closed_ = false;
    int lostCode_ = 0;
    TVaCommTimeouts timeouts_;
};

}  // namespace trelmo::serial
