// The TCP client link of the main window, end to end over real sockets on 127.0.0.1.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "terminal/TerminalInput.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;

using namespace trelmo::test;

using TcpClient = TcpWindow;

TEST_F(TcpClient, ConnectReceiveInTwoReadsAndRemoteClose) {
    Peer peer;
    connectClient(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ASSERT_TRUE(peer.waitForClient());
    EXPECT_EQ(ui(form).Butt_connect->text(), "Disconnect TCP");
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "Connected to 127.0.0.1");
    EXPECT_EQ(shownLines(), QStringList({"Trying to connect to remote TCP server...",
                                         "Connected TCP/IP, at " + timeText() + ", to 127.0.0.1"}));

    ASSERT_TRUE(pushNow(peer.client(), "AB"));
    ASSERT_TRUE(pumpUntil([&] { return received() == 2; }));
    ASSERT_TRUE(pushNow(peer.client(), "C\nD"));
    ASSERT_TRUE(pumpUntil([&] { return received() == 5; }));
    EXPECT_EQ(lines().mid(2), QStringList({"ABC", "D"}));
    EXPECT_EQ(ui(form).Label_rec->text(), "Total received: 5");
    EXPECT_EQ(ui(form).StatusBar1Panel2->text(),
              ui(form).Label_send->text() + "   Total received: 5");
    EXPECT_FALSE(ui(form).led_RxD->LedOn());
    // The byte table: names for LF, no parity on TCP.
    EXPECT_EQ((&form->receivePath()->table())->gridRowCount(), 5 + 2);
    EXPECT_EQ((&form->receivePath()->table())->gridCell(1, 4), "<LF>");
    EXPECT_EQ((&form->receivePath()->table())->gridCell(2, 4), "0x0A");
    EXPECT_EQ((&form->receivePath()->table())->gridCell(4, 4), "");
    EXPECT_EQ((&form->receivePath()->table())->bytes(), QByteArray("ABC\nD"));

    peer.client().disconnectFromHost();
    ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->tcpConnected(); }));
    EXPECT_EQ(shownLines().last(), "Disconnected TCP/IP connection at " + timeText());
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "Disconnected TCP");
    EXPECT_EQ(ui(form).Butt_connect->text(), "Connect to host");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(TcpClient, LocalDisconnectAndReconnect) {
    Peer peer;
    connectClient(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ui(form).Butt_connect->click();  // "Disconnect TCP"
    EXPECT_FALSE(form->tcpLinks()->tcpConnected());
    ASSERT_TRUE(pumpUntil([&] { return ui(form).Butt_connect->text() == "Connect to host"; }));
    EXPECT_EQ(countLines("Disconnected TCP/IP connection at " + timeText()), 1);
    // The menu item does the same as the button.
    ui(form).ConnecttCP1->trigger();
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ASSERT_TRUE(peer.waitForClient(2));
    EXPECT_EQ(countLines("Trying to connect to remote TCP server..."), 2);
    EXPECT_EQ(countLines("Connected TCP/IP, at " + timeText() + ", to 127.0.0.1"), 2);
}

TEST_F(TcpClient, HexModeKeepsNamesAndLineBreaks) {
    Peer peer;
    ui(form).Check_hex->setChecked(true);
    connectClient(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ASSERT_TRUE(peer.waitForClient());
    const int before = lines().size() - 1;
    ASSERT_TRUE(pushNow(peer.client(), QByteArray("\x41\x0D\x0A\x42\x01", 5)));
    ASSERT_TRUE(pumpUntil([&] { return received() == 5; }));
    EXPECT_EQ(lines().mid(before), QStringList({"0x41 <CR>", "0x42 <SOH>"}));
    const QStringList ascii = {"A", "<CR>", "<LF>", "B", "<SOH>"};
    for (int i = 0; i < ascii.size(); ++i) {
        EXPECT_EQ((&form->receivePath()->table())->gridCell(1, i + 1), ascii[i]) << i;
        EXPECT_EQ((&form->receivePath()->table())->gridCell(4, i + 1), "") << "no parity on TCP";
    }
}

TEST_F(TcpClient, AFullReadOf10000BytesIsReported) {
    Peer peer;
    connectClient(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ASSERT_TRUE(peer.waitForClient());
    ASSERT_TRUE(pushNow(peer.client(), QByteArray(9999, 'x')));
    ASSERT_TRUE(pumpUntil([&] { return received() == 9999; }));
    EXPECT_NE(ui(form).StatusBar1Panel1->text(), "More than 10k bytes");
    ASSERT_TRUE(pushNow(peer.client(), QByteArray(10000, 'y')));
    ASSERT_TRUE(pumpUntil([&] { return received() == 19999; }));
    EXPECT_EQ(ui(form).StatusBar1Panel1->text(), "More than 10k bytes");
}

TEST_F(TcpClient, AMegabyteStreamArrivesComplete) {
    Peer peer;
    connectClient(peer.port());
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ASSERT_TRUE(peer.waitForClient());
    const QByteArray data = pattern(1 << 20, 5);
    peer.client().write(data);
    ASSERT_TRUE(pumpUntil([&] { return received() == data.size(); }, 120000)) << received();
    pumpFor(100);
    EXPECT_EQ(received(), data.size()) << "nothing beyond what was sent";
    EXPECT_EQ((&form->receivePath()->table())->gridRowCount(), data.size() + 2);
    EXPECT_EQ((&form->receivePath()->table())->bytes(), data);
    EXPECT_EQ(ui(form).Label_rec->text(), "Total received: " + QString::number(data.size()));
}

TEST_F(TcpClient, RefusedConnectionIsReportedAndLeavesTheLinkDown) {
    const int port = unusedPort();
    // The code, then what it means for this host and port.
    const QString refused = QStringLiteral(
                                "Socket error #10061 (connection refused: nothing listens on "
                                "127.0.0.1:%1)")
                                .arg(port);
    connectClient(port);
    ASSERT_TRUE(pumpUntil([&] { return hasLine(refused); }));
    pumpFor(150);
    EXPECT_FALSE(form->tcpLinks()->tcpConnected());
    EXPECT_EQ(ui(form).Butt_connect->text(), "Connect to host");
    EXPECT_EQ(countLines(refused), 1);
    EXPECT_TRUE(dialogs.messages.empty()) << "the code was silenced";
}

TEST_F(TcpClient, EmptyHostReportsBeforeTheTryingLine) {
    ui(form).Edit_ip->setText(QString());
    ui(form).Butt_connect->click();
    EXPECT_EQ(shownLines(),
              QStringList({"Socket error #1110 (no host name given: nothing to connect to)",
                           "Disconnected TCP/IP connection at " + timeText(),
                           "Trying to connect to remote TCP server..."}));
    pumpFor(100);
    EXPECT_FALSE(form->tcpLinks()->tcpConnected());
    EXPECT_EQ(ui(form).Butt_connect->text(), "Connect to host");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(TcpClient, PortFieldEmptyOrNotANumberMeans502) {
    ui(form).Edit_port->setText(QString());
    EXPECT_EQ(form->tcpLinks()->portNumber(), 502);
    ui(form).Edit_port->setText(QStringLiteral("x1"));  // only a settings file can put this here
    EXPECT_EQ(form->tcpLinks()->portNumber(), 502);
    ui(form).Edit_port->setText(QStringLiteral("8080"));
    EXPECT_EQ(form->tcpLinks()->portNumber(), 8080);

    QTcpServer on502;
    const bool own502 = on502.listen(QHostAddress::LocalHost, 502);
    ui(form).Edit_ip->setText(QStringLiteral("127.0.0.1"));
    ui(form).Edit_port->setText(QString());
    ui(form).Butt_connect->click();
    EXPECT_EQ(form->tcpLinks()->client()->Port(), 502);
    if (own502) {
        ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
        EXPECT_TRUE(on502.hasPendingConnections() || on502.waitForNewConnection(5000));
    } else {
        // Someone else holds 502 (or we may not bind it): the attempt still went there.
        ASSERT_TRUE(pumpUntil([&] {
            return form->tcpLinks()->tcpConnected() ||
                   shownLines().last().startsWith("Socket error #");
        }));
    }
}

TEST_F(TcpClient, PortOutOfRangeIsNotProperlySet) {
    ui(form).Edit_ip->setText(QStringLiteral("127.0.0.1"));
    ui(form).Edit_port->setText(QStringLiteral("70000"));
    ui(form).Butt_connect->click();
    EXPECT_EQ(shownLines(), QStringList({"Remote IP and Port are not properly set..."}));
    EXPECT_FALSE(form->tcpLinks()->tcpConnected());
    EXPECT_FALSE(form->tcpLinks()->connectWaiting());
}

TEST_F(TcpClient, ASecondClickDuringTheWaitIsIgnored) {
    const int port = unusedPort();
    const QString refused = QStringLiteral(
                                "Socket error #10061 (connection refused: nothing "
                                "listens on 127.0.0.1:%1)")
                                .arg(port);
    ui(form).UD_ipTime->setValue(60);
    bool clickedInside = false;
    QTimer::singleShot(30, form, [&] {
        clickedInside = form->tcpLinks()->connectWaiting();
        ui(form).Butt_connect->click();
    });
    connectClient(port);
    EXPECT_TRUE(clickedInside) << "the second click came during the wait";
    EXPECT_FALSE(form->tcpLinks()->connectWaiting());
    ASSERT_TRUE(pumpUntil([&] { return hasLine(refused); }));
    pumpFor(150);
    EXPECT_EQ(countLines("Trying to connect to remote TCP server..."), 1);
    EXPECT_EQ(countLines(refused), 1);
    // After the wait a click starts a new attempt again.
    ui(form).Butt_connect->click();
    ASSERT_TRUE(pumpUntil([&] { return countLines(refused) == 2; }));
    EXPECT_EQ(countLines("Trying to connect to remote TCP server..."), 2);
}

TEST_F(TcpClient, KeyFiltersOfTheTcpEdits) {
    const auto pass = [](void (*filter)(QChar&), QChar c) {
        filter(c);
        return c.unicode() != 27;
    };
    for (QChar c : {QChar('0'), QChar('5'), QChar('9'), QChar(8), QChar(10), QChar(13)}) {
        EXPECT_TRUE(pass(&trelmo::Edit_ipKeyPress, c)) << int(c.unicode());
        EXPECT_TRUE(pass(&trelmo::Edit_portKeyPress, c)) << int(c.unicode());
        EXPECT_TRUE(pass(&trelmo::Edit_ipTimeKeyPress, c)) << int(c.unicode());
    }
    EXPECT_TRUE(pass(&trelmo::Edit_ipKeyPress, QChar('.')));
    EXPECT_FALSE(pass(&trelmo::Edit_portKeyPress, QChar('.')));
    EXPECT_FALSE(pass(&trelmo::Edit_ipTimeKeyPress, QChar('.')));
    for (QChar c : {QChar('a'), QChar(' '), QChar('-'), QChar(':'), QChar(0xE9)}) {
        EXPECT_FALSE(pass(&trelmo::Edit_ipKeyPress, c)) << int(c.unicode());
        EXPECT_FALSE(pass(&trelmo::Edit_portKeyPress, c)) << int(c.unicode());
        EXPECT_FALSE(pass(&trelmo::Edit_ipTimeKeyPress, c)) << int(c.unicode());
    }

    // Typing into the real controls.
    ui(form).Edit_ip->clear();
    QTest::keyClicks(ui(form).Edit_ip, "1x0.a0 .1");
    EXPECT_EQ(ui(form).Edit_ip->text(), "10.0.1");
    ui(form).Edit_port->clear();
    QTest::keyClicks(ui(form).Edit_port, "5.0-2");
    EXPECT_EQ(ui(form).Edit_port->text(), "502");
    ui(form).Edit_ipTime->selectAll();
    QTest::keyClicks(ui(form).UD_ipTime, "4a5");
    ui(form).UD_ipTime->interpretText();
    EXPECT_EQ(ui(form).UD_ipTime->value(), 45);

    // Enter still reaches the edit.
    QSignalSpy entered(ui(form).Edit_ip, &QLineEdit::returnPressed);
    QTest::keyClick(ui(form).Edit_ip, Qt::Key_Return);
    EXPECT_EQ(entered.count(), 1);

    // Pasting a valid address works; an invalid one is refused as a whole.
    QGuiApplication::clipboard()->setText(QStringLiteral("10.1.2.3"));
    if (QGuiApplication::clipboard()->text() == "10.1.2.3") {
        ui(form).Edit_ip->clear();
        QTest::keyClick(ui(form).Edit_ip, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(ui(form).Edit_ip->text(), "10.1.2.3");
        QGuiApplication::clipboard()->setText(QStringLiteral("host.example"));
        ui(form).Edit_ip->clear();
        QTest::keyClick(ui(form).Edit_ip, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(ui(form).Edit_ip->text(), "");
    }
}
