#pragma once
// TVaComm: the serial port component. One object per serial device, configured through
// its properties, opened and closed on demand. Line events reach the handlers (On...) on
// the GUI thread through the event thread (serial/VaCommThreads.h); writes go straight to
// the device (DirectWrite) or through the writer thread. Every failure raises EVaCommError.
//
// Device names: DeviceName is a template formatted with PortNum ("COM%d" + 3 -> "COM3").
// "COMn" and "\\.\COMn" open /dev/ttyS(n-1); "sim:NAME" opens the simulated device NAME
// (serial/SimDevice.h); any other name is a device path, used as given (a "\\.\" prefix is
// dropped).

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>

#include "serial/CommDevice.h"
#include "serial/VaSync.h"
#include "serial/WorkerPort.h"

namespace trelmo::serial {

class TVaComm;
class TVaCommEventThread;
class TVaCommWriteThread;
struct PortAnchor;

// The one exception of the serial layer: a message text and, when a system call failed, its
// errno-style code.
class EVaCommError : public std::runtime_error {
  public:
    explicit EVaCommError(const QString& message, int code = 0);
    QString Message() const { return QString::fromUtf8(what()); }
    // The system's error code behind the failure; 0 when the port itself refused.
    int Code() const { return code_; }

  private:
    int code_;
};

// A small set of enumerators (the component's "set of" types).
template <typename E>
class TVaSet {
  public:
    constexpr TVaSet() = default;
    constexpr TVaSet(std::initializer_list<E> items) {
        for (E e : items)
            bits_ |= Bit(e);
    }
    constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr void Include(E e) { bits_ |= Bit(e); }
    constexpr void Exclude(E e) { bits_ &= ~Bit(e); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool operator==(const TVaSet&) const = default;

  private:
    static constexpr uint32_t Bit(E e) { return 1u << static_cast<unsigned>(e); }
    uint32_t bits_ = 0;
};

enum TVaBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
// The named rate a port is given for `speed` in bit/s: the standard rates from 300 to 115200;
// any other is brUser (the port then takes UserBaudrate).
TVaBaudrate BaudrateOf(int speed);
enum TVaParity { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits { db4, db5, db6, db7, db8 };
enum TVaStopbits { sb1, sb15, sb2 };
enum TVaControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
enum TVaCommOption { coErrorChar, coNullStrip, coParityCheck };
using TVaCommOptions = TVaSet<TVaCommOption>;
enum TVaCommEvent {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
using TVaCommEvents = TVaSet<TVaCommEvent>;

// The rate number of a Baudrate enumerator (0 for brUser).
uint32_t BaudrateValue(TVaBaudrate rate);

// Base of the settings groups: an update counter and a change notification to the owner.
class TVaPersistent {
  public:
    virtual ~TVaPersistent() = default;
    void LockUpdate() { ++updateCount_; }
    void UnlockUpdate();
    void Changed();
    int UpdateCount() const { return updateCount_; }
    // The owner's notification (may throw; the exception leaves the setter).
    std::function<void()> OnChange;
    // Copies another group of the same class (owner notified once); any other class refuses
    // with EVaCommError "Cannot assign a <source> to a <target>".
    virtual void Assign(const TVaPersistent& source);
    virtual const char* ClassName() const { return "TVaPersistent"; }

  private:
    int32_t updateCount_ = 0;
};

class TVaFlowControl : public TVaPersistent {
  public:
    bool OutCtsFlow() const { return outCtsFlow_; }
    bool OutDsrFlow() const { return outDsrFlow_; }
    TVaControlDtr ControlDtr() const { return controlDtr_; }
    TVaControlRts ControlRts() const { return controlRts_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DsrSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    void SetOutCtsFlow(bool v) { Set(outCtsFlow_, v); }
    void SetOutDsrFlow(bool v) { Set(outDsrFlow_, v); }
    void SetControlDtr(TVaControlDtr v) { Set(controlDtr_, v); }
    void SetControlRts(TVaControlRts v) { Set(controlRts_, v); }
    void SetXonXoffOut(bool v) { Set(xonXoffOut_, v); }
    void SetXonXoffIn(bool v) { Set(xonXoffIn_, v); }
    void SetDsrSensitivity(bool v) { Set(dsrSensitivity_, v); }
    void SetTxContinueOnXoff(bool v) { Set(txContinueOnXoff_, v); }
    void Assign(const TVaPersistent& source) override;
    const char* ClassName() const override { return "TVaFlowControl"; }

  private:
    template <typename T>
    void Set(T& field, T value) {
        if (field == value)
            return;
        field = value;
        Changed();
    }
    bool outCtsFlow_ = false;
    bool outDsrFlow_ = false;
    TVaControlDtr controlDtr_ = dtrDisabled;
    TVaControlRts controlRts_ = rtsDisabled;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
};

class TVaEventChars : public TVaPersistent {
  public:
    uint8_t XonChar() const { return chars_[0]; }
    uint8_t XoffChar() const { return chars_[1]; }
    uint8_t ErrorChar() const { return chars_[2]; }
    uint8_t EventChar() const { return chars_[3]; }
    uint8_t EofChar() const { return chars_[4]; }
    // The one setter, index 1..5 = Xon, Xoff, Error, Event, Eof; stores and notifies always.
    void SetChar(int index, uint8_t value);
    void SetXonChar(uint8_t v) { SetChar(1, v); }
    void SetXoffChar(uint8_t v) { SetChar(2, v); }
    void SetErrorChar(uint8_t v) { SetChar(3, v); }
    void SetEventChar(uint8_t v) { SetChar(4, v); }
    void SetEofChar(uint8_t v) { SetChar(5, v); }
    void Assign(const TVaPersistent& source) override;
    const char* ClassName() const override { return "TVaEventChars"; }

  private:
    uint8_t chars_[5] = {17, 19, 0, 0, 0};
};

class TVaBuffers : public TVaPersistent {
  public:
    int ReadSize() const { return readSize_; }
    int WriteSize() const { return writeSize_; }
    int ReadTimeout() const { return readTimeout_; }
    int WriteTimeout() const { return writeTimeout_; }
    int XonLimit() const { return xonLimit_; }
    int XoffLimit() const { return xoffLimit_; }
    // Values are 0..2147483647; a negative value is taken as 0.
    void SetReadSize(int v) { Set(readSize_, v, true); }
    void SetWriteSize(int v) { Set(writeSize_, v, true); }
    void SetReadTimeout(int v) { Set(readTimeout_, v, false); }
    void SetWriteTimeout(int v) { Set(writeTimeout_, v, false); }
    void SetXonLimit(int v) { Set(xonLimit_, v, true); }
    void SetXoffLimit(int v) { Set(xoffLimit_, v, true); }
    void Assign(const TVaPersistent& source) override;
    const char* ClassName() const override { return "TVaBuffers"; }

  private:
    void Set(int& field, int value, bool notify);
    int readSize_ = 4096;
    int writeSize_ = 2048;
    int readTimeout_ = 1000;
    int writeTimeout_ = 1000;
    int xonLimit_ = 1024;
    int xoffLimit_ = 1024;
};

using TVaNotifyEvent = std::function<void(TVaComm* Sender)>;
using TVaCommErrorEvent = std::function<void(TVaComm* Sender, int Errors)>;
using TVaCommRxCharEvent = std::function<void(TVaComm* Sender, int Count)>;
using TVaCommDeviceLostEvent = std::function<void(TVaComm* Sender, const QString& Message)>;
using TVaCommDataLostEvent = std::function<void(TVaComm* Sender, qint64 Count)>;

// All behaviour of the port. Lives on the GUI thread; every handler runs there.
class TVaCustomComm : public QObject, public TVaWorkerPort {
    Q_OBJECT
  public:
    ~TVaCustomComm() override;

    // --- operations (GUI thread) ---
    void Open();
    // Opens as Open does, but a failure raises nothing: false, with the system's code in err
    // (when not null; EISCONN when the port is open already), and the port stays closed
    // holding nothing: no device, no descriptor, no worker. For a caller that retries with
    // the same settings (a vanished device coming back; serial/DeviceIdentity.h), which
    // shows nothing on a failed attempt. OnOpen runs on success, as for Open.
    bool TryOpen(int* err = nullptr);
    void Close();
    bool Active() const { return handle_ != nullptr; }
    // Releases the device early (the main window does so just before Close); Close then
    // stops the threads and marks the port closed without releasing the device again.
    // Reads, writes and status queries behave as on a closed port from here on.
    void ReleaseHandle();
    bool HandleReleased() const { return released_; }

    int WriteBuf(const uint8_t* buffer, int count);
    bool WriteText(const QByteArray& text);
    bool WriteChar(uint8_t ch);
    // Takes at most count received bytes; returns how many (0 while closed or released).
    int ReadBuf(uint8_t* buffer, int count);
    // As ReadBuf, and marks (when not null) receives when the bytes returned arrived: the
    // time the device's bytes were taken from it, not the time of this call. At least one
    // mark, at offset 0, when bytes are returned; none when none are (serial/CommDevice.h,
    // ArrivalMark).
    int ReadBuf(uint8_t* buffer, int count, ArrivalMarks* marks);
    int InQueCount();
    // Error flags and status (zero when closed); raises "Error retrieving statistics".
    // Reading them clears them in the device (so DoRxChar's count of the queued bytes fetches
    // the flags of its batch before DoError can); the port keeps the lost bytes it read
    // (stat.cbLost) for OnDataLost.
    uint32_t ReadComStat(TVaComStat& stat);
    void SetDtr(bool on);
    void SetRts(bool on);

    // Called once the owner has set the stored properties up: opens the port when AutoOpen
    // is set, unless the owner is in design mode.
    void Loaded();
    void SetDesigning(bool designing) { designing_ = designing; }

    // Opens the (mapped) device exclusively and closes it again: false when busy or missing.
    // err (when not null) receives the errno of the failed open, 0 on success; with the
    // mapped name it says why (serial/OpenFailure.h, OpenFailureReason).
    static bool ProbeDevice(const QString& deviceName, int* err = nullptr);
    // The device path after formatting DeviceName with PortNum.
    QString FormattedDeviceName() const;

    // What the port hands to the driver (inspectable).
    TVaDcb BuildDcb() const;
    uint32_t BuildEventMask() const;
    uint32_t OsEventMask() const { return osEventMask_; }
    std::shared_ptr<TVaCommEventThread> EventThread() const { return eventThread_; }
    std::shared_ptr<TVaCommWriteThread> WriteThread() const { return writeThread_; }
    // Worker threads of all ports not joined yet (each is joined once it has ended).
    static int LiveWorkerThreads();

    // --- properties ---
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool v) { autoOpen_ = v; }
    TVaBaudrate Baudrate() const { return baudrate_; }
    void SetBaudrate(TVaBaudrate v);
    TVaParity Parity() const { return parity_; }
    void SetParity(TVaParity v);
    TVaDatabits Databits() const { return databits_; }
    void SetDatabits(TVaDatabits v);
    TVaStopbits Stopbits() const { return stopbits_; }
    void SetStopbits(TVaStopbits v);
    TVaEventChars& EventChars() { return *eventChars_; }
    void SetEventChars(const TVaEventChars& v) { eventChars_->Assign(v); }
    TVaFlowControl& FlowControl() { return *flowControl_; }
    TVaCommOptions Options() const { return options_; }
    void SetOptions(TVaCommOptions v);
    int PortNum() const { return portNum_; }
    void SetPortNum(int v);
    QString DeviceName() const { return deviceName_; }
    void SetDeviceName(const QString& v);
    TVaCommEvents MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TVaCommEvents v);
    TVaBuffers& Buffers() { return *buffers_; }
    void SetBuffers(const TVaBuffers& v);
    TVaThreadPriority EventPriority() const { return eventPriority_; }
    void SetEventPriority(TVaThreadPriority v);
    TVaThreadPriority WritePriority() const { return writePriority_; }
    void SetWritePriority(TVaThreadPriority v);
    bool DirectWrite() const { return directWrite_; }
    void SetDirectWrite(bool v);
    bool UpdateDCB() const { return updateDcb_; }
    void SetUpdateDCB(bool v);
    int UserBaudrate() const { return userBaudrate_; }
    void SetUserBaudrate(int v);

    TVaNotifyEvent OnOpen, OnClose;
    TVaNotifyEvent OnCts, OnDsr, OnRlsd, OnRing, OnBreak, OnRxFlag, OnTxEmpty, OnPErr, OnRx80Full,
        OnEvent1, OnEvent2;
    TVaCommErrorEvent OnError;
    TVaCommRxCharEvent OnRxChar;
    // The device vanished while open (adapter pulled, pty closed). Called on the GUI thread,
    // once per opening, and only while that opening lasts: a report still on its way when the
    // port is closed is dropped, also when the port has been opened again meanwhile. The
    // port stays Active until Close, which the handler may call (or open again after it).
    TVaCommDeviceLostEvent OnDeviceLost;
    // Received bytes were lost below the program (the UART overran, the driver's buffer
    // overflowed; the program itself never discards one). Called on the GUI thread with the
    // number of bytes lost since the previous call, once for each loss, whichever status
    // query fetched it from the device (each received-characters and error event makes one,
    // as do InQueCount and ReadComStat), whether or not ceError is monitored; after OnError
    // when both report the same batch. A peer that closes the line with bytes unread has
    // lost nothing. Devices without error counters (pseudo-terminals) never report a loss.
    TVaCommDataLostEvent OnDataLost;

    // --- dispatch (GUI thread; used by the threads, TVaWorkerPort) ---
    void DoRxChar() override;
    void DoEvents(uint32_t mask) override;
    // Fetches and clears the line error flags, reports them through OnError when there are
    // any, then any lost bytes (DoDataLost); true when there were flags.
    bool DoError();
    // Reports the bytes lost since the previous report through OnDataLost (nothing when
    // none were). Run at the end of each event batch.
    void DoDataLost() override;
    // Reports through OnDeviceLost, once per opening and only while open.
    void DoDeviceLost(const QString& message) override;

  protected:
    explicit TVaCustomComm(QObject* parent = nullptr);
    virtual void CreateHandle();
    virtual void CreateThreads();
    void CheckClosed() const;
    void ApplySettings();
    void SetupQueues();
    void StopThreads();

  private:
    TVaComm* Sender();
    bool IoReady() const { return handle_ && !released_; }
    void CallNotify(const TVaNotifyEvent& handler);
    void ResetPendingReports();

    std::shared_ptr<CommDevice> handle_;
    bool released_ = false;
    bool destroying_ = false;
    bool designing_ = false;
    bool lostReported_ = false;
    // Lost bytes fetched from the device by any status query, not yet reported (under
    // readLock_).
    uint64_t pendingLost_ = 0;
    std::shared_ptr<TVaCriticalSection> writeLock_;
    TVaCriticalSection readLock_;
    TVaWaitEvent ioEvent_;
    std::shared_ptr<TVaCommEventThread> eventThread_;
    std::shared_ptr<TVaCommWriteThread> writeThread_;
    std::shared_ptr<PortAnchor> anchor_;
    uint32_t osEventMask_ = 0;

    bool autoOpen_ = false;
    TVaBaudrate baudrate_ = br1200;
    TVaParity parity_ = paNone;
    TVaDatabits databits_ = db8;
    TVaStopbits stopbits_ = sb1;
    std::unique_ptr<TVaEventChars> eventChars_;
    std::unique_ptr<TVaFlowControl> flowControl_;
    TVaCommOptions options_;
    int portNum_ = 0;
    QString deviceName_ = QStringLiteral("COM%d");
    TVaCommEvents monitorEvents_{ceError, ceRxChar, ceTxEmpty};
    std::unique_ptr<TVaBuffers> buffers_;
    TVaThreadPriority eventPriority_ = tpNormal;
    TVaThreadPriority writePriority_ = tpHighest;
    bool directWrite_ = false;
    bool updateDcb_ = true;
    int userBaudrate_ = 0;
};

// Publishes the properties; no behaviour of its own.
class TVaComm : public TVaCustomComm {
    Q_OBJECT
  public:
    explicit TVaComm(QObject* parent = nullptr) : TVaCustomComm(parent) {}
};

}  // namespace trelmo::serial
