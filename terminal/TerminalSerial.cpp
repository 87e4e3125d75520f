// The serial connection of the main window: the port's fixed settings, connect and
// disconnect, the settings boxes, the RTS/DTR boxes and the port's line events.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QThread>
#include <QToolButton>

#include "core/Convert.h"
#include "core/Guard.h"
#include "core/LocaleText.h"
#include "links/WinSocket.h"
#include "serial/VaComm.h"
#include "terminal/Terminal.h"
#include "terminal/TerminalInput.h"
#include "widgets/Dialogs.h"
#include "widgets/dsLeds.h"

namespace {

using namespace trelmo::serial;

TVaBaudrate baudrateOf(int speed) {
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

// Runs a combo box's change handler for a user's edit or choice (not for text set by code,
// such as the settings load).
template <typename F>
void onUserChange(QComboBox* box, QObject* context, F handler) {
    auto wrapped = trelmo::guarded(handler);
    QObject::connect(box->lineEdit(), &QLineEdit::textEdited, context, wrapped);
    QObject::connect(box, &QComboBox::activated, context, wrapped);
}

}  // namespace

void TForm1::connectSerialHandlers() {
    using trelmo::guarded;

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
    Com_Port->OnRxChar = [this](TVaComm* sender, int count) { Com_PortRxChar(sender, count); };
    Com_Port->OnTxEmpty = [this](TVaComm* sender) { Com_PortTxEmpty(sender); };
    Com_Port->OnRing = [this](TVaComm* sender) { Com_PortRing(sender); };
    Com_Port->OnPErr = [this](TVaComm* sender) { Com_PortPErr(sender); };
    Com_Port->OnDeviceLost = [this](TVaComm* sender, const QString& message) {
        Com_PortDeviceLost(sender, message);
    };
    Com_Port->OnDataLost = [this](TVaComm* sender, qint64 count) {
        Com_PortDataLost(sender, count);
    };
    closePortHook = [this] { DisconnectSerial(); };
    // Whether this user may open a device: 0, or the reason (errno) why not.
    deviceAccess = [](const QString& path) {
        return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0 ? 0 : errno;
    };

    // The key rule of Combo_speed holds for whatever is typed or pasted, whatever the box
    // holds already (a loaded "fast" does not let letters in); a paste of a number and Enter
    // keep working.
    trelmo::applyInputRules(Combo_speed->lineEdit(), 7, [](QChar& c) {
        char16_t key = c.unicode();
        Combo_speedKeyPress(key);
        c = QChar(key);
    });

    connect(BitBtn2, &QToolButton::clicked, this, guarded([this] { BitBtn2Click(); }));
    connect(Connecttoserial1, &QAction::triggered, this, guarded([this] { BitBtn2Click(); }));
    onUserChange(Combo_com, this, [this] { Combo_comChange(); });
    onUserChange(Combo_speed, this, [this] { Combo_speedChange(); });
    onUserChange(Combo_parity, this, [this] { Combo_parityChange(); });
    onUserChange(Combo_databits, this, [this] { Combo_databitsChange(); });
    onUserChange(Combo_stopbit, this, [this] { Combo_stopbitChange(); });
    connect(CheckBox1, &QCheckBox::toggled, this, guarded([this] { CheckBox1Click(); }));
    connect(CheckBox2, &QCheckBox::toggled, this, guarded([this] { CheckBox2Click(); }));
}

QString TForm1::OpenStatusText() const {
    return ComName + QStringLiteral(", ") + QString::number(Speed) + QStringLiteral(", ") +
           QString::number(DataBits) + QStringLiteral(", ") + ParityName + QStringLiteral(", ") +
           QString::number(StopBits) + QStringLiteral(" - OPEN");
}

void TForm1::BitBtn2Click() {
    if (ListenerClientConnected || Socket1->Active() || TcpConnected) {
        AddPaneLine(QStringLiteral("Already active TCP socket, disconnect first!"));
        return;
    }
    if (PortOpen) {
        DisconnectSerial();
        return;
    }

    const QString device = QStringLiteral("\\\\.\\") + Combo_com->currentText();
    Com_Port->SetDeviceName(device);
    if (!TVaCustomComm::ProbeDevice(device)) {
        trelmo::showMessage(QStringLiteral("This COM port is in use by another program!") +
                            refusalReason(MapDeviceName(device)));
        ShowClosedStatus();
        return;
    }

    Com_Port->SetUserBaudrate(0);
    const TVaBaudrate rate = baudrateOf(Speed);
    if (rate != brUser) {
        Com_Port->SetBaudrate(rate);
    } else {
        Com_Port->SetBaudrate(brUser);
        Com_Port->SetUserBaudrate(trelmo::StrToIntDef(Combo_speed->currentText(), 9600));
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

    Com_Port->Open();  // a failure leaves the window as it was; the message is shown by the caller
    const QString status = OpenStatusText();
    Label_com_status->setText(status);
    StatusBar1Panel0->setText(status);
    PortOpen = true;
    for (QWidget* w : {static_cast<QWidget*>(Combo_com), static_cast<QWidget*>(Combo_speed),
                       static_cast<QWidget*>(Combo_parity), static_cast<QWidget*>(Combo_databits),
                       static_cast<QWidget*>(Combo_stopbit), static_cast<QWidget*>(Edit_delay)})
        w->setEnabled(false);
}

QString TForm1::refusalReason(const QString& path) const {
    const int code = deviceAccess ? deviceAccess(path) : 0;
    if (code != EACCES && code != EPERM)
        return QString();
    // Serial devices belong to a group (dialout on Debian, uucp elsewhere) whose members may
    // open them; a new member's login sessions learn of it only when they start again.
    QString group = QStringLiteral("dialout");
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        const struct group* g = ::getgrgid(st.st_gid);
        if (st.st_gid == 0 || !g)
            return QStringLiteral(
                       "\n\nPermission denied \u2014 this user may not open %1; ask "
                       "the administrator for read and write access to it.")
                .arg(path);
        group = QString::fromLocal8Bit(g->gr_name);
    }
    return QStringLiteral(
               "\n\nPermission denied \u2014 add your user to the '%1' group and log in "
               "again.")
        .arg(group);
}

void TForm1::DisconnectSerial() {
    if (!PortOpen)
        return;
    Com_Port->ReleaseHandle();
    QThread::msleep(20);
    ShowClosedStatus();
    PortOpen = false;
    Com_Port->Close();
    for (QWidget* w : {static_cast<QWidget*>(Combo_com), static_cast<QWidget*>(Combo_speed),
                       static_cast<QWidget*>(Combo_parity), static_cast<QWidget*>(Combo_databits),
                       static_cast<QWidget*>(Combo_stopbit), static_cast<QWidget*>(Edit_delay)})
        w->setEnabled(true);
}

void TForm1::Combo_comChange() {
    if (PortOpen)
        trelmo::showMessage(
            QStringLiteral("Note: You must disconnect and then CONNECT changes to take effect"));
    ComName = Combo_com->currentText();
}

void TForm1::Combo_speedChange() {
    Speed = trelmo::StrToInt(Combo_speed->currentText());
}

void TForm1::Combo_parityChange() {
    ParityName = Combo_parity->currentText();
}

void TForm1::Combo_databitsChange() {
    DataBits = trelmo::StrToInt(Combo_databits->currentText());
}

void TForm1::Combo_stopbitChange() {
    StopBits = trelmo::StrToInt(Combo_stopbit->currentText());
}

void TForm1::Combo_speedKeyPress(char16_t& Key) {
    const bool digit = Key >= u'0' && Key <= u'9';
    if (!digit && Key != 8 && Key != 10 && Key != 13)
        Key = 27;
}

void TForm1::CheckBox1Click() {
    if (!PortOpen)
        return;
    const bool on = CheckBox1->isChecked();
    Com_Port->SetRts(on);
    led_RTS->setLedOn(on);
}

void TForm1::CheckBox2Click() {
    if (!PortOpen)
        return;
    const bool on = CheckBox2->isChecked();
    Com_Port->SetDtr(on);
    led_DTR->setLedOn(on);
}

void TForm1::Com_PortTxEmpty(TVaComm*) {
    led_TxD->setLedOn(false);
}

void TForm1::Com_PortRing(TVaComm*) {
    led_RI->setLedOn(true);
}

void TForm1::Com_PortPErr(TVaComm*) {
    trelmo::showMessage(QStringLiteral("Parity Error"));
}

void TForm1::Com_PortDataLost(TVaComm*, qint64 Count) {
    AddPaneLine(QStringLiteral("Receive overrun at %1: %2 bytes were lost by the serial port "
                               "before the program could read them")
                    .arg(trelmo::longTimeText(trelmo::now().time()))
                    .arg(Count));
}

void TForm1::Com_PortDeviceLost(TVaComm*, const QString& Message) {
    if (!PortOpen) {
        // Not opened by the window (or already disconnected): just let go of the device.
        Com_Port->Close();
        return;
    }
    DisconnectSerial();
    trelmo::showMessage(QStringLiteral("The serial port %1 is no longer available and has been "
                                       "closed: %2")
                            .arg(ComName, Message));
}
