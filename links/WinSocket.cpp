#include "links/WinSocket.h"

#include <netdb.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QSignalBlocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "core/Guard.h"

namespace trelmo {

namespace {

// Host and port are fixed while a socket is active.
void checkInactive(bool active, const char* what) {
    if (active) {
        throw ESocketError(wsa::WSAEISCONN,
                           QStringLiteral("the %1 cannot change while the socket is active")
                               .arg(QLatin1String(what)));
    }
}

void checkPort(int port) {
    if (port < 0 || port > 65535) {
        throw ESocketError(wsa::WSAEINVAL,
                           QStringLiteral("port %1 is not in the range 0 to 65535").arg(port));
    }
}

// An IPv4-mapped IPv6 address is shown in its dotted IPv4 form.
QHostAddress plain(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

// Calls a handler through a copy of it: a handler may delete the object that holds it (the
// socket or its owner), and its captures must outlive the call.
template <typename F, typename... Args>
void invokeCopy(const F& handler, Args&&... args) {
    if (!handler)
        return;
    const F copy = handler;
    copy(std::forward<Args>(args)...);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Reverse lookup with a deadline: getnameinfo runs on a detached thread that shares only a
// small state block with the caller, so a caller that gave up leaves nothing dangling.

QString reverseLookup(const QHostAddress& address, int timeoutMs) {
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        QString name;
    };
    auto state = std::make_shared<State>();
    const QHostAddress target = plain(address);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (target.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(target.toIPv4Address());
        length = sizeof(sockaddr_in);
    } else if (target.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        const Q_IPV6ADDR bytes = target.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof(bytes));
        length = sizeof(sockaddr_in6);
    } else {
        return {};
    }
    std::thread([state, storage, length] {
        char host[NI_MAXHOST] = {};
        const int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, host,
                                   sizeof(host), nullptr, 0, NI_NAMEREQD);
        std::lock_guard lock(state->mutex);
        if (rc == 0)
            state->name = QString::fromLocal8Bit(host);
        state->finished = true;
        state->done.notify_all();
    }).detach();
    std::unique_lock lock(state->mutex);
    if (!state->done.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                              [&] { return state->finished; })) {
        return {};
    }
    return state->name;
}

// ---------------------------------------------------------------------------------------------
// TCustomWinSocket

TCustomWinSocket::TCustomWinSocket(QObject* parent) : QObject(parent) {}

TCustomWinSocket::~TCustomWinSocket() {
    kill();
}

void TCustomWinSocket::attach(QTcpSocket* socket) {
    socket_ = socket;
    socket_->setParent(this);
    socket_->setProxy(QNetworkProxy::NoProxy);
    socket_->setReadBufferSize(ReadBufferSize);
    connect(socket_, &QTcpSocket::connected, this, &TCustomWinSocket::onQtConnected);
    connect(socket_, &QTcpSocket::disconnected, this, &TCustomWinSocket::onQtDisconnected);
    connect(socket_, &QTcpSocket::readyRead, this, &TCustomWinSocket::requestRead);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        const int sysErrno = errno;  // first: anything else may overwrite it
        onQtError(int(e), sysErrno);
    });
}

void TCustomWinSocket::kill() {
    queue_.clear();
    readQueued_ = false;
    readStalled_ = false;
    announced_ = false;
    if (socket_) {
        QSignalBlocker blocker(socket_);
        socket_->abort();
    }
}

void TCustomWinSocket::connectTo(const QString& host, int port) {
    kill();
    everConnected_ = false;
    peerAddress_.clear();
    peerPort_ = 0;
    localPort_ = 0;
    hostKnown_ = false;
    host_.clear();
    if (!socket_)
        attach(new QTcpSocket(this));
    socket_->connectToHost(host, quint16(port));
}

void TCustomWinSocket::remember() {
    peerAddress_ = plain(socket_->peerAddress());
    peerPort_ = socket_->peerPort();
    localPort_ = socket_->localPort();
    hostKnown_ = false;
    host_.clear();
}

bool TCustomWinSocket::Connected() const {
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

int TCustomWinSocket::ReceiveLength() const {
    return socket_ ? int(std::min<qint64>(socket_->bytesAvailable(), INT_MAX)) : 0;
}

int TCustomWinSocket::ReceiveBuf(void* buffer, int maxBytes) {
    if (!socket_ || !socket_->isOpen())
        return -1;
    if (maxBytes <= 0 || buffer == nullptr)
        return 0;
    const qint64 n = socket_->read(static_cast<char*>(buffer), maxBytes);
    if (n > 0)
        noteRead(n);
    return int(n);
}

QByteArray TCustomWinSocket::ReceiveText() {
    if (!socket_ || !socket_->isOpen())
        return {};
    QByteArray data = socket_->readAll();
    if (!data.isEmpty())
        noteRead(data.size());
    return data;
}

void TCustomWinSocket::noteRead(qint64 count) {
    readThisEvent_ += count;
    readStalled_ = false;
    // A read outside this socket's own read event (e.g. the served client read during another
    // client's event) still gets a follow-up event for what it left.
    if (!inReadEvent_ && socket_->bytesAvailable() > 0)
        requestRead();
}

int TCustomWinSocket::SendBuf(const void* buffer, int count) {
    if (!Connected()) {
        throw ESocketError(wsa::WSAENOTCONN, QStringLiteral("on send"));
    }
    if (count <= 0)
        return 0;
    if (buffer == nullptr)
        throw ESocketError(wsa::WSAEFAULT, QStringLiteral("on send"));
    sending_ = true;
    sendError_ = 0;
    const qint64 written = socket_->write(static_cast<const char*>(buffer), count);
    // Hand the bytes to the kernel now, so a reset peer is noticed by this call.
    if (written == count && socket_->state() == QAbstractSocket::ConnectedState) {
        socket_->flush();
    }
    sending_ = false;
    if (written != count || socket_->state() != QAbstractSocket::ConnectedState) {
        throw ESocketError(sendError_ != 0 ? sendError_ : wsa::WSAECONNRESET,
                           QStringLiteral("on send"));
    }
    return count;
}

int TCustomWinSocket::SendText(const QByteArray& text) {
    return SendBuf(text.constData(), int(text.size()));
}

void TCustomWinSocket::Close() {
    if (!socket_)
        return;
    if (socket_->state() == QAbstractSocket::ConnectedState ||
        socket_->state() == QAbstractSocket::ClosingState) {
        // Bytes not yet read are dropped: this end asked to stop. Qt reports the close through
        // its disconnected signal, which queues the disconnect event.
        socket_->abort();
    } else if (!everConnected_ && socket_->state() != QAbstractSocket::UnconnectedState) {
        kill();
    }
}

QString TCustomWinSocket::RemoteAddress() const {
    return peerAddress_.isNull() ? QString() : peerAddress_.toString();
}

QString TCustomWinSocket::RemoteHost() const {
    if (!hostKnown_) {
        host_ =
            peerAddress_.isNull() ? QString() : reverseLookup(peerAddress_, RemoteHostTimeoutMs);
        hostKnown_ = true;
    }
    return host_;
}

int TCustomWinSocket::RemotePort() const {
    return peerPort_;
}

int TCustomWinSocket::LocalPort() const {
    return localPort_;
}

void TCustomWinSocket::post(Pending event) {
    queue_.push_back(event);
    schedule();
}

void TCustomWinSocket::schedule() {
    if (dispatchPosted_ || queue_.empty())
        return;
    dispatchPosted_ = true;
    // Posted to the application object, so a socket deleted meanwhile only nulls the pointer.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self = QPointer<TCustomWinSocket>(this)] {
            if (self)
                self->dispatchOne();
        },
        Qt::QueuedConnection);
}

void TCustomWinSocket::requestRead() {
    if (readQueued_)
        return;
    for (const auto& p : queue_) {
        // A queued disconnect drains the buffer itself before it is delivered.
        if (p.kind == Kind::Disconnect)
            return;
    }
    readQueued_ = true;
    post({Kind::Read});
}

void TCustomWinSocket::deliverRead() {
    if (!socket_ || socket_->bytesAvailable() <= 0)
        return;
    QPointer<TCustomWinSocket> self(this);
    readThisEvent_ = 0;
    inReadEvent_ = true;
    if (hooks_.read)
        runGuarded([&] { invokeCopy(hooks_.read, this); });
    if (!self || !socket_)
        return;
    inReadEvent_ = false;
    const bool left = socket_->bytesAvailable() > 0;
    // A handler that took nothing gets no new event until more bytes arrive: no busy loop.
    readStalled_ = left && readThisEvent_ == 0;
    if (left && readThisEvent_ > 0)
        requestRead();
}

void TCustomWinSocket::dispatchOne() {
    dispatchPosted_ = false;
    if (queue_.empty())
        return;
    const Pending event = queue_.front();
    queue_.pop_front();
    QPointer<TCustomWinSocket> self(this);
    deliver(event);
    if (self)
        schedule();
}

void TCustomWinSocket::deliver(const Pending& event) {
    switch (event.kind) {
        case Kind::Connect:
            announced_ = true;
            if (hooks_.connect)
                runGuarded([&] { invokeCopy(hooks_.connect, this); });
            break;
        case Kind::Accept:
            if (hooks_.accept)
                runGuarded([&] { invokeCopy(hooks_.accept, this); });
            break;
        case Kind::Read:
            readQueued_ = false;
            deliverRead();
            break;
        case Kind::Disconnect:
            if (socket_ && socket_->bytesAvailable() > 0 && !readStalled_) {
                // Bytes that arrived before the close come first.
                queue_.push_front(event);
                deliverRead();
                break;
            }
            announced_ = false;
            if (hooks_.disconnect)
                runGuarded([&] { invokeCopy(hooks_.disconnect, this); });
            break;
        case Kind::Error: {
            int code = event.code;
            if (hooks_.error)
                runGuarded([&] { invokeCopy(hooks_.error, this, event.errorEvent, code); });
            if (code != 0)
                reportException(ESocketError(code, QString()));
            break;
        }
    }
}

void TCustomWinSocket::onQtConnected() {
    everConnected_ = true;
    remember();
    post({Kind::Connect});
}

void TCustomWinSocket::onQtDisconnected() {
    readStalled_ = false;
    post({Kind::Disconnect});
}

void TCustomWinSocket::onQtError(int error, int sysErrno) {
    const auto e = QAbstractSocket::SocketError(error);
    const int code = winsockCode(e, sysErrno);
    if (sending_) {
        sendError_ = code;
        post({Kind::Error, ErrorEvent::eeSend, code});
        return;
    }
    ErrorEvent kind = ErrorEvent::eeGeneral;
    if (!everConnected_) {
        kind =
            e == QAbstractSocket::HostNotFoundError ? ErrorEvent::eeLookup : ErrorEvent::eeConnect;
    } else if (e == QAbstractSocket::RemoteHostClosedError) {
        // Qt reports an orderly close as an error too; only a reset is one.
        if (sysErrno != ECONNRESET && sysErrno != ECONNABORTED)
            return;
        kind = ErrorEvent::eeDisconnect;
    } else {
        kind = ErrorEvent::eeReceive;
    }
    post({Kind::Error, kind, code});
}

// ---------------------------------------------------------------------------------------------
// TClientSocket

TClientSocket::TClientSocket(QObject* parent)
    : QObject(parent), socket_(new TCustomWinSocket(this)) {
    socket_->hooks_.connect = [this](TCustomWinSocket* s) {
        if (OnConnect)
            invokeCopy(OnConnect, s);
    };
    socket_->hooks_.read = [this](TCustomWinSocket* s) {
        if (OnRead)
            invokeCopy(OnRead, s);
    };
    socket_->hooks_.disconnect = [this](TCustomWinSocket* s) {
        if (OnDisconnect)
            invokeCopy(OnDisconnect, s);
    };
    socket_->hooks_.error = [this](TCustomWinSocket* s, ErrorEvent e, int& code) {
        if (OnError)
            invokeCopy(OnError, s, e, code);
    };
}

TClientSocket::~TClientSocket() = default;

void TClientSocket::setHost(const QString& host) {
    if (host == host_)
        return;
    checkInactive(Active(), "host");
    host_ = host;
}

void TClientSocket::setPort(int port) {
    if (port == port_)
        return;
    checkInactive(Active(), "port");
    checkPort(port);
    port_ = port;
}

bool TClientSocket::Active() const {
    return socket_->announced_;
}

void TClientSocket::setActive(bool active) {
    if (active) {
        Open();
    } else {
        Close();
    }
}

void TClientSocket::Open() {
    if (Active())
        return;
    if (host_.trimmed().isEmpty()) {
        // The lookup of an empty name fails at once: both events run inside this call.
        socket_->kill();
        QPointer<TCustomWinSocket> alive(socket_);
        socket_->deliver({TCustomWinSocket::Kind::Error, ErrorEvent::eeLookup, wsa::NoAddress});
        if (alive)
            socket_->deliver({TCustomWinSocket::Kind::Disconnect});
        return;
    }
    socket_->connectTo(host_.trimmed(), port_);
}

void TClientSocket::Close() {
    socket_->Close();
}

// ---------------------------------------------------------------------------------------------
// TServerSocket

TServerSocket::TServerSocket(QObject* parent) : QObject(parent) {}

TServerSocket::~TServerSocket() {
    Close();
}

void TServerSocket::setPort(int port) {
    if (port == port_)
        return;
    checkInactive(Active(), "port");
    checkPort(port);
    port_ = port;
}

int TServerSocket::ListenPort() const {
    return Active() ? server_->serverPort() : 0;
}

bool TServerSocket::Active() const {
    return server_ && server_->isListening();
}

void TServerSocket::setActive(bool active) {
    if (active) {
        Open();
    } else {
        Close();
    }
}

void TServerSocket::Open() {
    if (Active())
        return;
    checkPort(port_);
    auto* server = new QTcpServer(this);
    server->setProxy(QNetworkProxy::NoProxy);
    // Room for a burst of clients: connections beyond the kernel's accept queue would hang in
    // the handshake until the peer gives up.
    server->setListenBacklogSize(ListenBacklog);
    if (!server->listen(QHostAddress::AnyIPv4, quint16(port_))) {
        const int sysErrno = errno;
        const int code = winsockCode(server->serverError(), sysErrno);
        delete server;
        throw ESocketError(code, QStringLiteral("cannot listen on port %1").arg(port_));
    }
    server_ = server;
    connect(server_, &QTcpServer::newConnection, this, [this] { acceptPending(); });
}

void TServerSocket::Close() {
    const auto connections = std::exchange(connections_, {});
    for (TCustomWinSocket* socket : connections) {
        socket->kill();
        socket->deleteLater();
    }
    if (server_) {
        server_->close();
        server_->deleteLater();
        server_ = nullptr;
    }
}

TCustomWinSocket* TServerSocket::Connections(int index) const {
    return (index >= 0 && index < connections_.size()) ? connections_.at(index) : nullptr;
}

bool TServerSocket::IsServedClient(const TCustomWinSocket* socket) const {
    return socket != nullptr && !connections_.isEmpty() && connections_.first() == socket;
}

void TServerSocket::DropConnection(TCustomWinSocket* socket) {
    if (!connections_.contains(socket))
        return;
    removeConnection(socket);
}

void TServerSocket::removeConnection(TCustomWinSocket* socket) {
    connections_.removeOne(socket);
    socket->kill();
    socket->deleteLater();
}

void TServerSocket::acceptPending() {
    while (server_ && server_->hasPendingConnections()) {
        QTcpSocket* accepted = server_->nextPendingConnection();
        if (!accepted)
            break;
        auto* socket = new TCustomWinSocket(this);
        socket->attach(accepted);
        socket->everConnected_ = true;
        socket->announced_ = true;
        socket->remember();
        socket->hooks_.connect = [this](TCustomWinSocket* s) {
            if (OnClientConnect)
                invokeCopy(OnClientConnect, s);
        };
        socket->hooks_.accept = [this](TCustomWinSocket* s) {
            if (OnAccept)
                invokeCopy(OnAccept, s);
        };
        socket->hooks_.read = [this](TCustomWinSocket* s) {
            if (OnClientRead)
                invokeCopy(OnClientRead, s);
        };
        socket->hooks_.disconnect = [this](TCustomWinSocket* s) {
            QPointer<TCustomWinSocket> alive(s);
            QPointer<TServerSocket> server(this);
            runGuarded([&] {
                if (OnClientDisconnect)
                    invokeCopy(OnClientDisconnect, s);
            });
            if (server && alive && connections_.contains(s))
                removeConnection(s);
        };
        socket->hooks_.error = [this](TCustomWinSocket* s, ErrorEvent e, int& code) {
            if (OnClientError)
                invokeCopy(OnClientError, s, e, code);
        };
        connections_.append(socket);
        socket->post({TCustomWinSocket::Kind::Connect});
        socket->post({TCustomWinSocket::Kind::Accept});
        // Bytes that came with the connection are announced after the accept event.
        if (accepted->bytesAvailable() > 0)
            socket->requestRead();
    }
}

}  // namespace trelmo
