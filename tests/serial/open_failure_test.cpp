// Why a device did not open: the errno the probe gives, and the paragraph that says it: the
// devices present for a missing one, the programs holding a busy one, the group to join for
// a refused one, the system's text for anything else. The machine is played by folders in a
// temporary directory (process table, by-id links, device nodes) and an access answer.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <cerrno>
#include <memory>

#include "serial/DeviceIdentity.h"
#include "serial/OpenFailure.h"
#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "tests/common/TempDir.h"
#include "tests/serial/SerialFixtures.h"

using namespace trelmo::serial;
using trelmo::serial::sim::SimPeer;
using trelmo::test::PtyPair;
using trelmo::test::TempDir;

namespace {

// A machine in a temporary folder: proc/, by-id/, dev/, and the access answers of paths.
class Machine {
  public:
    Machine() {
        for (const char* folder : {"proc", "by-id", "dev"})
            QDir().mkpath(dir.path(QString::fromLatin1(folder)));
        system.procRoot = dir.path("proc");
        system.byIdFolder = dir.path("by-id");
        system.devFolder = dir.path("dev");
        system.access = [this](const QString& path, int) { return denied.value(path, 0); };
    }
    // A device node (a plain file will do: nothing opens it).
    QString Node(const QString& name) {
        dir.write("dev/" + name, "");
        return QFileInfo(dir.path("dev/" + name)).canonicalFilePath();
    }
    // A by-id link, relative as udev makes them.
    void Link(const QString& name, const QString& node) {
        QFile::link("../dev/" + node, dir.path("by-id/" + name));
    }
    // A process with descriptors leading to targets.
    QString Process(qint64 pid, const QString& comm, const QStringList& targets) {
        const QString folder = QStringLiteral("proc/%1").arg(pid);
        QDir().mkpath(dir.path(folder + "/fd"));
        dir.write(folder + "/comm", comm.toLocal8Bit() + "\n");
        int fd = 0;
        for (const QString& target : targets)
            QFile::link(target, dir.path(QStringLiteral("%1/fd/%2").arg(folder).arg(fd++)));
        return dir.path(folder + "/fd");
    }

    TempDir dir;
    DeviceSystem system;
    QMap<QString, int> denied;
};

// --- the devices present ---

TEST(DevicesPresent, ByTheirLinkNameWhereTheyHaveOneElseByTheirNode) {
    Machine m;
    const QString usb0 = m.Node("ttyUSB0");
    const QString usb1 = m.Node("ttyUSB1");
    const QString acm = m.Node("ttyACM0");
    const QString rfcomm = m.Node("rfcomm0");
    m.Node("ttyS0");  // always there, UART or not: not listed
    m.Node("console");
    m.Link("usb-FTDI_FT232R_USB_UART_A5-if00-port0", "ttyUSB1");
    m.Link("usb-Prolific_PL2303-if00-port0", "ttyUSB9");  // leads nowhere
    const QList<PresentDevice> present =
        DeviceIdentity(m.system.byIdFolder).Present(m.system.devFolder);
    EXPECT_EQ(present, (QList<PresentDevice>{{rfcomm, ""},
                                             {acm, ""},
                                             {usb0, ""},
                                             {usb1, "usb-FTDI_FT232R_USB_UART_A5-if00-port0"}}));
    EXPECT_TRUE(DeviceIdentity(m.dir.path("none")).Present(m.dir.path("none")).isEmpty());
}

// --- no such device ---

TEST(OpenFailureReason, AMissingDeviceNamesTheDevicesPresent) {
    Machine m;
    const QString acm = m.Node("ttyACM0");
    const QString usb1 = m.Node("ttyUSB1");
    m.Link("usb-FTDI_FT232R_USB_UART_A5-if00-port0", "ttyUSB1");
    const QString expected = QStringLiteral(
                                 "There is no device /dev/ttyUSB0. Serial devices present: %1, "
                                 "usb-FTDI_FT232R_USB_UART_A5-if00-port0 (%2).")
                                 .arg(acm, usb1);
    for (int code : {ENOENT, ENXIO, ENODEV})
        EXPECT_EQ(OpenFailureReason("/dev/ttyUSB0", code, m.system), expected) << code;
    EXPECT_TRUE(OpenFailureReason("", ENOENT, m.system).startsWith("No device was named. "));
}

TEST(OpenFailureReason, AMissingDeviceWithNoneOtherPresentSaysSo) {
    Machine m;
    m.Node("ttyS0");
    EXPECT_EQ(OpenFailureReason("/dev/ttyUSB0", ENOENT, m.system),
              "There is no device /dev/ttyUSB0. No serial device is present: plug the adapter "
              "in, or check its cable and that its driver is loaded.");
}

// --- busy ---

TEST(OpenFailureReason, ABusyDeviceNamesItsHolderAndHowToMakeModemManagerLetGo) {
    Machine m;
    const QString device = m.Node("ttyUSB0");
    m.Process(1, "systemd", {"/dev/null"});
    m.Process(812, "ModemManager", {"/dev/null", "socket:[4711]", device});
    m.Process(900, "bash", {m.Node("ttyUSB1")});
    m.dir.write("proc/uptime", "1.0");  // not a process
    const QString reason = OpenFailureReason(device, EBUSY, m.system);
    EXPECT_TRUE(reason.startsWith(device + " is open in ModemManager (pid 812). "))
        << reason.toStdString();
    EXPECT_TRUE(reason.contains("sudo systemctl stop ModemManager")) << reason.toStdString();
    EXPECT_TRUE(reason.contains("ENV{ID_MM_DEVICE_IGNORE}=\"1\"")) << reason.toStdString();
    EXPECT_FALSE(reason.contains("bash"));
}

TEST(OpenFailureReason, ADeviceNamedByItsLinkIsFoundByTheNodeItLeadsTo) {
    Machine m;
    const QString device = m.Node("ttyUSB0");
    m.Link("usb-FTDI_FT232R_USB_UART_A5-if00-port0", "ttyUSB0");
    const QString link = m.system.byIdFolder + "/usb-FTDI_FT232R_USB_UART_A5-if00-port0";
    // A descriptor names the node, whatever name the program opened.
    m.Process(1500, "minicom", {device});
    EXPECT_EQ(FindDeviceHolders(link, m.system).seen, (QList<DeviceHolder>{{1500, "minicom"}}));
    EXPECT_EQ(OpenFailureReason(link, EBUSY, m.system),
              link +
                  " is open in minicom (pid 1500). Close that program, or set it to leave the "
                  "device alone, then connect again.");
    m.Process(1501, "picocom", {device});
    EXPECT_EQ(OpenFailureReason(device, EBUSY, m.system),
              device +
                  " is open in minicom (pid 1500), picocom (pid 1501). Close those programs, or "
                  "set them to leave the device alone, then connect again.");
}

TEST(OpenFailureReason, SeveralHoldersAreNamedInProcessOrder) {
    Machine m;
    const QString device = m.Node("ttyUSB0");
    m.Process(2000, "picocom", {device});
    m.Process(31, "gpsd", {device});
    const QString reason = OpenFailureReason(device, EBUSY, m.system);
    EXPECT_TRUE(reason.startsWith(device + " is open in gpsd (pid 31), picocom (pid 2000). gpsd "))
        << reason.toStdString();
    EXPECT_TRUE(reason.contains("/etc/default/gpsd")) << reason.toStdString();
}

TEST(OpenFailureReason, AHolderThisUserMayNotSeeIsNamedWhenItIsAKnownOne) {
    Machine m;
    const QString device = m.Node("ttyUSB0");
    m.denied.insert(m.Process(812, "ModemManager", {device}), EACCES);
    m.denied.insert(m.Process(700, "cron", {}), EACCES);
    const DeviceHolders holders = FindDeviceHolders(device, m.system);
    EXPECT_TRUE(holders.seen.isEmpty());
    EXPECT_EQ(holders.unseen, (QList<DeviceHolder>{{700, "cron"}, {812, "ModemManager"}}));
    const QString reason = OpenFailureReason(device, EBUSY, m.system);
    EXPECT_TRUE(reason.startsWith(device +
                                  " is open in another program; ModemManager (pid 812) may hold "
                                  "it (this user cannot see which devices it has open). "))
        << reason.toStdString();
    EXPECT_TRUE(reason.contains("ID_MM_DEVICE_IGNORE"));
}

TEST(OpenFailureReason, ABusyDeviceWithNoHolderFoundGetsTheGeneralText) {
    Machine m;
    const QString device = m.Node("ttyUSB0");
    m.denied.insert(m.Process(700, "cron", {device}), EACCES);
    m.Process(900, "bash", {"/dev/null"});
    EXPECT_EQ(OpenFailureReason(device, EBUSY, m.system),
              device +
                  " is open in another program, perhaps another serial terminal. Close it, then "
                  "connect again.");
}

TEST(OpenFailureReason, ThisMachinesProcessTableNamesAPortOfThisProgram) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    TVaComm holder;
    holder.SetDeviceName(pty.SlavePath());
    holder.SetDirectWrite(true);
    holder.Open();
    int err = 0;
    EXPECT_FALSE(TVaComm::ProbeDevice(pty.SlavePath(), &err));
    EXPECT_EQ(err, EBUSY);
    QFile comm(QStringLiteral("/proc/self/comm"));
    ASSERT_TRUE(comm.open(QIODevice::ReadOnly));
    const QString self = QString::fromLocal8Bit(comm.readAll()).trimmed();
    const QString reason = OpenFailureReason(pty.SlavePath(), err);
    EXPECT_TRUE(reason.startsWith(
        QStringLiteral("%1 is open in %2 (pid %3).").arg(pty.SlavePath(), self).arg(getpid())))
        << reason.toStdString();
    holder.Close();
    EXPECT_TRUE(trelmo::test::WorkersGone());
}

// --- permission ---

TEST(OpenFailureReason, ARefusedDeviceSaysWhichGroupToJoin) {
    Machine m;
    // No node to look at: the usual group.
    EXPECT_EQ(OpenFailureReason(m.dir.path("ttyGone"), EACCES, m.system),
              "Permission denied \u2014 add your user to the 'dialout' group and log in again.");
    EXPECT_EQ(OpenFailureReason(m.dir.path("ttyGone"), EPERM, m.system),
              "Permission denied \u2014 add your user to the 'dialout' group and log in again.");
    // A node of root's group: nothing to join.
    EXPECT_EQ(OpenFailureReason("/dev/null", EACCES, m.system),
              "Permission denied \u2014 this user may not open /dev/null; ask the administrator "
              "for read and write access to it.");
    // Refused by the access check, whatever the open said.
    m.denied.insert(m.dir.path("ttyGone"), EACCES);
    EXPECT_EQ(OpenFailureReason(m.dir.path("ttyGone"), ENOENT, m.system),
              "Permission denied \u2014 add your user to the 'dialout' group and log in again.");
    EXPECT_EQ(OpenFailureReason(m.dir.path("ttyGone"), 0, m.system),
              "Permission denied \u2014 add your user to the 'dialout' group and log in again.");
}

TEST(OpenFailureReason, TheNodesOwnGroupIsNamed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a node to another group needs root";
    const struct group* uucp = ::getgrnam("uucp");
    if (!uucp)
        GTEST_SKIP() << "no uucp group on this machine";
    Machine m;
    const QString node = m.Node("ttyUSB0");
    ASSERT_EQ(::chown(QFile::encodeName(node).constData(), 0, uucp->gr_gid), 0);
    EXPECT_EQ(OpenFailureReason(node, EACCES, m.system),
              "Permission denied \u2014 add your user to the 'uucp' group and log in again.");
}

TEST(OpenFailureReason, TheMachinesAccessCheckIsTheDefault) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any node";
    TempDir dir;
    dir.write("ttyLocked", "");
    const QString node = dir.path("ttyLocked");
    ASSERT_EQ(::chmod(QFile::encodeName(node).constData(), 0), 0);
    EXPECT_EQ(SystemAccess(node, R_OK | W_OK), EACCES);
    int err = 0;
    EXPECT_FALSE(TVaComm::ProbeDevice(node, &err));
    EXPECT_EQ(err, EACCES);
    EXPECT_TRUE(OpenFailureReason(node, err).startsWith("Permission denied \u2014 "));
}

// --- anything else ---

TEST(OpenFailureReason, AnyOtherCodeGivesTheSystemsTextAndTheCode) {
    Machine m;
    m.Node("ttyUSB0");
    EXPECT_EQ(OpenFailureReason("/dev/ttyS4", EIO, m.system),
              QStringLiteral("The system says: %1 (error %2).").arg(CommErrorText(EIO)).arg(EIO));
    EXPECT_EQ(
        OpenFailureReason("/dev/ttyS4", ENOTTY, m.system),
        QStringLiteral("The system says: %1 (error %2).").arg(CommErrorText(ENOTTY)).arg(ENOTTY));
    // Opened after all: nothing to say.
    EXPECT_EQ(OpenFailureReason("/dev/ttyS4", 0, m.system), QString());
}

// --- the probe's code ---

TEST(ProbeDevice, GivesTheCodeOfTheFailedOpen) {
    auto peer = SimPeer::Create(QStringLiteral("probe-code"));
    int err = -1;
    EXPECT_TRUE(TVaComm::ProbeDevice(peer->DeviceName(), &err));
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(TVaComm::ProbeDevice(QStringLiteral("/dev/trelmo-no-such-device"), &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_FALSE(TVaComm::ProbeDevice(QStringLiteral("\\\\.\\"), &err));
    EXPECT_EQ(err, ENOENT);
    TVaComm other;
    other.SetDeviceName(peer->DeviceName());
    other.Open();
    EXPECT_FALSE(TVaComm::ProbeDevice(peer->DeviceName(), &err));
    EXPECT_EQ(err, EBUSY);
    other.Close();
    peer->FailNext(sim::SimOp::Open, EACCES);
    EXPECT_FALSE(TVaComm::ProbeDevice(peer->DeviceName(), &err));
    EXPECT_EQ(err, EACCES);
    EXPECT_TRUE(TVaComm::ProbeDevice(peer->DeviceName(), &err));
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(trelmo::test::WorkersGone());
}

}  // namespace
