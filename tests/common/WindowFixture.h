#pragma once
// The program's four windows on a temporary settings file, every box and dialog answered by a
// recorder, and the helpers the window tests share: typing into the main window's fields,
// connecting the serial port and the TCP links, feeding bytes, and reading what the pane, the
// byte table and the command list hold.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpSocket>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "app/Windows.h"
#include "core/LocaleText.h"
#include "core/receive/ByteTableModel.h"
#include "core/receive/PaneModel.h"
#include "links/WinSocket.h"
#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "terminal/ReceivePaneView.h"
#include "terminal/Terminal.h"
#include "tests/common/Bytes.h"
#include "tests/common/Clock.h"
#include "tests/common/DialogRecorder.h"
#include "tests/common/Form1Ui.h"
#include "tests/common/Pty.h"
#include "tests/common/Pump.h"
#include "tests/common/QtPrint.h"
#include "tests/common/SerialPorts.h"
#include "tests/common/TcpPeer.h"
#include "tests/common/TempDir.h"
#include "widgets/dsLeds.h"

namespace trelmo::test {

// The real windows on <dir>/trelmo.ini, created with the fixture (or by start()) and destroyed
// before it; once they are gone no worker thread of the serial port may be left. With a moment
// given, trelmo::now() reads that moment for the whole test.
class WindowTest : public ::testing::Test {
  protected:
    explicit WindowTest(std::optional<QDateTime> moment = std::nullopt, bool startNow = true) {
        if (moment)
            clock_.emplace(*moment);
        if (startNow)
            start();
    }
    // The windows go before any member of a derived fixture (a pseudo-terminal stays open until
    // the port is closed).
    void TearDown() override {
        peer.reset();
        windows.reset();
        form = nullptr;
        EXPECT_TRUE(pumpUntil([] { return serial::TVaComm::LiveWorkerThreads() == 0; }, 10000))
            << serial::TVaComm::LiveWorkerThreads() << " worker threads still running";
    }

    // ---- The program -----------------------------------------------------------------------

    QString settingsPath() const { return dir.path(QStringLiteral("trelmo.ini")); }
    // Starts the program: the four windows on the settings file, as main() creates them.
    void start() {
        windows = std::make_unique<Windows>(settingsPath());
        form = windows->form1();
    }
    // Starts the program on a settings file holding these bytes.
    void startWith(const QByteArray& settings) {
        dir.write(QStringLiteral("trelmo.ini"), settings);
        start();
    }
    // Closes the main window as the user does (which writes the settings) and ends the program.
    void quit() {
        form->close();
        windows.reset();
        form = nullptr;
    }

    // ---- Typing ----------------------------------------------------------------------------

    // Types a combo box's text as a user would (select all, type), so its change handler runs.
    static void typeInto(QComboBox* box, const QString& text) {
        QLineEdit* edit = box->lineEdit();
        edit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClicks(edit, text);
    }
    // Puts the command into the command line and presses the send button.
    void send(const QString& command) {
        ui(form).Edit_send->setEditText(command);
        ui(form).BitBtn4->click();
    }
    // Types the settings the capture headers show into their boxes.
    void chooseSettings(const QString& port, const QString& speed, const QString& bits,
                        const QString& parity, const QString& stop) {
        ui(form).Combo_com->setEditText(port);
        ui(form).Combo_speed->setEditText(speed);
        ui(form).Combo_databits->setEditText(bits);
        ui(form).Combo_parity->setEditText(parity);
        ui(form).Combo_stopbit->setEditText(stop);
    }

    // ---- The serial port -------------------------------------------------------------------

    // The boxes of the port's settings, usable only while the port is closed.
    QList<QWidget*> settingsControls() const {
        return {ui(form).Combo_com,      ui(form).Combo_speed,   ui(form).Combo_parity,
                ui(form).Combo_databits, ui(form).Combo_stopbit, ui(form).Edit_delay};
    }

    // Types the device's name into Combo_com and presses the connect button; true when the
    // port is open then.
    bool connectSerial(const QString& device) {
        typeInto(ui(form).Combo_com, device);
        ui(form).BitBtn2->click();
        return form->serialLink()->portOpen();
    }
    // Writes data into the pty's far end from a thread of its own, as fast as the window lets
    // it, and waits until the byte table holds all of it; false when the writer gave up or the
    // deadline passed first.
    bool feedHeldBack(PtyPair& pty, const QByteArray& data, int timeoutMs = 120000) {
        std::atomic<bool> stalled{false};
        bool wrote = false;
        std::thread writer([&] { wrote = pty.WriteHeldBack(data, stalled); });
        const bool all = pumpUntil([&] { return tableRows() >= data.size(); }, timeoutMs);
        writer.join();
        return wrote && all;
    }

    // ---- The TCP links ---------------------------------------------------------------------

    // Points the client link at 127.0.0.1:port and clicks "Connect to host".
    void connectClient(int port) {
        ui(form).Edit_ip->setText(QStringLiteral("127.0.0.1"));
        ui(form).Edit_port->setText(QString::number(port));
        ui(form).Butt_connect->click();
    }
    // Opens the listener on a port nobody uses and returns the port.
    int listen() {
        const int port = unusedPort();
        ui(form).Edit_port->setText(QString::number(port));
        ui(form).BitBtn3->click();
        return port;
    }
    // Opens the listener and connects a plain client to it: the client once the window holds
    // the connection, null when it did not come.
    std::unique_ptr<QTcpSocket> listenWithClient() {
        auto client = connectTo(listen());
        if (!pumpUntil([&] { return form->tcpLinks()->listenerClientConnected(); }))
            return nullptr;
        return client;
    }
    // Connects the client link to a new loopback peer (`peer`); true once both ends see it.
    bool connectTcp() {
        peer = std::make_unique<Peer>();
        connectClient(peer->port());
        return peer->waitForClient() && pumpUntil([&] { return form->tcpLinks()->tcpConnected(); });
    }
    // Sends bytes from the peer and waits until the window has counted them all.
    bool receiveTcp(const QByteArray& bytes) {
        const int before = received();
        return writeAll(peer->client(), bytes) &&
               pumpUntil([&] { return received() == before + bytes.size(); });
    }
    // What the peer has received from the window so far (without waiting).
    QByteArray peerReceived() {
        peerReceived_ += peer->client().readAll();
        return peerReceived_;
    }

    // ---- What the windows show -------------------------------------------------------------

    // The pane's text as Memo_receive gives it (its plainText reads the pane's lines).
    QString pane() const { return ui(form).Memo_receive->property("plainText").toString(); }
    // The pane's lines, and those without a trailing empty one.
    QStringList lines() const { return (&form->receivePath()->pane())->lines(); }
    QStringList shownLines() const {
        QStringList l = lines();
        if (!l.isEmpty() && l.last().isEmpty())
            l.removeLast();
        return l;
    }
    bool hasLine(const QString& text) const { return lines().contains(text); }
    int countLines(const QString& text) const { return int(lines().count(text)); }
    // The received-bytes counter.
    qint64 received() const { return form->receivePath()->state().ReceivedCount; }
    // The byte table holds as many bytes as the counter and its label say.
    void expectCountsAgree() const {
        EXPECT_EQ((&form->receivePath()->table())->receivedCount(),
                  form->receivePath()->state().ReceivedCount);
        EXPECT_EQ(ui(form).Label_rec->text(),
                  "Total received: " + QString::number(form->receivePath()->state().ReceivedCount));
    }
    // The byte table's rows of received bytes, and one column of them.
    int tableRows() const { return (&form->receivePath()->table())->rowCount() - 1; }
    QStringList column(int col) const {
        QStringList out;
        const ByteTableModel* model = (&form->receivePath()->table());
        for (int r = 0; r + 1 < model->rowCount(); ++r)
            out << model->data(model->index(r, col), Qt::DisplayRole).toString();
        return out;
    }
    // The entries of the command list.
    QStringList commandList() const {
        QStringList out;
        for (int i = 0; i < ui(form).Edit_send->count(); ++i)
            out << ui(form).Edit_send->itemText(i);
        return out;
    }
    static bool lit(const TdsLed* led) { return led->LedOn(); }

    TempDir dir;
    DialogRecorder dialogs;
    std::unique_ptr<Windows> windows;
    TForm1* form = nullptr;
    std::unique_ptr<Peer> peer;  // the far end of connectTcp()

  private:
    std::optional<FixedClock> clock_;
    QByteArray peerReceived_;
};

// The windows of the tests that drive the serial port. Suites of window tests that open the port
// are named Serial...: ThreadSanitizer runs them (the port's event thread hands every event to
// the GUI thread).
using SerialTerm = WindowTest;

// The windows connected, without parity, to a pseudo-terminal whose far end the test plays.
class PtyWindow : public WindowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        typeInto(ui(form).Combo_parity, "None");
        ASSERT_TRUE(connectSerial(pty.SlavePath()));
    }
    PtyPair pty;
};

// The moment the window's clock reads in the TCP tests, and its texts.
inline QDateTime fixedMoment() {
    return QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26));
}
inline QString timeText() {
    return longTimeText(fixedMoment().time());
}
inline QString dateText() {
    return shortDateText(fixedMoment().date());
}

// The windows for the TCP links: the clock fixed at fixedMoment(), a TCP timeout of 10 s.
class TcpWindow : public WindowTest {
  protected:
    TcpWindow() : WindowTest(fixedMoment()) { ui(form).UD_ipTime->setValue(10); }
};

// The windows for the file tests: the clock fixed at 2025-11-03 08:07:06 and shown in the
// date and time labels the capture headers are made of, a TCP timeout of 10 s.
class FilesWindow : public WindowTest {
  protected:
    FilesWindow() : WindowTest(QDateTime(QDate(2025, 11, 3), QTime(8, 7, 6))) {
        ui(form).UD_ipTime->setValue(10);
    }
};

}  // namespace trelmo::test
