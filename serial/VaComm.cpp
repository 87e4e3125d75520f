#include "serial/VaComm.h"

#include <cerrno>
#include <limits>

#include "core/Guard.h"
#include "serial/DeviceFactory.h"
#include "serial/VaCommThreads.h"

namespace trelmo::serial {

TVaBaudrate BaudrateOf(int speed) {
    switch (speed) {
        case 300:
            return br300;
        case 600:
            return br600;
        case 1200:
            return br1200;
        case 2400:
            return br2400;
        case 4800:
            return br4800;
        case 9600:
            return br9600;
        case 19200:
            return br19200;
        case 38400:
            return br38400;
        case 57600:
            return br57600;
        case 115200:
            return br115200;
        default:
            return brUser;
    }
}

namespace {

// The one funnel for platform failures: a message with "(%d), %s" gets the error code and
// the system's text for it.
[[noreturn]] void RaiseCode(const char* format, int code) {
    QString text = QString::fromLatin1(format);
    text.replace(text.indexOf(QStringLiteral("%d")), 2, QString::number(code));
    text.replace(text.indexOf(QStringLiteral("%s")), 2, CommErrorText(code));
    throw EVaCommError(text, code);
}

[[noreturn]] void Raise(const char* text) {
    throw EVaCommError(QString::fromLatin1(text));
}

const char* const kWhileOpen = "Can't perform this operation while port is open";

}  // namespace

EVaCommError::EVaCommError(const QString& message, int code)
    : std::runtime_error(message.toStdString()), code_(code) {}

uint32_t BaudrateValue(TVaBaudrate rate) {
    static const uint32_t values[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                      14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return values[rate];
}

// --- settings groups ---

void TVaPersistent::UnlockUpdate() {
    if (updateCount_ > 0)
        --updateCount_;
    Changed();
}

void TVaPersistent::Changed() {
    if (updateCount_ == 0 && OnChange)
        OnChange();
}

void TVaPersistent::Assign(const TVaPersistent& source) {
    throw EVaCommError(
        QStringLiteral("Cannot assign a %1 to a %2")
            .arg(QString::fromLatin1(source.ClassName()), QString::fromLatin1(ClassName())));
}

namespace {
// Copies inside one LockUpdate/UnlockUpdate bracket, so the owner hears of it once.
template <typename G, typename F>
void AssignGroup(G& target, const TVaPersistent& source, F copy) {
    const G* same = dynamic_cast<const G*>(&source);
    if (!same) {
        target.TVaPersistent::Assign(source);
        return;
    }
    target.LockUpdate();
    try {
        copy(*same);
    } catch (...) {
        target.UnlockUpdate();
        throw;
    }
    target.UnlockUpdate();
}
}  // namespace

void TVaFlowControl::Assign(const TVaPersistent& source) {
    AssignGroup(*this, source, [this](const TVaFlowControl& s) {
        SetOutCtsFlow(s.OutCtsFlow());
        SetOutDsrFlow(s.OutDsrFlow());
        SetControlDtr(s.ControlDtr());
        SetControlRts(s.ControlRts());
        SetXonXoffOut(s.XonXoffOut());
        SetXonXoffIn(s.XonXoffIn());
        SetDsrSensitivity(s.DsrSensitivity());
        SetTxContinueOnXoff(s.TxContinueOnXoff());
    });
}

void TVaEventChars::SetChar(int index, uint8_t value) {
    if (index < 1 || index > 5)
        return;
    chars_[index - 1] = value;
    Changed();
}

void TVaEventChars::Assign(const TVaPersistent& source) {
    AssignGroup(*this, source, [this](const TVaEventChars& s) {
        for (int i = 1; i <= 5; ++i)
            SetChar(i, s.chars_[i - 1]);
    });
}

void TVaBuffers::Set(int& field, int value, bool notify) {
    if (value < 0)
        value = 0;
    if (field == value)
        return;
    field = value;
    if (notify)
        Changed();
}

void TVaBuffers::Assign(const TVaPersistent& source) {
    AssignGroup(*this, source, [this](const TVaBuffers& s) {
        SetReadSize(s.ReadSize());
        SetWriteSize(s.WriteSize());
        SetReadTimeout(s.ReadTimeout());
        SetWriteTimeout(s.WriteTimeout());
        SetXonLimit(s.XonLimit());
        SetXoffLimit(s.XoffLimit());
    });
}

// --- the port ---

TVaCustomComm::TVaCustomComm(QObject* parent)
    : QObject(parent),
      writeLock_(std::make_shared<TVaCriticalSection>()),
      anchor_(std::make_shared<PortAnchor>()),
      eventChars_(std::make_unique<TVaEventChars>()),
      flowControl_(std::make_unique<TVaFlowControl>()),
      buffers_(std::make_unique<TVaBuffers>()) {
    anchor_->port = this;
    RegisterGuiThread();
    eventChars_->OnChange = [this] { ApplySettings(); };
    flowControl_->OnChange = [this] { ApplySettings(); };
    buffers_->OnChange = [this] {
        CheckClosed();
        SetupQueues();
        ApplySettings();
    };
}

TVaCustomComm::~TVaCustomComm() {
    destroying_ = true;
    try {
        Close();
    } catch (...) {
        // Nothing can be reported from a destructor.
    }
    anchor_->port = nullptr;
    // Close woke the workers; with their hand-overs withdrawn none of them can wait for
    // this thread any more, so they are joined here (serial/VaCommThreads.h).
    JoinWorkersOf(anchor_.get());
}

TVaComm* TVaCustomComm::Sender() {
    return static_cast<TVaComm*>(this);
}

int TVaCustomComm::LiveWorkerThreads() {
    return TVaWorker::Live();
}

void TVaCustomComm::CheckClosed() const {
    if (Active())
        Raise(kWhileOpen);
}

QString TVaCustomComm::FormattedDeviceName() const {
    QString path = deviceName_;
    const int at = path.indexOf(QStringLiteral("%d"));
    if (at >= 0)
        path.replace(at, 2, QString::number(portNum_));
    return path;
}

void TVaCustomComm::CreateHandle() {
    const QString path = FormattedDeviceName();
    int err = 0;
    handle_ = OpenCommDevice(MapDeviceName(path), err);
    released_ = false;
    if (handle_)
        return;
    if (err == ENOENT)
        throw EVaCommError(QStringLiteral("Specified device not found (%1).").arg(path), err);
    throw EVaCommError(QStringLiteral("Can't open specified device %1 (Error %2, %3)")
                           .arg(path)
                           .arg(err)
                           .arg(CommErrorText(err)),
                       err);
}

void TVaCustomComm::Open() {
    CheckClosed();
    ReapFinishedWorkers();
    CreateHandle();
    try {
        ApplySettings();
        SetupQueues();
        TVaCommTimeouts timeouts;
        timeouts.ReadIntervalTimeout = 0xFFFFFFFF;
        if (int e = handle_->SetTimeouts(timeouts))
            RaiseCode("Error setting timeouts (%d), %s", e);
        osEventMask_ = BuildEventMask();
        if (int e = handle_->SetMask(osEventMask_)) {
            RaiseCode(" Error setting EventMask (%d), %s", e);
        }
        lostReported_ = false;
        ResetPendingReports();
        CreateThreads();
    } catch (...) {
        StopThreads();
        handle_->Close();
        handle_.reset();
        throw;
    }
    if (OnOpen)
        runGuarded([&] { OnOpen(Sender()); });
}

bool TVaCustomComm::TryOpen(int* err) {
    int code = 0;
    if (Active()) {
        code = EISCONN;
    } else {
        try {
            Open();
        } catch (const EVaCommError& e) {
            // Open released whatever it had taken before it raised.
            code = e.Code() ? e.Code() : EIO;
        }
    }
    if (err)
        *err = code;
    return code == 0;
}

void TVaCustomComm::CreateThreads() {
    if (osEventMask_ != 0) {
        eventThread_ = TVaCommEventThread::Create(anchor_, handle_);
        eventThread_->SetPriority(eventPriority_);
        eventThread_->Start();
    }
    if (!directWrite_) {
        writeThread_ = TVaCommWriteThread::Create(anchor_, handle_, writeLock_,
                                                  static_cast<size_t>(buffers_->WriteSize()));
        writeThread_->SetPriority(writePriority_);
        writeThread_->Start();
    }
}

// The stopped workers end on their own and are joined later (serial/VaCommThreads.h).
void TVaCustomComm::StopThreads() {
    if (eventThread_)
        eventThread_->Terminate();
    if (writeThread_)
        writeThread_->Terminate();
    eventThread_.reset();
    writeThread_.reset();
}

void TVaCustomComm::Close() {
    if (!Active())
        return;
    readLock_.Enter();
    try {
        StopThreads();
    } catch (...) {
        readLock_.Leave();
        throw;
    }
    readLock_.Leave();
    // A device released early by ReleaseHandle is not released a second time.
    if (!released_)
        handle_->Close();
    handle_.reset();
    released_ = false;
    ResetPendingReports();
    if (!destroying_ && OnClose)
        OnClose(Sender());
}

void TVaCustomComm::ReleaseHandle() {
    if (!Active() || released_)
        return;
    released_ = true;
    handle_->Close();
}

bool TVaCustomComm::ProbeDevice(const QString& deviceName, int* err) {
    int code = 0;
    auto device = OpenCommDevice(MapDeviceName(deviceName), code);
    if (err)
        *err = device ? 0 : code;
    if (!device)
        return false;
    device->Close();
    return true;
}

void TVaCustomComm::Loaded() {
    if (autoOpen_ && !designing_)
        Open();
}

TVaDcb TVaCustomComm::BuildDcb() const {
    TVaDcb dcb;
    dcb.BaudRate =
        baudrate_ == brUser ? static_cast<uint32_t>(userBaudrate_) : BaudrateValue(baudrate_);
    dcb.ByteSize = static_cast<uint8_t>(4 + databits_);
    dcb.Parity = static_cast<uint8_t>(parity_);
    dcb.StopBits = static_cast<uint8_t>(stopbits_);
    dcb.XonLim = static_cast<uint16_t>(buffers_->XonLimit() & 0xFFFF);
    dcb.XoffLim = static_cast<uint16_t>(buffers_->XoffLimit() & 0xFFFF);
    dcb.XonChar = eventChars_->XonChar();
    dcb.XoffChar = eventChars_->XoffChar();
    dcb.ErrorChar = eventChars_->ErrorChar();
    dcb.EofChar = eventChars_->EofChar();
    dcb.EvtChar = eventChars_->EventChar();
    uint32_t f = fBinary;
    const TVaFlowControl& fc = *flowControl_;
    if (options_.Contains(coParityCheck))
        f |= fParity;
    if (fc.OutCtsFlow())
        f |= fOutxCtsFlow;
    if (fc.OutDsrFlow())
        f |= fOutxDsrFlow;
    f |= static_cast<uint32_t>(fc.ControlDtr()) << 4;
    if (fc.DsrSensitivity())
        f |= fDsrSensitivity;
    if (fc.TxContinueOnXoff())
        f |= fTXContinueOnXoff;
    if (fc.XonXoffOut())
        f |= fOutX;
    if (fc.XonXoffIn())
        f |= fInX;
    if (options_.Contains(coErrorChar))
        f |= fErrorChar;
    if (options_.Contains(coNullStrip))
        f |= fNull;
    f |= static_cast<uint32_t>(fc.ControlRts()) << 12;
    dcb.Flags = f;
    return dcb;
}

uint32_t TVaCustomComm::BuildEventMask() const {
    static const struct {
        TVaCommEvent event;
        uint32_t bit;
    } table[] = {{ceBreak, EV_BREAK},   {ceCts, EV_CTS},           {ceDsr, EV_DSR},
                 {ceError, EV_ERR},     {ceRing, EV_RING},         {ceRlsd, EV_RLSD},
                 {ceRxChar, EV_RXCHAR}, {ceTxEmpty, EV_TXEMPTY},   {ceRxFlag, EV_RXFLAG},
                 {cePErr, EV_PERR},     {ceRx80Full, EV_RX80FULL}, {ceEvent1, EV_EVENT1},
                 {ceEvent2, EV_EVENT2}};
    uint32_t mask = 0;
    for (const auto& e : table) {
        if (monitorEvents_.Contains(e.event))
            mask |= e.bit;
    }
    // The writer thread reports transmit-empty itself.
    if (!directWrite_)
        mask &= ~EV_TXEMPTY;
    return mask;
}

void TVaCustomComm::ApplySettings() {
    if (!IoReady() || !updateDcb_)
        return;
    if (int e = handle_->SetState(BuildDcb()))
        RaiseCode("Error writing dcb (%d), %s", e);
}

void TVaCustomComm::SetupQueues() {
    if (!IoReady())
        return;
    if (int e = handle_->Setup(static_cast<uint32_t>(buffers_->ReadSize()),
                               static_cast<uint32_t>(buffers_->WriteSize()))) {
        RaiseCode("Error initializing buffers (%d), %s", e);
    }
}

// --- I/O ---

int TVaCustomComm::WriteBuf(const uint8_t* buffer, int count) {
    if (!Active() || count <= 0)
        return 0;
    if (!directWrite_) {
        if (!writeThread_ ||
            !writeThread_->Queue(buffer, static_cast<size_t>(count),
                                 static_cast<size_t>(buffers_->WriteSize()),
                                 static_cast<uint32_t>(buffers_->WriteTimeout()))) {
            Raise("Output buffer is full. Please check comm status.");
        }
        return count;
    }
    if (released_)
        return 0;
    std::lock_guard lock(*writeLock_);
    size_t written = 0;
    const int e =
        handle_->Write(buffer, static_cast<size_t>(count), written, buffers_->ReadTimeout());
    if (e != 0 && e != ETIMEDOUT)
        RaiseCode("Write error (%d), %s", e);
    // On time-out the bytes the device took are reported, not hidden.
    return static_cast<int>(written);
}

bool TVaCustomComm::WriteText(const QByteArray& text) {
    return WriteBuf(reinterpret_cast<const uint8_t*>(text.constData()),
                    static_cast<int>(text.size())) == text.size();
}

bool TVaCustomComm::WriteChar(uint8_t ch) {
    return WriteBuf(&ch, 1) == 1;
}

int TVaCustomComm::ReadBuf(uint8_t* buffer, int count) {
    return ReadBuf(buffer, count, nullptr);
}

int TVaCustomComm::ReadBuf(uint8_t* buffer, int count, ArrivalMarks* marks) {
    if (marks)
        marks->clear();
    if (!IoReady() || count <= 0)
        return 0;
    std::lock_guard lock(readLock_);
    size_t got = 0;
    if (int e = handle_->Read(buffer, static_cast<size_t>(count), got, marks)) {
        RaiseCode("Read error (%d), %s", e);
    }
    return static_cast<int>(got);
}

uint32_t TVaCustomComm::ReadComStat(TVaComStat& stat) {
    std::lock_guard lock(readLock_);
    uint32_t errors = 0;
    stat = TVaComStat{};
    if (!IoReady())
        return 0;
    if (int e = handle_->ClearError(errors, stat)) {
        RaiseCode("Error retrieving statistics (%d), %s", e);
    }
    // The lost count is cleared in the device by this query, whoever made it: the port keeps
    // it for OnDataLost. (The flags go to the caller only, as the device reports them.)
    pendingLost_ += stat.cbLost;
    return errors;
}

void TVaCustomComm::ResetPendingReports() {
    std::lock_guard lock(readLock_);
    pendingLost_ = 0;
}

int TVaCustomComm::InQueCount() {
    if (!Active())
        return 0;
    TVaComStat stat;
    ReadComStat(stat);
    return static_cast<int>(stat.cbInQue);
}

void TVaCustomComm::SetDtr(bool on) {
    if (flowControl_->ControlDtr() == dtrHandshake) {
        Raise("DTR line updates not allowed when flowcontrol is set to Handshake.");
    }
    if (!IoReady())
        return;
    if (int e = handle_->Escape(on ? SETDTR : CLRDTR)) {
        RaiseCode("Error calling comm function (%d), %s", e);
    }
}

void TVaCustomComm::SetRts(bool on) {
    const TVaControlRts rts = flowControl_->ControlRts();
    if (rts == rtsHandshake || rts == rtsToggle) {
        Raise("RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    }
    if (!IoReady())
        return;
    if (int e = handle_->Escape(on ? SETRTS : CLRRTS)) {
        RaiseCode("Error calling comm function (%d), %s", e);
    }
}

// --- dispatch ---

void TVaCustomComm::CallNotify(const TVaNotifyEvent& handler) {
    if (handler)
        handler(Sender());
}

void TVaCustomComm::DoRxChar() {
    const int count = InQueCount();
    if (count <= 0)
        return;
    if (OnRxChar)
        OnRxChar(Sender(), count);
}

void TVaCustomComm::DoEvents(uint32_t mask) {
    if (mask & EV_ERR)
        DoError();
    if (mask & EV_RXFLAG)
        CallNotify(OnRxFlag);
    if (mask & EV_CTS)
        CallNotify(OnCts);
    if (mask & EV_DSR)
        CallNotify(OnDsr);
    if (mask & EV_RING)
        CallNotify(OnRing);
    if (mask & EV_RLSD)
        CallNotify(OnRlsd);
    if (mask & EV_TXEMPTY)
        CallNotify(OnTxEmpty);
    if (mask & EV_BREAK)
        CallNotify(OnBreak);
    if (mask & EV_PERR)
        CallNotify(OnPErr);
    if (mask & EV_RX80FULL)
        CallNotify(OnRx80Full);
    if (mask & EV_EVENT1)
        CallNotify(OnEvent1);
    if (mask & EV_EVENT2)
        CallNotify(OnEvent2);
    DoDataLost();
}

bool TVaCustomComm::DoError() {
    TVaComStat stat;
    const uint32_t errors = ReadComStat(stat);
    if (errors != 0 && OnError) {
        runGuarded([&] { OnError(Sender(), static_cast<int>(errors)); });
    }
    DoDataLost();
    return errors != 0;
}

void TVaCustomComm::DoDataLost() {
    uint64_t lost;
    {
        std::lock_guard lock(readLock_);
        lost = pendingLost_;
        pendingLost_ = 0;
    }
    if (lost == 0 || !OnDataLost)
        return;
    const qint64 count = lost > static_cast<uint64_t>(std::numeric_limits<qint64>::max())
                             ? std::numeric_limits<qint64>::max()
                             : static_cast<qint64>(lost);
    runGuarded([&] { OnDataLost(Sender(), count); });
}

void TVaCustomComm::DoDeviceLost(const QString& message) {
    if (!Active() || lostReported_)
        return;
    lostReported_ = true;
    // A copy: the handler may close, reopen or even destroy the port.
    const TVaCommDeviceLostEvent handler = OnDeviceLost;
    if (handler)
        handler(Sender(), message);
}

// --- property setters ---

void TVaCustomComm::SetBaudrate(TVaBaudrate v) {
    if (v == baudrate_)
        return;
    baudrate_ = v;
    if (v != brUser)
        userBaudrate_ = 0;
    ApplySettings();
}

void TVaCustomComm::SetUserBaudrate(int v) {
    if (v == userBaudrate_)
        return;
    userBaudrate_ = v;
    baudrate_ = brUser;
    ApplySettings();
}

void TVaCustomComm::SetParity(TVaParity v) {
    if (v == parity_)
        return;
    parity_ = v;
    ApplySettings();
}

void TVaCustomComm::SetDatabits(TVaDatabits v) {
    if (v == databits_)
        return;
    databits_ = v;
    ApplySettings();
}

void TVaCustomComm::SetStopbits(TVaStopbits v) {
    if (v == stopbits_)
        return;
    stopbits_ = v;
    ApplySettings();
}

void TVaCustomComm::SetOptions(TVaCommOptions v) {
    if (v == options_)
        return;
    options_ = v;
    ApplySettings();
}

void TVaCustomComm::SetPortNum(int v) {
    CheckClosed();
    portNum_ = v;
}

void TVaCustomComm::SetDeviceName(const QString& v) {
    CheckClosed();
    deviceName_ = v;
}

void TVaCustomComm::SetMonitorEvents(TVaCommEvents v) {
    CheckClosed();
    monitorEvents_ = v;
}

void TVaCustomComm::SetBuffers(const TVaBuffers& v) {
    CheckClosed();
    buffers_->Assign(v);
}

void TVaCustomComm::SetDirectWrite(bool v) {
    CheckClosed();
    directWrite_ = v;
}

void TVaCustomComm::SetUpdateDCB(bool v) {
    CheckClosed();
    updateDcb_ = v;
}

void TVaCustomComm::SetEventPriority(TVaThreadPriority v) {
    if (v == eventPriority_)
        return;
    eventPriority_ = v;
    if (eventThread_)
        eventThread_->SetPriority(v);
}

void TVaCustomComm::SetWritePriority(TVaThreadPriority v) {
    if (v == writePriority_)
        return;
    writePriority_ = v;
    if (writeThread_)
        writeThread_->SetPriority(v);
}

}  // namespace trelmo::serial
