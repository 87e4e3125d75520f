#pragma once
// The simulated serial device: an in-process device registered under a name, whose other
// end a test plays. A port reaches it through the device name "sim:NAME" (also typed by a
// user as "sim:NAME"; the "\\.\" prefix the main window adds is dropped by MapDeviceName).
//
// The peer sees what the port wrote and the RTS/DTR levels it set, injects received bytes,
// drives CTS/DSR/DCD and ring, raises line errors and overruns that lost bytes, can stall
// transmission, make the next call of one kind fail with an errno code, and pull the device
// while it is open.
//
// The device behaves like one that waits: its receive ring (QueuedDevice) never drops a
// byte, and an injector whose bytes do not fit blocks until the port's reads have made room.
// Injected bytes arrive (ArrivalMark) when the peer's call is made, one mark per call.
// The peer's calls may come from any thread.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "serial/CommDevice.h"

namespace trelmo::serial::sim {

enum class SimOp { Open, SetState, Setup, SetTimeouts, SetMask, Escape, Read, Write, ClearError };

struct SimState;

class SimPeer {
  public:
    // Registers the device "sim:<name>"; it stays reachable while the peer lives.
    static std::shared_ptr<SimPeer> Create(const QString& name);
    ~SimPeer();
    SimPeer(const SimPeer&) = delete;
    SimPeer& operator=(const SimPeer&) = delete;

    QString DeviceName() const;
    bool IsOpen() const;
    int OpenCount() const;  // successful opens so far
    int CloseCount() const;

    // Bytes arriving at the port. Blocks until all are queued, woken by the port's reads
    // when the receive ring is full: call it from a thread other than the one that reads
    // (or use TryInject). False when the device is not open (nothing queued), is pulled,
    // or is closed while the call waits: then a leading part of the bytes may have been
    // queued, which the port can still read while it stays open; the rest never arrives.
    // Bytes of one call stay together unless another thread injects at the same time.
    bool Inject(const QByteArray& bytes);
    // Never blocks: queues what fits into the receive ring and returns how many bytes that
    // was (a leading part; 0 when the device is not open or is pulled). For tests whose
    // reader is the same thread.
    size_t TryInject(const QByteArray& bytes);
    // Bytes, event bits, line error flags and a count of bytes lost before them arriving
    // together (one batch for the port's event wait, as long as the bytes fit the ring).
    // Waits and fails as Inject; the events, flags and count go with the first bytes.
    bool Deliver(const QByteArray& bytes, uint32_t evBits, uint32_t ceFlags,
                 uint64_t lostBytes = 0);
    // Everything the port has written since the last Take.
    QByteArray Written() const;
    QByteArray TakeWritten();

    bool Rts() const;
    bool Dtr() const;
    void SetCts(bool on);  // raises EV_CTS on a change
    void SetDsr(bool on);  // EV_DSR
    void SetDcd(bool on);  // EV_RLSD
    void Ring();           // EV_RING
    // Line errors (CE_ flags): EV_ERR, plus EV_PERR for parity and EV_BREAK for break.
    void RaiseErrors(uint32_t ceFlags);
    // The device's receiver overran and lostBytes bytes were lost: CE_OVERRUN with EV_ERR,
    // and the count is added to what ClearError reports as cbLost.
    void RaiseOverrun(uint64_t lostBytes);
    // Any event bits, as the driver would report them.
    void RaiseEvents(uint32_t evBits);

    // While stalled, writes do not complete (they time out or wait for CancelIo).
    void SetTxStall(bool stalled);
    // The next call of this kind fails with code.
    void FailNext(SimOp op, int code);
    // The device vanishes: the open port's calls fail with ENODEV, new opens with ENOENT.
    void Pull();
    // The device is present again (for new opens).
    void Plug();

    // What the port configured.
    bool HasDcb() const;
    TVaDcb LastDcb() const;
    int DcbCount() const;
    uint32_t Mask() const;
    uint32_t InQueueSize() const;
    uint32_t OutQueueSize() const;
    TVaCommTimeouts Timeouts() const;

  private:
    explicit SimPeer(std::shared_ptr<SimState> state);
    std::shared_ptr<SimState> state_;
};

// Used by OpenCommDevice for names starting with "sim:".
std::shared_ptr<CommDevice> OpenSimDevice(const QString& name, int& err);

}  // namespace trelmo::serial::sim
