// Start-up and shutdown of the main window: the settings file.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

#include "core/Convert.h"
#include "widgets/Dialogs.h"
#include "core/IniFile.h"
#include "terminal/Terminal.h"

namespace {
const QString kCom = QStringLiteral("Com port");
const QString kMisc = QStringLiteral("Misc");
const QString kTcp = QStringLiteral("TCPConn");
}  // namespace

void TForm1::LoadSettings() {
    try {
        const trelmo::IniFile ini(settingsPath_);

        ComName = ini.readString(kCom, QStringLiteral("Number"), QString());
        ParityName = ini.readString(kCom, QStringLiteral("Parity"), QString());
        Combo_com->setEditText(ComName);

        Combo_speed->setEditText(
            ini.readString(kCom, QStringLiteral("Speed, bps"), QStringLiteral("9600")));
        const QString speed = Combo_speed->currentText();
        Speed = speed.isEmpty() ? 9600 : trelmo::StrToIntDef(speed, 9600);
        Combo_parity->setEditText(ParityName);

        Combo_stopbit->setEditText(
            ini.readString(kCom, QStringLiteral("Stop bits"), QStringLiteral("1")));
        const QString stop = Combo_stopbit->currentText();
        StopBits = stop.isEmpty() ? 1 : trelmo::StrToIntDef(stop, 1);

        Combo_databits->setEditText(
            ini.readString(kCom, QStringLiteral("Data bits"), QStringLiteral("7")));
        const QString data = Combo_databits->currentText();
        DataBits = data.isEmpty() ? 8 : trelmo::StrToIntDef(data, 8);

        Check_Rts->setChecked(ini.readBool(kCom, QStringLiteral("RTS control"), false));
        Check_dtr->setChecked(ini.readBool(kCom, QStringLiteral("DTR control"), false));

        // The up-down keeps its own range; CharDelay keeps the value as read.
        CharDelay = ini.readInteger(kMisc, QStringLiteral("Delay"), 0);
        UpDown_delay->setValue(CharDelay);

        Check_hex->setChecked(ini.readBool(kMisc, QStringLiteral("Data in hex"), false));
        Check_crc->setChecked(ini.readBool(kMisc, QStringLiteral("Calc crc"), false));
        Check_crc16->setChecked(ini.readBool(kMisc, QStringLiteral("Calc crc16"), false));

        UpDown_delay_command->setValue(ini.readInteger(kMisc, QStringLiteral("Command delay"), 0));

        Edit_ip->setText(
            ini.readString(kTcp, QStringLiteral("Host"), QStringLiteral("192.168.0.1")));
        Edit_port->setText(ini.readString(kTcp, QStringLiteral("Port"), QStringLiteral("502")));
        UD_ipTime->setValue(ini.readInteger(kTcp, QStringLiteral("Timeout"), 30));

        AutoSave = ini.readBool(QStringLiteral("Save data"), QStringLiteral("Autosave"), false);
    } catch (...) {
        Edit_ip->setText(QStringLiteral("192.168.0.1"));
        Edit_port->setText(QStringLiteral("502"));
        UD_ipTime->setValue(30);
        ComName = QStringLiteral("COM1");
        Combo_com->setEditText(ComName);
        Combo_speed->setEditText(QStringLiteral("9600"));
        Speed = 9600;
        StopBits = 1;
        DataBits = 8;
        ParityName = QStringLiteral("None");
        Combo_parity->setEditText(ParityName);
    }
}

bool TForm1::SaveSettings() {
    try {
        // Every key set first, then the file written once.
        trelmo::IniFile ini(settingsPath_);
        ini.holdWrites();
        ini.writeString(kCom, QStringLiteral("Number"), Combo_com->currentText());
        ini.writeString(kCom, QStringLiteral("Speed, bps"), Combo_speed->currentText());
        ini.writeString(kCom, QStringLiteral("Parity"), Combo_parity->currentText());
        ini.writeString(kCom, QStringLiteral("Stop bits"), Combo_stopbit->currentText());
        ini.writeString(kCom, QStringLiteral("Data bits"), Combo_databits->currentText());
        ini.writeBool(kCom, QStringLiteral("RTS control"), Check_Rts->isChecked());
        ini.writeBool(kCom, QStringLiteral("DTR control"), Check_dtr->isChecked());
        ini.writeBool(kMisc, QStringLiteral("Data in hex"), Check_hex->isChecked());
        ini.writeBool(kMisc, QStringLiteral("Calc crc"), Check_crc->isChecked());
        ini.writeBool(kMisc, QStringLiteral("Calc crc16"), Check_crc16->isChecked());
        ini.writeInteger(kMisc, QStringLiteral("Delay"), UpDown_delay->value());
        ini.writeInteger(kMisc, QStringLiteral("Command delay"), UpDown_delay_command->value());
        ini.writeString(kTcp, QStringLiteral("Host"), Edit_ip->text());
        ini.writeString(kTcp, QStringLiteral("Port"), Edit_port->text());
        ini.writeInteger(kTcp, QStringLiteral("Timeout"), UD_ipTime->value());
        ini.commit();
        return true;
    } catch (...) {
        trelmo::showMessage(QStringLiteral("Unable to save current settings!"));
        return false;
    }
}

void TForm1::FormClose() {
    SaveSettings();
    // The port is closed even when the settings could not be written, so the device is
    // never left open behind a closed window.
    if (PortOpen)
        ClosePortOnExit();
}

void TForm1::ClosePortOnExit() {
    if (closePortHook)
        closePortHook();
}
