// Start-up and shutdown of the main window: the settings file, and the command line's options.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <algorithm>

#include "core/Convert.h"
#include "core/Guard.h"
#include "core/IniFile.h"
#include "terminal/PaneTools.h"
#include "terminal/PortList.h"
#include "terminal/StartOptions.h"
#include "terminal/Terminal.h"
#include "terminal/TerminalControls.h"
#include "terminal/control/Controllers.h"
#include "widgets/Dialogs.h"

namespace trelmo {
namespace {
const QString kCom = QStringLiteral("Com port");
const QString kMisc = QStringLiteral("Misc");
const QString kTcp = QStringLiteral("TCPConn");
// The options of long sessions and the conveniences; each is written only once it differs
// from its default (or already stands in the file), so that with every option off the file
// holds what it always held.
const QString kSession = QStringLiteral("Session");

// A key of the session section, written as described above.
void writeOption(IniFile& ini, const QString& key, const QString& value, const QString& fallback) {
    const QString missing = QStringLiteral("\x01");
    if (value != fallback || ini.readString(kSession, key, missing) != missing)
        ini.writeString(kSession, key, value);
}
void writeOption(IniFile& ini, const QString& key, bool value) {
    writeOption(ini, key, value ? QStringLiteral("1") : QStringLiteral("0"), QStringLiteral("0"));
}
const QString kTimeStamps = QStringLiteral("TimeStamps");
const QString kPacketGap = QStringLiteral("PacketGap");
const QString kEcho = QStringLiteral("EchoSent");
const QString kUtf8 = QStringLiteral("Utf8");
}  // namespace

void TForm1::LoadSettings() {
    TerminalControls& ui = *ui_;
    SerialLinkController& serial = *c_->serial;
    QString comName = serial.comName();
    QString parityName = serial.parityName();
    int speed = serial.speed();
    int stopBits = serial.stopBits();
    int dataBits = serial.dataBits();
    try {
        const IniFile ini(settingsPath_);

        comName = ini.readString(kCom, QStringLiteral("Number"), QString());
        parityName = ini.readString(kCom, QStringLiteral("Parity"), QString());
        ui.Combo_com->setEditText(comName);

        ui.Combo_speed->setEditText(
            ini.readString(kCom, QStringLiteral("Speed, bps"), QStringLiteral("9600")));
        const QString speedText = ui.Combo_speed->currentText();
        speed = speedText.isEmpty() ? 9600 : StrToIntDef(speedText, 9600);
        ui.Combo_parity->setEditText(parityName);

        ui.Combo_stopbit->setEditText(
            ini.readString(kCom, QStringLiteral("Stop bits"), QStringLiteral("1")));
        const QString stop = ui.Combo_stopbit->currentText();
        stopBits = stop.isEmpty() ? 1 : StrToIntDef(stop, 1);

        ui.Combo_databits->setEditText(
            ini.readString(kCom, QStringLiteral("Data bits"), QStringLiteral("7")));
        const QString data = ui.Combo_databits->currentText();
        dataBits = data.isEmpty() ? 8 : StrToIntDef(data, 8);

        ui.Check_Rts->setChecked(ini.readBool(kCom, QStringLiteral("RTS control"), false));
        ui.Check_dtr->setChecked(ini.readBool(kCom, QStringLiteral("DTR control"), false));

        // The up-down keeps its own range; the pause after each byte keeps the value as read.
        const int charDelay = ini.readInteger(kMisc, QStringLiteral("Delay"), 0);
        c_->runner->setCharDelay(charDelay);
        ui.UpDown_delay->setValue(charDelay);

        ui.Check_hex->setChecked(ini.readBool(kMisc, QStringLiteral("Data in hex"), false));
        ui.Check_crc->setChecked(ini.readBool(kMisc, QStringLiteral("Calc crc"), false));
        ui.Check_crc16->setChecked(ini.readBool(kMisc, QStringLiteral("Calc crc16"), false));

        ui.UpDown_delay_command->setValue(
            ini.readInteger(kMisc, QStringLiteral("Command delay"), 0));

        ui.Edit_ip->setText(
            ini.readString(kTcp, QStringLiteral("Host"), QStringLiteral("192.168.0.1")));
        ui.Edit_port->setText(ini.readString(kTcp, QStringLiteral("Port"), QStringLiteral("502")));
        ui.UD_ipTime->setValue(ini.readInteger(kTcp, QStringLiteral("Timeout"), 30));

        ui.Action_reopen->setChecked(ini.readBool(kSession, QStringLiteral("Reopen"), false));
        const QString ending = ini.readString(kSession, QStringLiteral("LineEnding"), QString());
        if (CommandRunner::lineEndingNames().contains(ending))
            ui.Combo_eol->setCurrentText(ending);
        ui.Edit_repeat->setValue(ini.readInteger(kSession, QStringLiteral("RepeatMs"), 1000));
        ui.Action_keepHistory->setChecked(
            ini.readBool(kSession, QStringLiteral("KeepHistory"), false));
        if (ui.Action_keepHistory->isChecked()) {
            // The list comes back; the command line starts empty as always.
            c_->runner->loadHistory(CommandRunner::historyPathBeside(settingsPath_));
            ui.Edit_send->setEditText(QString());
        }
        // The log dialog's last folder and mode (logging itself starts only when asked).
        c_->capture->setLogFolder(ini.readString(kSession, QStringLiteral("LogFolder"), QString()));
        c_->capture->setLogMode(
            logModeFromName(ini.readString(kSession, QStringLiteral("LogMode"), QString())));
        c_->receive->setPacketGapMs(std::clamp(
            ini.readInteger(kSession, kPacketGap, ReceivePath::kDefaultPacketGapMs), 0, 60000));
        paneTools_->timeStampsAction()->setChecked(ini.readBool(kSession, kTimeStamps, false));
        paneTools_->echoAction()->setChecked(ini.readBool(kSession, kEcho, false));
        paneTools_->utf8Action()->setChecked(ini.readBool(kSession, kUtf8, false));
    } catch (...) {
        ui.Edit_ip->setText(QStringLiteral("192.168.0.1"));
        ui.Edit_port->setText(QStringLiteral("502"));
        ui.UD_ipTime->setValue(30);
        comName = QStringLiteral("COM1");
        ui.Combo_com->setEditText(comName);
        ui.Combo_speed->setEditText(QStringLiteral("9600"));
        speed = 9600;
        stopBits = 1;
        dataBits = 8;
        parityName = QStringLiteral("None");
        ui.Combo_parity->setEditText(parityName);
    }
    serial.loadSettings(comName, parityName, speed, dataBits, stopBits);
}

bool TForm1::SaveSettings() {
    const TerminalControls& ui = *ui_;
    try {
        // Every key set first, then the file written once.
        IniFile ini(settingsPath_);
        ini.holdWrites();
        ini.writeString(kCom, QStringLiteral("Number"), ui.Combo_com->currentText());
        ini.writeString(kCom, QStringLiteral("Speed, bps"), ui.Combo_speed->currentText());
        ini.writeString(kCom, QStringLiteral("Parity"), ui.Combo_parity->currentText());
        ini.writeString(kCom, QStringLiteral("Stop bits"), ui.Combo_stopbit->currentText());
        ini.writeString(kCom, QStringLiteral("Data bits"), ui.Combo_databits->currentText());
        ini.writeBool(kCom, QStringLiteral("RTS control"), ui.Check_Rts->isChecked());
        ini.writeBool(kCom, QStringLiteral("DTR control"), ui.Check_dtr->isChecked());
        ini.writeBool(kMisc, QStringLiteral("Data in hex"), ui.Check_hex->isChecked());
        ini.writeBool(kMisc, QStringLiteral("Calc crc"), ui.Check_crc->isChecked());
        ini.writeBool(kMisc, QStringLiteral("Calc crc16"), ui.Check_crc16->isChecked());
        ini.writeInteger(kMisc, QStringLiteral("Delay"), ui.UpDown_delay->value());
        ini.writeInteger(kMisc, QStringLiteral("Command delay"), ui.UpDown_delay_command->value());
        ini.writeString(kTcp, QStringLiteral("Host"), ui.Edit_ip->text());
        ini.writeString(kTcp, QStringLiteral("Port"), ui.Edit_port->text());
        ini.writeInteger(kTcp, QStringLiteral("Timeout"), ui.UD_ipTime->value());
        writeOption(ini, QStringLiteral("Reopen"), ui.Action_reopen->isChecked());
        writeOption(ini, QStringLiteral("LineEnding"), ui.Combo_eol->currentText(),
                    QStringLiteral("None"));
        writeOption(ini, QStringLiteral("RepeatMs"), QString::number(ui.Edit_repeat->value()),
                    QStringLiteral("1000"));
        writeOption(ini, QStringLiteral("KeepHistory"), ui.Action_keepHistory->isChecked());
        // Only once the log dialog has been used: the file is otherwise as it always was.
        if (!c_->capture->logFolder().isEmpty()) {
            ini.writeString(kSession, QStringLiteral("LogFolder"), c_->capture->logFolder());
            ini.writeString(kSession, QStringLiteral("LogMode"),
                            logModeName(c_->capture->logMode()));
        }
        // The session's keys once they were used: a file that never had them stays as it was.
        const bool stamps = paneTools_->timeStampsAction()->isChecked();
        if (stamps || ini.valueExists(kSession, kTimeStamps))
            ini.writeBool(kSession, kTimeStamps, stamps);
        writeOption(ini, kEcho, paneTools_->echoAction()->isChecked());
        writeOption(ini, kUtf8, paneTools_->utf8Action()->isChecked());
        const int gap = c_->receive->packetGapMs();
        if (gap != ReceivePath::kDefaultPacketGapMs || ini.valueExists(kSession, kPacketGap))
            ini.writeInteger(kSession, kPacketGap, gap);
        ini.commit();
        return true;
    } catch (...) {
        showMessage(QStringLiteral("Unable to save current settings!"));
        return false;
    }
}

void TForm1::FormClose() {
    SaveSettings();
    if (ui_->Action_keepHistory->isChecked())
        c_->runner->saveHistory(CommandRunner::historyPathBeside(settingsPath_));
    // The port is closed even when the settings could not be written, so the device is
    // never left open behind a closed window.
    if (c_->serial->portOpen())
        c_->serial->closeOnExit();
    // The log gets everything received up to here.
    c_->capture->stopLog();
}

void TForm1::applyStartOptions(const StartOptions& o) {
    TerminalControls& ui = *ui_;
    SerialLinkController& serial = *c_->serial;
    // The log first, so it has every byte of the link opened below.
    if (o.logFile)
        runGuarded([&] { c_->capture->startLog(*o.logFile, LogMode::Raw); });
    // As typed into the boxes: the change handlers keep the controllers' state in step.
    auto set = [](QComboBox* box, const std::optional<QString>& value, auto handler) {
        if (!value)
            return;
        box->setEditText(*value);
        runGuarded([&] { handler(box->currentText()); });
    };
    set(ui.Combo_com, o.port, [&](const QString& t) { serial.chooseComName(t); });
    set(ui.Combo_speed, o.speed, [&](const QString& t) { serial.chooseSpeed(t); });
    set(ui.Combo_parity, o.parity, [&](const QString& t) { serial.chooseParity(t); });
    set(ui.Combo_databits, o.dataBits, [&](const QString& t) { serial.chooseDataBits(t); });
    set(ui.Combo_stopbit, o.stopBits, [&](const QString& t) { serial.chooseStopBits(t); });
    if (o.reopen)
        ui.Action_reopen->setChecked(true);
    if (o.timeStamps)
        paneTools_->timeStampsAction()->setChecked(true);
    if (o.connect)
        runGuarded([&] { BitBtn2Click(); });
    if (o.tcpHost) {
        ui.Edit_ip->setText(*o.tcpHost);
        ui.Edit_port->setText(QString::number(*o.tcpPort));
        runGuarded([&] { c_->tcp->toggleClient(); });
    }
    if (o.listenPort) {
        ui.Edit_port->setText(QString::number(*o.listenPort));
        runGuarded([&] { c_->tcp->toggleListener(); });
    }
}

}  // namespace trelmo
