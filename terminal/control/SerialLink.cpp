#include "terminal/control/SerialLink.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "core/Convert.h"
#include "core/LocaleText.h"
#include "serial/DeviceIdentity.h"
#include "serial/VaComm.h"
#include "terminal/control/ReceivePath.h"

namespace trelmo {
namespace {

using namespace serial;

LineParity lineParityOf(TVaParity parity) {
    switch (parity) {
        case paOdd:
            return LineParity::Odd;
        case paEven:
            return LineParity::Even;
        case paMark:
            return LineParity::Mark;
        case paSpace:
            return LineParity::Space;
        case paNone:
            break;
    }
    return LineParity::None;
}

}  // namespace

SerialLinkController::SerialLinkController(ReceivePath& receive, const LinkStatus& links,
                                           QObject* parent)
    : QObject(parent), receive_(receive), links_(links) {
    Com_Port = new TVaComm(this);
    Com_Port->setObjectName(QStringLiteral("Com_Port"));

    // The port's design settings, fixed for the program's life.
    TVaFlowControl& flow = Com_Port->FlowControl();
    flow.SetOutCtsFlow(false);
    flow.SetOutDsrFlow(false);
    flow.SetControlDtr(dtrDisabled);
    flow.SetControlRts(rtsDisabled);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
    flow.SetDsrSensitivity(false);
    flow.SetTxContinueOnXoff(false);
    Com_Port->SetDeviceName(QStringLiteral("COM%d"));
    Com_Port->SetMonitorEvents({ceError, ceRing, ceRxChar, ceTxEmpty, cePErr, ceEvent1});
    Com_Port->Buffers().SetReadSize(2048);
    Com_Port->SetWritePriority(tpNormal);
    Com_Port->SetDirectWrite(true);

    Com_Port->OnRxChar = [this](TVaComm*, int count) { Com_PortRxChar(count); };
    Com_Port->OnTxEmpty = [this](TVaComm*) { emit lampChanged(Lamp::TxD, false); };
    Com_Port->OnRing = [this](TVaComm*) { emit lampChanged(Lamp::RI, true); };
    Com_Port->OnPErr = [this](TVaComm*) { say(QStringLiteral("Parity Error")); };
    Com_Port->OnDeviceLost = [this](TVaComm*, const QString& message) {
        Com_PortDeviceLost(message);
    };
    Com_Port->OnDataLost = [this](TVaComm*, qint64 count) { Com_PortDataLost(count); };

    closePortHook = [this] { disconnectPort(); };

    reopenTimer_ = new QTimer(this);
    reopenTimer_->setObjectName(QStringLiteral("Timer_reopen"));
    reopenTimer_->setInterval(kReopenIntervalMs);
    connect(reopenTimer_, &QTimer::timeout, this, [this] { tryReopen(); });
}

SerialLinkController::~SerialLinkController() = default;

void SerialLinkController::say(const QString& text) {
    emit notice(Notice{text, QString(), Notice::Icon::None, false});
}

// ---- Settings ---------------------------------------------------------------------------

void SerialLinkController::loadSettings(const QString& comName, const QString& parityName,
                                        int speed, int dataBits, int stopBits) {
    ComName = comName;
    ParityName = parityName;
    Speed = speed;
    DataBits = dataBits;
    StopBits = stopBits;
}

void SerialLinkController::chooseComName(const QString& text) {
    if (PortOpen)
        say(QStringLiteral("Note: You must disconnect and then CONNECT changes to take effect"));
    ComName = text;
}

void SerialLinkController::chooseSpeed(const QString& text) {
    Speed = StrToInt(text);
}

void SerialLinkController::chooseParity(const QString& text) {
    ParityName = text;
}

void SerialLinkController::chooseDataBits(const QString& text) {
    DataBits = StrToInt(text);
}

void SerialLinkController::chooseStopBits(const QString& text) {
    StopBits = StrToInt(text);
}

// ---- Connection -------------------------------------------------------------------------

QString SerialLinkController::closedStatusText() const {
    return ComName + QStringLiteral(" - status: CLOSED");
}

QString SerialLinkController::openStatusText() const {
    return ComName + QStringLiteral(", ") + QString::number(Speed) + QStringLiteral(", ") +
           QString::number(DataBits) + QStringLiteral(", ") + ParityName + QStringLiteral(", ") +
           QString::number(StopBits) + QStringLiteral(" - OPEN");
}

void SerialLinkController::showClosedStatus() {
    emit statusChanged(closedStatusText());
}

void SerialLinkController::toggle(const QString& comText, const QString& speedText) {
    if (links_.listenerClientConnected() || links_.listenerActive() ||
        links_.tcpClientConnected()) {
        receive_.addLine(QStringLiteral("Already active TCP socket, disconnect first!"));
        return;
    }
    if (PortOpen) {
        disconnectPort();
        return;
    }

    const QString device = QStringLiteral("\\\\.\\") + comText;
    Com_Port->SetDeviceName(device);
    int err = 0;
    if (!TVaCustomComm::ProbeDevice(device, &err)) {
        // What really happened follows the usual text: no such device, busy (and who holds
        // it), no permission, or the system's own reason.
        const QString reason = OpenFailureReason(MapDeviceName(device), err, deviceSystem);
        say(QStringLiteral("This COM port is in use by another program!") +
            (reason.isEmpty() ? QString() : QStringLiteral("\n\n") + reason));
        showClosedStatus();
        return;
    }

    Com_Port->SetUserBaudrate(0);
    const TVaBaudrate rate = BaudrateOf(Speed);
    if (rate != brUser) {
        Com_Port->SetBaudrate(rate);
    } else {
        Com_Port->SetBaudrate(brUser);
        Com_Port->SetUserBaudrate(StrToIntDef(speedText, 9600));
    }

    if (ParityName == QLatin1String("None"))
        Com_Port->SetParity(paNone);
    else if (ParityName == QLatin1String("Even"))
        Com_Port->SetParity(paEven);
    else if (ParityName == QLatin1String("Odd"))
        Com_Port->SetParity(paOdd);
    else if (ParityName == QLatin1String("Mark"))
        Com_Port->SetParity(paMark);
    else if (ParityName == QLatin1String("Space"))
        Com_Port->SetParity(paSpace);
    if (StopBits == 1)
        Com_Port->SetStopbits(sb1);
    else if (StopBits == 2)
        Com_Port->SetStopbits(sb2);
    if (DataBits == 7)
        Com_Port->SetDatabits(db7);
    else if (DataBits == 8)
        Com_Port->SetDatabits(db8);

    Com_Port->Open();  // a failure leaves everything as it was; the caller shows the message
    // How to find the device again should it vanish: its stable link, when it has one.
    devicePath_ = MapDeviceName(device);
    byIdLink_ = DeviceIdentity(deviceSystem.byIdFolder).LinkFor(devicePath_);
    emit statusChanged(openStatusText());
    PortOpen = true;
    emit openChanged(true);
}

void SerialLinkController::disconnectPort() {
    if (!PortOpen)
        return;
    if (waiting_) {
        // The device is gone already: only the waiting ends.
        stopWaiting();
        showClosedStatus();
        PortOpen = false;
        emit openChanged(false);
        return;
    }
    Com_Port->ReleaseHandle();
    QThread::msleep(20);
    showClosedStatus();
    PortOpen = false;
    Com_Port->Close();
    emit openChanged(false);
}

void SerialLinkController::closeOnExit() {
    if (closePortHook)
        closePortHook();
}

// ---- Lines, writes and the port's events ----------------------------------------------------

void SerialLinkController::setRtsLine(bool on) {
    if (!PortOpen)
        return;
    Com_Port->SetRts(on);
    emit lampChanged(Lamp::RTS, on);
}

void SerialLinkController::setDtrLine(bool on) {
    if (!PortOpen)
        return;
    Com_Port->SetDtr(on);
    emit lampChanged(Lamp::DTR, on);
}

void SerialLinkController::writeByte(uint8_t byte) {
    Com_Port->WriteChar(byte);
}

void SerialLinkController::writeTelegram(const QByteArray& bytes) {
    Com_Port->WriteText(bytes);
}

void SerialLinkController::Com_PortRxChar(int Count) {
    const LinkPolicy& policy = LinkPolicy::serial();
    const int wanted = std::clamp(Count, 0, policy.maxBlockBytes);
    QByteArray block(wanted, '\0');
    // When the bytes arrived, as the port took them from the device (for the time stamps).
    ArrivalMarks marks;
    const int got = Com_Port->ReadBuf(reinterpret_cast<uint8_t*>(block.data()), wanted, &marks);
    block.truncate(std::clamp(got, 0, wanted));
    std::vector<ArrivalTime> arrivals;
    arrivals.reserve(marks.size());
    for (const ArrivalMark& m : marks)
        arrivals.push_back(ArrivalTime{static_cast<qsizetype>(m.offset), m.ns});
    receive_.showReceived(block, policy, lineParityOf(Com_Port->Parity()), arrivals);
    if (MbusCapture)
        emit captured(block);
}

void SerialLinkController::tryReopen() {
    if (!waiting_) {
        reopenTimer_->stop();
        return;
    }
    // Through the stable link where it leads now, else under the path it had.
    const QString target = byIdLink_.isEmpty() ? devicePath_ : DeviceIdentity::Resolve(byIdLink_);
    if (target.isEmpty())
        return;
    Com_Port->SetDeviceName(QStringLiteral("\\\\.\\") + target);
    if (!Com_Port->TryOpen())
        return;  // not back yet, or not usable yet: the next attempt will tell
    stopWaiting();
    const double seconds = lostClock_.elapsed() / 1000.0;
    receive_.addLine(QStringLiteral("Port %1 reopened at %2 after %3 s")
                         .arg(ComName, longTimeText(now().time()))
                         .arg(seconds, 0, 'f', 1));
    emit statusChanged(openStatusText());
    emit reopened();
}

void SerialLinkController::stopWaiting() {
    waiting_ = false;
    reopenTimer_->stop();
}

void SerialLinkController::Com_PortDataLost(qint64 Count) {
    // A line of its own: it waits for the line being received to end, so the received text
    // stays whole and nothing received afterwards is glued to the report.
    const QString text = Count == 1
                             ? QStringLiteral(
                                   "Receive overrun at %1: 1 byte was lost by the serial port "
                                   "before the program could read it")
                                   .arg(longTimeText(now().time()))
                             : QStringLiteral(
                                   "Receive overrun at %1: %2 bytes were lost by the serial "
                                   "port before the program could read them")
                                   .arg(longTimeText(now().time()))
                                   .arg(Count);
    receive_.addSeparateLine(text);
}

void SerialLinkController::Com_PortDeviceLost(const QString& Message) {
    if (!PortOpen || waiting_) {
        // Not opened by the window (or already disconnected): just let go of the device.
        Com_Port->Close();
        return;
    }
    if (reopen_) {
        // Let go of the device at once (its descriptor included) and wait for it.
        Com_Port->Close();
        waiting_ = true;
        lostClock_.start();
        receive_.addLine(QStringLiteral("Port %1 lost at %2: %3")
                             .arg(ComName, longTimeText(now().time()), Message));
        emit statusChanged(ComName + QStringLiteral(" - WAITING for the device"));
        emit lampChanged(Lamp::TxD, false);
        emit lost();
        reopenTimer_->start();
        return;
    }
    disconnectPort();
    say(QStringLiteral("The serial port %1 is no longer available and has been closed: %2")
            .arg(ComName, Message));
}

}  // namespace trelmo
