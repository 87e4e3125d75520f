// Commands typed into the command line and sent to the serial port and the TCP links:
// the bytes that arrive at the far end, the refusals, the counters and the history.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <atomic>
#include <thread>

#include "links/WinSocket.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;

using namespace trelmo::test;
using trelmo::serial::sim::SimPeer;

namespace {

class SerialSend : public SerialTerm {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        ASSERT_TRUE(connectSerial(pty.SlavePath()));
    }
    // Types the command and presses Enter.
    void typeAndEnter(const QString& command) {
        QLineEdit* edit = ui(form).Edit_send->lineEdit();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, command);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    // What arrives at the far end, waiting for `n` bytes.
    QByteArray arrived(int n) {
        QByteArray got;
        pumpUntil(
            [&] {
                got += pty.ReadAvailable();
                return got.size() >= n;
            },
            10000);
        pumpFor(50);
        got += pty.ReadAvailable();
        return got;
    }
    PtyPair pty;
};

}  // namespace

TEST_F(SerialSend, EnterFromTheKeyboardSendsExactlyWhatWasTypedOnce) {
    typeAndEnter("AT+CGMI");
    EXPECT_EQ(arrived(7), QByteArray("AT+CGMI"));
    // A keyboard's keys reach the combo box (the focus widget), which hands them to its line
    // edit: the prefix of a command in the history is sent as typed, not completed, and once.
    QComboBox* box = ui(form).Edit_send;
    box->lineEdit()->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, "AT");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(arrived(2), QByteArray("AT"));
    EXPECT_EQ(commandList(), (QStringList{"AT+CGMI", "AT"}));
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 2");
}

TEST_F(SerialSend, CommandStringsArriveByteExact) {
    const struct {
        const char* command;
        QByteArray bytes;
    } cases[] = {{"AT#0D#0A", QByteArray("AT\r\n")},
                 {"#7e", QByteArray("\x7E")},
                 {"#7E", QByteArray("\x7E")},
                 {"#00", QByteArray("\0", 1)},
                 {"#23", QByteArray("#")},
                 {"ab#41", QByteArray("abA")},
                 {"#ff#80", QByteArray("\xFF\x80", 2)}};
    QStringList typed;
    for (const auto& c : cases) {
        typeAndEnter(c.command);
        typed << c.command;
        EXPECT_EQ(arrived(c.bytes.size()).toHex(' '), c.bytes.toHex(' ')) << c.command;
        EXPECT_EQ(ui(form).Label_send->text(), "Total send: " + QString::number(c.bytes.size()));
    }
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().join("|").toStdString();
    EXPECT_EQ(commandList(), typed) << "Enter adds the command once, by the send only";
    EXPECT_EQ(ui(form).StatusBar1Panel2->text(), "Total send: 2   " + ui(form).Label_rec->text());

    // The same command twice is listed twice; a batch run adds nothing.
    ui(form).Edit_send->setEditText("#31");
    ui(form).BitBtn4->click();
    ui(form).BitBtn4->click();
    EXPECT_EQ(arrived(2), "11");
    EXPECT_EQ(commandList().mid(typed.size()), QStringList({"#31", "#31"}));
    // A batch run sends the list again and adds nothing to it.
    const QStringList before = commandList();
    ui(form).UpDown_delay_command->setValue(0);
    ui(form).BitBtn1->click();
    ASSERT_TRUE(pumpUntil([&] { return !form->commands()->batchSending(); }));
    QByteArray all;
    for (const auto& c : cases)
        all += c.bytes;
    EXPECT_EQ(arrived(all.size() + 2).toHex(' '), (all + "11").toHex(' '));
    EXPECT_EQ(commandList(), before);
}

TEST_F(SerialSend, LongCommandsAreSentInFull) {
    QString command(1024, 'k');
    ui(form).Edit_send->setEditText(command);
    ui(form).BitBtn4->click();
    EXPECT_EQ(arrived(1024), QByteArray(1024, 'k'));
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 1024");
    // A longer command (as a command file may hold) is not cut.
    command = QString(1500, 'z') + "#0A";
    ui(form).Edit_send->setEditText(command);
    ui(form).BitBtn4->click();
    EXPECT_EQ(arrived(1501), QByteArray(1500, 'z') + "\n");
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 1501");
    // Typing stops at 1024 characters.
    QLineEdit* edit = ui(form).Edit_send->lineEdit();
    edit->setText(QString(1020, 'q'));
    edit->end(false);
    QTest::keyClicks(edit, "123456");
    EXPECT_EQ(edit->text(), QString(1020, 'q') + "1234");
    // A paste that would go past 1024 keeps the part that fits.
    edit->clear();
    QApplication::clipboard()->setText(QString(1000, 'a') + QString(1000, 'b'));
    edit->paste();
    EXPECT_EQ(edit->text(), QString(1000, 'a') + QString(24, 'b'));
    // Pasted into the middle, the end of the paste is what goes.
    edit->setText(QString(1020, 'q'));
    edit->setCursorPosition(10);
    QApplication::clipboard()->setText("123456");
    edit->paste();
    EXPECT_EQ(edit->text(), QString(10, 'q') + "1234" + QString(1010, 'q'));
    // A placed long command shrinks under the keys but does not grow.
    edit->setText(QString(1500, 'z'));
    edit->end(false);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), QString(1499, 'z'));
    QTest::keyClicks(edit, "12");
    EXPECT_EQ(edit->text(), QString(1499, 'z'));
}

TEST_F(SerialSend, Refusals) {
    // Something received makes the sum non-zero.
    ASSERT_TRUE(pty.Write("\x05"));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() == 1; }));
    EXPECT_EQ(ui(form).lab_crc->text(), "CRC: 0x05");

    ui(form).Edit_send->setEditText(QString());
    ui(form).BitBtn4->click();
    EXPECT_EQ(dialogs.texts(), QStringList{"Please enter command string"});
    EXPECT_EQ(form->receivePath()->state().CheckSum, 5);

    // A received byte makes the sum other than 0.
    auto receiveSum = [&](char byte) {
        const int before = received();
        pty.Write(QByteArray(1, byte));
        ASSERT_TRUE(pumpUntil([&] { return received() == before + 1; }));
    };
    for (const char* bad : {"#4", "abc#", "#", "#zz", "#4g"}) {
        dialogs.clear();
        receiveSum(9);
        ASSERT_NE(form->receivePath()->state().CheckSum, 0);
        typeAndEnter(bad);
        EXPECT_EQ(dialogs.texts(), QStringList{"Wrong send string. Please correct it"}) << bad;
        EXPECT_EQ(form->receivePath()->state().CheckSum, 0) << bad;
        EXPECT_EQ(ui(form).lab_crc->text(), "CRC: 0x00");
    }
    EXPECT_TRUE(commandList().isEmpty());
    EXPECT_TRUE(arrived(0).isEmpty());

    receiveSum(7);
    ui(form).BitBtn2->click();  // disconnect
    dialogs.clear();
    typeAndEnter("AT");
    EXPECT_EQ(dialogs.texts(), QStringList{"You are not connected to serial port or TCP/IP"});
    EXPECT_EQ(form->receivePath()->state().CheckSum, 7);
    EXPECT_TRUE(commandList().isEmpty());
}

TEST_F(SerialSend, PauseAfterEachByte) {
    form->commands()->setCharDelay(40);
    ui(form).Edit_send->setEditText("12345");
    QElapsedTimer t;
    t.start();
    ui(form).BitBtn4->click();
    EXPECT_GE(t.elapsed(), 5 * 40);
    EXPECT_EQ(arrived(5), "12345");
    EXPECT_FALSE(lit(ui(form).led_TxD));
}

// "Control RTS" raises RTS for the duration of the write, on the simulated device.
TEST_F(SerialTerm, ControlRtsAroundTheWrite) {
    auto peer = SimPeer::Create("rts");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    ui(form).Check_Rts->setChecked(true);
    form->commands()->setCharDelay(15);
    std::atomic<bool> stop{false};
    std::atomic<int> writtenWhileLow{0}, samplesHigh{0};
    std::thread watcher([&] {
        while (!stop) {
            const bool rts = peer->Rts();
            const int n = peer->Written().size();
            if (rts)
                ++samplesHigh;
            else if (n > 0 && n < 4)
                ++writtenWhileLow;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    ui(form).Edit_send->setEditText("ABCD");
    ui(form).BitBtn4->click();
    stop = true;
    watcher.join();
    EXPECT_EQ(peer->Written(), "ABCD");
    EXPECT_GT(samplesHigh.load(), 0);
    EXPECT_EQ(writtenWhileLow.load(), 0);
    EXPECT_FALSE(peer->Rts());
    EXPECT_FALSE(lit(ui(form).led_RTS));

    // Unticked: RTS is not touched.
    ui(form).Check_Rts->setChecked(false);
    ui(form).CheckBox1->click();  // RTS up by hand
    ASSERT_TRUE(peer->Rts());
    ui(form).BitBtn4->click();
    EXPECT_TRUE(peer->Rts());
}

// A failing link: the rest is skipped, the failure is a pane line, the count so far is shown,
// the status bar is left alone and the command still goes to the history.
TEST_F(SerialTerm, ExceptionWhileSending) {
    auto peer = SimPeer::Create("fail");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    // The device fails the third byte's write.
    int lit = 0;
    QObject::connect(form->commands(), &CommandRunner::lampChanged, [&](Lamp lamp, bool on) {
        if (lamp == Lamp::TxD && on && ++lit == 3)
            peer->FailNext(trelmo::serial::sim::SimOp::Write, EIO);
    });
    const QString panel2 = ui(form).StatusBar1Panel2->text();
    ui(form).Edit_send->setEditText("xyz");
    ui(form).BitBtn4->click();
    EXPECT_EQ(peer->Written(), "xy");
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 2");
    EXPECT_EQ(ui(form).StatusBar1Panel2->text(), panel2);
    EXPECT_TRUE(pane().startsWith("Exception sending - ")) << pane().toStdString();
    EXPECT_EQ(form->receivePath()->state().LineIndex, 1);
    EXPECT_EQ(ui(form).Edit_send->count(), 1);
    EXPECT_TRUE(dialogs.messages.empty());
}

// Each byte goes as its own send to the TCP client link and to the listener's client.
TEST_F(SerialTerm, TcpBranches) {
    ASSERT_TRUE(connectTcp());
    ui(form).Edit_send->setEditText("ok#0D");
    ui(form).BitBtn4->click();
    EXPECT_TRUE(pumpUntil([&] { return peerReceived().size() >= 3; }));
    EXPECT_EQ(peerReceived(), "ok\r");
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 3");
    ui(form).Butt_connect->click();
    ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->tcpConnected(); }));

    const std::unique_ptr<QTcpSocket> listenerClient = listenWithClient();
    ASSERT_TRUE(listenerClient);
    QTcpSocket& client = *listenerClient;
    ui(form).BitBtn4->click();
    QByteArray atClient;
    EXPECT_TRUE(pumpUntil([&] {
        atClient += client.readAll();
        return atClient.size() >= 3;
    }));
    EXPECT_EQ(atClient, "ok\r");
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 3");
    ui(form).BitBtn3->click();
}
