// The TCP client link (Xport_socket) and the single-client TCP listener (Socket1) of the main
// window: connect and listen buttons, the sockets' events, and the key filters of the TCP edits.
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <array>
#include <functional>

#include "core/Convert.h"
#include "core/Guard.h"
#include "core/LocaleText.h"
#include "links/WinSocket.h"
#include "terminal/Terminal.h"
#include "terminal/TerminalInput.h"
#include "widgets/dsLeds.h"

namespace {

const QString kConnectCaption = QStringLiteral("Connect to host");
const QString kDisconnectCaption = QStringLiteral("Disconnect TCP");
const QString kListenCaption = QStringLiteral("Listen on port");
const QString kCloseCaption = QStringLiteral("Close socket");

constexpr int kDefaultPort = 502;
constexpr int kClientBlock = 10000;   // bytes taken per client read event
constexpr int kListenerBlock = 5000;  // bytes taken per listener read event
constexpr char16_t kEscape = 27;      // a filtered key becomes this and is not inserted

bool isEditKey(QChar c) {
    return c.unicode() == 8 || c.unicode() == 10 || c.unicode() == 13;
}

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

}  // namespace

int TForm1::TcpPortNumber() const {
    int32_t port = 0;
    const QString text = Edit_port->text();
    if (text.isEmpty() || !trelmo::TryStrToInt(text, &port))
        return kDefaultPort;
    return port;
}

// ---- TCP client -------------------------------------------------------------------------------

void TForm1::Butt_connectClick() {
    if (Butt_connect->text() == kDisconnectCaption) {
        Xport_socket->setActive(false);
        TcpConnected = false;
        return;
    }
    // Still waiting for an attempt this handler started: a second attempt would drop the first.
    if (tcpConnectWaiting_)
        return;
    if (PortOpen || ListenerClientConnected || Socket1->Active()) {
        AddPaneLine(QStringLiteral("Already active connection (serial or Listen TCP)"));
        return;
    }
    try {
        Xport_socket->setHost(Edit_ip->text());
        Xport_socket->setPort(TcpPortNumber());
    } catch (const std::exception&) {
        AddPaneLine(QStringLiteral("Remote IP and Port are not properly set..."));
        Xport_socket->setActive(false);
        TcpConnected = false;
        return;
    }
    if (TcpConnected)
        return;

    QPointer<TForm1> self(this);
    tcpConnectWaiting_ = true;
    try {
        Xport_socket->setActive(true);
        AddPaneLine(QStringLiteral("Trying to connect to remote TCP server..."));
        const int rounds = UD_ipTime->value();
        for (int i = 0; i < rounds && self; ++i) {
            QThread::msleep(10);
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
    } catch (const std::exception&) {
        if (!self)
            return;
        AddPaneLine(QStringLiteral("Unexpected exception when connecting to RQV ethernet..."));
        Xport_socket->setActive(false);
        TcpConnected = false;
    }
    if (self)
        tcpConnectWaiting_ = false;
}

void TForm1::Xport_socketConnect(trelmo::TCustomWinSocket* /*Socket*/) {
    AddPaneLine(QStringLiteral("Connected TCP/IP, at ") + trelmo::currentTimeText() +
                QStringLiteral(", to ") + Edit_ip->text());
    StatusBar1Panel0->setText(QStringLiteral("Connected to ") + Edit_ip->text());
    TcpConnected = true;
    Butt_connect->setText(kDisconnectCaption);
}

void TForm1::Xport_socketDisconnect(trelmo::TCustomWinSocket* /*Socket*/) {
    AddPaneLine(QStringLiteral("Disconnected TCP/IP connection at ") + trelmo::currentTimeText());
    StatusBar1Panel0->setText(QStringLiteral("Disconnected TCP"));
    TcpConnected = false;
    Butt_connect->setText(kConnectCaption);
}

void TForm1::Xport_socketError(trelmo::TCustomWinSocket* /*Socket*/, int /*errorEvent*/,
                               int& ErrorCode) {
    AddPaneLine(QStringLiteral("Socket error #") + QString::number(ErrorCode));
    ErrorCode = 0;
}

namespace {

// One receive block of a TCP link: at most `limit` bytes from `from`, shown by the TCP rules.
// Errors are caught: panel 2 tells the time and the RxD lamp stays lit.
void receiveTcpBlock(TForm1& form, trelmo::TCustomWinSocket* from, int limit,
                     const trelmo::LinkPolicy& policy) {
    form.led_RxD->setLedOnCoalesced(true);
    form.Recv.PendingLine.clear();
    try {
        std::array<char, kClientBlock> buffer;
        const int read = from ? from->ReceiveBuf(buffer.data(), limit) : 0;
        if (policy.reportsFullBlock && read >= limit)
            form.StatusBar1Panel1->setText(QString::fromLatin1(trelmo::kMoreThan10kText));
        const trelmo::ReceiveResult result = form.Formatter->receiveBlock(
            form.Recv, QByteArrayView(buffer.data(), std::max(read, 0)), policy,
            form.Check_hex->isChecked());
        form.lab_crc->setText(result.crcText);
        form.Label_rec->setText(result.labelRec);
        form.ShowCounters();
        form.led_RxD->setLedOnCoalesced(false);
    } catch (const std::exception&) {
        form.StatusBar1Panel2->setText(QStringLiteral("Exception receive ") +
                                       trelmo::currentTimeText());
    }
}

}  // namespace

void TForm1::Xport_socketRead(trelmo::TCustomWinSocket* /*Socket*/) {
    receiveTcpBlock(*this, Xport_socket->Socket(), kClientBlock, trelmo::LinkPolicy::tcpClient());
}

// ---- TCP listener -----------------------------------------------------------------------------

void TForm1::BitBtn3Click() {
    if (PortOpen || TcpConnected) {
        AddPaneLine(QStringLiteral("Already active serial port or TCP connection!"));
        return;
    }
    if (BitBtn3->text() == kCloseCaption) {
        Socket1->setActive(false);
        StatusBar1Panel0->setText(QStringLiteral("Disconnected"));
        ListenerClientConnected = false;
        AddPaneLine(QStringLiteral("Connection closed at ") + trelmo::currentTimeText());
        BitBtn3->setText(kListenCaption);
        return;
    }
    if (Socket1->Active())
        return;
    try {
        Socket1->setPort(TcpPortNumber());
        Socket1->setActive(true);
        StatusBar1Panel0->setText(QStringLiteral("Listening..."));
        AddPaneLine(QStringLiteral("Port ") + QString::number(Socket1->ListenPort()) +
                    QStringLiteral(" opened at ") + trelmo::currentDateText() +
                    QStringLiteral(", ") + trelmo::currentTimeText());
        AddPaneLine(QStringLiteral("Listening..."));
        BitBtn3->setText(kCloseCaption);
    } catch (const std::exception& e) {
        AddPaneLine(QStringLiteral("Exception - ") + QString::fromUtf8(e.what()));
        Socket1->setActive(false);
        BitBtn3->setText(kListenCaption);
    }
}

void TForm1::Socket1ClientConnect(trelmo::TCustomWinSocket* /*Socket*/) {
    StatusBar1Panel0->setText(QStringLiteral("Incoming request..."));
    AddPaneLine(QStringLiteral("Incoming request..."));
}

void TForm1::Socket1Accept(trelmo::TCustomWinSocket* Socket) {
    if (ListenerClientConnected) {
        AddPaneLine(QStringLiteral("New connection will be ignored, still active connection..."));
        // Closed at once: an ignored peer learns it is not served, holds nothing here, and
        // its close can never be taken for the served client's.
        Socket1->DropConnection(Socket);
        return;
    }
    trelmo::TCustomWinSocket* served = Socket1->ServedClient();
    if (!served)
        return;
    const QString address = served->RemoteAddress();
    const QString host = served->RemoteHost();
    const int port = served->RemotePort();
    ListenerClientConnected = true;
    AddPaneLine(QStringLiteral("Connected to ") + address + QStringLiteral(", ") + host +
                QStringLiteral(", port No ") + QString::number(port));
    AddPaneLine(trelmo::currentTimeText() + QStringLiteral(",  ") + trelmo::currentDateText());
    AddPaneLine(QString(QChar(13)));
    StatusBar1Panel0->setText(QStringLiteral("Connected to ") + address + QLatin1Char('@') +
                              QString::number(port));
    QApplication::beep();
}

void TForm1::Socket1ClientRead(trelmo::TCustomWinSocket* /*Socket*/) {
    receiveTcpBlock(*this, Socket1->ServedClient(), kListenerBlock,
                    trelmo::LinkPolicy::tcpListener());
}

void TForm1::Socket1ClientDisconnect(trelmo::TCustomWinSocket* Socket) {
    // Only the served client's close ends the service; the flag of a still served client
    // is never cleared by another connection.
    if (Socket1->IsServedClient(Socket))
        ListenerClientConnected = false;
    AddPaneLine(QStringLiteral("Connection closed at ") + trelmo::currentTimeText());
}

void TForm1::Socket1ClientError(trelmo::TCustomWinSocket* /*Socket*/, int /*errorEvent*/,
                                int& ErrorCode) {
    AddPaneLine(QStringLiteral("Socket error #") + QString::number(ErrorCode));
    ErrorCode = 0;
}

// ---- Key filters ------------------------------------------------------------------------------

void TForm1::Edit_ipKeyPress(QChar& Key) {
    if (!isDigit(Key) && Key != QLatin1Char('.') && !isEditKey(Key))
        Key = QChar(kEscape);
}

void TForm1::Edit_portKeyPress(QChar& Key) {
    if (!isDigit(Key) && !isEditKey(Key))
        Key = QChar(kEscape);
}

void TForm1::Edit_ipTimeKeyPress(QChar& Key) {
    if (!isDigit(Key) && !isEditKey(Key))
        Key = QChar(kEscape);
}

// ---- Wiring -----------------------------------------------------------------------------------

void TForm1::connectTcpHandlers() {
    using trelmo::guarded;
    using trelmo::TCustomWinSocket;

    connect(Butt_connect, &QPushButton::clicked, this, guarded([this] { Butt_connectClick(); }));
    connect(ConnecttCP1, &QAction::triggered, this, guarded([this] { ConnecttCP1Click(); }));
    connect(BitBtn3, &QPushButton::clicked, this, guarded([this] { BitBtn3Click(); }));
    connect(ListenTCP1, &QAction::triggered, this, guarded([this] { ListenTCP1Click(); }));

    // Typing is filtered key by key; a paste must hold only what typing could have given, and
    // what the user inserts stops at 15 and 5 characters (a loaded host or port stays whole).
    trelmo::applyInputRules(Edit_ip, 15, [this](QChar& k) { Edit_ipKeyPress(k); });
    trelmo::applyInputRules(Edit_port, 5, [this](QChar& k) { Edit_portKeyPress(k); });
    // The up-down box takes the keys and hands them to its edit; its own validator (digits in
    // range) checks a paste.
    UD_ipTime->installEventFilter(
        new trelmo::KeyRuleFilter(UD_ipTime, [this](QChar& k) { Edit_ipTimeKeyPress(k); }));

    Xport_socket->OnConnect = [this](TCustomWinSocket* s) { Xport_socketConnect(s); };
    Xport_socket->OnDisconnect = [this](TCustomWinSocket* s) { Xport_socketDisconnect(s); };
    Xport_socket->OnRead = [this](TCustomWinSocket* s) { Xport_socketRead(s); };
    Xport_socket->OnError = [this](TCustomWinSocket* s, trelmo::ErrorEvent e, int& code) {
        Xport_socketError(s, int(e), code);
    };
    Socket1->OnClientConnect = [this](TCustomWinSocket* s) { Socket1ClientConnect(s); };
    Socket1->OnAccept = [this](TCustomWinSocket* s) { Socket1Accept(s); };
    Socket1->OnClientRead = [this](TCustomWinSocket* s) { Socket1ClientRead(s); };
    Socket1->OnClientDisconnect = [this](TCustomWinSocket* s) { Socket1ClientDisconnect(s); };
    Socket1->OnClientError = [this](TCustomWinSocket* s, trelmo::ErrorEvent e, int& code) {
        Socket1ClientError(s, int(e), code);
    };
}
