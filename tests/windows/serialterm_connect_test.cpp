// Connecting and disconnecting the serial port from the main window: status texts, the
// settings boxes, refusals, the line boxes and lamps, the port's line events and a device
// that vanishes while open.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QSpinBox>
#include <atomic>
#include <thread>

#include "links/WinSocket.h"
#include "terminal/TerminalInput.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;

using namespace trelmo::test;
using namespace trelmo::serial;
using trelmo::serial::sim::SimOp;
using trelmo::serial::sim::SimPeer;

TEST_F(SerialTerm, PortCarriesItsFixedSettings) {
    TVaComm* port = form->serialLink()->port();
    EXPECT_EQ(port->MonitorEvents(),
              TVaCommEvents({ceError, ceRing, ceRxChar, ceTxEmpty, cePErr, ceEvent1}));
    EXPECT_EQ(port->Buffers().ReadSize(), 2048);
    EXPECT_EQ(port->WritePriority(), tpNormal);
    EXPECT_TRUE(port->DirectWrite());
    EXPECT_EQ(port->FlowControl().ControlDtr(), dtrDisabled);
    EXPECT_EQ(port->FlowControl().ControlRts(), rtsDisabled);
    EXPECT_FALSE(port->FlowControl().OutCtsFlow() || port->FlowControl().OutDsrFlow() ||
                 port->FlowControl().XonXoffIn() || port->FlowControl().XonXoffOut());
    EXPECT_TRUE(port->OnRxChar && port->OnTxEmpty && port->OnRing && port->OnPErr);
    EXPECT_FALSE(port->OnError) << "line errors are not handled by the window";
    // The list: COM1..COM24 first.
    ASSERT_GE(ui(form).Combo_com->count(), 24);
    EXPECT_EQ(ui(form).Combo_com->itemText(0), "COM1");
    EXPECT_EQ(ui(form).Combo_com->itemText(23), "COM24");
    for (int i = 24; i < ui(form).Combo_com->count(); ++i)
        EXPECT_TRUE(ui(form).Combo_com->itemText(i).startsWith("/dev/"));
}

TEST_F(SerialTerm, ConnectAndDisconnectAPseudoTerminal) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    typeInto(ui(form).Combo_parity, "None");
    typeInto(ui(form).Combo_databits, "8");
    connectSerial(pty.SlavePath());
    ASSERT_TRUE(form->serialLink()->portOpen()) << dialogs.texts().join("|").toStdString();
    EXPECT_EQ(form->serialLink()->comName(), pty.SlavePath());
    const QString open = pty.SlavePath() + ", 9600, 8, None, 1 - OPEN";
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), open);
    EXPECT_EQ(ui(form).Label_com_status->text(), open);
    EXPECT_EQ(form->serialLink()->port()->DeviceName(), "\\\\.\\" + pty.SlavePath());
    EXPECT_EQ(form->serialLink()->port()->Baudrate(), br9600);
    for (QWidget* w : settingsControls())
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(ui(form).UpDown_delay->isEnabled());

    ui(form).BitBtn2->click();
    EXPECT_FALSE(form->serialLink()->portOpen());
    EXPECT_FALSE(form->serialLink()->port()->Active());
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), pty.SlavePath() + " - status: CLOSED");
    EXPECT_EQ(ui(form).Label_com_status->text(), pty.SlavePath() + " - status: CLOSED");
    for (QWidget* w : settingsControls())
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(dialogs.messages.empty());

    // The menu item does the same as the button.
    ui(form).Connecttoserial1->trigger();
    EXPECT_TRUE(form->serialLink()->portOpen());
    ui(form).Connecttoserial1->trigger();
    EXPECT_FALSE(form->serialLink()->portOpen());
}

// A device reached by a long name (a /dev/serial/by-id link) widens the link's panel, from
// the clock's room first, so the name and " - OPEN" stay readable; the other panels keep
// their texts whole, and a short name gives the room back. (Not a Serial suite: it shows the
// window, and the threads Qt starts for that are reported by ThreadSanitizer, which does not
// see inside an uninstrumented Qt.)
using StatusPanels = WindowTest;
TEST_F(StatusPanels, ALongDeviceNameWidensTheLinkPanel) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const QString byId = dir.path("usb-FTDI_FT232R_USB_UART_A5XK3RJT-if00-port0");
    ASSERT_TRUE(QFile::link(pty.SlavePath(), byId));
    form->show();
    ASSERT_TRUE(pumpUntil([&] { return form->isVisible(); }));
    const int opened = form->width();
    form->resize(1400, form->height());
    QLabel* link = ui(form).StatusBar1Panel0;
    const int made = link->width();
    const auto fits = [](const QLabel* panel) {
        const QFontMetrics metrics = panel->fontMetrics();
        return metrics.horizontalAdvance(panel->text()) +
                   metrics.horizontalAdvance(QLatin1Char('x')) / 2 <=
               panel->contentsRect().width();
    };
    typeInto(ui(form).Combo_parity, "None");
    ASSERT_TRUE(connectSerial(byId)) << dialogs.texts().join("|").toStdString();
    ASSERT_EQ(link->text().toStdString(), (byId + ", 9600, 7, None, 1 - OPEN").toStdString());
    EXPECT_TRUE(pumpUntil([&] { return fits(link); })) << link->width() << " " << made;
    EXPECT_GT(link->width(), made);
    EXPECT_TRUE(fits(ui(form).StatusBar1Panel1));
    EXPECT_TRUE(fits(ui(form).StatusBar1Panel2));
    // The panels keep their order, laid out again around the wider one.
    EXPECT_TRUE(
        pumpUntil([&] { return link->geometry().right() < ui(form).StatusBar1Panel1->x(); }));

    // In a narrow window the long name gives way first: the other panels stay whole.
    form->resize(opened, form->height());
    EXPECT_TRUE(pumpUntil([&] { return form->width() < opened + 20; })) << form->width();
    EXPECT_TRUE(pumpUntil(
        [&] { return fits(ui(form).StatusBar1Panel1) && fits(ui(form).StatusBar1Panel2); }));

    ui(form).BitBtn2->click();
    typeInto(ui(form).Combo_com, pty.SlavePath());
    ASSERT_TRUE(connectSerial(pty.SlavePath()));
    EXPECT_TRUE(pumpUntil([&] { return link->width() == made; })) << link->width() << " " << made;
}

TEST_F(SerialTerm, SettingsMapToThePort) {
    auto peer = SimPeer::Create("map");
    // A rate outside the table goes through brUser with the typed number.
    typeInto(ui(form).Combo_speed, "921600");
    EXPECT_EQ(form->serialLink()->speed(), 921600);
    typeInto(ui(form).Combo_parity, "Mark");
    typeInto(ui(form).Combo_databits, "7");
    typeInto(ui(form).Combo_stopbit, "2");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    EXPECT_EQ(form->serialLink()->port()->Baudrate(), brUser);
    EXPECT_EQ(form->serialLink()->port()->UserBaudrate(), 921600);
    EXPECT_EQ(form->serialLink()->port()->Parity(), paMark);
    EXPECT_EQ(form->serialLink()->port()->Databits(), db7);
    EXPECT_EQ(form->serialLink()->port()->Stopbits(), sb2);
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "sim:map, 921600, 7, Mark, 2 - OPEN");
    ui(form).BitBtn2->click();

    // Texts that match no choice keep the previous connection's values; the status shows
    // the text as typed.
    typeInto(ui(form).Combo_speed, "9600");
    typeInto(ui(form).Combo_parity, "even");
    typeInto(ui(form).Combo_databits, "6");
    typeInto(ui(form).Combo_stopbit, "3");
    ui(form).BitBtn2->click();
    ASSERT_TRUE(form->serialLink()->portOpen());
    EXPECT_EQ(form->serialLink()->port()->Baudrate(), br9600);
    EXPECT_EQ(form->serialLink()->port()->UserBaudrate(), 0);
    EXPECT_EQ(form->serialLink()->port()->Parity(), paMark);
    EXPECT_EQ(form->serialLink()->port()->Databits(), db7);
    EXPECT_EQ(form->serialLink()->port()->Stopbits(), sb2);
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "sim:map, 9600, 6, even, 3 - OPEN");
    ui(form).BitBtn2->click();
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SerialTerm, ConnectRefusals) {
    // No name, a missing device and a device in use: the same message, closed state.
    typeInto(ui(form).Combo_com, "");
    ui(form).BitBtn2->click();
    typeInto(ui(form).Combo_com, "/dev/trelmo-no-such-device");
    ui(form).BitBtn2->click();
    auto peer = SimPeer::Create("busy");
    TVaComm other;
    other.SetDeviceName(peer->DeviceName());
    other.Open();
    connectSerial(peer->DeviceName());
    // The usual text first, then what really happened: no device by that name, twice, and a
    // device another program holds.
    const QStringList texts = dialogs.texts();
    ASSERT_EQ(texts.size(), 3);
    const QString inUse = "This COM port is in use by another program!\n\n";
    EXPECT_TRUE(texts[0].startsWith(inUse + "No device was named.")) << texts[0].toStdString();
    EXPECT_TRUE(texts[1].startsWith(inUse + "There is no device /dev/trelmo-no-such-device."))
        << texts[1].toStdString();
    EXPECT_TRUE(texts[2].startsWith(inUse + "sim:busy is open in")) << texts[2].toStdString();
    EXPECT_FALSE(form->serialLink()->portOpen());
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "sim:busy - status: CLOSED");
    other.Close();
    dialogs.clear();

    // Open fails after a good probe: the default error display shows the port's message
    // and the window is left as it was.
    const QString before = ui(form).StatusBar1Panel0->text();
    peer->FailNext(SimOp::SetState, EIO);
    ui(form).BitBtn2->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_FALSE(dialogs.lastText().isEmpty());
    EXPECT_FALSE(form->serialLink()->portOpen());
    EXPECT_FALSE(form->serialLink()->port()->Active());
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), before);
    EXPECT_TRUE(ui(form).Combo_com->isEnabled());
}

TEST_F(SerialTerm, TcpLinksComeFirst) {
    auto peer = SimPeer::Create("excl");
    typeInto(ui(form).Combo_com, peer->DeviceName());
    const QString msg = "Already active TCP socket, disconnect first!";
    ASSERT_TRUE(connectTcp());
    const int before = form->receivePath()->state().LineIndex;
    ui(form).BitBtn2->click();
    EXPECT_EQ(lines().at(before), msg);
    ui(form).Butt_connect->click();
    ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->tcpConnected(); }));

    // A listener with a client, and one without, refuse too.
    const std::unique_ptr<QTcpSocket> listenerClient = listenWithClient();
    ASSERT_TRUE(listenerClient);
    QTcpSocket& client = *listenerClient;
    int index = form->receivePath()->state().LineIndex;
    ui(form).BitBtn2->click();
    EXPECT_EQ(lines().at(index), msg);
    EXPECT_EQ(form->receivePath()->state().LineIndex, index + 1);
    client.disconnectFromHost();
    ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->listenerClientConnected(); }));
    ASSERT_TRUE(form->tcpLinks()->listener()->Active());
    index = form->receivePath()->state().LineIndex;
    ui(form).BitBtn2->click();
    EXPECT_EQ(lines().at(index), msg);
    ui(form).BitBtn3->click();
    ASSERT_FALSE(form->tcpLinks()->listener()->Active());
    EXPECT_FALSE(peer->IsOpen());
    EXPECT_EQ(peer->OpenCount(), 0);
    EXPECT_TRUE(dialogs.messages.empty());

    // The test comes before the disconnect: an open port stays open. (The TCP buttons refuse
    // while the port is open, so the client socket is opened by itself.)
    ui(form).BitBtn2->click();
    ASSERT_TRUE(form->serialLink()->portOpen());
    Peer far;
    form->tcpLinks()->client()->setHost("127.0.0.1");
    form->tcpLinks()->client()->setPort(far.port());
    form->tcpLinks()->client()->Open();
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ui(form).BitBtn2->click();
    EXPECT_TRUE(form->serialLink()->portOpen());
    EXPECT_TRUE(peer->IsOpen());
    form->tcpLinks()->client()->Close();
    ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->tcpConnected(); }));
    ui(form).BitBtn2->click();
    EXPECT_FALSE(peer->IsOpen());
}

TEST_F(SerialTerm, NumericSettingsBoxes) {
    // A digit-only key rule.
    for (int k = 0; k < 256; ++k) {
        QChar key(static_cast<char16_t>(k));
        trelmo::Combo_speedKeyPress(key);
        const bool kept = (k >= '0' && k <= '9') || k == 8 || k == 10 || k == 13;
        EXPECT_EQ(key.unicode(), kept ? k : 27) << k;
    }
    QLineEdit* speed = ui(form).Combo_speed->lineEdit();
    typeInto(ui(form).Combo_speed, "4a8b0c0");
    EXPECT_EQ(speed->text(), "4800");
    EXPECT_EQ(form->serialLink()->speed(), 4800);
    // Pasting a number works; pasting text inserts nothing.
    speed->selectAll();
    QApplication::clipboard()->setText("57600");
    speed->paste();
    EXPECT_EQ(speed->text(), "57600");
    EXPECT_EQ(form->serialLink()->speed(), 57600);
    speed->selectAll();
    QApplication::clipboard()->setText("fast");
    speed->paste();
    EXPECT_EQ(speed->text(), "57600");
    // What the user inserts stops at 7 characters.
    speed->end(false);
    QTest::keyClicks(speed, "1234");
    EXPECT_EQ(speed->text(), "5760012");

    // A non-number loaded from the settings file does not open the box to letters: the key
    // rule holds for every key, whatever the box holds.
    speed->setText("fast");
    speed->end(false);
    QTest::keyClicks(speed, "er");
    EXPECT_EQ(speed->text(), "fast");
    QTest::keyClicks(speed, "1");
    EXPECT_EQ(speed->text(), "fast1");
    dialogs.clear();

    // Emptied: the conversion error is shown and the value kept.
    speed->selectAll();
    QTest::keyClick(speed, Qt::Key_Backspace);
    EXPECT_EQ(dialogs.texts(), QStringList{"'' is not a valid integer value"});
    EXPECT_EQ(form->serialLink()->speed(), 5760012);
    dialogs.clear();
    const int dataBits = form->serialLink()->dataBits();
    typeInto(ui(form).Combo_databits, "x");
    typeInto(ui(form).Combo_stopbit, "two");
    EXPECT_EQ(
        dialogs.texts(),
        QStringList({"'x' is not a valid integer value", "'t' is not a valid integer value",
                     "'tw' is not a valid integer value", "'two' is not a valid integer value"}));
    EXPECT_EQ(form->serialLink()->dataBits(), dataBits);
    EXPECT_EQ(form->serialLink()->stopBits(), 1);

    // Choosing from the list runs the handler too.
    ui(form).Combo_stopbit->setCurrentIndex(1);
    emit ui(form).Combo_stopbit->activated(1);
    EXPECT_EQ(form->serialLink()->stopBits(), 2);

    // A change of the port name while open shows the note first (the box is disabled while
    // the port is open, so the controller is asked).
    auto peer = SimPeer::Create("note");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    dialogs.clear();
    form->serialLink()->chooseComName("COM7");
    EXPECT_EQ(dialogs.texts(),
              QStringList{"Note: You must disconnect and then CONNECT changes to take effect"});
    EXPECT_EQ(form->serialLink()->comName(), "COM7");
}

TEST_F(SerialTerm, LineBoxesAndLamps) {
    auto peer = SimPeer::Create("lines");
    // Ticked while closed: nothing happens, and the connect does not apply it.
    ui(form).CheckBox1->setChecked(true);
    EXPECT_FALSE(lit(ui(form).led_RTS));
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    EXPECT_FALSE(peer->Rts());
    EXPECT_FALSE(peer->Dtr());
    EXPECT_FALSE(lit(ui(form).led_RTS));

    ui(form).CheckBox1->click();  // off
    ui(form).CheckBox1->click();  // on
    EXPECT_TRUE(peer->Rts());
    EXPECT_TRUE(lit(ui(form).led_RTS));
    ui(form).CheckBox2->click();
    EXPECT_TRUE(peer->Dtr());
    EXPECT_TRUE(lit(ui(form).led_DTR));
    ui(form).CheckBox1->click();
    EXPECT_FALSE(peer->Rts());
    EXPECT_FALSE(lit(ui(form).led_RTS));

    // Disconnect with DTR ticked: the lamp keeps showing it.
    ui(form).BitBtn2->click();
    EXPECT_FALSE(peer->IsOpen());
    EXPECT_TRUE(lit(ui(form).led_DTR));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SerialTerm, RingParityErrorAndTransmitEmpty) {
    auto peer = SimPeer::Create("events");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    EXPECT_FALSE(lit(ui(form).led_RI));
    peer->Ring();
    EXPECT_TRUE(pumpUntil([&] { return lit(ui(form).led_RI); }));

    peer->RaiseErrors(CE_RXPARITY);
    EXPECT_TRUE(pumpUntil([&] { return !dialogs.messages.empty(); }));
    pumpFor(100);
    EXPECT_EQ(dialogs.texts(), QStringList{"Parity Error"});

    ui(form).led_TxD->setLedOn(true);
    peer->RaiseEvents(EV_TXEMPTY);
    EXPECT_TRUE(pumpUntil([&] { return !lit(ui(form).led_TxD); }));
    EXPECT_TRUE(lit(ui(form).led_RI)) << "nothing turns the ring lamp off";
}

TEST_F(SerialTerm, PulledDeviceClosesThePortOnce) {
    auto peer = SimPeer::Create("usb");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    peer->Pull();
    ASSERT_TRUE(pumpUntil([&] { return !dialogs.messages.empty(); }));
    pumpFor(200);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.lastText().contains("sim:usb")) << dialogs.lastText().toStdString();
    EXPECT_FALSE(form->serialLink()->portOpen());
    EXPECT_FALSE(form->serialLink()->port()->Active());
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "sim:usb - status: CLOSED");
    for (QWidget* w : settingsControls())
        EXPECT_TRUE(w->isEnabled());

    // While it is away the probe refuses; back again, connecting works.
    dialogs.clear();
    ui(form).BitBtn2->click();
    ASSERT_EQ(dialogs.texts().size(), 1);
    EXPECT_TRUE(dialogs.lastText().startsWith(
        "This COM port is in use by another program!\n\nThere is no device sim:usb."))
        << dialogs.lastText().toStdString();
    peer->Plug();
    ui(form).BitBtn2->click();
    ASSERT_TRUE(form->serialLink()->portOpen());
    ASSERT_TRUE(peer->Inject("ok"));
    EXPECT_TRUE(pumpUntil([&] { return pane() == "ok"; }));
}

TEST_F(SerialTerm, ClosingTheWindowClosesThePort) {
    auto peer = SimPeer::Create("exit");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    form->close();
    EXPECT_FALSE(peer->IsOpen());
    EXPECT_FALSE(form->serialLink()->portOpen());
}

TEST_F(SerialTerm, WindowsDestroyedWhileBytesArrive) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    PtyFlood flood(pty);
    ASSERT_TRUE(flood.Ok());
    connectSerial(pty.SlavePath());
    ASSERT_TRUE(form->serialLink()->portOpen());
    flood.Start(QByteArray(256, 'x'));
    EXPECT_TRUE(pumpUntil([&] { return tableRows() > 2000; }));
    windows.reset();  // the M-Bus window goes first, then the main window with its port
    form = nullptr;
    pumpFor(200);  // queued hand-overs of the port must find nothing to call
    flood.Stop();
}
