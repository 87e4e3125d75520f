// The client link over real loopback sockets: event order, errors and their codes, reads that
// stop short, streams, sends on a dead connection.
#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>

#include "links/WinSocket.h"
#include "tests/common/Bytes.h"
#include "tests/common/ErrorRecorder.h"
#include "tests/common/Pump.h"
#include "tests/common/TcpPeer.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {

struct ErrorSeen {
    ErrorEvent kind;
    int code;
};

// A client socket whose events are written to a log; error codes are silenced unless
// leaveCode is set.
struct LoggedClient {
    LoggedClient() {
        client.OnConnect = [this](TCustomWinSocket*) { log << "connect"; };
        client.OnDisconnect = [this](TCustomWinSocket*) { log << "disconnect"; };
        client.OnRead = [this](TCustomWinSocket* s) {
            ++readEvents;
            char buffer[65536];
            const int n = s->ReceiveBuf(buffer, std::min<int>(readCap, sizeof(buffer)));
            if (n > 0) {
                received.append(buffer, n);
                reads.push_back(n);
            }
            log << "read";
        };
        client.OnError = [this](TCustomWinSocket*, ErrorEvent kind, int& code) {
            errors.push_back({kind, code});
            log << QStringLiteral("error %1").arg(code);
            if (!leaveCode)
                code = 0;
        };
    }

    // Points the client at 127.0.0.1:port and opens it.
    void openTo(int port) {
        client.setHost(QStringLiteral("127.0.0.1"));
        client.setPort(port);
        client.Open();
    }

    TClientSocket client;
    QStringList log;
    QByteArray received;
    std::vector<int> reads;
    std::vector<ErrorSeen> errors;
    int readCap = 65536;
    int readEvents = 0;
    bool leaveCode = false;
};

}  // namespace

TEST(ClientLink, ConnectReadDisconnectInOrderAndNeverInsideTheCall) {
    ErrorRecorder shown;
    Peer peer;
    LoggedClient c;
    c.openTo(peer.port());
    EXPECT_TRUE(c.log.isEmpty()) << "no event may run inside Open";
    EXPECT_FALSE(c.client.Active()) << "not active before the connect event";
    ASSERT_TRUE(pumpUntil([&] { return c.log.contains("connect"); }));
    EXPECT_TRUE(c.client.Active());
    ASSERT_TRUE(peer.waitForClient());
    EXPECT_EQ(c.client.Socket()->RemotePort(), peer.port());
    EXPECT_EQ(c.client.Socket()->RemoteAddress(), QStringLiteral("127.0.0.1"));

    ASSERT_TRUE(writeAll(peer.client(), "hello"));
    ASSERT_TRUE(pumpUntil([&] { return c.received == "hello"; }));
    peer.client().disconnectFromHost();
    ASSERT_TRUE(pumpUntil([&] { return c.log.contains("disconnect"); }));
    EXPECT_FALSE(c.client.Active());
    EXPECT_EQ(c.log.first(), "connect");
    EXPECT_EQ(c.log.last(), "disconnect");
    EXPECT_EQ(c.log.count("disconnect"), 1);
    EXPECT_TRUE(c.errors.empty()) << "an orderly close is no error";
    EXPECT_TRUE(shown.messages.empty());
}

TEST(ClientLink, BytesSentJustBeforeTheCloseArriveBeforeTheDisconnect) {
    ErrorRecorder shown;
    Peer peer;
    LoggedClient c;
    c.readCap = 100;
    c.openTo(peer.port());
    ASSERT_TRUE(peer.waitForClient());
    const QByteArray data = pattern(5000, 3);
    peer.client().write(data);
    peer.client().disconnectFromHost();
    ASSERT_TRUE(pumpUntil([&] { return c.log.contains("disconnect"); }));
    EXPECT_EQ(c.received, data);
    EXPECT_EQ(c.log.last(), "disconnect");
}

TEST(ClientLink, LocalCloseGivesTheDisconnectEventLaterAndDoesNothingWhenNotConnected) {
    ErrorRecorder shown;
    Peer peer;
    LoggedClient c;
    c.client.Close();  // never opened
    c.openTo(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return c.client.Active(); }));
    ASSERT_TRUE(peer.waitForClient());
    c.client.Close();
    EXPECT_FALSE(c.log.contains("disconnect")) << "the event comes from the loop, not Close";
    ASSERT_TRUE(pumpUntil([&] { return c.log.contains("disconnect"); }));
    EXPECT_FALSE(c.client.Active());
    EXPECT_TRUE(
        pumpUntil([&] { return peer.client().state() == QAbstractSocket::UnconnectedState; }));
    c.client.Close();  // closed already
    pumpFor(200);
    EXPECT_EQ(c.log, QStringList({"connect", "disconnect"}));
}

TEST(ClientLink, RefusedConnectionGivesOneErrorAndNoOtherEvent) {
    ErrorRecorder shown;
    LoggedClient c;
    c.client.setHost(QStringLiteral("127.0.0.1"));
    c.client.setPort(unusedPort());
    c.client.Open();
    EXPECT_TRUE(c.log.isEmpty());
    ASSERT_TRUE(pumpUntil([&] { return !c.errors.empty(); }));
    EXPECT_EQ(c.errors.front().code, wsa::WSAECONNREFUSED);
    EXPECT_EQ(c.errors.front().kind, ErrorEvent::eeConnect);
    pumpFor(300);
    EXPECT_EQ(c.log, QStringList({"error 10061"}));
    EXPECT_FALSE(c.client.Active());
    EXPECT_TRUE(shown.messages.empty()) << "a code set to 0 raises nothing";
}

TEST(ClientLink, ErrorCodeLeftSetIsShownAsAnExceptionOnce) {
    ErrorRecorder shown;
    LoggedClient c;
    c.leaveCode = true;
    c.client.setHost(QStringLiteral("127.0.0.1"));
    c.client.setPort(unusedPort());
    c.client.Open();
    ASSERT_TRUE(pumpUntil([&] { return !shown.messages.empty(); }));
    pumpFor(200);
    ASSERT_EQ(shown.messages.size(), 1);
    EXPECT_TRUE(shown.lastText().contains("10061")) << shown.lastText().toStdString();
    EXPECT_TRUE(shown.lastText().contains("refused", Qt::CaseInsensitive));
    // What reaches the error display is shown as an error box (windows/application_test).
}

TEST(ClientLink, NoErrorHandlerMeansTheErrorIsShown) {
    ErrorRecorder shown;
    TClientSocket client;
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setPort(unusedPort());
    client.Open();
    ASSERT_TRUE(pumpUntil([&] { return !shown.messages.empty(); }));
    EXPECT_TRUE(shown.lastText().contains("10061"));
}

TEST(ClientLink, EmptyHostGivesNoAddressErrorThenDisconnectInsideOpen) {
    ErrorRecorder shown;
    LoggedClient c;
    c.client.setHost(QString());
    c.client.setPort(502);
    c.client.Open();
    // The lookup of an empty name fails at once: both events ran inside Open.
    EXPECT_EQ(c.log, QStringList({"error 1110", "disconnect"}));
    pumpFor(200);
    EXPECT_EQ(c.log, QStringList({"error 1110", "disconnect"})) << "nothing more follows";
    ASSERT_EQ(c.errors.size(), 1u);
    EXPECT_EQ(c.errors.front().kind, ErrorEvent::eeLookup);
    EXPECT_FALSE(c.client.Active());
    EXPECT_TRUE(shown.messages.empty());
}

TEST(ClientLink, UnknownHostIsALookupError) {
    ErrorRecorder shown;
    LoggedClient c;
    c.client.setHost(QStringLiteral("no-such-host.invalid"));
    c.client.setPort(502);
    c.client.Open();
    ASSERT_TRUE(pumpUntil([&] { return !c.errors.empty(); }, 60000));
    EXPECT_EQ(c.errors.front().code, wsa::WSAHOST_NOT_FOUND);
    EXPECT_EQ(c.errors.front().kind, ErrorEvent::eeLookup);
    pumpFor(200);
    EXPECT_FALSE(c.log.contains("connect"));
    EXPECT_FALSE(c.log.contains("disconnect"));
}

TEST(ClientLink, HostAndPortAreFixedWhileActiveAndPortMustFit) {
    ErrorRecorder shown;
    Peer peer;
    LoggedClient c;
    EXPECT_THROW(c.client.setPort(65536), ESocketError);
    EXPECT_THROW(c.client.setPort(-1), ESocketError);
    EXPECT_EQ(c.client.Port(), 0);
    c.openTo(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return c.client.Active(); }));
    EXPECT_NO_THROW(c.client.setHost(QStringLiteral("127.0.0.1")));
    EXPECT_NO_THROW(c.client.setPort(peer.port()));
    EXPECT_THROW(c.client.setHost(QStringLiteral("10.0.0.1")), ESocketError);
    EXPECT_THROW(c.client.setPort(peer.port() == 1 ? 2 : 1), ESocketError);
    EXPECT_EQ(c.client.Host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(c.client.Port(), peer.port());
    c.client.Open();  // active: nothing happens
    pumpFor(100);
    EXPECT_EQ(c.log.count("connect"), 1);
    c.client.Close();
    ASSERT_TRUE(pumpUntil([&] { return !c.client.Active(); }));
    EXPECT_NO_THROW(c.client.setPort(1));
}

TEST(ClientLink, ReadCapLeavesTheRestForAFollowUpEventWithoutNewBytes) {
    ErrorRecorder shown;
    Peer peer;
    TClientSocket client;
    std::vector<int> available, taken;
    // Take nothing until all 6000 bytes are buffered, then at most 5000 per event.
    client.OnRead = [&](TCustomWinSocket* s) {
        if (taken.empty() && s->ReceiveLength() < 6000)
            return;
        available.push_back(s->ReceiveLength());
        char buffer[5000];
        taken.push_back(s->ReceiveBuf(buffer, 5000));
    };
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setPort(peer.port());
    client.Open();
    ASSERT_TRUE(peer.waitForClient());
    ASSERT_TRUE(writeAll(peer.client(), pattern(6000)));
    ASSERT_TRUE(pumpUntil([&] { return taken.size() >= 2; }));
    pumpFor(200);
    EXPECT_EQ(available, std::vector<int>({6000, 1000}));
    EXPECT_EQ(taken, std::vector<int>({5000, 1000}));
    EXPECT_EQ(client.Socket()->ReceiveLength(), 0);
}

TEST(ClientLink, MegabyteStreamArrivesCompleteInOrderWithBoundedBuffer) {
    ErrorRecorder shown;
    Peer peer;
    LoggedClient c;
    c.readCap = 10000;
    qint64 largest = 0;
    auto read = c.client.OnRead;
    c.client.OnRead = [&](TCustomWinSocket* s) {
        largest = std::max<qint64>(largest, s->ReceiveLength());
        read(s);
    };
    c.openTo(peer.port());
    ASSERT_TRUE(peer.waitForClient());
    const QByteArray data = pattern(1 << 20, 11);
    peer.client().write(data);
    ASSERT_TRUE(pumpUntil([&] { return c.received.size() >= data.size(); }, 60000))
        << c.received.size();
    EXPECT_EQ(c.received.size(), data.size());
    EXPECT_TRUE(c.received == data) << "bytes lost or reordered";
    for (int n : c.reads)
        EXPECT_LE(n, 10000);
    EXPECT_LE(largest, ReadBufferSize);
}

TEST(ClientLink, SendReachesThePeerAndSendOnAResetConnectionThrows) {
    ErrorRecorder shown;
    Peer peer;
    LoggedClient c;
    c.client.setHost(QStringLiteral("127.0.0.1"));
    c.client.setPort(peer.port());
    EXPECT_THROW(c.client.SendText("x"), ESocketError) << "not connected yet";
    c.client.Open();
    ASSERT_TRUE(pumpUntil([&] { return c.client.Active(); }));
    ASSERT_TRUE(peer.waitForClient());
    EXPECT_EQ(c.client.SendText("AT\r"), 3);
    const char byte = 0x7E;
    EXPECT_EQ(c.client.SendBuf(&byte, 1), 1);
    QByteArray got;
    ASSERT_TRUE(pumpUntil([&] {
        got += peer.client().readAll();
        return got.size() >= 4;
    }));
    EXPECT_EQ(got, QByteArray("AT\r~"));

    armReset(peer.client());
    peer.client().abort();
    // Keep sending until the reset is noticed: it must end in an exception, never in silence.
    bool thrown = false;
    QString message;
    pumpUntil([&] {
        try {
            c.client.SendText("z");
        } catch (const ESocketError& e) {
            thrown = true;
            message = QString::fromUtf8(e.what());
        }
        return thrown;
    });
    ASSERT_TRUE(thrown);
    EXPECT_TRUE(message.startsWith("Socket error #")) << message.toStdString();
    ASSERT_TRUE(pumpUntil([&] { return c.log.contains("disconnect"); }));
    EXPECT_FALSE(c.client.Active());
    EXPECT_THROW(c.client.SendText("z"), ESocketError);
    // The reset is reported once, by the error event of whichever call met it first.
    ASSERT_EQ(c.errors.size(), 1u) << c.log.join(",").toStdString();
    EXPECT_EQ(c.errors.front().code, wsa::WSAECONNRESET);
    EXPECT_TRUE(c.errors.front().kind == ErrorEvent::eeSend ||
                c.errors.front().kind == ErrorEvent::eeDisconnect);
    EXPECT_EQ(c.log.indexOf("error 10054"), c.log.indexOf("disconnect") - 1);
    EXPECT_TRUE(shown.messages.empty());
}

TEST(ClientLink, HandlerMayDeleteTheSocketInsideAnEvent) {
    ErrorRecorder shown;
    Peer peer;
    auto* client = new TClientSocket;
    int reads = 0;
    bool disconnected = false;
    client->OnRead = [&](TCustomWinSocket* s) {
        ++reads;
        char b[1];
        s->ReceiveBuf(b, 1);  // leaves bytes: a follow-up event would be due
        delete client;
        client = nullptr;
    };
    client->OnDisconnect = [&](TCustomWinSocket*) { disconnected = true; };
    client->setHost(QStringLiteral("127.0.0.1"));
    client->setPort(peer.port());
    client->Open();
    ASSERT_TRUE(peer.waitForClient());
    ASSERT_TRUE(writeAll(peer.client(), "abcdef"));
    ASSERT_TRUE(pumpUntil([&] { return client == nullptr; }));
    peer.client().disconnectFromHost();
    pumpFor(300);
    EXPECT_EQ(reads, 1);
    EXPECT_FALSE(disconnected);
}

TEST(ClientLink, ReopenWhileConnectingDropsTheOldAttempt) {
    ErrorRecorder shown;
    Peer peer;
    LoggedClient c;
    c.client.setHost(QStringLiteral("127.0.0.1"));
    c.client.setPort(unusedPort());
    c.client.Open();
    c.client.setPort(peer.port());  // not active yet: allowed
    c.client.Open();                // the refused attempt is dropped with its events
    ASSERT_TRUE(pumpUntil([&] { return c.client.Active(); }));
    pumpFor(200);
    EXPECT_EQ(c.log, QStringList({"connect"}));
}

TEST(ClientLink, PeerResetWhileIdleIsAnErrorThenADisconnect) {
    ErrorRecorder shown;
    Peer peer;
    LoggedClient c;
    c.openTo(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return c.client.Active(); }));
    ASSERT_TRUE(peer.waitForClient());
    armReset(peer.client());
    peer.client().abort();
    ASSERT_TRUE(pumpUntil([&] { return c.log.contains("disconnect"); }));
    EXPECT_EQ(c.log, QStringList({"connect", "error 10054", "disconnect"}));
    ASSERT_EQ(c.errors.size(), 1u);
    EXPECT_EQ(c.errors.front().kind, ErrorEvent::eeDisconnect);
    EXPECT_FALSE(c.client.Active());
}

TEST(ClientLink, ReadOutsideAnEventLeavesTheRestForAReadEvent) {
    ErrorRecorder shown;
    Peer peer;
    TClientSocket client;
    bool take = false;
    int events = 0;
    QByteArray got;
    client.OnRead = [&](TCustomWinSocket* s) {
        ++events;
        if (take)
            got += s->ReceiveText();
    };
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setPort(peer.port());
    client.Open();
    ASSERT_TRUE(peer.waitForClient());
    ASSERT_TRUE(writeAll(peer.client(), "0123456789"));
    // The handler takes nothing: no new event is due until something changes.
    ASSERT_TRUE(pumpUntil([&] { return client.Socket()->ReceiveLength() == 10 && events > 0; }));
    pumpFor(100);
    const int idleEvents = events;
    take = true;
    char first[4];
    ASSERT_EQ(client.ReceiveBuf(first, 4), 4);  // as in a read from another socket's event
    ASSERT_TRUE(pumpUntil([&] { return got.size() == 6; }));
    EXPECT_EQ(QByteArray(first, 4) + got, QByteArray("0123456789"));
    EXPECT_EQ(events, idleEvents + 1);
}
