// Faults on the serial link, through the real windows: the device vanishes while open (the
// far end of a pseudo-terminal closes; the simulated device is pulled), and the far end
// sends a megabyte while the GUI thread is busy sending with a pause after every byte.

#include <QCheckBox>
#include <QPushButton>
#include <QSpinBox>
#include <atomic>
#include <thread>

#include "tests/common/WindowFixture.h"

using namespace trelmo::serial;

using namespace trelmo;

using namespace trelmo::test;
using trelmo::serial::sim::SimPeer;

namespace {

class SerialFaults : public SerialTerm {
  protected:
    // The state a vanished device must leave: one message naming the port, the closed
    // status, the settings controls usable again, and no worker thread left.
    void expectCleanlyClosed(const QString& comName) {
        ASSERT_TRUE(pumpUntil([&] { return !dialogs.messages.empty(); }, 10000))
            << "the loss of the device was never reported";
        pumpFor(300);  // a stream of boxes would show now
        EXPECT_EQ(dialogs.messages.size(), 1u) << dialogs.texts().join(" | ").toStdString();
        EXPECT_TRUE(dialogs.lastText().contains(comName)) << dialogs.lastText().toStdString();
        EXPECT_FALSE(form->serialLink()->portOpen());
        EXPECT_FALSE(form->serialLink()->port()->Active());
        const QString closed = comName + " - status: CLOSED";
        EXPECT_EQ(ui(form).StatusBar1Panel0->text(), closed);
        EXPECT_EQ(ui(form).Label_com_status->text(), closed);
        for (QWidget* w : settingsControls())
            EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
        EXPECT_TRUE(pumpUntil([] { return TVaComm::LiveWorkerThreads() == 0; }, 10000))
            << TVaComm::LiveWorkerThreads() << " worker threads still running";
    }
};

}  // namespace

TEST_F(SerialFaults, PseudoTerminalClosedWhileOpen) {
    QString firstPath;
    {
        PtyPair pty;
        ASSERT_TRUE(pty.Ok());
        firstPath = pty.SlavePath();
        connectSerial(firstPath);
        ASSERT_TRUE(form->serialLink()->portOpen());
        ASSERT_TRUE(pty.Write("before\n"));
        ASSERT_TRUE(pumpUntil([&] { return tableRows() == 7; }));
        pty.CloseMaster();
        expectCleanlyClosed(firstPath);
        // The bytes that came before the loss are kept.
        EXPECT_EQ((&form->receivePath()->table())->bytes(), QByteArray("before\n"));
    }

    // The device is back (a new pseudo-terminal): connecting works and bytes flow both ways.
    dialogs.clear();
    PtyPair again;
    ASSERT_TRUE(again.Ok());
    connectSerial(again.SlavePath());
    ASSERT_TRUE(form->serialLink()->portOpen()) << dialogs.texts().join(" | ").toStdString();
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), form->serialLink()->openStatusText());
    EXPECT_GT(TVaComm::LiveWorkerThreads(), 0);
    ASSERT_TRUE(again.Write("after"));
    EXPECT_TRUE(pumpUntil([&] { return tableRows() == 12; }));
    EXPECT_EQ((&form->receivePath()->table())->bytes(), QByteArray("before\nafter"));
    ui(form).Edit_send->setEditText("ping");
    ui(form).BitBtn4->click();
    QByteArray echoed;
    EXPECT_TRUE(pumpUntil([&] {
        echoed += again.ReadAvailable();
        return echoed == "ping";
    })) << echoed.toStdString();

    ui(form).BitBtn2->click();
    EXPECT_FALSE(form->serialLink()->portOpen());
    EXPECT_TRUE(pumpUntil([] { return TVaComm::LiveWorkerThreads() == 0; }, 10000));
}

TEST_F(SerialFaults, PseudoTerminalClosedWhileBytesArrive) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    connectSerial(pty.SlavePath());
    ASSERT_TRUE(form->serialLink()->portOpen());
    const QByteArray data = pattern(3000);
    ASSERT_TRUE(pty.Write(data));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() >= 3000; }));
    pty.CloseMaster();
    expectCleanlyClosed(pty.SlavePath());
    EXPECT_EQ((&form->receivePath()->table())->bytes(), data);
    EXPECT_EQ(form->receivePath()->state().ReceivedCount, 3000);
}

TEST_F(SerialFaults, SimulatedDevicePulledAndPluggedAgain) {
    auto peer = SimPeer::Create("faults");
    connectSerial(peer->DeviceName());
    ASSERT_TRUE(form->serialLink()->portOpen());
    ASSERT_TRUE(peer->Inject("abc"));
    ASSERT_TRUE(pumpUntil([&] { return tableRows() == 3; }));
    peer->Pull();
    expectCleanlyClosed(form->serialLink()->comName());
    EXPECT_TRUE(form->serialLink()->comName().contains("faults"))
        << form->serialLink()->comName().toStdString();

    dialogs.clear();
    peer->Plug();
    ui(form).BitBtn2->click();
    ASSERT_TRUE(form->serialLink()->portOpen()) << dialogs.texts().join(" | ").toStdString();
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
    ASSERT_TRUE(peer->Inject("def"));
    EXPECT_TRUE(pumpUntil([&] { return tableRows() == 6; }));
    EXPECT_EQ((&form->receivePath()->table())->bytes(), QByteArray("abcdef"));

    // Pulled a second time: again exactly one message.
    peer->Pull();
    expectCleanlyClosed(form->serialLink()->comName());
}

TEST_F(SerialFaults, MegabyteArrivesWhileTheGuiThreadIsSending) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    connectSerial(pty.SlavePath());
    ASSERT_TRUE(form->serialLink()->portOpen());

    const QByteArray incoming = pattern(1000000, 3);
    const QByteArray command(30, 'S');
    std::atomic<bool> wrote{false};
    QByteArray echoed;  // written by the far end's thread, read after join
    // The far end waits until the window's send has started (its first byte arrives), then
    // writes the megabyte while the GUI thread is still inside the send, and finally collects
    // the rest of the command.
    std::thread farEnd([&] {
        QDeadlineTimer deadline(30000);
        while (echoed.isEmpty() && !deadline.hasExpired()) {
            echoed += pty.ReadAvailable();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (echoed.isEmpty())
            return;
        wrote = pty.Write(incoming);
        while (echoed.size() < command.size() && !deadline.hasExpired()) {
            echoed += pty.ReadAvailable();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    form->commands()->setCharDelay(50);
    ui(form).Edit_send->setEditText(QString::fromLatin1(command));
    ui(form).BitBtn4->click();  // a second and a half without the event loop
    EXPECT_EQ(ui(form).Label_send->text(), "Total send: 30");

    EXPECT_TRUE(pumpUntil([&] { return tableRows() >= incoming.size(); }, 60000))
        << tableRows() << " of " << incoming.size();
    farEnd.join();
    EXPECT_TRUE(wrote) << "the far end could not write the megabyte";
    EXPECT_EQ(echoed, command);
    pumpFor(100);
    EXPECT_EQ(tableRows(), incoming.size());
    EXPECT_EQ(form->receivePath()->state().ReceivedCount, incoming.size());
    EXPECT_EQ(ui(form).Label_rec->text(), "Total received: " + QString::number(incoming.size()));
    const QByteArray table = (&form->receivePath()->table())->bytes();
    ASSERT_EQ(table.size(), incoming.size());
    qsizetype firstDiff = 0;
    while (firstDiff < table.size() && table[firstDiff] == incoming[firstDiff])
        ++firstDiff;
    EXPECT_EQ(firstDiff, incoming.size()) << "first differing byte at " << firstDiff;
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
}
