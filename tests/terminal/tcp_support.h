#pragma once
// Support for the main window's TCP tests: the real windows with a temporary settings file,
// a fixed clock, the pane's lines and the loopback peers of the link tests.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <memory>

#include "../common/DialogRecorder.h"
#include "../common/Pump.h"
#include "../common/TempDir.h"
#include "../links/LinkTestSupport.h"
#include "core/LocaleText.h"
#include "app/Windows.h"
#include "links/WinSocket.h"
#include "terminal/PaneModel.h"
#include "terminal/Terminal.h"
#include "widgets/ByteTableModel.h"
#include "widgets/dsLeds.h"

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace trelmo::test {

// The moment the window's clock reads during these tests.
inline QDateTime fixedMoment() {
    return QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26));
}
inline QString timeText() {
    return longTimeText(fixedMoment().time());
}
inline QString dateText() {
    return shortDateText(fixedMoment().date());
}

class TcpWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        setClockOverride([] { return fixedMoment(); });
        windows = std::make_unique<Windows>(dir.path("trelmo.ini"));
        form = windows->form1();
        form->UD_ipTime->setValue(10);
    }
    void TearDown() override {
        windows.reset();
        setClockOverride({});
    }

    QStringList lines() const { return form->Pane->lines(); }
    // The pane's lines without a trailing empty one.
    QStringList shownLines() const {
        QStringList l = lines();
        if (!l.isEmpty() && l.last().isEmpty())
            l.removeLast();
        return l;
    }
    bool hasLine(const QString& text) const { return lines().contains(text); }
    int countLines(const QString& text) const { return int(lines().count(text)); }
    int received() const { return form->Recv.ReceivedCount; }

    // Points the client link at 127.0.0.1:port and clicks "Connect to host".
    void connectClient(int port) {
        form->Edit_ip->setText(QStringLiteral("127.0.0.1"));
        form->Edit_port->setText(QString::number(port));
        form->Butt_connect->click();
    }
    // Listens on a port nobody uses.
    int listen() {
        const int port = unusedPort();
        form->Edit_port->setText(QString::number(port));
        form->BitBtn3->click();
        return port;
    }

    DialogRecorder dialogs;
    TempDir dir;
    std::unique_ptr<Windows> windows;
    TForm1* form = nullptr;
};

// Writes data on a peer's socket and waits (without running this thread's event loop) until
// the kernel has it, so the window's next read finds all of it at once.
inline bool pushNow(QTcpSocket& socket, const QByteArray& data) {
    socket.write(data);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(5000))
            return false;
    }
    return true;
}

}  // namespace trelmo::test
