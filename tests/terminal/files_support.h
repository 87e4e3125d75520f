#pragma once
// Support for the main window's file tests: the real windows with a temporary settings file
// and a fixed clock, the dialog recorder, and a loopback TCP peer to capture bytes from.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpSocket>
#include <memory>

#include "core/LocaleText.h"
#include "app/Windows.h"
#include "links/WinSocket.h"
#include "terminal/PaneModel.h"
#include "terminal/ReceivePaneView.h"
#include "terminal/Terminal.h"
#include "tests/common/DialogRecorder.h"
#include "tests/common/Pump.h"
#include "tests/common/TempDir.h"
#include "tests/links/LinkTestSupport.h"
#include "tests/serial/SerialFixtures.h"
#include "widgets/ByteTableModel.h"

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace trelmo::test {

class FilesWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        setClockOverride([] { return QDateTime(QDate(2025, 11, 3), QTime(8, 7, 6)); });
        windows = std::make_unique<Windows>(dir.path("trelmo.ini"));
        form = windows->form1();
        form->UD_ipTime->setValue(10);
        form->Timer_TimeTimer();  // the clock labels the headers are made of
    }
    void TearDown() override {
        peer.reset();
        windows.reset();
        setClockOverride({});
    }

    // Connects the serial port to a pseudo-terminal as the connect button does; false when
    // the port did not open.
    bool connectPty(PtyPair& pty) {
        form->Combo_com->setEditText(pty.SlavePath());
        form->Combo_comChange();
        form->BitBtn2Click();
        return form->PortOpen;
    }
    // Connects the window's TCP client link to a loopback peer.
    bool connectTcp() {
        peer = std::make_unique<Peer>();
        form->Edit_ip->setText(QStringLiteral("127.0.0.1"));
        form->Edit_port->setText(QString::number(peer->port()));
        form->Butt_connect->click();
        return peer->waitForClient() && pumpUntil([&] { return form->TcpConnected; });
    }
    // Sends bytes from the peer and waits until the window has counted them all.
    bool receiveTcp(const QByteArray& bytes) {
        const int before = form->Recv.ReceivedCount;
        return writeAll(peer->client(), bytes) &&
               pumpUntil([&] { return form->Recv.ReceivedCount == before + bytes.size(); });
    }
    // What the peer has received from the window so far (without waiting).
    QByteArray peerReceived() {
        received_ += peer->client().readAll();
        return received_;
    }

    // The settings the header shows.
    void chooseSettings(const QString& port, const QString& speed, const QString& bits,
                        const QString& parity, const QString& stop) {
        form->Combo_com->setEditText(port);
        form->Combo_speed->setEditText(speed);
        form->Combo_databits->setEditText(bits);
        form->Combo_parity->setEditText(parity);
        form->Combo_stopbit->setEditText(stop);
    }

    QStringList commandList() const {
        QStringList out;
        for (int i = 0; i < form->Edit_send->count(); ++i)
            out << form->Edit_send->itemText(i);
        return out;
    }

    DialogRecorder dialogs;
    TempDir dir;
    std::unique_ptr<Windows> windows;
    TForm1* form = nullptr;
    std::unique_ptr<Peer> peer;

  private:
    QByteArray received_;
};

}  // namespace trelmo::test
