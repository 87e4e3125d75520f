#pragma once
// Support for the link tests: a loopback peer (a plain QTcpServer standing for the remote end),
// an event log for the sockets under test, and a count of this process's open descriptors.

#include <sys/socket.h>

#include <QByteArray>
#include <QDir>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <vector>

#include "links/WinSocket.h"
#include "tests/common/Pump.h"

namespace trelmo::test {

// Open file descriptors of this process.
inline int openDescriptorCount() {
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)
                   .size());
}

// A port nobody listens on: bound by the kernel's choice, then released.
inline int unusedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const int port = probe.serverPort();
    probe.close();
    return port;
}

// Makes the next close of the socket a reset (RST) instead of an orderly close.
inline void armReset(QTcpSocket& socket) {
    linger lingerOff{1, 0};
    ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &lingerOff,
                 sizeof(lingerOff));
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

// A plain client standing for a remote program that connects to the server socket.
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

// Bytes whose value depends on their position, so a lost or swapped block shows.
inline QByteArray pattern(int size, int seed = 0) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 251 + seed) & 0xFF);
    return data;
}

}  // namespace trelmo::test
