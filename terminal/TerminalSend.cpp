// Command sending: the command line's string, parsed into bytes, written byte by byte to
// every active link, with the TxD lamp, the optional pause and the RTS control.
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QValidator>
#include <exception>
#include <limits>

#include "core/Guard.h"
#include "widgets/Dialogs.h"
#include "links/WinSocket.h"
#include "serial/VaComm.h"
#include "core/receive/CheckSum.h"
#include "core/commands/CommandString.h"
#include "terminal/Terminal.h"
#include "terminal/TerminalInput.h"
#include "widgets/dsLeds.h"

namespace {

// Hands each key typed into the command line to Edit_sendKeyPress and passes it on. The filter
// sits on the combo box: typed keys reach the box first (it is the focus widget) and are handed
// to its line edit by a direct call that no filter on the line edit would see; a key sent to the
// line edit itself comes back to the box because the line edit leaves Enter unaccepted. Either
// way the box's filter sees each Enter once (the line edit's returnPressed may fire twice).
class SendKeyFilter : public QObject {
  public:
    SendKeyFilter(TForm1* form, QObject* parent) : QObject(parent), form_(form) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                trelmo::runGuarded([this] {
                    char16_t code = 13;
                    form_->Edit_sendKeyPress(code);
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    TForm1* form_;
};

}  // namespace

void TForm1::connectSendHandlers() {
    using trelmo::guarded;
    // The history grows only by sends: Enter must not insert, and repeats are kept.
    Edit_send->setInsertPolicy(QComboBox::NoInsert);
    Edit_send->setDuplicatesEnabled(true);
    // No inline completion from the history: Enter sends exactly what was typed ("AT" must not
    // become "AT+CGMI", nor "#7E" the "#7e" sent before).
    Edit_send->setCompleter(nullptr);
    connect(BitBtn4, &QPushButton::clicked, this, guarded([this] { BitBtn4Click(); }));
    Edit_send->installEventFilter(new SendKeyFilter(this, Edit_send));
    // Typing and pasting stop at 1024 characters; a command placed by the program (from a
    // command file) is taken whole and sent in full.
    new trelmo::TypedInputValidator(Edit_send->lineEdit(), 1024);
}

void TForm1::Edit_sendKeyPress(char16_t& Key) {
    if (Key == 13)
        BitBtn4Click();
}

void TForm1::BitBtn4Click() {
    if (!PortOpen && !TcpConnected && !ListenerClientConnected) {
        trelmo::showMessage(QStringLiteral("You are not connected to serial port or TCP/IP"));
        return;
    }
    const QString command = Edit_send->currentText();
    if (command.isEmpty()) {
        trelmo::showMessage(QStringLiteral("Please enter command string"));
        return;
    }
    lab_crc->setText(trelmo::resetCheckSum(Recv.CheckSum));
    // A "#" must be followed by two hexadecimal digits; the whole command is sent, whatever
    // its length.
    const std::optional<QByteArray> parsed = trelmo::parseCommandString(command);
    if (!parsed) {
        trelmo::showMessage(trelmo::kWrongSendString);
        return;
    }
    const QByteArray& bytes = *parsed;
    const unsigned long pause = CharDelay > 0 ? static_cast<unsigned long>(CharDelay) : 0;

    int sent = 0;
    // Each byte on its own: lamp on, write, pause, lamp off, counted.
    auto sendEach = [&](const auto& write) {
        for (char c : bytes) {
            led_TxD->setLedOn(true);
            write(static_cast<uint8_t>(c));
            if (pause)
                QThread::msleep(pause);
            led_TxD->setLedOn(false);
            ++sent;
        }
    };
    try {
        if (PortOpen) {
            if (Check_Rts->isChecked()) {
                Com_Port->SetRts(true);
                led_RTS->setLedOn(true);
            }
            sendEach([this](uint8_t b) { Com_Port->WriteChar(b); });
            if (Check_Rts->isChecked()) {
                Com_Port->SetRts(false);
                led_RTS->setLedOn(false);
            }
        }
        if (TcpConnected) {
            sendEach([this](uint8_t b) { Xport_socket->SendText(QByteArray(1, char(b))); });
        }
        if (Socket1->Active()) {
            if (trelmo::TCustomWinSocket* client = Socket1->ServedClient())
                sendEach([client](uint8_t b) { client->SendText(QByteArray(1, char(b))); });
        }
        Label_send->setText(QStringLiteral("Total send: ") + QString::number(sent));
        ShowCounters();
    } catch (const std::exception& e) {
        AddPaneLine(QStringLiteral("Exception sending - ") + QString::fromUtf8(e.what()));
        Label_send->setText(QStringLiteral("Total send: ") + QString::number(sent));
    }
    if (!BatchSending)
        Edit_send->addItem(command);
}
