// Faults on the TCP links, through the real windows: peers that reset the connection while
// bytes arrive and while a command is being sent, and a burst of clients at the listener.

#include <QComboBox>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "tests/common/RemoteEnds.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;

using namespace trelmo::test;

namespace {

class TcpFaults : public TcpWindow {
  protected:
    // The first `n` bytes of the table are the stream's first `n` bytes.
    bool tableHoldsStreamPrefix() const {
        const trelmo::ByteStore& store = (&form->receivePath()->table())->store();
        for (qsizetype i = 0; i < store.size(); ++i)
            if (store.value(i) != streamByte(i))
                return false;
        return true;
    }
};

}  // namespace

// ---- Resets -------------------------------------------------------------------------------------

TEST_F(TcpFaults, ClientLinkResetWhileReceiving) {
    {
        ThreadedServer peer;
        std::atomic<bool> stop{false};
        std::atomic<qint64> sent{0};
        peer.serve([&](int fd) {
            streamUntilStopped(fd, stop, sent);
            resetRaw(fd);
        });
        connectClient(peer.port());
        ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
        ASSERT_TRUE(pumpUntil([&] { return form->receivePath()->state().ReceivedCount > 200000; }));
        stop = true;
        peer.join();
        ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->tcpConnected(); }));
        pumpFor(200);
        const QStringList l = shownLines();
        // Bytes still buffered when the error comes are read after it and go on its line.
        EXPECT_TRUE(!l.filter(QRegularExpression("^Socket error #10054")).isEmpty() ||
                    l.contains("Disconnected TCP/IP connection at " + timeText()))
            << l.mid(std::max<qsizetype>(0, l.size() - 5)).join("|").toStdString();
        EXPECT_EQ(l.filter("Socket error #").size(),
                  l.filter(QRegularExpression("^Socket error #10054")).size())
            << l.filter("Socket error #").join("|").toStdString();
        EXPECT_EQ(ui(form).Butt_connect->text(), "Connect to host");
        if (l.contains("Disconnected TCP/IP connection at " + timeText())) {
            EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "Disconnected TCP");
        }
        EXPECT_FALSE(form->tcpLinks()->client()->Active());
        EXPECT_LE(form->receivePath()->state().ReceivedCount, sent.load());
        expectCountsAgree();
        EXPECT_TRUE(tableHoldsStreamPrefix()) << "a received byte was altered or lost";
        EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
    }

    // A new connection works.
    Peer next;
    const qint64 before = form->receivePath()->state().ReceivedCount;
    connectClient(next.port());
    ASSERT_TRUE(next.waitForClient());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ASSERT_TRUE(writeAll(next.client(), "fresh"));
    EXPECT_TRUE(
        pumpUntil([&] { return form->receivePath()->state().ReceivedCount == before + 5; }));
    send("pong");
    EXPECT_TRUE(pumpUntil([&] { return next.client().bytesAvailable() >= 4; }));
    EXPECT_EQ(next.client().readAll(), "pong");
}

TEST_F(TcpFaults, ClientLinkResetWhileSending) {
    {
        ThreadedServer peer;
        std::atomic<int> gotBeforeReset{0};
        peer.serve([&](int fd) {
            // Reset as soon as the first bytes of the command are here.
            char b[64];
            const ssize_t n = ::recv(fd, b, sizeof b, 0);
            gotBeforeReset = int(n);
            resetRaw(fd);
        });
        connectClient(peer.port());
        ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
        form->commands()->setCharDelay(50);
        send(QString(40, 'x'));  // two seconds of sending, during which the peer resets
        peer.join();
        EXPECT_GT(gotBeforeReset.load(), 0);
        ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->tcpConnected(); }));
        pumpFor(200);
        const QStringList l = shownLines();
        EXPECT_EQ(l.filter("Exception sending - ").size(), 1) << l.join("|").toStdString();
        const int sentCount = ui(form).Label_send->text().section(' ', 2).toInt();
        EXPECT_GT(sentCount, 0);
        EXPECT_LT(sentCount, 40) << "the send went on after the reset";
        EXPECT_EQ(ui(form).Butt_connect->text(), "Connect to host");
        EXPECT_FALSE(form->tcpLinks()->client()->Active());
        EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
        form->commands()->setCharDelay(0);
    }

    Peer next;
    connectClient(next.port());
    ASSERT_TRUE(next.waitForClient());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    send("again");
    EXPECT_TRUE(pumpUntil([&] { return next.client().bytesAvailable() >= 5; }));
    EXPECT_EQ(next.client().readAll(), "again");
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 5");
}

TEST_F(TcpFaults, ListenerClientResetWhileReceivingAndWhileSending) {
    const int port = listen();
    ASSERT_EQ(ui(form).BitBtn3->text(), "Close socket");
    {
        std::atomic<bool> stop{false};
        std::atomic<qint64> sent{0};
        ThreadedClient peer(port, [&](int fd) {
            streamUntilStopped(fd, stop, sent);
            resetRaw(fd);
        });
        ASSERT_TRUE(pumpUntil([&] { return form->receivePath()->state().ReceivedCount > 200000; }));
        EXPECT_TRUE(form->tcpLinks()->listenerClientConnected());
        stop = true;
        peer.join();
        ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->listenerClientConnected(); }));
        pumpFor(200);
        const QStringList l = shownLines();
        EXPECT_TRUE(l.contains("Connection closed at " + timeText()) ||
                    !l.filter(QRegularExpression("^Socket error #10054")).isEmpty())
            << l.mid(std::max<qsizetype>(0, l.size() - 5)).join("|").toStdString();
        EXPECT_EQ(form->tcpLinks()->listener()->ActiveConnections(), 0);
        EXPECT_TRUE(form->tcpLinks()->listener()->Active());
        expectCountsAgree();
        EXPECT_LE(form->receivePath()->state().ReceivedCount, sent.load());
        EXPECT_TRUE(tableHoldsStreamPrefix()) << "a received byte was altered or lost";
        EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
    }
    {
        std::atomic<int> got{0};
        ThreadedClient peer(port, [&](int fd) {
            char b[64];
            got = int(::recv(fd, b, sizeof b, 0));
            resetRaw(fd);
        });
        ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->listenerClientConnected(); }));
        form->commands()->setCharDelay(50);
        send(QString(40, 'y'));
        peer.join();
        EXPECT_GT(got.load(), 0);
        ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->listenerClientConnected(); }));
        pumpFor(200);
        EXPECT_EQ(shownLines().filter("Exception sending - ").size(), 1)
            << shownLines().join("|").toStdString();
        EXPECT_LT(ui(form).Label_send->text().section(' ', 2).toInt(), 40);
        EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
        form->commands()->setCharDelay(0);
    }
    // The listener serves the next client.
    auto next = connectTo(port);
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->listenerClientConnected(); }));
    const qint64 before = form->receivePath()->state().ReceivedCount;
    ASSERT_TRUE(writeAll(*next, "hello"));
    EXPECT_TRUE(
        pumpUntil([&] { return form->receivePath()->state().ReceivedCount == before + 5; }));
    send("back");
    EXPECT_TRUE(pumpUntil([&] { return next->bytesAvailable() >= 4; }));
    EXPECT_EQ(next->readAll(), "back");
}

// ---- A burst of clients ---------------------------------------------------------------------

TEST_F(TcpFaults, TwoHundredClientsAtOnce) {
    // One round first, so whatever Qt opens once (notifiers, lookups) is open before counting.
    {
        const int port = listen();
        auto c = connectTo(port);
        ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->listenerClientConnected(); }));
        ui(form).BitBtn3->click();
        c.reset();
        pumpFor(200);
    }
    const int fdsBefore = openDescriptorCount();

    const int port = listen();
    const int countBefore = form->receivePath()->state().ReceivedCount;
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 200; ++i)
        clients.push_back(connectTo(port));
    ASSERT_TRUE(pumpUntil(
        [&] {
            return std::all_of(clients.begin(), clients.end(), [](const auto& c) {
                return c->state() == QAbstractSocket::ConnectedState ||
                       c->state() == QAbstractSocket::UnconnectedState;
            });
        },
        30000));
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->listenerClientConnected(); }));
    // Every other client is reported and closed.
    ASSERT_TRUE(pumpUntil(
        [&] {
            return countLines("New connection will be ignored, still active connection...") == 199;
        },
        30000))
        << countLines("New connection will be ignored, still active connection...");

    // Which client is served: the one whose port the listener names.
    trelmo::TCustomWinSocket* served = form->tcpLinks()->listener()->ServedClient();
    ASSERT_NE(served, nullptr);
    QTcpSocket* mine = nullptr;
    for (const auto& c : clients)
        if (c->localPort() == served->RemotePort())
            mine = c.get();
    ASSERT_NE(mine, nullptr);

    // Some of the others write before they learn they are not served; none of it counts.
    for (size_t i = 0; i < clients.size(); i += 7)
        if (clients[i].get() != mine)
            clients[i]->write("noise from an ignored client\n");
    const QByteArray data = pattern(20000, 5);
    ASSERT_TRUE(writeAll(*mine, data));
    EXPECT_TRUE(pumpUntil(
        [&] { return form->receivePath()->state().ReceivedCount == countBefore + data.size(); }));
    pumpFor(300);
    EXPECT_EQ(form->receivePath()->state().ReceivedCount, countBefore + data.size());
    EXPECT_EQ((&form->receivePath()->table())->bytes().right(data.size()), data);

    // The ignored clients are closed by the listener.
    EXPECT_TRUE(pumpUntil(
        [&] {
            return std::all_of(clients.begin(), clients.end(), [&](const auto& c) {
                return c.get() == mine || c->state() == QAbstractSocket::UnconnectedState;
            });
        },
        30000));
    EXPECT_EQ(mine->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(form->tcpLinks()->listener()->ActiveConnections(), 1);

    // Commands reach the served client only, whole.
    send("#41#42C");
    EXPECT_TRUE(pumpUntil([&] { return mine->bytesAvailable() >= 3; }));
    EXPECT_EQ(mine->readAll(), "ABC");
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();

    ui(form).BitBtn3->click();  // "Close socket"
    EXPECT_EQ(ui(form).BitBtn3->text(), "Listen on port");
    EXPECT_FALSE(form->tcpLinks()->listener()->Active());
    EXPECT_TRUE(pumpUntil([&] { return mine->state() == QAbstractSocket::UnconnectedState; }));
    clients.clear();
    EXPECT_TRUE(pumpUntil([&] { return openDescriptorCount() <= fdsBefore; }, 10000))
        << openDescriptorCount() << " descriptors open, " << fdsBefore << " before";
}
