#pragma once
// The TCP links of the main window: a client socket (`Xport_socket`) and a listening server
// socket (`Socket1`) with the event contract of non-blocking Windows-Sockets-style components,
// built on QTcpSocket and QTcpServer.
//
// Contract shared by both:
// - Every event (connect, accept, read, disconnect, error) runs on the GUI thread from the
//   event loop, one event per posted call, in the order things happened on the wire. No event
//   ever runs inside the call that caused it (Open, Close, SendBuf, ...): it is queued and runs
//   when the loop next gets control, e.g. inside a processEvents() wait of the caller. The one
//   exception is TClientSocket::Open with an empty host, whose error and disconnect events run
//   inside Open (the lookup of an empty name fails at once).
// - A handler may close, deactivate or delete the socket (or its owner); pending events of a
//   closed or deleted connection are dropped.
// - Reads: a read event is queued when bytes arrive. ReceiveBuf takes at most the requested
//   number of bytes; when bytes are left after the handler returns (and the handler did read),
//   a further read event follows without the peer sending more. The socket holds at most
//   ReadBufferSize bytes: beyond that the kernel buffers and TCP flow control slows the peer,
//   so a flood never grows the program's memory. When the peer closes, the bytes still
//   buffered are delivered by read events before the disconnect event.
// - Errors: the error event gets a Windows Sockets number by reference (see SocketErrors.h).
//   A handler that leaves it non-zero (or no handler at all) makes the socket layer raise an
//   ESocketError, which is shown by the default error display; set to 0, nothing is raised.
// - Exceptions thrown by a handler never reach Qt's event loop: they go to the default error
//   display and the socket carries on.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

#include "links/SocketErrors.h"

class QTcpSocket;
class QTcpServer;

namespace trelmo {

class TCustomWinSocket;

using TSocketNotifyEvent = std::function<void(TCustomWinSocket* socket)>;
using TSocketErrorEvent =
    std::function<void(TCustomWinSocket* socket, ErrorEvent errorEvent, int& errorCode)>;

// The most bytes a connection buffers in the program before the kernel and the peer hold back.
inline constexpr qint64 ReadBufferSize = 256 * 1024;

// Connections the kernel may hold for the server socket before they are accepted.
inline constexpr int ListenBacklog = 1024;

// The reverse lookup of an address: the host name, or an empty string when there is none or
// when no answer came within timeoutMs (the lookup then finishes in the background and is
// dropped). Never blocks longer than about timeoutMs.
QString reverseLookup(const QHostAddress& address, int timeoutMs);

// How long RemoteHost waits for the reverse lookup of the peer.
inline constexpr int RemoteHostTimeoutMs = 500;

// One TCP connection: the client socket's connection or one client of the server socket.
// Owned by its TClientSocket / TServerSocket; never delete one yourself.
class TCustomWinSocket : public QObject {
    Q_OBJECT
  public:
    ~TCustomWinSocket() override;

    // True while the TCP connection is established (the transport's view, not the events').
    bool Connected() const;

    // Bytes waiting to be read.
    int ReceiveLength() const;
    // Reads at most maxBytes into buffer; returns the number read, 0 when nothing was waiting,
    // -1 when the connection is closed and nothing is left.
    int ReceiveBuf(void* buffer, int maxBytes);
    // Reads everything waiting.
    QByteArray ReceiveText();

    // Sends count bytes and returns count. Throws ESocketError when the connection is not
    // established (never connected, closed, or reset by the peer) or the send fails; a send
    // never fails silently.
    int SendBuf(const void* buffer, int count);
    int SendText(const QByteArray& text);

    // Closes the connection. A connected socket then gets its disconnect event (client:
    // OnDisconnect; server client: OnClientDisconnect, after which it leaves the list). A
    // socket still connecting stops trying, without events. Does nothing otherwise.
    void Close();

    // The peer's dotted address ("127.0.0.1"), empty when not connected.
    QString RemoteAddress() const;
    // The peer's host name by reverse lookup, empty when it has none; waits at most
    // RemoteHostTimeoutMs for the answer (the first call; the result is kept).
    QString RemoteHost() const;
    // The peer's port, 0 when not connected.
    int RemotePort() const;
    // This end's port, 0 when not connected.
    int LocalPort() const;

  private:
    friend class TClientSocket;
    friend class TServerSocket;

    enum class Kind { Connect, Accept, Read, Disconnect, Error };
    struct Pending {
        Kind kind;
        ErrorEvent errorEvent = ErrorEvent::eeGeneral;
        int code = 0;
    };
    struct Hooks {
        TSocketNotifyEvent connect;  // client: connected; server: client connected
        TSocketNotifyEvent accept;   // server only
        TSocketNotifyEvent read;
        TSocketNotifyEvent disconnect;  // runs the owner's disconnect duty too
        TSocketErrorEvent error;
    };

    explicit TCustomWinSocket(QObject* parent);
    // Takes a socket (new for a client; accepted for a server client) and wires it up.
    void attach(QTcpSocket* socket);
    // Drops the connection and every pending event without telling anyone.
    void kill();
    void connectTo(const QString& host, int port);
    void remember();

    void post(Pending event);
    void schedule();
    void dispatchOne();
    // Runs the handler of one event now.
    void deliver(const Pending& event);
    void deliverRead();
    void requestRead();
    void noteRead(qint64 count);

    void onQtConnected();
    void onQtDisconnected();
    void onQtError(int error, int sysErrno);

    Hooks hooks_;
    QTcpSocket* socket_ = nullptr;
    std::deque<Pending> queue_;
    bool dispatchPosted_ = false;
    bool readQueued_ = false;
    bool readStalled_ = false;
    bool inReadEvent_ = false;
    bool sending_ = false;
    int sendError_ = 0;
    qint64 readThisEvent_ = 0;
    bool announced_ = false;  // connect event delivered, disconnect not yet
    bool everConnected_ = false;

    QHostAddress peerAddress_;
    int peerPort_ = 0;
    int localPort_ = 0;
    mutable bool hostKnown_ = false;
    mutable QString host_;
};

// The TCP client link. Host and Port name the remote end; Open starts an asynchronous name
// lookup and connect and returns at once. Active is true from the connect event to the
// disconnect event only.
class TClientSocket : public QObject {
    Q_OBJECT
  public:
    explicit TClientSocket(QObject* parent = nullptr);
    ~TClientSocket() override;

    QString Host() const { return host_; }
    // Throws ESocketError when Active and the value differs.
    void setHost(const QString& host);
    int Port() const { return port_; }
    // Throws ESocketError when Active and the value differs, or when the port is not 0..65535.
    void setPort(int port);

    bool Active() const;
    // true: Open(); false: Close().
    void setActive(bool active);
    // Starts connecting to Host:Port; does nothing when Active. A connect attempt still in
    // progress is dropped (without events) and a new one starts. An empty host gives an error
    // event (eeLookup, 1110) and then a disconnect event, both run before Open returns. A
    // failed attempt gives one error
    // event (e.g. 10061 refused, 11001 host not found) and no other event.
    void Open();
    // Closes a connected socket, which then gets its disconnect event; stops an attempt in
    // progress without events; otherwise does nothing.
    void Close();

    // The connection (always the same object).
    TCustomWinSocket* Socket() const { return socket_; }

    // Shorthands for Socket()->...
    int ReceiveBuf(void* buffer, int maxBytes) { return socket_->ReceiveBuf(buffer, maxBytes); }
    int SendBuf(const void* buffer, int count) { return socket_->SendBuf(buffer, count); }
    int SendText(const QByteArray& text) { return socket_->SendText(text); }

    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnDisconnect;
    TSocketNotifyEvent OnRead;
    TSocketErrorEvent OnError;

  private:
    QString host_;
    int port_ = 0;
    TCustomWinSocket* socket_;
};

// The TCP listener link. Active binds Port on all local IPv4 addresses and listens. Every
// incoming connection is accepted, appended to the list, and reported by OnClientConnect and
// then OnAccept. A client whose connection closes gets OnClientDisconnect and then leaves the
// list. The first connection in the list is the served one.
class TServerSocket : public QObject {
    Q_OBJECT
  public:
    explicit TServerSocket(QObject* parent = nullptr);
    ~TServerSocket() override;

    int Port() const { return port_; }
    // Throws ESocketError when Active and the value differs, or when the port is not 0..65535.
    void setPort(int port);
    // The port actually listened on (the kernel's choice when Port is 0); 0 when not active.
    int ListenPort() const;

    bool Active() const;
    // true: Open(); false: Close().
    void setActive(bool active);
    // Binds and listens; does nothing when Active. Throws ESocketError when that fails
    // (e.g. #10048 for a port in use).
    void Open();
    // Closes the listening socket and every client connection, without client events.
    void Close();

    // Client connections, oldest first.
    int ActiveConnections() const { return int(connections_.size()); }
    // The connection at index, nullptr when index is out of range.
    TCustomWinSocket* Connections(int index) const;
    // The served client (the first connection), nullptr when there is none.
    TCustomWinSocket* ServedClient() const { return Connections(0); }
    // True when socket is the served client.
    bool IsServedClient(const TCustomWinSocket* socket) const;
    // Closes socket and takes it out of the list at once, without any further event for it
    // (for a connection the window ignores). Does nothing for a socket not in the list.
    void DropConnection(TCustomWinSocket* socket);

    TSocketNotifyEvent OnClientConnect;
    TSocketNotifyEvent OnAccept;
    TSocketNotifyEvent OnClientRead;
    TSocketNotifyEvent OnClientDisconnect;
    TSocketErrorEvent OnClientError;

  private:
    void acceptPending();
    void removeConnection(TCustomWinSocket* socket);

    int port_ = 0;
    QTcpServer* server_ = nullptr;
    QList<TCustomWinSocket*> connections_;
};

}  // namespace trelmo
