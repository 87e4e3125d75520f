// Settings files the program must survive: random bytes, a file of ten megabytes, values of a
// hundred thousand characters. The program starts with sound values and writes a file at exit
// that reads back as what the window held, and that the next start loads the same way.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <memory>
#include <random>

#include "core/IniFile.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;
using trelmo::test::ui;

using trelmo::IniFile;
using trelmo::test::WindowTest;

namespace {

// What the controls held when the window closed, as the settings file must carry it.
struct Shown {
    QString com, speed, parity, stop, data, host, port;
    int delay, commandDelay, timeout;
    bool rts, dtr, hex;
};

Shown shownBy(const TForm1* f) {
    return {ui(f).Combo_com->currentText(),
            ui(f).Combo_speed->currentText(),
            ui(f).Combo_parity->currentText(),
            ui(f).Combo_stopbit->currentText(),
            ui(f).Combo_databits->currentText(),
            ui(f).Edit_ip->text(),
            ui(f).Edit_port->text(),
            ui(f).UpDown_delay->value(),
            ui(f).UpDown_delay_command->value(),
            ui(f).UD_ipTime->value(),
            ui(f).Check_Rts->isChecked(),
            ui(f).Check_dtr->isChecked(),
            ui(f).Check_hex->isChecked()};
}

// The file written at exit holds every key once, with the values the controls held.
void expectWrittenAs(const QString& path, const Shown& s) {
    const IniFile ini(path);
    EXPECT_EQ(ini.readString("Com port", "Number", "?"), s.com.left(IniFile::kReadLimit));
    EXPECT_EQ(ini.readString("Com port", "Speed, bps", "?"), s.speed.left(IniFile::kReadLimit));
    EXPECT_EQ(ini.readString("Com port", "Parity", "?"), s.parity.left(IniFile::kReadLimit));
    EXPECT_EQ(ini.readString("Com port", "Stop bits", "?"), s.stop.left(IniFile::kReadLimit));
    EXPECT_EQ(ini.readString("Com port", "Data bits", "?"), s.data.left(IniFile::kReadLimit));
    EXPECT_EQ(ini.readBool("Com port", "RTS control", !s.rts), s.rts);
    EXPECT_EQ(ini.readBool("Com port", "DTR control", !s.dtr), s.dtr);
    EXPECT_EQ(ini.readBool("Misc", "Data in hex", !s.hex), s.hex);
    EXPECT_EQ(ini.readInteger("Misc", "Delay", -1), s.delay);
    EXPECT_EQ(ini.readInteger("Misc", "Command delay", -1), s.commandDelay);
    EXPECT_EQ(ini.readString("TCPConn", "Host", "?"), s.host.left(IniFile::kReadLimit));
    EXPECT_EQ(ini.readString("TCPConn", "Port", "?"), s.port.left(IniFile::kReadLimit));
    EXPECT_EQ(ini.readInteger("TCPConn", "Timeout", -1), s.timeout);

    // One section line and one key line each: the writes replaced, never repeated.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    int comSections = 0, timeoutKeys = 0, hostKeys = 0;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        comSections += line == "[Com port]";
        timeoutKeys += line.startsWith("Timeout=");
        hostKeys += line.startsWith("Host=");
    }
    EXPECT_EQ(comSections, 1);
    EXPECT_EQ(timeoutKeys, 1);
    EXPECT_EQ(hostKeys, 1);
}

// The windows started by each test on a settings file of its own.
class BadSettings : public WindowTest {
  protected:
    BadSettings() : WindowTest(std::nullopt, false) {}
    // Starts the program on a file with these bytes.
    void start(const QByteArray& contents) { startWith(contents); }
    // Closes the main window (which writes the settings) and ends the program.
    Shown quit() {
        const Shown s = shownBy(form);
        WindowTest::quit();
        return s;
    }
    QString path() const { return settingsPath(); }

    // The state a start without usable settings must give: the defaults of the file reads.
    void expectDefaults() {
        EXPECT_EQ(form->serialLink()->speed(), 9600);
        EXPECT_EQ(form->serialLink()->stopBits(), 1);
        EXPECT_EQ(form->serialLink()->dataBits(), 7);
        EXPECT_EQ(form->commands()->charDelay(), 0);
        EXPECT_EQ(ui(form).Combo_speed->currentText(), "9600");
        EXPECT_EQ(ui(form).Combo_stopbit->currentText(), "1");
        EXPECT_EQ(ui(form).Edit_ip->text(), "192.168.0.1");
        EXPECT_EQ(ui(form).Edit_port->text(), "502");
        EXPECT_EQ(form->tcpLinks()->portNumber(), 502);
        EXPECT_EQ(ui(form).UD_ipTime->value(), 30);
        EXPECT_EQ(ui(form).UpDown_delay_command->value(), 0);
        EXPECT_FALSE(ui(form).Check_Rts->isChecked());
        EXPECT_FALSE(ui(form).Check_hex->isChecked());
    }
};

}  // namespace

TEST_F(BadSettings, RandomBytes) {
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        std::mt19937 gen(seed);
        QByteArray junk(1 << 20, '\0');
        for (char& c : junk)
            c = char(gen() & 0xFF);
        start(junk);
        expectDefaults();
        const Shown s = quit();
        expectWrittenAs(path(), s);
        EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
        // The random bytes are still there: the writes touched only the program's keys.
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_GE(f.size(), junk.size());

        // The next start reads what was written.
        WindowTest::start();
        expectDefaults();
        windows.reset();
    }
}

TEST_F(BadSettings, TenMegabytes) {
    // Ten megabytes of lines the program does not know, and its own keys at the very end.
    QByteArray big;
    big.reserve(10 * 1000 * 1000 + 200);
    big += "[Junk]\n";
    for (int i = 0; big.size() < 10 * 1000 * 1000; ++i)
        big += "key" + QByteArray::number(i) + "=" + QByteArray(50, char('a' + i % 26)) + "\n";
    big +=
        "[Com port]\nSpeed, bps=19200\nData bits=8\n[TCPConn]\nHost=10.1.2.3\nPort=4002\n"
        "Timeout=12\n";
    start(big);
    EXPECT_EQ(form->serialLink()->speed(), 19200);
    EXPECT_EQ(form->serialLink()->dataBits(), 8);
    EXPECT_EQ(ui(form).Edit_ip->text(), "10.1.2.3");
    EXPECT_EQ(form->tcpLinks()->portNumber(), 4002);
    EXPECT_EQ(ui(form).UD_ipTime->value(), 12);
    ui(form).Edit_port->setText("4003");
    const Shown s = quit();
    EXPECT_EQ(s.port, "4003");
    expectWrittenAs(path(), s);
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
    const IniFile back(path());
    EXPECT_EQ(back.readString("Junk", "key0", ""), QString(50, 'a'));
    EXPECT_EQ(back.readString("Junk", "key100000", ""), QString(50, char('a' + 100000 % 26)));

    // Ten megabytes in one line: nothing in it is a key.
    start(QByteArray(10 * 1000 * 1000, '9'));
    expectDefaults();
    expectWrittenAs(path(), quit());
}

TEST_F(BadSettings, HundredThousandCharacterValues) {
    const QByteArray nines(100000, '9');
    QByteArray ini = "[Com port]\n";
    for (const char* key :
         {"Number", "Speed, bps", "Parity", "Stop bits", "Data bits", "RTS control", "DTR control"})
        ini += QByteArray(key) + "=" + nines + "\n";
    ini += "[Misc]\n";
    for (const char* key : {"Delay", "Data in hex", "Calc crc", "Calc crc16", "Command delay"})
        ini += QByteArray(key) + "=" + nines + "\n";
    ini += "[TCPConn]\nHost=" + nines + "\nPort=" + nines + "\nTimeout=" + nines + "\n";
    start(ini);

    // Numbers too large for any setting are not numbers: the fallbacks hold. Texts come back
    // whole up to the read limit (the edits' own limits are for typing only).
    const QString read(IniFile::kReadLimit, '9');
    EXPECT_EQ(ui(form).Combo_speed->currentText(), read);
    EXPECT_EQ(form->serialLink()->speed(), 9600);
    EXPECT_EQ(form->serialLink()->stopBits(), 1);
    EXPECT_EQ(form->serialLink()->dataBits(), 8);
    EXPECT_EQ(form->commands()->charDelay(), 0);
    EXPECT_EQ(ui(form).UpDown_delay->value(), 0);
    EXPECT_EQ(ui(form).UpDown_delay_command->value(), 0);
    EXPECT_EQ(ui(form).UD_ipTime->value(), 30);
    EXPECT_EQ(ui(form).Edit_ip->text(), read);
    EXPECT_EQ(ui(form).Edit_port->text(), read);
    EXPECT_FALSE(ui(form).Check_Rts->isChecked());
    EXPECT_FALSE(ui(form).Check_hex->isChecked());
    // Texts without a limit of their own are cut to the read limit.
    EXPECT_EQ(form->serialLink()->comName().size(), IniFile::kReadLimit);
    EXPECT_EQ(ui(form).Combo_com->currentText().size(), IniFile::kReadLimit);
    EXPECT_EQ(form->serialLink()->parityName().size(), IniFile::kReadLimit);
    // A port that is not a number gives the default port.
    EXPECT_EQ(form->tcpLinks()->portNumber(), 502);
    const Shown s = quit();
    expectWrittenAs(path(), s);
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.lastText().toStdString();
    // A flag too large to be a number reads as off and is written back as 0.
    const IniFile back(path());
    EXPECT_EQ(back.readString("Misc", "Calc crc16", "?"), "0");

    // The next start gives the same sound values.
    WindowTest::start();
    EXPECT_EQ(form->serialLink()->speed(), 9600);
    EXPECT_EQ(form->serialLink()->stopBits(), 1);
    EXPECT_EQ(ui(form).UD_ipTime->value(), 30);
    EXPECT_EQ(ui(form).Edit_port->text(), read);
    windows.reset();
}
