#pragma once
// The simulated serial device: an in-process device registered under a name, whose other
// end a test plays. A port reaches it through the device name "sim:NAME" (also typed by a
// user as "sim:NAME"; the "\\.\" prefix the main window adds is dropped by MapDeviceName).
//
// The peer sees what the port wrote and the RTS/DTR levels it set, injects received bytes,
// drives CTS/DSR/DCD and ring, raises line errors, can stall transmission, make the next
// call of one kind fail with an errno code, and pull the device while it is open.

#include <QByteArray>
#include <QString>
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

    // Bytes arriving at the port; false (nothing queued) when the device is not open.
    bool Inject(const QByteArray& bytes);
    // Bytes, event bits and line error flags arriving together (one batch for the port's
    // event wait); false when the device is not open.
    bool Deliver(const QByteArray& bytes, uint32_t evBits, uint32_t ceFlags);
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
