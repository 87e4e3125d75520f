// How the program starts and finds its ports: the settings file's place, the command line and
// what it does to the main window and the process, the port list as devices come and go, and
// what a refused device says.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>

#include "app/CommandLine.h"
#include "core/IniFile.h"
#include "terminal/PortList.h"
#include "tests/common/WindowFixture.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {

const QString kInUse = QStringLiteral("This COM port is in use by another program!");

StartOptions optionsOf(const QStringList& arguments) {
    const ParsedCommandLine line = parseCommandLine(QStringList{"trelmo"} + arguments);
    EXPECT_FALSE(line.exit) << line.error.toStdString();
    return line.options;
}

// Whether the process holds the file open (one of its descriptors points at it).
bool processHolds(qint64 pid, const QString& path) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        if (fd.symLinkTarget() == path)
            return true;
    }
    return false;
}

}  // namespace

TEST(SettingsLocation, BesideTheProgramOnlyInTheUsersOwnFolder) {
    // A machine: which folders are the user's, which may be written, which files stand.
    QStringList owned, writable, files;
    ProgramFolder machine;
    machine.writable = [&](const QString& p) { return writable.contains(p); };
    machine.ownedByUser = [&](const QString& p) { return owned.contains(p); };
    machine.exists = [&](const QString& p) { return files.contains(p); };
    const QString xdg = "/home/u/.cfg/trelmo/trelmo.ini";

    // A build or an unpacked folder of the user's: beside the program.
    owned = writable = {"/home/u/build"};
    EXPECT_EQ(settingsLocation("/home/u/build/trelmo", "/home/u/.cfg", machine),
              "/home/u/build/trelmo.ini");
    // The same folder read-only, or someone else's: the config folder.
    writable.clear();
    EXPECT_EQ(settingsLocation("/home/u/build/trelmo", "/home/u/.cfg", machine), xdg);
    owned.clear();
    writable = {"/srv/shared"};
    EXPECT_EQ(settingsLocation("/srv/shared/trelmo", "/home/u/.cfg", machine), xdg);
    // ... unless a settings file the user may write already stands there.
    files = {"/srv/shared/trelmo.ini"};
    writable << "/srv/shared/trelmo.ini";
    EXPECT_EQ(settingsLocation("/srv/shared/trelmo", "/home/u/.cfg", machine),
              "/srv/shared/trelmo.ini");

    // A system folder never, even when the superuser owns and may write it, with a file in it.
    for (const QString folder : {"/usr/bin", "/usr/local/bin", "/opt/trelmo/bin", "/bin"}) {
        owned = writable = {folder, folder + "/trelmo.ini"};
        files = {folder + "/trelmo.ini"};
        EXPECT_EQ(settingsLocation(folder + "/trelmo", "/home/u/.cfg", machine), xdg)
            << folder.toStdString();
    }
    EXPECT_TRUE(isSystemFolder("/usr"));
    EXPECT_TRUE(isSystemFolder("/opt/vendor/../trelmo"));
    EXPECT_FALSE(isSystemFolder("/usrlocal"));
    EXPECT_FALSE(isSystemFolder("/home/u/usr"));

    // Without XDG_CONFIG_HOME: ~/.config; a relative one is not a place.
    owned = writable = files = {};
    EXPECT_EQ(settingsLocation("/usr/bin/trelmo", "", machine),
              QDir::home().filePath(".config/trelmo/trelmo.ini"));
    EXPECT_EQ(settingsLocation("/usr/bin/trelmo", "cfg", machine),
              QDir::home().filePath(".config/trelmo/trelmo.ini"));
}

TEST(CommandLine, HelpVersionAndMistakes) {
    const ParsedCommandLine help = parseCommandLine({"/usr/bin/trelmo", "--help"});
    EXPECT_TRUE(help.exit);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.startsWith("Usage: trelmo [options]")) << help.output.toStdString();
    for (const char* option :
         {"--port", "--speed", "--parity", "--data-bits", "--stop-bits", "--connect", "--reopen",
          "--tcp", "--listen", "--settings", "--version"})
        EXPECT_TRUE(help.output.contains(option)) << option;
    const ParsedCommandLine version = parseCommandLine({"trelmo", "--version"});
    EXPECT_TRUE(version.exit);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, "trelmo 3.1.2\n");
    for (const QStringList& bad : {QStringList{"trelmo", "--bogus"},
                                   {"trelmo", "--speed", "fast"},
                                   {"trelmo", "--speed", "0"},
                                   {"trelmo", "--parity", "Sometimes"},
                                   {"trelmo", "--data-bits", "9"},
                                   // What the Data Bits box cannot apply is refused, not shown.
                                   {"trelmo", "--data-bits", "5"},
                                   {"trelmo", "--data-bits", "6"},
                                   {"trelmo", "--stop-bits", "3"},
                                   {"trelmo", "--tcp", "host"},
                                   {"trelmo", "--tcp", "host:70000"},
                                   {"trelmo", "--tcp", ":502"},
                                   {"trelmo", "--listen", "0"},
                                   {"trelmo", "--connect", "--listen", "5000"},
                                   {"trelmo", "--port"},
                                   {"trelmo", "stray"}}) {
        const ParsedCommandLine p = parseCommandLine(bad);
        EXPECT_TRUE(p.exit) << bad.join(' ').toStdString();
        EXPECT_EQ(p.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(p.error.endsWith("See --help.\n")) << p.error.toStdString();
        EXPECT_TRUE(p.output.isEmpty());
    }
    const ParsedCommandLine ok = parseCommandLine(
        {"trelmo", "--port", "/dev/ttyUSB0", "--speed", "115200", "--parity", "even", "--data-bits",
         "7", "--stop-bits", "2", "--connect", "--settings", "/tmp/x.ini"});
    EXPECT_FALSE(ok.exit);
    EXPECT_EQ(ok.options.port, "/dev/ttyUSB0");
    EXPECT_EQ(ok.options.speed, "115200");
    EXPECT_EQ(ok.options.parity, "Even");  // as the box lists it
    EXPECT_EQ(ok.options.dataBits, "7");
    EXPECT_EQ(ok.options.stopBits, "2");
    EXPECT_TRUE(ok.options.connect);
    EXPECT_EQ(ok.options.settings, "/tmp/x.ini");
    // The last colon splits host and port (an IPv6 address has colons of its own).
    const StartOptions tcp = optionsOf({"--tcp", "fe80::1:4001"});
    EXPECT_EQ(tcp.tcpHost, "fe80::1");
    EXPECT_EQ(tcp.tcpPort, 4001);
    EXPECT_EQ(optionsOf({"--listen", "65535"}).listenPort, 65535);
    EXPECT_TRUE(optionsOf({"--reopen"}).reopen);
    // Nothing asked, nothing set.
    const StartOptions none = optionsOf({});
    EXPECT_FALSE(none.port || none.speed || none.parity || none.dataBits || none.stopBits ||
                 none.settings || none.tcpHost || none.listenPort || none.connect || none.reopen);
    // The help says which options are kept at exit.
    EXPECT_TRUE(help.output.contains("saved in the settings file")) << help.output.toStdString();
}

// The options go into the window as typed by a user: the settings file's values are
// overridden for the run and written back at exit.
TEST_F(WindowTest, StartOptionsOverrideTheSettingsFileAndAreSaved) {
    windows.reset();
    startWith(
        "; kept\n[Com port]\nNumber=COM3\nParity=Even\nSpeed, bps=19200\nStop bits=2\n"
        "Data bits=8\n[Mine]\nOwn=1\n");
    form->applyStartOptions(optionsOf({"--port", "COM7", "--speed", "57600", "--parity", "odd",
                                       "--data-bits", "7", "--stop-bits", "1"}));
    EXPECT_EQ(form->serialLink()->comName(), "COM7");
    EXPECT_EQ(form->serialLink()->speed(), 57600);
    EXPECT_EQ(form->serialLink()->parityName(), "Odd");
    EXPECT_EQ(form->serialLink()->dataBits(), 7);
    EXPECT_EQ(form->serialLink()->stopBits(), 1);
    EXPECT_FALSE(form->serialLink()->portOpen());  // not asked to connect
    quit();
    IniFile ini(settingsPath());
    EXPECT_EQ(ini.readString("Com port", "Number", ""), "COM7");
    EXPECT_EQ(ini.readString("Com port", "Speed, bps", ""), "57600");
    EXPECT_EQ(ini.readString("Com port", "Parity", ""), "Odd");
    EXPECT_EQ(ini.readString("Com port", "Data bits", ""), "7");
    EXPECT_EQ(ini.readString("Com port", "Stop bits", ""), "1");
    EXPECT_EQ(ini.readString("Mine", "Own", ""), "1");
    EXPECT_TRUE(dir.read("trelmo.ini").startsWith("; kept\r\n"));  // written as a whole
    EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join('|').toStdString();
}

TEST_F(WindowTest, SerialStartOptionsConnectOpensThePortAtStart) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    form->applyStartOptions(optionsOf({"--port", pty.SlavePath(), "--speed", "115200", "--parity",
                                       "None", "--data-bits", "8", "--connect"}));
    ASSERT_TRUE(form->serialLink()->portOpen()) << dialogs.texts().join('|').toStdString();
    EXPECT_EQ(ui(form).StatusBar1Panel0->text(), pty.SlavePath() + ", 115200, 8, None, 1 - OPEN");
    EXPECT_FALSE(ui(form).Combo_com->isEnabled());
    ASSERT_TRUE(pty.Write("hello\n"));
    EXPECT_TRUE(pumpUntil([&] { return hasLine("hello"); }));
}

TEST_F(TcpWindow, StartOptionsConnectToAHostOrListen) {
    Peer host;
    form->applyStartOptions(optionsOf({"--tcp", QStringLiteral("127.0.0.1:%1").arg(host.port())}));
    ASSERT_TRUE(host.waitForClient());
    EXPECT_TRUE(pumpUntil([&] { return form->tcpLinks()->tcpConnected(); }));
    EXPECT_EQ(ui(form).Edit_ip->text(), "127.0.0.1");
    EXPECT_EQ(ui(form).Edit_port->text(), QString::number(host.port()));
    ui(form).Butt_connect->click();  // "Disconnect TCP"
    ASSERT_TRUE(pumpUntil([&] { return !form->tcpLinks()->tcpConnected(); }));

    const int port = unusedPort();
    form->applyStartOptions(optionsOf({"--listen", QString::number(port)}));
    auto remote = connectTo(port);
    EXPECT_TRUE(pumpUntil([&] { return form->tcpLinks()->listenerClientConnected(); }));
    EXPECT_EQ(ui(form).Edit_port->text(), QString::number(port));
}

// The program itself, started as from a shell.
TEST(StartProgram, VersionAndHelpNeedNoWindowSystem) {
    for (const char* option : {"--version", "--help"}) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        program.setProcessEnvironment(env);
        program.start(TRELMO_PROGRAM, {option});
        ASSERT_TRUE(program.waitForFinished(30000)) << option;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << option;
        const QByteArray out = program.readAllStandardOutput();
        if (QByteArray(option) == "--version")
            EXPECT_EQ(out, "trelmo 3.1.2\n");
        else
            EXPECT_TRUE(out.startsWith("Usage: trelmo [options]")) << out.toStdString();
    }
    QProcess wrong;
    wrong.start(TRELMO_PROGRAM, {"-platform", "offscreen", "--speed", "fast"});
    ASSERT_TRUE(wrong.waitForFinished(30000));
    EXPECT_EQ(wrong.exitCode(), 2);
    EXPECT_TRUE(wrong.readAllStandardError().contains("--speed wants a number"));
}

// Not a Serial... suite, though it opens a port: the port's threads run in the child, and
// ThreadSanitizer loses track of this process's locks once Qt has started a child (its
// clone-based spawn is not one the sanitizer follows), reporting races that are not there
// in whatever test comes next.
TEST(StartProgram, PortAndConnectOpenTheDeviceAtStart) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    TempDir dir;
    // Runs the program until it holds the pty (or 30 s have passed), then ends it with SIGTERM,
    // which closes it as the user does; true when it held the pty and ended well.
    auto holdsThePty = [&](const QStringList& arguments) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(TRELMO_PROGRAM, arguments);
        if (!program.waitForStarted(30000))
            return false;
        const bool held =
            pumpUntil([&] { return processHolds(program.processId(), pty.SlavePath()); }, 30000);
        program.terminate();
        if (!program.waitForFinished(30000)) {
            program.kill();
            program.waitForFinished(30000);
            return false;
        }
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        return held;
    };
    EXPECT_TRUE(holdsThePty({"--settings", dir.path("given.ini"), "--port", pty.SlavePath(),
                             "--speed", "115200", "--connect"}));
    // Written at the end to the file given, options included.
    const IniFile given(dir.path("given.ini"));
    EXPECT_EQ(given.readString("Com port", "Number", ""), pty.SlavePath());
    EXPECT_EQ(given.readString("Com port", "Speed, bps", ""), "115200");

    // The port named by the settings file given.
    dir.write("other.ini", "[Com port]\r\nNumber=" + pty.SlavePath().toUtf8() +
                               "\r\nParity=None\r\nSpeed, bps=57600\r\n");
    EXPECT_TRUE(holdsThePty({"--settings", dir.path("other.ini"), "--connect"}));
    EXPECT_EQ(IniFile(dir.path("other.ini")).readString("Com port", "Speed, bps", ""), "57600");
}

// Combo_com lists the devices present whenever it is opened, behind COM1..COM24.
TEST_F(WindowTest, PortListFollowsDevicesPluggedInAndPulledOut) {
    auto* ports = qobject_cast<PortComboBox*>(ui(form).Combo_com);
    ASSERT_NE(ports, nullptr);
    QList<SerialDeviceInfo> present;
    ports->devices = [&] { return present; };
    ports->refresh();
    ASSERT_EQ(ports->count(), 24);
    EXPECT_EQ(ports->itemText(0), "COM1");
    EXPECT_EQ(ports->itemText(23), "COM24");
    typeInto(ports, "COM5");

    // An adapter plugged in after start appears when the list is opened.
    present = {{"/dev/ttyACM0", ""},
               {"/dev/ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"}};
    ports->showPopup();
    // The open list shows whole entries, descriptions included, though the box is narrow.
    EXPECT_GE(ports->view()->window()->width(), ports->view()->sizeHintForColumn(0));
    EXPECT_GT(ports->view()->sizeHintForColumn(0), ports->width());
    ports->hidePopup();
    ASSERT_EQ(ports->count(), 26);
    EXPECT_EQ(ports->itemText(24), "/dev/ttyACM0");
    EXPECT_EQ(ports->itemText(25), "/dev/ttyUSB0");
    EXPECT_EQ(ports->itemData(25, PortComboBox::DescriptionRole).toString(),
              "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(ports->itemData(24, PortComboBox::DescriptionRole).toString(), "");
    EXPECT_EQ(ports->currentText(), "COM5");  // what the user typed stays
    EXPECT_EQ(form->serialLink()->comName(), "COM5");

    // Choosing it in the list sets the port as typing it does.
    ports->setCurrentIndex(25);
    emit ports->activated(25);
    EXPECT_EQ(ports->currentText(), "/dev/ttyUSB0");
    EXPECT_EQ(form->serialLink()->comName(), "/dev/ttyUSB0");

    // Pulled out: gone from the next list; a device named like a COM entry is not listed twice.
    present = {{"/dev/ttyACM0", ""}, {"COM2", ""}};
    ports->showPopup();
    ports->hidePopup();
    ASSERT_EQ(ports->count(), 25);
    EXPECT_EQ(ports->itemText(24), "/dev/ttyACM0");
    EXPECT_EQ(ports->findText("/dev/ttyUSB0"), -1);
    EXPECT_EQ(ports->currentText(), "/dev/ttyUSB0");  // the chosen text stays in the box
}

// A device this user may not open: the message the window always gave, then why and what to
// do. Access is answered by the seam; the device's group comes from the node itself.
TEST_F(WindowTest, ARefusedDeviceSaysWhyAndWhatToDo) {
    int answer = EACCES;
    form->serialLink()->deviceSystem.access = [&](const QString&, int) { return answer; };
    // No serial device on this machine.
    form->serialLink()->deviceSystem.byIdFolder = dir.path("by-id");
    form->serialLink()->deviceSystem.devFolder = dir.path("dev");

    // No node to look at: the usual group.
    EXPECT_FALSE(connectSerial(dir.path("ttyGone")));
    EXPECT_EQ(dialogs.lastText(),
              kInUse +
                  "\n\nPermission denied \u2014 add your user to the 'dialout' group and "
                  "log in again.");

    // Not there at all: the message, then that there is no such device and what is present.
    answer = 0;
    EXPECT_FALSE(connectSerial(dir.path("ttyGone")));
    EXPECT_EQ(dialogs.lastText(),
              kInUse + "\n\nThere is no device " + dir.path("ttyGone") +
                  ". No serial device is present: plug the adapter in, or check its cable and "
                  "that its driver is loaded.");
    answer = EPERM;
    EXPECT_FALSE(connectSerial(dir.path("ttyGone")));
    EXPECT_TRUE(dialogs.lastText().startsWith(kInUse + "\n\nPermission denied"));

    // The node's own group is named; a node of root's group has no group to join.
    if (::geteuid() == 0) {
        const QString node = dir.path("ttyNode");
        dir.write("ttyNode", "");
        const struct group* uucp = ::getgrnam("uucp");
        ASSERT_NE(uucp, nullptr);
        ASSERT_EQ(::chown(QFile::encodeName(node).constData(), 0, uucp->gr_gid), 0);
        answer = EACCES;
        EXPECT_FALSE(connectSerial(node));
        EXPECT_EQ(dialogs.lastText(),
                  kInUse +
                      "\n\nPermission denied \u2014 add your user to the 'uucp' group and "
                      "log in again.");
        ASSERT_EQ(::chown(QFile::encodeName(node).constData(), 0, 0), 0);
        EXPECT_FALSE(connectSerial(node));
        EXPECT_EQ(dialogs.lastText(), kInUse +
                                          "\n\nPermission denied \u2014 this user may not "
                                          "open " +
                                          node +
                                          "; ask the administrator for read and write access "
                                          "to it.");
    }
    EXPECT_FALSE(form->serialLink()->portOpen());
    EXPECT_EQ(ui(form).StatusBar1Panel0->text().right(16), "- status: CLOSED");
}

// The machine's own answer: a device node without read and write rights for this user.
TEST(DeviceAccess, TheMachinesAnswerForANodeThisUserMayNotOpen) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any node";
    TempDir dir;
    dir.write("ttyLocked", "");
    const QString node = dir.path("ttyLocked");
    ASSERT_EQ(::chmod(QFile::encodeName(node).constData(), 0), 0);
    DialogRecorder dialogs;
    TForm1 form(dir.path("trelmo.ini"));
    EXPECT_EQ(form.serialLink()->deviceSystem.access(node, R_OK | W_OK), EACCES);
    ui(form).Combo_com->setEditText(node);
    ui(form).BitBtn2->click();
    EXPECT_TRUE(dialogs.lastText().startsWith(kInUse + "\n\nPermission denied"))
        << dialogs.lastText().toStdString();
}
