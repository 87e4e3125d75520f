#pragma once
// Loopback peers for the TCP tests on the GUI thread: a plain QTcpServer standing for the
// remote end of a client link, a plain client for a listener, a port nobody listens on,
// closes that reset the connection, and the name the hosts file gives an address.

#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <vector>

#include "tests/common/Pump.h"

namespace trelmo::test {

// A port nobody listens on: bound by the kernel's choice, then released.
inline int unusedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const int port = probe.serverPort();
    probe.close();
    return port;
}

// Makes the next close of the socket a reset (RST) instead of an orderly close: SO_LINGER on,
// with no time to linger.
inline void armReset(int fd) {
    linger lingerOff{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lingerOff, sizeof(lingerOff));
}
inline void armReset(QTcpSocket& socket) {
    armReset(int(socket.socketDescriptor()));
}

// The remote end of a client link: listens on 127.0.0.1 and keeps the accepted sockets.
class Peer {
  public:
    Peer() {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server.nextPendingConnection())
                accepted.push_back(s);
        });
    }
    int port() const { return server.serverPort(); }
    bool waitForClient(size_t count = 1) {
        return pumpUntil([&] { return accepted.size() >= count; });
    }
    QTcpSocket& client(size_t index = 0) { return *accepted.at(index); }

    QTcpServer server;
    std::vector<QTcpSocket*> accepted;  // owned by the server
};

// A plain client standing for a remote program that connects to a listening socket.
inline std::unique_ptr<QTcpSocket> connectTo(int port) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket;
}

// Writes everything, pumping until the kernel took it.
inline bool writeAll(QTcpSocket& socket, const QByteArray& data) {
    socket.write(data);
    return pumpUntil([&] { return socket.bytesToWrite() == 0; });
}

// Writes data on a peer's socket and waits (without running this thread's event loop) until
// the kernel has it, so the other end's next read finds all of it at once.
inline bool pushNow(QTcpSocket& socket, const QByteArray& data) {
    socket.write(data);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(5000))
            return false;
    }
    return true;
}

// The first name /etc/hosts gives an address, empty when none.
inline QString hostsFileName(const QString& address) {
    QFile file(QStringLiteral("/etc/hosts"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    while (!file.atEnd()) {
        const QString line = QString::fromLocal8Bit(file.readLine()).section('#', 0, 0);
        const QStringList parts = line.simplified().split(' ', Qt::SkipEmptyParts);
        if (parts.size() >= 2 && parts[0] == address)
            return parts[1];
    }
    return {};
}

}  // namespace trelmo::test
