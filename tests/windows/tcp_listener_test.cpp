// The TCP listener of the main window, commands over both TCP links, and the rule that only one
// link is active at a time, end to end over real sockets on 127.0.0.1 and a simulated port.
#include <QAction>
#include <QComboBox>
#include <QTest>
#include <QToolButton>

#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo::serial;

using namespace trelmo;

using namespace trelmo::test;
using trelmo::serial::sim::SimPeer;

namespace {

class TcpListener : public TcpWindow {
  protected:
    // A client that connected and was served (the accept lines are in the pane).
    std::unique_ptr<QTcpSocket> servedClient(int port) {
        auto client = connectTo(port);
        EXPECT_TRUE(pumpUntil([&] { return form->tcpLinks()->listenerClientConnected(); }));
        EXPECT_EQ(client->state(), QAbstractSocket::ConnectedState);
        return client;
    }
    // Reads everything a peer got until it holds `size` bytes.
    static QByteArray readAtLeast(QTcpSocket& socket, int size) {
        QByteArray got;
        pumpUntil([&] {
            got += socket.readAll();
            return got.size() >= size;
        });
        pumpFor(50);
        return got + socket.readAll();
    }
};
// The links' exclusion with an open serial port, named so that the ThreadSanitizer pass runs it.
using SerialTcpListener = TcpListener;

}  // namespace

TEST_F(TcpListener, ListenServeReceiveAndClientClose) {
    const int port = listen();
    EXPECT_EQ(ui(form).BitBtn3->text(), "Close socket");
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "Listening...");
    EXPECT_TRUE(form->tcpLinks()->listener()->Active());
    EXPECT_EQ(shownLines(), QStringList({"Port " + QString::number(port) + " opened at " +
                                             dateText() + ", " + timeText(),
                                         "Listening..."}));

    auto client = servedClient(port);
    const QString clientPort = QString::number(client->localPort());
    ASSERT_TRUE(pushNow(*client, "A\n"));
    ASSERT_TRUE(pumpUntil([&] { return received() == 2; }));
    client->disconnectFromHost();
    ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->listenerClientConnected(); }));

    const QStringList l = shownLines().mid(2);
    ASSERT_EQ(l.size(), 6) << l.join("|").toStdString();
    EXPECT_EQ(l[0], "Incoming request...");
    EXPECT_TRUE(l[1].startsWith("Connected to 127.0.0.1, ")) << l[1].toStdString();
    EXPECT_TRUE(l[1].endsWith(", port No " + clientPort)) << l[1].toStdString();
    EXPECT_EQ(l[2], timeText() + ",  " + dateText());
    EXPECT_EQ(l[3], QString(QChar(13)));
    EXPECT_EQ(l[4], "A");
    EXPECT_EQ(l[5], "Connection closed at " + timeText());
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "Connected to 127.0.0.1@" + clientPort);
    EXPECT_TRUE(form->tcpLinks()->listener()->Active()) << "still listening";
    EXPECT_EQ(ui(form).BitBtn3->text(), "Close socket");
    EXPECT_EQ((&form->receivePath()->table())->gridCell(1, 2), "<LF>");
    EXPECT_EQ((&form->receivePath()->table())->gridCell(4, 1), "");

    // The next client is served.
    auto next = servedClient(port);
    EXPECT_TRUE(hasLine("Connected to 127.0.0.1, " +
                        form->tcpLinks()->listener()->ServedClient()->RemoteHost() + ", port No " +
                        QString::number(next->localPort())));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(TcpListener, ReadsAtMost5000BytesPerEvent) {
    const int port = listen();
    auto client = servedClient(port);
    std::vector<int> counts;
    // One received label per read event.
    QObject::connect(form->receivePath(), &ReceivePath::receivedLabelChanged,
                     [&] { counts.push_back(received()); });
    const QByteArray data = pattern(6000, 9);
    ASSERT_TRUE(pushNow(*client, data));
    ASSERT_TRUE(pumpUntil([&] { return received() == 6000; }));
    EXPECT_EQ(counts, std::vector<int>({5000, 6000}));
    EXPECT_EQ((&form->receivePath()->table())->bytes(), data);
    EXPECT_NE(ui(form).StatusBar1Panel1->text(), "More than 10k bytes");
}

TEST_F(TcpListener, ASecondClientIsReportedAndClosedWhileTheFirstStaysServed) {
    const int port = listen();
    auto first = servedClient(port);
    const QString firstAt = ui(form).StatusBar1Panel0->text();
    auto second = connectTo(port);
    ASSERT_TRUE(pumpUntil(
        [&] { return hasLine("New connection will be ignored, still active connection..."); }));
    EXPECT_EQ(countLines("Incoming request..."), 2);
    // The ignored connection is closed at once; its close changes nothing.
    ASSERT_TRUE(pumpUntil([&] { return second->state() == QAbstractSocket::UnconnectedState; }));
    pumpFor(100);
    EXPECT_TRUE(form->tcpLinks()->listenerClientConnected());
    EXPECT_EQ(form->tcpLinks()->listener()->ActiveConnections(), 1);
    EXPECT_EQ(countLines("Connection closed at " + timeText()), 0);

    ASSERT_TRUE(pushNow(*first, "x"));
    ASSERT_TRUE(pumpUntil([&] { return received() == 1; }));
    send("hi#0D");
    EXPECT_EQ(readAtLeast(*first, 3), QByteArray("hi\r"));
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 3");

    // When the served client goes, the next one is served.
    first->disconnectFromHost();
    ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->listenerClientConnected(); }));
    auto third = servedClient(port);
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(),
              "Connected to 127.0.0.1@" + QString::number(third->localPort()));
    send("#41");
    EXPECT_EQ(readAtLeast(*third, 1), QByteArray("A"));
    EXPECT_NE(firstAt, ui(form).StatusBar1Panel0->text());
}

TEST_F(TcpListener, ClosingWhileServingGivesOneClosedLine) {
    const int port = listen();
    auto client = servedClient(port);
    ui(form).ListenTCP1->trigger();  // "Close socket"
    EXPECT_FALSE(form->tcpLinks()->listener()->Active());
    EXPECT_FALSE(form->tcpLinks()->listenerClientConnected());
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "Disconnected");
    EXPECT_EQ(ui(form).BitBtn3->text(), "Listen on port");
    ASSERT_TRUE(pumpUntil([&] { return client->state() == QAbstractSocket::UnconnectedState; }));
    pumpFor(100);
    EXPECT_EQ(countLines("Connection closed at " + timeText()), 1);
    EXPECT_EQ(shownLines().last(), "Connection closed at " + timeText());
    // And it opens again.
    ui(form).BitBtn3->click();
    EXPECT_TRUE(form->tcpLinks()->listener()->Active());
    EXPECT_EQ(ui(form).BitBtn3->text(), "Close socket");
}

TEST_F(TcpListener, PortInUseOrMissing) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::AnyIPv4, 0));
    ui(form).Edit_port->setText(QString::number(holder.serverPort()));
    ui(form).BitBtn3->click();
    ASSERT_FALSE(shownLines().isEmpty());
    EXPECT_TRUE(shownLines().last().startsWith("Exception - "))
        << shownLines().last().toStdString();
    EXPECT_TRUE(shownLines().last().contains("10048")) << shownLines().last().toStdString();
    EXPECT_FALSE(form->tcpLinks()->listener()->Active());
    EXPECT_EQ(ui(form).BitBtn3->text(), "Listen on port");

    QTcpServer probe;
    const bool free502 = probe.listen(QHostAddress::AnyIPv4, 502);
    probe.close();
    ui(form).Edit_port->setText(QString());
    ui(form).BitBtn3->click();
    EXPECT_EQ(form->tcpLinks()->listener()->Port(), 502);
    if (free502) {
        EXPECT_TRUE(form->tcpLinks()->listener()->Active());
        EXPECT_EQ(form->tcpLinks()->listener()->ListenPort(), 502);
    } else {
        EXPECT_FALSE(form->tcpLinks()->listener()->Active());
        EXPECT_TRUE(shownLines().last().startsWith("Exception - "));
    }
}

TEST_F(TcpListener, CommandsOverTheClientLinkArriveByteExact) {
    Peer peer;
    connectClient(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ASSERT_TRUE(peer.waitForClient());
    send("AT#0D#0A");
    EXPECT_EQ(readAtLeast(peer.client(), 4), QByteArray("AT\r\n"));
    QString every;
    QByteArray expected;
    for (int b = 0; b < 256; ++b) {
        every += QStringLiteral("#%1").arg(b, 2, 16, QLatin1Char('0'));
        expected += char(b);
    }
    send(every);
    EXPECT_EQ(readAtLeast(peer.client(), 256), expected);
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 256");
}

TEST_F(TcpListener, SendingOnAResetConnectionEndsCleanly) {
    {
        Peer peer;
        connectClient(peer.port());
        ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
        ASSERT_TRUE(peer.waitForClient());
        armReset(peer.client());
        peer.client().abort();
        send("ping");  // before the window has seen the reset
        ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->tcpConnected(); }));
        pumpFor(100);
        const QStringList l = shownLines();
        EXPECT_EQ(l.filter("Exception sending - ").size(), 1) << l.join("|").toStdString();
        EXPECT_EQ(ui(form).Butt_connect->text(), "Connect to host");
        EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
    }
    const int port = listen();
    auto client = servedClient(port);
    armReset(*client);
    client->abort();
    send("ping");
    ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->listenerClientConnected(); }));
    pumpFor(100);
    EXPECT_EQ(shownLines().filter("Exception sending - ").size(), 2);
    EXPECT_EQ(form->tcpLinks()->listener()->ActiveConnections(), 0);
    EXPECT_TRUE(form->tcpLinks()->listener()->Active()) << "the listener waits for the next client";
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
    send("again");
    EXPECT_EQ(dialogs.lastText(), "You are not connected to serial port or TCP/IP");
}

TEST_F(SerialTcpListener, OnlyOneLinkAtATime) {
    const QString clientRefusal = "Already active connection (serial or Listen TCP)";
    const QString listenRefusal = "Already active serial port or TCP connection!";
    const QString serialRefusal = "Already active TCP socket, disconnect first!";

    // Serial open: the client and the listener refuse.
    auto device = SimPeer::Create(QStringLiteral("tcpexcl"));
    ui(form).Combo_com->setEditText(device->DeviceName());
    ui(form).BitBtn2->click();
    ASSERT_TRUE(form->serialLink()->portOpen()) << dialogs.texts().join("|").toStdString();
    Peer peer;
    connectClient(peer.port());
    EXPECT_EQ(shownLines().last(), clientRefusal);
    EXPECT_FALSE(hasLine("Trying to connect to remote TCP server..."));
    ui(form).BitBtn3->click();
    EXPECT_EQ(shownLines().last(), listenRefusal);
    EXPECT_FALSE(form->tcpLinks()->listener()->Active());
    ui(form).BitBtn2->click();  // close the port
    ASSERT_FALSE(form->serialLink()->portOpen());

    // Client connected: the serial port and the listener refuse.
    connectClient(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ui(form).BitBtn2->click();
    EXPECT_EQ(shownLines().last(), serialRefusal);
    EXPECT_FALSE(form->serialLink()->portOpen());
    ui(form).BitBtn3->click();
    EXPECT_EQ(shownLines().last(), listenRefusal);
    EXPECT_FALSE(form->tcpLinks()->listener()->Active());
    ui(form).Butt_connect->click();
    ASSERT_TRUE(pumpUntil([&] { return ui(form).Butt_connect->text() == "Connect to host"; }));

    // Listener active (no client yet): the serial port and the client refuse.
    listen();
    ASSERT_TRUE(form->tcpLinks()->listener()->Active());
    ui(form).BitBtn2->click();
    EXPECT_EQ(shownLines().last(), serialRefusal);
    EXPECT_FALSE(form->serialLink()->portOpen());
    const int tries = countLines("Trying to connect to remote TCP server...");
    connectClient(peer.port());
    EXPECT_EQ(shownLines().last(), clientRefusal);
    EXPECT_EQ(countLines("Trying to connect to remote TCP server..."), tries);
    EXPECT_FALSE(form->tcpLinks()->tcpConnected());
    EXPECT_TRUE(pumpUntil([] { return TVaComm::LiveWorkerThreads() == 0; }, 10000));
}
