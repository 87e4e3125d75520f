// The listener link over real loopback sockets: accept order, the client list and what each
// connection tells about its peer, ignored clients, deactivation, many clients at once.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include "links/WinSocket.h"
#include "tests/common/Bytes.h"
#include "tests/common/ErrorRecorder.h"
#include "tests/common/Process.h"
#include "tests/common/Pump.h"
#include "tests/common/TcpPeer.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {

// A server socket behaving like the main window: reads from the served client only, logs
// every event with the index of the connection it is about, silences error codes.
struct LoggedServer {
    LoggedServer() {
        server.OnClientConnect = [this](TCustomWinSocket* s) { log << tag("clientconnect", s); };
        server.OnAccept = [this](TCustomWinSocket* s) {
            log << tag("accept", s);
            if (!server.IsServedClient(s))
                return;
            served.address = server.ServedClient()->RemoteAddress();
            served.host = server.ServedClient()->RemoteHost();
            served.port = server.ServedClient()->RemotePort();
        };
        server.OnClientRead = [this](TCustomWinSocket* s) {
            log << tag("read", s);
            if (TCustomWinSocket* first = server.ServedClient()) {
                char buffer[5000];
                const int n = first->ReceiveBuf(buffer, sizeof(buffer));
                if (n > 0)
                    received.append(buffer, n);
            }
        };
        server.OnClientDisconnect = [this](TCustomWinSocket* s) {
            log << tag("disconnect", s);
            listSizeInDisconnect = server.ActiveConnections();
        };
        server.OnClientError = [this](TCustomWinSocket* s, ErrorEvent, int& code) {
            log << tag(QStringLiteral("error %1").arg(code), s);
            code = 0;
        };
    }
    QString tag(const QString& what, TCustomWinSocket* s) const {
        for (int i = 0; i < server.ActiveConnections(); ++i) {
            if (server.Connections(i) == s)
                return QStringLiteral("%1 #%2").arg(what).arg(i);
        }
        return what + " #?";
    }
    void open() {
        server.setPort(0);
        server.Open();
    }

    TServerSocket server;
    QStringList log;
    QByteArray received;
    struct {
        QString address, host;
        int port = 0;
    } served;
    int listSizeInDisconnect = -1;
};

int countPrefix(const QStringList& log, const QString& prefix) {
    return int(std::count_if(log.begin(), log.end(),
                             [&](const QString& line) { return line.startsWith(prefix); }));
}

}  // namespace

TEST(ServerLink, AcceptsInOrderAndTellsThePeer) {
    ErrorRecorder shown;
    LoggedServer s;
    s.open();
    ASSERT_TRUE(s.server.Active());
    ASSERT_GT(s.server.ListenPort(), 0);
    auto peer = connectTo(s.server.ListenPort());
    ASSERT_TRUE(pumpUntil([&] { return s.log.size() >= 2; }));
    EXPECT_EQ(s.log, QStringList({"clientconnect #0", "accept #0"}));
    ASSERT_EQ(s.server.ActiveConnections(), 1);
    ASSERT_TRUE(pumpUntil([&] { return peer->state() == QAbstractSocket::ConnectedState; }));
    EXPECT_EQ(s.served.address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(s.served.port, peer->localPort());
    EXPECT_EQ(s.server.ServedClient()->LocalPort(), s.server.ListenPort());
    const QString expectedHost = hostsFileName(QStringLiteral("127.0.0.1"));
    ASSERT_FALSE(expectedHost.isEmpty()) << "/etc/hosts names no 127.0.0.1";
    EXPECT_EQ(s.served.host, expectedHost);

    ASSERT_TRUE(writeAll(*peer, "A\n"));
    ASSERT_TRUE(pumpUntil([&] { return s.received == "A\n"; }));
    peer->disconnectFromHost();
    ASSERT_TRUE(pumpUntil([&] { return s.log.last().startsWith("disconnect"); }));
    EXPECT_EQ(s.log, QStringList({"clientconnect #0", "accept #0", "read #0", "disconnect #0"}));
    EXPECT_EQ(s.listSizeInDisconnect, 1) << "the list still holds it during its event";
    EXPECT_EQ(s.server.ActiveConnections(), 0) << "a closed connection leaves the list";
    EXPECT_TRUE(s.server.Active()) << "the listener stays open for the next client";
    EXPECT_TRUE(shown.messages.empty());
}

TEST(ServerLink, ReverseLookupOfAnAddressWithoutNameIsEmptyAndQuick) {
    // 192.0.2.0/24 is reserved for documentation: no name, and no answer is waited for long.
    QElapsedTimer timer;
    timer.start();
    const QString name = reverseLookup(QHostAddress(QStringLiteral("192.0.2.1")), 500);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(name.isEmpty()) << name.toStdString();
    EXPECT_EQ(reverseLookup(QHostAddress(QStringLiteral("127.0.0.1")), 2000),
              hostsFileName(QStringLiteral("127.0.0.1")));
}

TEST(ServerLink, SecondClientIsListedAfterTheServedOneAndCanBeDropped) {
    ErrorRecorder shown;
    LoggedServer s;
    s.open();
    auto first = connectTo(s.server.ListenPort());
    ASSERT_TRUE(pumpUntil([&] { return s.log.contains("accept #0"); }));
    auto second = connectTo(s.server.ListenPort());
    ASSERT_TRUE(pumpUntil([&] { return s.log.contains("accept #1"); }));
    ASSERT_EQ(s.server.ActiveConnections(), 2);
    TCustomWinSocket* served = s.server.ServedClient();
    TCustomWinSocket* ignored = s.server.Connections(1);
    EXPECT_TRUE(s.server.IsServedClient(served));
    EXPECT_FALSE(s.server.IsServedClient(ignored));
    EXPECT_EQ(s.server.Connections(2), nullptr);
    EXPECT_EQ(s.server.Connections(-1), nullptr);
    ASSERT_TRUE(pumpUntil([&] { return second->state() == QAbstractSocket::ConnectedState; }));
    EXPECT_EQ(ignored->RemotePort(), second->localPort());

    // Bytes of the ignored client stay unread; commands still go to the served one.
    ASSERT_TRUE(writeAll(*second, "ignored"));
    ASSERT_TRUE(pumpUntil([&] { return s.log.contains("read #1"); }));
    EXPECT_TRUE(s.received.isEmpty());
    EXPECT_EQ(ignored->ReceiveLength(), 7);
    served->SendText("to first");
    QByteArray got;
    ASSERT_TRUE(pumpUntil([&] {
        got += first->readAll();
        return got.size() >= 8;
    }));
    EXPECT_EQ(got, QByteArray("to first"));
    EXPECT_EQ(second->bytesAvailable(), 0);

    const int eventsBefore = s.log.size();
    s.server.DropConnection(ignored);
    EXPECT_EQ(s.server.ActiveConnections(), 1);
    EXPECT_EQ(s.server.ServedClient(), served);
    ASSERT_TRUE(pumpUntil([&] { return second->state() == QAbstractSocket::UnconnectedState; }));
    pumpFor(100);
    EXPECT_EQ(s.log.size(), eventsBefore) << "a dropped connection raises no event";
    s.server.DropConnection(ignored);  // no longer listed: nothing happens
    EXPECT_EQ(s.server.ActiveConnections(), 1);
}

TEST(ServerLink, ClosingAConnectionGivesItsDisconnectEvent) {
    ErrorRecorder shown;
    LoggedServer s;
    s.open();
    auto peer = connectTo(s.server.ListenPort());
    ASSERT_TRUE(pumpUntil([&] { return s.log.contains("accept #0"); }));
    s.server.ServedClient()->Close();
    EXPECT_FALSE(s.log.contains("disconnect #0"));
    ASSERT_TRUE(pumpUntil([&] { return s.log.contains("disconnect #0"); }));
    EXPECT_EQ(s.server.ActiveConnections(), 0);
    EXPECT_TRUE(pumpUntil([&] { return peer->state() == QAbstractSocket::UnconnectedState; }));
}

TEST(ServerLink, ReadsAtMost5000AndTheRestFollows) {
    ErrorRecorder shown;
    TServerSocket server;
    std::vector<int> taken;
    server.OnClientRead = [&](TCustomWinSocket* s) {
        if (taken.empty() && s->ReceiveLength() < 6000)
            return;
        char buffer[5000];
        taken.push_back(server.ServedClient()->ReceiveBuf(buffer, sizeof(buffer)));
    };
    server.Open();
    auto peer = connectTo(server.ListenPort());
    ASSERT_TRUE(pumpUntil([&] { return server.ActiveConnections() == 1; }));
    ASSERT_TRUE(writeAll(*peer, pattern(6000)));
    ASSERT_TRUE(pumpUntil([&] { return taken.size() >= 2; }));
    pumpFor(100);
    EXPECT_EQ(taken, std::vector<int>({5000, 1000}));
}

TEST(ServerLink, PortInUseAndBadPortThrowWithAClearMessage) {
    ErrorRecorder shown;
    TServerSocket first;
    first.Open();
    ASSERT_TRUE(first.Active());
    TServerSocket second;
    second.setPort(first.ListenPort());
    try {
        second.Open();
        FAIL() << "listening on a port in use must throw";
    } catch (const ESocketError& e) {
        EXPECT_EQ(e.code(), wsa::WSAEADDRINUSE);
        const QString text = QString::fromUtf8(e.what());
        EXPECT_TRUE(text.contains(QString::number(first.ListenPort()))) << text.toStdString();
        EXPECT_TRUE(text.contains("in use")) << text.toStdString();
    }
    EXPECT_FALSE(second.Active());
    EXPECT_EQ(second.ListenPort(), 0);
    EXPECT_THROW(second.setPort(70000), ESocketError);
    EXPECT_THROW(first.setPort(first.ListenPort() + 1), ESocketError) << "active";
    EXPECT_NO_THROW(first.setPort(0)) << "same value";
}

TEST(ServerLink, DeactivationClosesClientsSilentlyAndLeavesNoDescriptors) {
    ErrorRecorder shown;
    const int before = openDescriptorCount();
    {
        LoggedServer s;
        s.open();
        constexpr int kClients = 200;
        std::vector<std::unique_ptr<QTcpSocket>> peers;
        for (int i = 0; i < kClients; ++i)
            peers.push_back(connectTo(s.server.ListenPort()));
        ASSERT_TRUE(pumpUntil([&] { return countPrefix(s.log, "accept") == kClients; }, 60000))
            << s.log.size();
        EXPECT_EQ(s.server.ActiveConnections(), kClients);
        EXPECT_GE(openDescriptorCount(), before + 2 * kClients) << "both ends of each are open";
        EXPECT_EQ(countPrefix(s.log, "clientconnect"), kClients);
        // Each connection's client-connect event comes before its accept event.
        for (int i = 0; i < kClients; ++i) {
            EXPECT_LT(s.log.indexOf(QStringLiteral("clientconnect #%1").arg(i)),
                      s.log.indexOf(QStringLiteral("accept #%1").arg(i)));
        }
        const int eventsBefore = s.log.size();
        s.server.Close();
        EXPECT_FALSE(s.server.Active());
        EXPECT_EQ(s.server.ActiveConnections(), 0);
        ASSERT_TRUE(pumpUntil([&] {
            for (auto& p : peers) {
                if (p->state() != QAbstractSocket::UnconnectedState)
                    return false;
            }
            return true;
        }));
        pumpFor(100);
        EXPECT_EQ(s.log.size(), eventsBefore) << "no client events after deactivation";
        peers.clear();
    }
    EXPECT_TRUE(pumpUntil([&] { return openDescriptorCount() <= before; }))
        << openDescriptorCount() << " open, " << before << " before";
}

TEST(ServerLink, HandlerMayDeactivateOrDeleteTheServerInsideAnEvent) {
    ErrorRecorder shown;
    {
        TServerSocket server;
        int reads = 0;
        server.OnClientRead = [&](TCustomWinSocket* s) {
            ++reads;
            char b[1];
            s->ReceiveBuf(b, 1);  // leaves bytes behind: a follow-up would be due
            server.Close();
        };
        server.Open();
        auto peer = connectTo(server.ListenPort());
        ASSERT_TRUE(pumpUntil([&] { return server.ActiveConnections() == 1; }));
        ASSERT_TRUE(writeAll(*peer, "abc"));
        ASSERT_TRUE(pumpUntil([&] { return !server.Active(); }));
        pumpFor(200);
        EXPECT_EQ(reads, 1);
    }
    {
        auto* server = new TServerSocket;
        bool later = false;
        server->OnAccept = [&](TCustomWinSocket*) {
            delete server;
            server = nullptr;
        };
        server->OnClientRead = [&](TCustomWinSocket*) { later = true; };
        server->Open();
        auto peer = connectTo(server->ListenPort());
        peer->write("data");
        ASSERT_TRUE(pumpUntil([&] { return server == nullptr; }));
        pumpFor(200);
        EXPECT_FALSE(later);
    }
}

TEST(ServerLink, ClientResetIsReportedThenItLeavesTheList) {
    ErrorRecorder shown;
    LoggedServer s;
    s.open();
    auto peer = connectTo(s.server.ListenPort());
    ASSERT_TRUE(pumpUntil([&] { return s.log.contains("accept #0"); }));
    ASSERT_TRUE(pumpUntil([&] { return peer->state() == QAbstractSocket::ConnectedState; }));
    armReset(*peer);
    peer->abort();
    ASSERT_TRUE(pumpUntil([&] { return s.log.contains("disconnect #0"); }));
    EXPECT_EQ(s.log,
              QStringList({"clientconnect #0", "accept #0", "error 10054 #0", "disconnect #0"}));
    EXPECT_EQ(s.server.ActiveConnections(), 0);
    EXPECT_TRUE(shown.messages.empty());
}
