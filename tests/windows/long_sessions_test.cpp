// Long sessions: the port reopened when its device returns (also under another name behind
// the same stable link), the TCP client link connected again when it drops, the repeat of the
// command line, the line ending appended to commands, and the command history kept across
// runs. With every option off the program behaves as it always did.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

#include "core/IniFile.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;
using namespace trelmo::test;
using trelmo::serial::sim::SimPeer;

namespace {

// Descriptors of this process open on pseudo-terminal slaves (the ports' devices; the test's
// own ends are masters).
int openDescriptors() {
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (QFile::symLinkTarget(fds.filePath(fd)).startsWith(QLatin1String("/dev/pts/")))
            ++count;
    }
    return count;
}

QAction* action(TForm1* form, const char* name) {
    return form->findChild<QAction*>(QString::fromLatin1(name));
}

// The windows with "Reopen the port when it returns" ticked, and a folder of stable device
// links the serial link looks in (as /dev/serial/by-id on a real machine).
class SerialReopen : public WindowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(dir.path("by-id")));
        form->serialLink()->deviceSystem.byIdFolder = dir.path("by-id");
        action(form, "Action_reopen")->setChecked(true);
        typeInto(ui(form).Combo_parity, "None");
    }
    // Points the stable link at a new pseudo-terminal, as udev does for an adapter that
    // comes back (perhaps under another number).
    PtyPair& plugIn() {
        pty = std::make_unique<PtyPair>();
        EXPECT_TRUE(pty->Ok());
        QFile::remove(link());
        EXPECT_TRUE(QFile::link(pty->SlavePath(), link()));
        return *pty;
    }
    // The adapter is pulled: its node goes, and udev takes its stable link away.
    void pull() {
        pty->CloseMaster();
        QFile::remove(link());
    }
    QString link() const { return dir.path("by-id/usb-Trelmo_Test_Adapter-if00-port0"); }
    int linesStartingWith(const QString& prefix) const {
        return int(
            lines().filter(QRegularExpression("^" + QRegularExpression::escape(prefix))).size());
    }
    std::unique_ptr<PtyPair> pty;
};

}  // namespace

TEST_F(SerialReopen, ThePortIsReopenedEachTimeItsDeviceReturns) {
    plugIn();
    // The user types the device's own path; its stable link is found at connect.
    ASSERT_TRUE(connectSerial(pty->SlavePath()));
    const QString name = pty->SlavePath();
    const int descriptors = openDescriptors();
    EXPECT_EQ(descriptors, 1) << "the port's device";
    QByteArray fed;
    for (int round = 0; round < 5; ++round) {
        const QByteArray bytes = QByteArray("round ") + QByteArray::number(round) + "\n";
        ASSERT_TRUE(pty->Write(bytes));
        fed += bytes;
        ASSERT_TRUE(pumpUntil([&] { return received() == fed.size(); }));

        // The adapter is pulled: one line, the waiting status, no box.
        pull();
        ASSERT_TRUE(pumpUntil(
            [&] { return linesStartingWith("Port " + name + " lost at ") == round + 1; }));
        EXPECT_TRUE(form->serialLink()->portOpen());
        EXPECT_TRUE(form->serialLink()->waiting());
        EXPECT_EQ(ui(form).StatusBar1Panel0->text(), name + " - WAITING for the device");
        pumpFor(2 * SerialLinkController::kReopenIntervalMs);
        EXPECT_EQ(linesStartingWith("Port " + name + " reopened at "), round);

        // It comes back under another pseudo-terminal behind the same link.
        plugIn();
        ASSERT_TRUE(pumpUntil(
            [&] { return linesStartingWith("Port " + name + " reopened at ") == round + 1; }));
        EXPECT_FALSE(form->serialLink()->waiting());
        EXPECT_TRUE(ui(form).StatusBar1Panel0->text().endsWith(" - OPEN"));
        EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().join("|").toStdString();
    }
    // The capture, the counters and the table simply went on.
    ASSERT_TRUE(pty->Write("end\n"));
    fed += "end\n";
    ASSERT_TRUE(pumpUntil([&] { return received() == fed.size(); }));
    EXPECT_EQ(form->receivePath()->table().bytes(), fed);
    expectCountsAgree();
    const QRegularExpression reopened("^Port .* reopened at .* after \\d+\\.\\d s$");
    EXPECT_EQ(lines().filter(reopened).size(), 5);
    // No descriptor was left behind by the losses and the reopens.
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST_F(SerialReopen, DisconnectStopsTheWaitingAndSendsWaitWithoutBoxes) {
    auto peer = SimPeer::Create("usb-sim");
    ASSERT_TRUE(connectSerial(peer->DeviceName()));
    // A run of commands and a repeat are going on when the device goes.
    ui(form).Edit_send->setEditText("ping");
    ui(form).Edit_repeat->setValue(20);
    ui(form).Check_repeat->setChecked(true);
    ASSERT_TRUE(form->commands()->repeating());
    ASSERT_TRUE(pumpUntil([&] { return peer->Written().size() >= 8; }));

    peer->Pull();
    ASSERT_TRUE(pumpUntil([&] { return form->serialLink()->waiting(); }));
    const QByteArray before = peer->TakeWritten();
    pumpFor(300);
    EXPECT_TRUE(form->commands()->repeating()) << "the repeat holds while the port waits";
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().join("|").toStdString();

    // Back: the repeat goes on by itself.
    peer->Plug();
    ASSERT_TRUE(pumpUntil([&] { return !form->serialLink()->waiting(); }));
    ASSERT_TRUE(pumpUntil([&] { return peer->Written().size() >= 8; }));
    EXPECT_TRUE(peer->Written().startsWith("ping"));

    // Pulled again, then the user disconnects while it waits: the waiting ends for good.
    peer->Pull();
    ASSERT_TRUE(pumpUntil([&] { return form->serialLink()->waiting(); }));
    ui(form).BitBtn2->click();
    EXPECT_FALSE(form->serialLink()->portOpen());
    EXPECT_FALSE(form->serialLink()->waiting());
    EXPECT_TRUE(pumpUntil([&] { return !form->commands()->repeating(); })) << "no link is left";
    EXPECT_FALSE(ui(form).Check_repeat->isChecked());
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), peer->DeviceName() + " - status: CLOSED");
    peer->Plug();
    const int opens = peer->OpenCount();
    pumpFor(3 * SerialLinkController::kReopenIntervalMs);
    EXPECT_EQ(peer->OpenCount(), opens);
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().join("|").toStdString();
}

TEST_F(WindowTest, SerialWithoutReopenAVanishedDeviceClosesThePortWithOneBox) {
    auto peer = SimPeer::Create("no-reopen");
    ASSERT_TRUE(connectSerial(peer->DeviceName()));
    const int opens = peer->OpenCount();
    peer->Pull();
    ASSERT_TRUE(pumpUntil([&] { return !form->serialLink()->portOpen(); }));
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(
        dialogs.lastText().startsWith("The serial port sim:no-reopen is no longer "
                                      "available and has been closed: "));
    peer->Plug();
    pumpFor(3 * SerialLinkController::kReopenIntervalMs);
    EXPECT_EQ(peer->OpenCount(), opens);
}

TEST_F(TcpWindow, TheClientLinkIsConnectedAgainWhenItDrops) {
    action(form, "Action_reopen")->setChecked(true);
    ASSERT_TRUE(connectTcp());
    const QString name = "127.0.0.1:" + QString::number(peer->port());
    // The far end closes the connection; it still listens, so the link comes back.
    peer->client().close();
    ASSERT_TRUE(pumpUntil([&] { return peer->accepted.size() == 2; }));
    ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->waiting(); }));
    EXPECT_TRUE(
        hasLine("Port " + name + " lost at " + timeText() + ": connection closed by the peer"));
    EXPECT_EQ(lines()
                  .filter(QRegularExpression("^Port " + QRegularExpression::escape(name) +
                                             " reopened at " + timeText() + " after "))
                  .size(),
              1);
    EXPECT_EQ(countLines("Disconnected TCP/IP connection at " + timeText()), 0);
    EXPECT_TRUE(form->tcpLinks()->tcpConnected());
    EXPECT_EQ(ui(form).Butt_connect->text(), "Disconnect TCP");
    // Bytes flow again both ways.
    ASSERT_TRUE(writeAll(peer->client(1), "again"));
    ASSERT_TRUE(pumpUntil([&] { return hasLine("again"); }));
    send("back");
    ASSERT_TRUE(pumpUntil([&] { return peer->client(1).bytesAvailable() >= 4; }));
    EXPECT_EQ(peer->client(1).readAll(), "back");

    // The far end goes away entirely: attempts fail quietly until the user disconnects.
    const int port = peer->port();
    peer->client(1).close();
    peer->server.close();
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->waiting(); }));
    pumpFor(3 * TcpLinksController::kReconnectIntervalMs);
    EXPECT_EQ(lines().filter("Socket error").size(), 0) << "no line per failed attempt";
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "Waiting for " + name + "...");
    ui(form).Butt_connect->click();
    EXPECT_FALSE(form->tcpLinks()->tcpConnected());
    EXPECT_FALSE(form->tcpLinks()->waiting());
    EXPECT_EQ(ui(form).Butt_connect->text(), "Connect to host");
    // Listening again does not bring the link back: the user ended it.
    QTcpServer again;
    ASSERT_TRUE(again.listen(QHostAddress::LocalHost, quint16(port)));
    pumpFor(3 * TcpLinksController::kReconnectIntervalMs);
    EXPECT_FALSE(again.hasPendingConnections());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(PtyWindow, SerialRepeatSendsTheCommandLineUntilStopped) {
    ui(form).Edit_send->setEditText("AT#0D");
    ui(form).Edit_repeat->setValue(10);
    ui(form).Check_repeat->setChecked(true);
    QByteArray got;
    ASSERT_TRUE(pumpUntil([&] {
        got += pty.ReadAvailable();
        return got.size() >= 5 * 3;
    }));
    ui(form).Check_repeat->setChecked(false);
    EXPECT_FALSE(form->commands()->repeating());
    pumpFor(50);
    got += pty.ReadAvailable();
    const int count = form->commands()->repeatCount();
    EXPECT_EQ(got, QByteArray("AT\r").repeated(count));
    EXPECT_EQ(ui(form).Label_repeat->text(), QString::number(count) + " sent");
    // The repeat adds nothing to the history.
    EXPECT_TRUE(commandList().isEmpty());
    pumpFor(50);
    EXPECT_TRUE(pty.ReadAvailable().isEmpty()) << "stopped means stopped";

    // A command that cannot be sent does not start a repeat: one box, the box unticked.
    ui(form).Edit_send->setEditText("#4");
    ui(form).Check_repeat->setChecked(true);
    EXPECT_EQ(dialogs.texts(), QStringList{"Wrong send string. Please correct it"});
    EXPECT_FALSE(ui(form).Check_repeat->isChecked());
    EXPECT_FALSE(form->commands()->repeating());

    // Closing the link ends the repeat.
    ui(form).Edit_send->setEditText("x");
    ui(form).Check_repeat->setChecked(true);
    ASSERT_TRUE(form->commands()->repeating());
    ui(form).BitBtn2->click();
    EXPECT_TRUE(pumpUntil([&] { return !form->commands()->repeating(); }));
    EXPECT_FALSE(ui(form).Check_repeat->isChecked());
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(PtyWindow, SerialLineEndingIsAppendedToEveryCommand) {
    auto arrived = [&](int n) {
        QByteArray got;
        pumpUntil([&] {
            got += pty.ReadAvailable();
            return got.size() >= n;
        });
        return got;
    };
    send("AT");
    EXPECT_EQ(arrived(2), "AT") << "None: as typed";
    ui(form).Combo_eol->setCurrentText("CR+LF");
    send("AT");
    EXPECT_EQ(arrived(4), "AT\r\n");
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 4");
    ui(form).Combo_eol->setCurrentText("LF");
    send("#41");
    EXPECT_EQ(arrived(2), "A\n");
    // A batch run ends each command the same way; the history keeps the commands as typed.
    ui(form).Combo_eol->setCurrentText("CR");
    ui(form).BitBtn1->click();
    ASSERT_TRUE(pumpUntil([&] { return !form->commands()->batchSending(); }));
    EXPECT_EQ(arrived(8), "AT\rAT\rA\r");
    EXPECT_EQ(commandList(), QStringList({"AT", "AT", "#41"}));
}

TEST_F(WindowTest, OptionsAreKeptInTheSettingsFileOnlyOnceSet) {
    // All off: the file holds what it always held.
    quit();
    EXPECT_FALSE(dir.read("trelmo.ini").contains("[Session]"));

    start();
    action(form, "Action_reopen")->setChecked(true);
    action(form, "Action_keepHistory")->setChecked(true);
    ui(form).Combo_eol->setCurrentText("CR+LF");
    ui(form).Edit_repeat->setValue(250);
    quit();
    const IniFile ini(settingsPath());
    EXPECT_EQ(ini.readString("Session", "Reopen", ""), "1");
    EXPECT_EQ(ini.readString("Session", "KeepHistory", ""), "1");
    EXPECT_EQ(ini.readString("Session", "LineEnding", ""), "CR+LF");
    EXPECT_EQ(ini.readString("Session", "RepeatMs", ""), "250");

    start();
    EXPECT_TRUE(action(form, "Action_reopen")->isChecked());
    EXPECT_TRUE(form->serialLink()->reopen());
    EXPECT_TRUE(form->tcpLinks()->reopen());
    EXPECT_EQ(ui(form).Combo_eol->currentText(), "CR+LF");
    EXPECT_EQ(ui(form).Edit_repeat->value(), 250);
    // Switched off again: the keys stay, with the default values.
    action(form, "Action_reopen")->setChecked(false);
    quit();
    EXPECT_EQ(IniFile(settingsPath()).readString("Session", "Reopen", ""), "0");
}

TEST_F(WindowTest, SerialCommandHistoryIsKeptAcrossRunsWhenAsked) {
    auto peer = SimPeer::Create("history");
    ASSERT_TRUE(connectSerial(peer->DeviceName()));
    for (const char* c : {"one", "two", "one", "three"})
        send(c);
    quit();  // off: nothing kept
    EXPECT_FALSE(dir.exists("trelmo.history"));
    start();
    EXPECT_TRUE(commandList().isEmpty());

    action(form, "Action_keepHistory")->setChecked(true);
    ASSERT_TRUE(connectSerial(peer->DeviceName()));
    for (int i = 0; i < 120; ++i)
        send(QStringLiteral("cmd%1").arg(i % 110));
    send("cmd5");
    quit();
    start();
    // The last 100 distinct commands, oldest first; a repeated one at its last place.
    const QStringList kept = commandList();
    ASSERT_EQ(kept.size(), 100);
    EXPECT_EQ(kept.last(), "cmd5");
    EXPECT_EQ(kept.count("cmd5"), 1);
    EXPECT_EQ(kept.first(), "cmd20");
    EXPECT_TRUE(ui(form).Edit_send->currentText().isEmpty());
}
