#include "terminal/control/TcpLinks.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <new>

#include "core/Convert.h"
#include "core/LocaleText.h"
#include "links/WinSocket.h"
#include "terminal/control/ReceivePath.h"

namespace trelmo {
namespace {

const QString kConnectCaption = QStringLiteral("Connect to host");
const QString kDisconnectCaption = QStringLiteral("Disconnect TCP");
const QString kListenCaption = QStringLiteral("Listen on port");
const QString kCloseCaption = QStringLiteral("Close socket");

constexpr int kDefaultPort = 502;

}  // namespace

TcpLinksController::TcpLinksController(ReceivePath& receive, const LinkStatus& links,
                                       QObject* parent)
    : QObject(parent),
      receive_(receive),
      links_(links),
      clientCaption_(kConnectCaption),
      listenerCaption_(kListenCaption) {
    Xport_socket = new TClientSocket(this);
    Xport_socket->setObjectName(QStringLiteral("Xport_socket"));
    Socket1 = new TServerSocket(this);
    Socket1->setObjectName(QStringLiteral("Socket1"));

    Xport_socket->OnConnect = [this](TCustomWinSocket* s) { Xport_socketConnect(s); };
    Xport_socket->OnDisconnect = [this](TCustomWinSocket* s) { Xport_socketDisconnect(s); };
    Xport_socket->OnRead = [this](TCustomWinSocket* s) { Xport_socketRead(s); };
    Xport_socket->OnError = [this](TCustomWinSocket* s, ErrorEvent, int& code) {
        Xport_socketError(s, code);
    };
    Socket1->OnClientConnect = [this](TCustomWinSocket* s) { Socket1ClientConnect(s); };
    Socket1->OnAccept = [this](TCustomWinSocket* s) { Socket1Accept(s); };
    Socket1->OnClientRead = [this](TCustomWinSocket* s) { Socket1ClientRead(s); };
    Socket1->OnClientDisconnect = [this](TCustomWinSocket* s) { Socket1ClientDisconnect(s); };
    Socket1->OnClientError = [this](TCustomWinSocket* s, ErrorEvent, int& code) {
        Socket1ClientError(s, code);
    };

    reconnectTimer_ = new QTimer(this);
    reconnectTimer_->setObjectName(QStringLiteral("Timer_reconnect"));
    reconnectTimer_->setInterval(kReconnectIntervalMs);
    connect(reconnectTimer_, &QTimer::timeout, this, [this] { tryReconnect(); });
}

QString TcpLinksController::remoteName() const {
    return Xport_socket->Host() + QLatin1Char(':') + QString::number(Xport_socket->Port());
}

QString TcpLinksController::socketErrorLine(int code, const QString& host, int port) const {
    const QString meaning = winsockMeaning(code, host, port);
    return QStringLiteral("Socket error #") + QString::number(code) +
           (meaning.isEmpty() ? QString() : QStringLiteral(" (") + meaning + QLatin1Char(')'));
}

bool TcpLinksController::listenerActive() const {
    return Socket1->Active();
}

int TcpLinksController::portNumber() const {
    int32_t port = 0;
    if (portText_.isEmpty() || !TryStrToInt(portText_, &port))
        return kDefaultPort;
    return port;
}

// ---- TCP client -------------------------------------------------------------------------

void TcpLinksController::toggleClient() {
    if (clientCaption_ == kDisconnectCaption) {
        if (waiting_) {
            // Nothing is connected: the waiting ends, as a disconnect would.
            waiting_ = false;
            attempting_ = false;
            reconnectTimer_->stop();
            Xport_socket->setActive(false);
            TcpConnected = false;
            receive_.addLine(QStringLiteral("Disconnected TCP/IP connection at ") +
                             currentTimeText());
            emit statusChanged(QStringLiteral("Disconnected TCP"));
            clientCaption_ = kConnectCaption;
            emit clientCaptionChanged(clientCaption_);
            return;
        }
        Xport_socket->setActive(false);
        TcpConnected = false;
        return;
    }
    // Still waiting for an attempt this handler started: a second attempt would drop the first.
    if (connectWaiting_)
        return;
    if (links_.serialOpen() || ListenerClientConnected || Socket1->Active()) {
        receive_.addLine(QStringLiteral("Already active connection (serial or Listen TCP)"));
        return;
    }
    try {
        Xport_socket->setHost(hostText_);
        Xport_socket->setPort(portNumber());
    } catch (const ESocketError&) {
        receive_.addLine(QStringLiteral("Remote IP and Port are not properly set..."));
        Xport_socket->setActive(false);
        TcpConnected = false;
        return;
    }
    if (TcpConnected)
        return;

    QPointer<TcpLinksController> self(this);
    connectWaiting_ = true;
    try {
        Xport_socket->setActive(true);
        receive_.addLine(QStringLiteral("Trying to connect to remote TCP server..."));
        const int rounds = timeoutRounds_;
        for (int i = 0; i < rounds && self; ++i) {
            QThread::msleep(10);
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
    } catch (const ESocketError&) {
        if (!self)
            return;
        receive_.addLine(QStringLiteral("Unexpected exception when connecting to RQV ethernet..."));
        Xport_socket->setActive(false);
        TcpConnected = false;
    }
    if (self)
        connectWaiting_ = false;
}

void TcpLinksController::Xport_socketConnect(TCustomWinSocket*) {
    if (waiting_) {
        waiting_ = false;
        attempting_ = false;
        reconnectTimer_->stop();
        receive_.addLine(QStringLiteral("Port %1 reopened at %2 after %3 s")
                             .arg(remoteName(), currentTimeText())
                             .arg(lostClock_.elapsed() / 1000.0, 0, 'f', 1));
        emit statusChanged(QStringLiteral("Connected to ") + hostText_);
        emit reopened();
        return;
    }
    receive_.addLine(QStringLiteral("Connected TCP/IP, at ") + currentTimeText() +
                     QStringLiteral(", to ") + hostText_);
    emit statusChanged(QStringLiteral("Connected to ") + hostText_);
    TcpConnected = true;
    clientCaption_ = kDisconnectCaption;
    emit clientCaptionChanged(clientCaption_);
}

void TcpLinksController::Xport_socketDisconnect(TCustomWinSocket*) {
    if (reopen_ && TcpConnected && !waiting_) {
        // Dropped by the far end, not by the user (who clears TcpConnected first): wait for
        // the host and connect again.
        waiting_ = true;
        lostClock_.start();
        receive_.addLine(QStringLiteral("Port %1 lost at %2: %3")
                             .arg(remoteName(), currentTimeText(),
                                  lostReason_.isEmpty()
                                      ? QStringLiteral("connection closed by the peer")
                                      : lostReason_));
        lostReason_.clear();
        emit statusChanged(QStringLiteral("Waiting for ") + remoteName() + QStringLiteral("..."));
        emit lost();
        reconnectTimer_->start();
        return;
    }
    receive_.addLine(QStringLiteral("Disconnected TCP/IP connection at ") + currentTimeText());
    emit statusChanged(QStringLiteral("Disconnected TCP"));
    TcpConnected = false;
    clientCaption_ = kConnectCaption;
    emit clientCaptionChanged(clientCaption_);
}

void TcpLinksController::Xport_socketError(TCustomWinSocket*, int& ErrorCode) {
    if (reopen_ && TcpConnected) {
        // A connected link's error is the reason of the drop that follows; a failed attempt
        // to reconnect is only a try (the next one starts on the timer).
        if (waiting_)
            attempting_ = false;
        else
            lostReason_ = winsockMeaning(ErrorCode, Xport_socket->Host(), Xport_socket->Port());
        ErrorCode = 0;
        return;
    }
    receive_.addLine(socketErrorLine(ErrorCode, Xport_socket->Host(), Xport_socket->Port()));
    ErrorCode = 0;
}

void TcpLinksController::tryReconnect() {
    if (!waiting_) {
        reconnectTimer_->stop();
        return;
    }
    if (attempting_)
        return;  // the last attempt has not ended yet
    attempting_ = true;
    Xport_socket->Open();
}

void TcpLinksController::Xport_socketRead(TCustomWinSocket*) {
    receiveFrom(Xport_socket->Socket(), LinkPolicy::tcpClient());
}

void TcpLinksController::receiveFrom(TCustomWinSocket* from, const LinkPolicy& policy) {
    try {
        std::array<char, 10000> buffer;
        const int limit = std::min<int>(policy.maxBlockBytes, buffer.size());
        const int read = from ? from->ReceiveBuf(buffer.data(), limit) : 0;
        receive_.showReceived(QByteArrayView(buffer.data(), std::max(read, 0)), policy);
    } catch (const ESocketError&) {
        receive_.showReceiveFailure();
    } catch (const std::bad_alloc&) {
        receive_.showReceiveFailure();
    }
}

// ---- TCP listener -----------------------------------------------------------------------

void TcpLinksController::toggleListener() {
    if (links_.serialOpen() || TcpConnected) {
        receive_.addLine(QStringLiteral("Already active serial port or TCP connection!"));
        return;
    }
    if (listenerCaption_ == kCloseCaption) {
        Socket1->setActive(false);
        emit statusChanged(QStringLiteral("Disconnected"));
        ListenerClientConnected = false;
        receive_.addLine(QStringLiteral("Connection closed at ") + currentTimeText());
        listenerCaption_ = kListenCaption;
        emit listenerCaptionChanged(listenerCaption_);
        return;
    }
    if (Socket1->Active())
        return;
    try {
        Socket1->setPort(portNumber());
        Socket1->setActive(true);
        emit statusChanged(QStringLiteral("Listening..."));
        receive_.addLine(QStringLiteral("Port ") + QString::number(Socket1->ListenPort()) +
                         QStringLiteral(" opened at ") + currentDateText() + QStringLiteral(", ") +
                         currentTimeText());
        receive_.addLine(QStringLiteral("Listening..."));
        listenerCaption_ = kCloseCaption;
        emit listenerCaptionChanged(listenerCaption_);
    } catch (const ESocketError& e) {
        receive_.addLine(QStringLiteral("Exception - ") + QString::fromUtf8(e.what()));
        Socket1->setActive(false);
        listenerCaption_ = kListenCaption;
        emit listenerCaptionChanged(listenerCaption_);
    }
}

void TcpLinksController::Socket1ClientConnect(TCustomWinSocket*) {
    emit statusChanged(QStringLiteral("Incoming request..."));
    receive_.addLine(QStringLiteral("Incoming request..."));
}

void TcpLinksController::Socket1Accept(TCustomWinSocket* Socket) {
    if (ListenerClientConnected) {
        receive_.addLine(
            QStringLiteral("New connection will be ignored, still active connection..."));
        // Closed at once: an ignored peer learns it is not served, holds nothing here, and
        // its close can never be taken for the served client's.
        Socket1->DropConnection(Socket);
        return;
    }
    TCustomWinSocket* served = Socket1->ServedClient();
    if (!served)
        return;
    const QString address = served->RemoteAddress();
    const QString host = served->RemoteHost();
    const int port = served->RemotePort();
    ListenerClientConnected = true;
    receive_.addLine(QStringLiteral("Connected to ") + address + QStringLiteral(", ") + host +
                     QStringLiteral(", port No ") + QString::number(port));
    receive_.addLine(currentTimeText() + QStringLiteral(",  ") + currentDateText());
    receive_.addLine(QString(QChar(13)));
    emit statusChanged(QStringLiteral("Connected to ") + address + QLatin1Char('@') +
                       QString::number(port));
    emit beep();
}

void TcpLinksController::Socket1ClientRead(TCustomWinSocket*) {
    receiveFrom(Socket1->ServedClient(), LinkPolicy::tcpListener());
}

void TcpLinksController::Socket1ClientDisconnect(TCustomWinSocket* Socket) {
    // Only the served client's close ends the service; the flag of a still served client
    // is never cleared by another connection.
    if (Socket1->IsServedClient(Socket))
        ListenerClientConnected = false;
    receive_.addLine(QStringLiteral("Connection closed at ") + currentTimeText());
}

void TcpLinksController::Socket1ClientError(TCustomWinSocket*, int& ErrorCode) {
    receive_.addLine(socketErrorLine(ErrorCode, QString(), 0));
    ErrorCode = 0;
}

// ---- Sending ----------------------------------------------------------------------------

void TcpLinksController::sendToClient(uint8_t byte) {
    Xport_socket->SendText(QByteArray(1, static_cast<char>(byte)));
}

TCustomWinSocket* TcpLinksController::servedClient() const {
    return Socket1->ServedClient();
}

}  // namespace trelmo
