#pragma once
// The platform layer beneath TVaComm: one opened serial device with the contract of the
// Win32 communications calls the port uses (apply a device control block, queue sizes,
// time-outs, event mask, a comm-event wait that can be woken, clear-and-read error flags,
// escape functions for RTS/DTR, read, write, cancel, close).
//
// Every operation returns 0 on success or an errno-style code; CommErrorText(code) gives
// the system's message text for it. Two backends implement it: a POSIX terminal device
// (serial/PosixDevice.h) and the simulated device a test plays (serial/SimDevice.h);
// serial/DeviceFactory.h picks one by the device name. Port names "COMn" and "\\.\COMn"
// map to /dev/ttyS(n-1); the "\\.\" prefix is dropped from any other name (MapDeviceName).
//
// Received bytes are drained by the backend into a ring buffer of its own (at least 1 MiB
// and never smaller than the receive queue size), so the queue count is that buffer's fill.
// No byte is ever discarded on the way: when the buffer is full the backend stops taking
// bytes from the device until Read has made room again, and the kernel and, through it, the
// far end wait (a pseudo-terminal writer blocks, a USB adapter is held off, a simulated
// peer's Inject waits). Bytes lost below the program (the UART overran, the driver's buffer
// overflowed) are counted: ClearError returns the count since its previous call as cbLost
// together with the line error flags they raised.
//
// Beside the bytes the buffer keeps when they arrived: the time is taken where the bytes
// are taken from the device (by the POSIX backend's drain thread right after each read(),
// by the simulated device when its peer delivers them), once per such chunk, never per byte.
// Read hands the times of the bytes it returns (ArrivalMarks), however late it runs.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace trelmo::serial {

// Event bits (as Win32 numbers them).
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_PERR = 0x0200;
inline constexpr uint32_t EV_RX80FULL = 0x0400;
inline constexpr uint32_t EV_EVENT1 = 0x0800;
inline constexpr uint32_t EV_EVENT2 = 0x1000;

// Line error flags returned by ClearError (as Win32 numbers them).
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;

// Escape function codes.
inline constexpr int SETRTS = 3;
inline constexpr int CLRRTS = 4;
inline constexpr int SETDTR = 5;
inline constexpr int CLRDTR = 6;

// Device control block flag bits.
inline constexpr uint32_t fBinary = 0x0001;
inline constexpr uint32_t fParity = 0x0002;
inline constexpr uint32_t fOutxCtsFlow = 0x0004;
inline constexpr uint32_t fOutxDsrFlow = 0x0008;
inline constexpr uint32_t fDtrControlMask = 0x0030;
inline constexpr uint32_t fDsrSensitivity = 0x0040;
inline constexpr uint32_t fTXContinueOnXoff = 0x0080;
inline constexpr uint32_t fOutX = 0x0100;
inline constexpr uint32_t fInX = 0x0200;
inline constexpr uint32_t fErrorChar = 0x0400;
inline constexpr uint32_t fNull = 0x0800;
inline constexpr uint32_t fRtsControlMask = 0x3000;

// The device control block; fields not named by the port stay zero.
struct TVaDcb {
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    uint8_t XonChar = 0;
    uint8_t XoffChar = 0;
    uint8_t ErrorChar = 0;
    uint8_t EofChar = 0;
    uint8_t EvtChar = 0;
    bool operator==(const TVaDcb&) const = default;
};

// What applying a control block does to the DTR and RTS lines of an open device. A device
// comes out of its opening with the lines as the driver left them (open() raises both on
// Linux), so the first block after opening sets both; after that a line is set only when its
// own control field (fDtrControl, fRtsControl) changed, so that a change of rate, parity,
// data or stop bits, options or the other flow control fields keeps the levels SetDtr and
// SetRts gave. Each backend keeps one per opened device.
class ModemLineControl {
  public:
    // The level to give each line, or none to leave it: DTR is high for dtrEnabled and
    // dtrHandshake; RTS high for rtsEnabled, low for rtsDisabled and rtsToggle (low while
    // idle), left to the driver's flow control for rtsHandshake.
    struct Levels {
        std::optional<bool> dtr;
        std::optional<bool> rts;
    };
    Levels For(const TVaDcb& dcb) const;
    // Records a block the device took; For then compares with it.
    void Applied(const TVaDcb& dcb);

  private:
    bool applied_ = false;
    uint32_t dtrControl_ = 0;
    uint32_t rtsControl_ = 0;
};

struct TVaCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Communications status: bytes in the receive and transmit queues, and bytes known lost
// below the program since the previous ClearError (each UART overrun counts as one byte, as
// it loses at least one; bytes the driver's buffer dropped count each). A device that keeps
// no such counters (a pseudo-terminal) always reports 0.
struct TVaComStat {
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;
    uint64_t cbLost = 0;
};

// When a chunk of received bytes arrived: offset is the chunk's first byte within the block
// a read returned, ns the time on std::chrono::steady_clock (nanoseconds since its epoch;
// ArrivalClockNs). A block's marks are in offset order and the first has offset 0; each byte
// arrived at the time of the last mark at or before it. A byte's time is never later than
// its arrival: when a great many chunks wait unread, neighbouring ones share the earliest
// of their times (see QueuedDevice::kMaxMarks).
struct ArrivalMark {
    size_t offset = 0;
    int64_t ns = 0;
    bool operator==(const ArrivalMark&) const = default;
};
using ArrivalMarks = std::vector<ArrivalMark>;

// Now on the clock of arrival times.
int64_t ArrivalClockNs();

// Returned by WaitEvent when WakeWait ended the wait.
inline constexpr int kWaitWoken = -1;

class CommDevice {
  public:
    virtual ~CommDevice() = default;

    virtual int SetState(const TVaDcb& dcb) = 0;
    virtual int Setup(uint32_t inQueue, uint32_t outQueue) = 0;
    virtual int SetTimeouts(const TVaCommTimeouts& timeouts) = 0;
    virtual int SetMask(uint32_t mask) = 0;
    // Blocks until a selected event happens (0, mask receives the bits), WakeWait is called
    // (kWaitWoken) or the device fails (an errno code; Lost() then tells a vanished device).
    virtual int WaitEvent(uint32_t& mask) = 0;
    virtual void WakeWait() = 0;
    // Returns and clears the line error flags and the lost-byte count; stat gets the queue
    // counts and that count (cbLost).
    virtual int ClearError(uint32_t& errors, TVaComStat& stat) = 0;
    virtual int Escape(int function) = 0;
    // Takes at most count queued bytes; never waits. Bytes left queued raise another
    // received-characters event (the event is level-triggered); the room a read makes lets
    // a device that was held back by a full buffer deliver again. marks (may be null)
    // receives the arrival times of the bytes taken, at least one mark when got > 0 and
    // none when got is 0.
    virtual int Read(uint8_t* buffer, size_t count, size_t& got, ArrivalMarks* marks) = 0;
    // Writes all bytes, waiting at most timeoutMs (negative: no limit). On time-out returns
    // ETIMEDOUT, after CancelIo ECANCELED; written holds what the device took either way.
    // The caller's buffer is never used after Write returns.
    virtual int Write(const uint8_t* data, size_t count, size_t& written, int timeoutMs) = 0;
    // Ends a Write blocked in another thread with ECANCELED; when none is blocked, the next
    // Write ends so (a cancel is never lost to a Write that was just starting).
    virtual void CancelIo() = 0;
    // Releases the device; further calls return EBADF. Safe to call more than once.
    virtual void Close() = 0;
    // True once the device vanished while open; code receives the error that showed it.
    virtual bool Lost(int* code = nullptr) const = 0;
};

// "COMn"/"\\.\COMn" -> /dev/ttyS(n-1); otherwise the name without a "\\.\" prefix.
QString MapDeviceName(const QString& name);

// The system's message text for an errno-style code.
QString CommErrorText(int code);

}  // namespace trelmo::serial
