// Loading and saving the settings file through a real main window.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <memory>

#include "core/IniFile.h"
#include "serial/SimDevice.h"
#include "terminal/Terminal.h"
#include "tests/common/DialogRecorder.h"
#include "tests/common/Form1Ui.h"
#include "tests/common/QtPrint.h"
#include "tests/common/TempDir.h"
#include "widgets/dsLeds.h"

using namespace trelmo;
using trelmo::serial::sim::SimPeer;
using trelmo::test::ui;

using trelmo::test::DialogRecorder;
using trelmo::test::TempDir;

namespace {

std::unique_ptr<TForm1> formWith(const TempDir& dir, const QByteArray& ini) {
    dir.write("trelmo.ini", ini);
    return std::make_unique<TForm1>(dir.path("trelmo.ini"));
}

// Every "key=value" line of a file, in order, as "Section/key=value".
QStringList keyLines(const QByteArray& file) {
    QStringList out;
    QString section;
    for (const QByteArray& raw : file.split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        if (line.startsWith('[')) {
            section = line.mid(1, line.indexOf(']') - 1);
        } else if (line.contains('=') && !line.startsWith(';')) {
            out << section + "/" + line;
        }
    }
    return out;
}

}  // namespace

TEST(Settings, FirstStartWithoutAFile) {
    TempDir dir;
    TForm1 form(dir.path("trelmo.ini"));
    EXPECT_EQ(ui(form).Combo_com->currentText(), "");
    EXPECT_EQ(ui(form).Combo_parity->currentText(), "");
    EXPECT_EQ(ui(form).Combo_speed->currentText(), "9600");
    EXPECT_EQ(ui(form).Combo_stopbit->currentText(), "1");
    EXPECT_EQ(ui(form).Combo_databits->currentText(), "7");
    EXPECT_EQ(form.serialLink()->dataBits(), 7);
    EXPECT_EQ(form.serialLink()->speed(), 9600);
    EXPECT_EQ(form.serialLink()->stopBits(), 1);
    EXPECT_EQ(form.commands()->charDelay(), 0);
    EXPECT_EQ(ui(form).Edit_ip->text(), "192.168.0.1");
    EXPECT_EQ(ui(form).Edit_port->text(), "502");
    EXPECT_EQ(ui(form).UD_ipTime->value(), 30);
    EXPECT_EQ(ui(form).Edit_ipTime->text(), "30");
    EXPECT_EQ(ui(form).UpDown_delay_command->value(), 0);
    EXPECT_FALSE(ui(form).Check_Rts->isChecked());
    EXPECT_FALSE(ui(form).Check_dtr->isChecked());
    EXPECT_FALSE(ui(form).Check_hex->isChecked());
    EXPECT_TRUE(ui(form).lab_crc->isHidden());
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), " - status: CLOSED");
    EXPECT_EQ(ui(form).Label_com_status->text(), " - status: CLOSED");
    EXPECT_FALSE(form.serialLink()->portOpen() || form.tcpLinks()->tcpConnected() ||
                 form.tcpLinks()->listenerClientConnected() || form.commands()->batchSending() ||
                 form.tableShown() || form.serialLink()->mbusCapture());
    for (TdsLed* led :
         {ui(form).led_TxD, ui(form).led_RxD, ui(form).led_RTS, ui(form).led_DTR, ui(form).led_RI})
        EXPECT_FALSE(led->LedOn()) << led->objectName().toStdString();
    EXPECT_FALSE(QFile::exists(dir.path("trelmo.ini")));  // loading creates no file
}

TEST(Settings, EveryKeyIsLoaded) {
    TempDir dir;
    auto form = formWith(dir,
                         "[Com port]\nNumber=COM3\nParity=Even\nSpeed, bps=19200\nStop bits=2\n"
                         "Data bits=8\nRTS control=1\nDTR control=5\n"
                         "[Misc]\nDelay=15\nData in hex=1\nCalc crc=0\nCalc crc16=1\n"
                         "Command delay=120\n"
                         "[TCPConn]\nHost=10.0.0.7\nPort=2101\nTimeout=250\n"
                         "[Save data]\nAutosave=1\n");
    EXPECT_EQ(form->serialLink()->comName(), "COM3");
    EXPECT_EQ(ui(form).Combo_com->currentText(), "COM3");
    EXPECT_EQ(form->serialLink()->parityName(), "Even");
    EXPECT_EQ(ui(form).Combo_parity->currentText(), "Even");
    EXPECT_EQ(form->serialLink()->speed(), 19200);
    EXPECT_EQ(form->serialLink()->stopBits(), 2);
    EXPECT_EQ(form->serialLink()->dataBits(), 8);
    EXPECT_TRUE(ui(form).Check_Rts->isChecked());
    EXPECT_TRUE(ui(form).Check_dtr->isChecked());
    EXPECT_EQ(form->commands()->charDelay(), 15);
    EXPECT_EQ(ui(form).UpDown_delay->value(), 15);
    EXPECT_EQ(ui(form).Edit_delay->text(), "15");
    EXPECT_TRUE(ui(form).Check_hex->isChecked());
    EXPECT_FALSE(ui(form).Check_crc->isChecked());
    EXPECT_TRUE(ui(form).Check_crc16->isChecked());
    EXPECT_EQ(ui(form).UpDown_delay_command->value(), 120);
    EXPECT_EQ(ui(form).Edit_ip->text(), "10.0.0.7");
    EXPECT_EQ(ui(form).Edit_port->text(), "2101");
    EXPECT_EQ(ui(form).UD_ipTime->value(), 250);
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), "COM3 - status: CLOSED");
    EXPECT_EQ(ui(form).Label_com_status->text(), "COM3 - status: CLOSED");
}

TEST(Settings, OddValues) {
    {
        TempDir dir;  // present but empty: 8 data bits, not the missing key's 7
        auto form = formWith(dir, "[Com port]\nData bits=\n");
        EXPECT_EQ(ui(form).Combo_databits->currentText(), "");
        EXPECT_EQ(form->serialLink()->dataBits(), 8);
    }
    {
        TempDir dir;
        auto form = formWith(dir, "[Com port]\nSpeed, bps=fast\nStop bits=x\nData bits=y\n");
        EXPECT_EQ(ui(form).Combo_speed->currentText(), "fast");
        EXPECT_EQ(form->serialLink()->speed(), 9600);
        EXPECT_EQ(form->serialLink()->stopBits(), 1);
        EXPECT_EQ(form->serialLink()->dataBits(), 8);
        EXPECT_EQ(ui(form).Combo_stopbit->currentText(), "x");
    }
    {
        TempDir dir;
        auto form = formWith(dir, "[Com port]\nSpeed, bps=\n[Misc]\nDelay=0x1F\n");
        EXPECT_EQ(ui(form).Combo_speed->currentText(), "");
        EXPECT_EQ(form->serialLink()->speed(), 9600);
        EXPECT_EQ(form->commands()->charDelay(), 31);
        EXPECT_EQ(ui(form).UpDown_delay->value(), 31);
    }
    {
        TempDir dir;  // 500 is kept for sending although the up-down stops at 200
        auto form = formWith(dir, "[Misc]\nDelay=500\nCommand delay=20000\n[TCPConn]\nTimeout=1\n");
        EXPECT_EQ(form->commands()->charDelay(), 500);
        EXPECT_EQ(ui(form).UpDown_delay->value(), 200);
        EXPECT_EQ(ui(form).UpDown_delay_command->value(), 9990);
        EXPECT_EQ(ui(form).UD_ipTime->value(), 10);
        form->close();
        trelmo::IniFile back(dir.path("trelmo.ini"));
        EXPECT_EQ(back.readInteger("Misc", "Delay", -1), 200);
        EXPECT_EQ(back.readInteger("Misc", "Command delay", -1), 9990);
        EXPECT_EQ(back.readInteger("TCPConn", "Timeout", -1), 10);
        EXPECT_EQ(form->commands()->charDelay(), 500);
    }
}

TEST(Settings, CalcCrcShowsTheCrcLabel) {
    {
        TempDir dir;
        auto form = formWith(dir, "[Misc]\nCalc crc=1\n");
        EXPECT_TRUE(ui(form).Check_crc->isChecked());
        EXPECT_FALSE(ui(form).lab_crc->isHidden());
        EXPECT_EQ(ui(form).lab_crc->text(), "CRC: ");
        EXPECT_TRUE(ui(form).Check_crc->isHidden());
        ui(form).Check_crc->setChecked(false);
        EXPECT_TRUE(ui(form).lab_crc->isHidden());
    }
    {
        TempDir dir;
        auto form = formWith(dir, "[Misc]\nCalc crc=0\n");
        EXPECT_TRUE(ui(form).lab_crc->isHidden());
        ui(form).Check_crc->setChecked(true);
        EXPECT_FALSE(ui(form).lab_crc->isHidden());
    }
}

TEST(Settings, SavedKeysInOrderKeepingTheRestOfTheFile) {
    TempDir dir;
    auto form = formWith(dir,
                         "; my settings\r\n[Save data]\r\nAutosave=1\r\n"
                         "[Com port]\r\nNumber=COM2\r\n; note\r\n\r\n[Extra]\r\nfoo = bar\r\n");
    ui(form).Combo_com->setEditText("COM9");
    ui(form).Combo_speed->setEditText("fastest");
    ui(form).Combo_parity->setEditText("Odd");
    ui(form).Combo_stopbit->setEditText("2");
    ui(form).Combo_databits->setEditText("8");
    ui(form).Check_Rts->setChecked(true);
    ui(form).Check_dtr->setChecked(false);
    ui(form).Check_hex->setChecked(true);
    ui(form).Check_crc->setChecked(true);
    ui(form).Check_crc16->setChecked(false);
    ui(form).UpDown_delay->setValue(7);
    ui(form).UpDown_delay_command->setValue(40);
    ui(form).Edit_ip->setText("127.0.0.1");
    ui(form).Edit_port->setText("4001");
    ui(form).UD_ipTime->setValue(77);
    form->close();

    const QByteArray file = dir.read("trelmo.ini");
    EXPECT_EQ(
        keyLines(file),
        QStringList({"Save data/Autosave=1", "Com port/Number=COM9", "Com port/Speed, bps=fastest",
                     "Com port/Parity=Odd", "Com port/Stop bits=2", "Com port/Data bits=8",
                     "Com port/RTS control=1", "Com port/DTR control=0", "Extra/foo = bar",
                     "Misc/Data in hex=1", "Misc/Calc crc=1", "Misc/Calc crc16=0", "Misc/Delay=7",
                     "Misc/Command delay=40", "TCPConn/Host=127.0.0.1", "TCPConn/Port=4001",
                     "TCPConn/Timeout=77"}));
    EXPECT_TRUE(file.startsWith("; my settings\r\n"));
    EXPECT_TRUE(file.contains("; note\r\n"));

    // What was saved loads back into a new window.
    TForm1 again(dir.path("trelmo.ini"));
    EXPECT_EQ(again.serialLink()->comName(), "COM9");
    EXPECT_EQ(again.serialLink()->speed(), 9600);
    EXPECT_EQ(ui(again).Combo_speed->currentText(), "fastest");
    EXPECT_EQ(ui(again).UD_ipTime->value(), 77);
    EXPECT_FALSE(ui(again).lab_crc->isHidden());
}

TEST(Settings, FirstCloseCreatesTheFileInWriteOrder) {
    TempDir dir;
    {
        TForm1 form(dir.path("trelmo.ini"));
        form.close();
    }
    const QStringList keys = keyLines(dir.read("trelmo.ini"));
    EXPECT_EQ(keys, QStringList({"Com port/Number=", "Com port/Speed, bps=9600",
                                 "Com port/Parity=", "Com port/Stop bits=1", "Com port/Data bits=7",
                                 "Com port/RTS control=0", "Com port/DTR control=0",
                                 "Misc/Data in hex=0", "Misc/Calc crc=0", "Misc/Calc crc16=0",
                                 "Misc/Delay=0", "Misc/Command delay=0", "TCPConn/Host=192.168.0.1",
                                 "TCPConn/Port=502", "TCPConn/Timeout=30"}));
}

TEST(Settings, UnwritableFileIsReportedAndTheWindowClosesAnyway) {
    DialogRecorder recorder;
    TempDir dir;
    QDir(dir.root()).mkdir("sub");
    const QString path = dir.path("sub/trelmo.ini");
    TForm1 form(path);
    form.show();
    QDir(dir.path("sub")).removeRecursively();  // the folder is gone by the time we close
    bool hookCalled = false;
    auto peer = SimPeer::Create("gone-folder");
    form.serialLink()->toggle(peer->DeviceName(), QStringLiteral("9600"));
    ASSERT_TRUE(form.serialLink()->portOpen());
    form.serialLink()->closePortHook = [&] { hookCalled = true; };
    form.close();
    EXPECT_EQ(recorder.texts(), QStringList({"Unable to save current settings!"}));
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(hookCalled);
}

TEST(Settings, ReadOnlyFolderIsReported) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    DialogRecorder recorder;
    TempDir dir;
    QDir(dir.root()).mkdir("ro");
    QFile::setPermissions(dir.path("ro"), QFile::ReadOwner | QFile::ExeOwner);
    {
        TForm1 form(dir.path("ro/trelmo.ini"));
        form.close();
    }
    QFile::setPermissions(dir.path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(recorder.texts(), QStringList({"Unable to save current settings!"}));
}

TEST(Settings, PortIsClosedAfterTheSettingsAreWritten) {
    DialogRecorder recorder;
    TempDir dir;
    TForm1 form(dir.path("trelmo.ini"));
    ui(form).Combo_com->setEditText("COM5");
    QStringList keysWhenClosing;
    int calls = 0;
    form.serialLink()->closePortHook = [&] {
        ++calls;
        keysWhenClosing = keyLines(dir.read("trelmo.ini"));
        form.serialLink()->disconnectPort();
    };
    // With the port closed, closing does not touch it.
    form.close();
    EXPECT_EQ(calls, 0);

    form.show();
    auto peer = SimPeer::Create("written-first");
    form.serialLink()->toggle(peer->DeviceName(), QStringLiteral("9600"));
    ASSERT_TRUE(form.serialLink()->portOpen());
    form.close();
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(keysWhenClosing.size(), 15);
    EXPECT_EQ(keysWhenClosing.first(), "Com port/Number=COM5");
    EXPECT_EQ(keysWhenClosing.last(), "TCPConn/Timeout=30");
    EXPECT_TRUE(recorder.messages.empty());
}

TEST(Settings, GarbageAndHugeFilesLoadWithoutHarm) {
    TempDir dir;
    QByteArray junk;
    for (int i = 0; i < 200000; ++i)
        junk += char((i * 7919 + 13) % 256);
    junk += "\n[Com port]\nNumber=" + QByteArray(100000, 'C') + "\n";
    auto form = formWith(dir, junk);
    EXPECT_EQ(form->serialLink()->comName().size(), trelmo::IniFile::kReadLimit);
    form->close();
    trelmo::IniFile back(dir.path("trelmo.ini"));
    EXPECT_EQ(back.readString("Com port", "Number", ""), QString(2047, 'C'));
    EXPECT_EQ(back.readInteger("TCPConn", "Timeout", 0), 30);
}

// Texts the program sets are not cut by the typing limits: a long host, port, speed and
// command come back whole and are written back whole.
TEST(Settings, LoadedTextsStayWholeAndAreWrittenBackWhole) {
    TempDir dir;
    const QString host = QStringLiteral("a-very-long-host-name.example.org");  // 33 characters
    auto form = formWith(dir,
                         "[Com port]\r\nSpeed, bps=1234567890\r\n"
                         "[TCPConn]\r\nHost=" +
                             host.toLatin1() + "\r\nPort=1234567\r\n");
    EXPECT_EQ(ui(form).Edit_ip->text(), host);
    EXPECT_EQ(ui(form).Edit_port->text(), "1234567");
    EXPECT_EQ(ui(form).Combo_speed->currentText(), "1234567890");
    form->close();
    const QStringList keys = keyLines(dir.read("trelmo.ini"));
    EXPECT_TRUE(keys.contains("TCPConn/Host=" + host)) << keys.join('|').toStdString();
    EXPECT_TRUE(keys.contains("TCPConn/Port=1234567"));
    EXPECT_TRUE(keys.contains("Com port/Speed, bps=1234567890"));
}

// Closing writes the settings file once: a new file moved over the old one, never the old
// file cut short and written key by key.
TEST(Settings, TheFileIsWrittenOnceAndReplacedWhole) {
    TempDir dir;
    auto form = formWith(dir, "; kept\r\n[Other]\r\nx=1\r\n");
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(dir.root()).constData(),
                                IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY),
              0);
    form->close();
    int writesInPlace = 0, movedOver = 0;
    alignas(inotify_event) char buffer[16384];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* p = buffer; p < buffer + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            if (e->len > 0 && QByteArray(e->name) == "trelmo.ini") {
                writesInPlace += (e->mask & (IN_MODIFY | IN_CLOSE_WRITE)) != 0;
                movedOver += (e->mask & IN_MOVED_TO) != 0;
            }
            p += sizeof(inotify_event) + e->len;
        }
    }
    ::close(watch);
    EXPECT_EQ(writesInPlace, 0);
    EXPECT_EQ(movedOver, 1);
    const QByteArray file = dir.read("trelmo.ini");
    EXPECT_TRUE(file.startsWith("; kept\r\n[Other]\r\nx=1\r\n"));
    EXPECT_EQ(keyLines(file).size(), 16);
}

// The clock labels hold the time from the start: a capture saved at once has its date.
TEST(Settings, ClockLabelsAreFilledWhenTheWindowIsCreated) {
    TempDir dir;
    TForm1 form(dir.path("trelmo.ini"));
    EXPECT_FALSE(ui(form).Label_Time->text().isEmpty());
    EXPECT_FALSE(ui(form).Label_Date->text().isEmpty());
    EXPECT_EQ(ui(form).StatusBar1Panel3->text(),
              ui(form).Label_Time->text() + "  " + ui(form).Label_Date->text());
}
