// The program is closed while bytes arrive on each link: the main window is closed and the
// windows destroyed mid-stream. Nothing crashes, the settings are written, and the remote
// end learns that the link is gone.

#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <atomic>
#include <thread>

#include "core/IniFile.h"
#include "tests/common/RemoteEnds.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;

using namespace trelmo::test;

namespace {

class CloseWhileReceiving : public SerialTerm {
  protected:
    // Closes the main window (as the user does) and destroys every window.
    void closeProgram() {
        quit();
        pumpFor(200);  // anything queued for the windows must find nothing to call
    }
    // The settings file was written at the close: the keys hold what the controls held.
    void expectSettingsWritten(const QString& host, const QString& port, const QString& com) {
        ASSERT_TRUE(QFileInfo::exists(settingsPath()));
        const trelmo::IniFile ini(settingsPath());
        EXPECT_EQ(ini.readString("TCPConn", "Host", "?"), host);
        EXPECT_EQ(ini.readString("TCPConn", "Port", "?"), port);
        EXPECT_EQ(ini.readString("Com port", "Number", "?"), com);
        EXPECT_EQ(ini.readString("Com port", "Speed, bps", "?"), "9600");
        EXPECT_EQ(ini.readInteger("TCPConn", "Timeout", -1), 10);
        EXPECT_TRUE(ini.valueExists("Misc", "Command delay"));
    }
};
// The serial link's case, named so that the ThreadSanitizer pass runs it.
using SerialCloseWhileReceiving = CloseWhileReceiving;

}  // namespace

TEST_F(SerialCloseWhileReceiving, PseudoTerminal) {
    ui(form).UD_ipTime->setValue(10);
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    PtyFlood flood(pty);
    ASSERT_TRUE(flood.Ok());
    ASSERT_TRUE(connectSerial(pty.SlavePath()));
    ui(form).Edit_ip->setText("10.0.0.7");
    ui(form).Edit_port->setText("4001");
    flood.Start(pattern(512, 9));
    EXPECT_TRUE(pumpUntil([&] { return tableRows() > 5000; }));
    closeProgram();
    EXPECT_TRUE(WorkersGone());
    flood.Stop();
    expectSettingsWritten("10.0.0.7", "4001", pty.SlavePath());
}

TEST_F(CloseWhileReceiving, TcpClientLink) {
    ui(form).UD_ipTime->setValue(10);
    ThreadedServer peer;
    std::atomic<bool> stop{false};
    std::atomic<qint64> sent{0};
    std::atomic<bool> finished{false};
    peer.serve([&](int fd) {
        // Streams until the window's end is gone (the send then fails).
        streamUntilStopped(fd, stop, sent);
        ::close(fd);
        finished = true;
    });
    ui(form).Edit_ip->setText("127.0.0.1");
    ui(form).Edit_port->setText(QString::number(peer.port()));
    ui(form).Butt_connect->click();
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    ASSERT_TRUE(pumpUntil([&] { return form->receivePath()->state().ReceivedCount > 100000; }));
    const QString com = ui(form).Combo_com->currentText();
    closeProgram();
    // The stream ends by itself: the window's socket was closed with the window.
    const bool ended = pumpUntil([&] { return finished.load(); }, 20000);
    stop = true;  // so a peer that did not notice cannot hang the run
    peer.join();
    EXPECT_TRUE(ended) << "the peer kept sending into a closed window";
    expectSettingsWritten("127.0.0.1", QString::number(peer.port()), com);
}

TEST_F(CloseWhileReceiving, TcpListenerLink) {
    ui(form).UD_ipTime->setValue(10);
    const int port = unusedPort();
    ui(form).Edit_port->setText(QString::number(port));
    ui(form).BitBtn3->click();
    ASSERT_EQ(ui(form).BitBtn3->text(), "Close socket");
    std::atomic<bool> stop{false};
    std::atomic<qint64> sent{0};
    std::atomic<bool> finished{false};
    ThreadedClient peer(port, [&](int fd) {
        streamUntilStopped(fd, stop, sent);
        ::close(fd);
        finished = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return form->tcpLinks()->listenerClientConnected(); }));
    ASSERT_TRUE(pumpUntil([&] { return form->receivePath()->state().ReceivedCount > 100000; }));
    const QString host = ui(form).Edit_ip->text();
    const QString com = ui(form).Combo_com->currentText();
    closeProgram();
    const bool ended = pumpUntil([&] { return finished.load(); }, 20000);
    stop = true;
    peer.join();
    EXPECT_TRUE(ended) << "the client kept sending into a closed window";
    EXPECT_TRUE(peer.connected);
    expectSettingsWritten(host, QString::number(port), com);
}
