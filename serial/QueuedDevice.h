#pragma once
// What both backends share: the receive ring buffer, pending event bits, line error flags,
// the wakeable event wait and the "device lost" state. A backend feeds it from its own
// side (Push, Raise, AddErrors, MarkLost) and implements the device-specific calls.

#include <condition_variable>
#include <mutex>
#include <vector>

#include "serial/CommDevice.h"

namespace trelmo::serial {

class QueuedDevice : public CommDevice {
  public:
    static constexpr size_t kMinRing = 1024 * 1024;

    QueuedDevice();

    int Setup(uint32_t inQueue, uint32_t outQueue) override;
    int SetTimeouts(const TVaCommTimeouts& timeouts) override;
    int SetMask(uint32_t mask) override;
    int WaitEvent(uint32_t& mask) override;
    void WakeWait() override;
    int ClearError(uint32_t& errors, TVaComStat& stat) override;
    int Read(uint8_t* buffer, size_t count, size_t& got) override;
    bool Lost(int* code = nullptr) const override;

    size_t RingCapacity() const;

  protected:
    // Appends received bytes; what does not fit is dropped and flagged CE_RXOVER.
    void Push(const uint8_t* data, size_t count);
    // Bytes, events and error flags at once, so a waiter sees them in one batch.
    void PushAll(const uint8_t* data, size_t count, uint32_t events, uint32_t errorFlags);
    // Adds event bits (only those selected by the mask are kept).
    void Raise(uint32_t events);
    // Adds line error flags and raises EV_ERR (and EV_PERR for a parity error, EV_BREAK
    // for a break).
    void AddErrors(uint32_t flags);
    // The device vanished: every wait and I/O call fails with code from now on.
    void MarkLost(int code);
    // Marks the device closed and wakes every waiter; returns false when it already was.
    bool MarkClosed();
    bool IsClosed() const;
    // Bytes the backend still holds for transmission (cbOutQue).
    virtual uint32_t OutQueued() const { return 0; }
    // Room left in the ring (for back-pressure by the backend).
    size_t RingFree() const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;

  private:
    std::vector<uint8_t> ring_;
    size_t head_ = 0;
    size_t fill_ = 0;
    uint32_t mask_ = 0;
    uint32_t pending_ = 0;
    uint32_t errors_ = 0;
    bool woken_ = false;
    bool closed_ = false;
    int lostCode_ = 0;
    TVaCommTimeouts timeouts_;
};

}  // namespace trelmo::serial
