#pragma once
// The TCP links of the main window: the client link (`Xport_socket`) and the single-client
// listener (`Socket1`): connect and listen, the sockets' events, their pane lines and status
// texts. Received blocks go to the receive path.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>

class QTimer;

#include "terminal/control/LinkTypes.h"

namespace trelmo {

class ReceivePath;
class TClientSocket;
class TServerSocket;
class TCustomWinSocket;
struct LinkPolicy;

class TcpLinksController : public QObject {
    Q_OBJECT
  public:
    TcpLinksController(ReceivePath& receive, const LinkStatus& links, QObject* parent = nullptr);

    TClientSocket* client() const { return Xport_socket; }
    TServerSocket* listener() const { return Socket1; }

    // The client link is the user's: connected and not disconnected (a link waiting to be
    // reconnected counts, so the other links stay refused).
    bool tcpConnected() const { return TcpConnected; }
    // Bytes can be sent on the client link: connected, and not waiting to reconnect.
    bool clientWritable() const { return TcpConnected && !waiting_; }
    // The client link dropped and waits to be reconnected.
    bool waiting() const { return waiting_; }
    bool listenerClientConnected() const { return ListenerClientConnected; }
    bool listenerActive() const;
    // True while toggleClient waits for its connection.
    bool connectWaiting() const { return connectWaiting_; }

    // The remote host ("Remote IP number"), the port field's text and the connect timeout
    // in units of 10 ms, as the window's fields hold them.
    void setHostText(const QString& text) { hostText_ = text; }
    void setPortText(const QString& text) { portText_ = text; }
    void setTimeoutRounds(int rounds) { timeoutRounds_ = rounds; }
    // The number in the port field; 502 when it is empty or not a number.
    int portNumber() const;

    // "Connect to host" / "Disconnect TCP". Connecting waits the timeout handling events; a
    // click that would start another attempt during that wait is ignored.
    void toggleClient();
    // "Listen on port" / "Close socket".
    void toggleListener();

    // While on, a client link that drops (the peer closed or reset it) is connected again:
    // one pane line says when and why it was lost, the status says the link waits, and
    // every kReconnectIntervalMs a new attempt starts, quietly; when it connects, one pane
    // line says so. "Disconnect TCP" stops the waiting.
    void setReopen(bool on) { reopen_ = on; }
    bool reopen() const { return reopen_; }
    static constexpr int kReconnectIntervalMs = 500;

    // Writes one byte of a command to the client link.
    void sendToClient(uint8_t byte);
    // The listener's served client (the first connection), nullptr when there is none.
    TCustomWinSocket* servedClient() const;

  signals:
    // Status panel 0.
    void statusChanged(const QString& text);
    // The captions of the connect and listen buttons (they double as the links' state).
    void clientCaptionChanged(const QString& caption);
    void listenerCaptionChanged(const QString& caption);
    // A client was accepted.
    void beep();
    // The client link dropped and waits to be reconnected (reopen on).
    void lost();
    // The client link is connected again after waiting.
    void reopened();

  private:
    void Xport_socketConnect(TCustomWinSocket* Socket);
    void Xport_socketDisconnect(TCustomWinSocket* Socket);
    void Xport_socketError(TCustomWinSocket* Socket, int& ErrorCode);
    void Xport_socketRead(TCustomWinSocket* Socket);
    void Socket1ClientConnect(TCustomWinSocket* Socket);
    void Socket1Accept(TCustomWinSocket* Socket);
    void Socket1ClientRead(TCustomWinSocket* Socket);
    void Socket1ClientDisconnect(TCustomWinSocket* Socket);
    void Socket1ClientError(TCustomWinSocket* Socket, int& ErrorCode);
    // One block from `from`, at most the policy's block.
    void receiveFrom(TCustomWinSocket* from, const LinkPolicy& policy);
    // host:port of the client link.
    QString remoteName() const;
    void tryReconnect();
    // "Socket error #N" and what it means.
    QString socketErrorLine(int code, const QString& host, int port) const;

    ReceivePath& receive_;
    const LinkStatus& links_;
    TClientSocket* Xport_socket = nullptr;
    TServerSocket* Socket1 = nullptr;
    bool TcpConnected = false;
    bool ListenerClientConnected = false;
    bool connectWaiting_ = false;
    QString clientCaption_;
    QString listenerCaption_;
    QString hostText_;
    QString portText_;
    int timeoutRounds_ = 10;
    bool reopen_ = false;
    bool waiting_ = false;
    bool attempting_ = false;  // a reconnect attempt is under way
    QString lostReason_;
    QElapsedTimer lostClock_;
    QTimer* reconnectTimer_ = nullptr;
};

}  // namespace trelmo
