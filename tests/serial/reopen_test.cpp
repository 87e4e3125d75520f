// Finding a device again after it vanished: the by-id link of a device and where it leads once
// the device came back under another node; quiet reopen attempts that hold nothing when they
// fail; the loss of a device reported once per opening, never to a later one.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <atomic>
#include <cerrno>
#include <memory>

#include "serial/DeviceIdentity.h"
#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "serial/VaCommThreads.h"
#include "tests/common/ErrorRecorder.h"
#include "tests/common/TempDir.h"
#include "tests/serial/SerialFixtures.h"

using namespace trelmo::serial;
using trelmo::serial::sim::SimOp;
using trelmo::serial::sim::SimPeer;
using trelmo::test::PtyPair;
using trelmo::test::pumpFor;
using trelmo::test::pumpUntil;
using trelmo::test::TempDir;
using trelmo::test::WaitWithoutEvents;

namespace {

// The targets of this process's open descriptors (the listing's own one left out).
QStringList DescriptorTargets() {
    QStringList targets;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return targets;
    const int own = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        const QString name = QString::fromLatin1(entry->d_name);
        bool number = false;
        const int fd = name.toInt(&number);
        if (!number || fd == own)
            continue;
        char target[4096];
        const QByteArray link = "/proc/self/fd/" + name.toLatin1();
        const ssize_t n = readlink(link.constData(), target, sizeof target - 1);
        targets << (n > 0 ? QString::fromLocal8Bit(target, static_cast<int>(n)) : QString());
    }
    closedir(dir);
    return targets;
}

int OpenDescriptors() {
    return static_cast<int>(DescriptorTargets().size());
}

bool HoldsDescriptorFor(const QString& path) {
    return DescriptorTargets().contains(path);
}

bool MakeLink(const QString& link, const QString& target) {
    QFile::remove(link);
    return QFile::link(target, link);
}

// --- the by-id link ---

TEST(DeviceIdentity, TheLinkOfADeviceIsFoundByWhereItLeads) {
    PtyPair a, b, unnamed;
    ASSERT_TRUE(a.Ok() && b.Ok() && unnamed.Ok());
    TempDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.path("by-id")));
    const QString linkA = dir.path("by-id/usb-Maker_Adapter_A1-if00-port0");
    const QString linkB = dir.path("by-id/usb-Other_Bridge_B2-if00-port0");
    ASSERT_TRUE(MakeLink(linkA, a.SlavePath()));
    ASSERT_TRUE(MakeLink(linkB, b.SlavePath()));
    // A name of the device outside the folder leads to the same device.
    ASSERT_TRUE(MakeLink(dir.path("alias"), a.SlavePath()));

    const DeviceIdentity identity(dir.path("by-id"));
    EXPECT_EQ(identity.LinkFor(a.SlavePath()), linkA);
    EXPECT_EQ(identity.LinkFor(dir.path("alias")), linkA);
    EXPECT_EQ(identity.LinkFor(b.SlavePath()), linkB);
    EXPECT_EQ(identity.LinkFor(unnamed.SlavePath()), QString());
    EXPECT_EQ(identity.LinkFor(QStringLiteral("/dev/trelmo-no-such-device")), QString());
    EXPECT_EQ(identity.LinkFor(QStringLiteral("sim:x")), QString());
    // No folder (a machine without USB adapters has none).
    EXPECT_EQ(DeviceIdentity(dir.path("none")).LinkFor(a.SlavePath()), QString());
    EXPECT_EQ(DeviceIdentity().ByIdFolder(), QStringLiteral("/dev/serial/by-id"));
}

TEST(DeviceIdentity, TheLinkLeadsToTheDeviceUnderTheNodeItCameBackAs) {
    PtyPair first, second;
    ASSERT_TRUE(first.Ok() && second.Ok());
    TempDir dir;
    const QString link = dir.path("usb-Maker_Adapter_A1-if00-port0");
    ASSERT_TRUE(MakeLink(link, first.SlavePath()));
    EXPECT_EQ(DeviceIdentity::Resolve(link), QFileInfo(first.SlavePath()).canonicalFilePath());
    // Pulled: udev leaves no link, or one that leads nowhere.
    ASSERT_TRUE(MakeLink(link, dir.path("ttyUSB0")));
    EXPECT_EQ(DeviceIdentity::Resolve(link), QString());
    ASSERT_TRUE(QFile::remove(link));
    EXPECT_EQ(DeviceIdentity::Resolve(link), QString());
    // Back under another node, through the same name.
    ASSERT_TRUE(MakeLink(link, second.SlavePath()));
    EXPECT_EQ(DeviceIdentity::Resolve(link), QFileInfo(second.SlavePath()).canonicalFilePath());
}

// --- quiet reopen attempts ---

class Reopen : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_TRUE(trelmo::test::WorkersGone()); }
    static std::unique_ptr<TVaComm> NewPort(const QString& device) {
        auto port = std::make_unique<TVaComm>();
        port->SetDeviceName(device);
        port->SetDirectWrite(true);
        port->SetBaudrate(br9600);
        return port;
    }
    trelmo::test::ErrorRecorder shown;
};

TEST_F(Reopen, AnAdapterBackUnderAnotherNodeIsReopenedThroughItsLink) {
    PtyPair before, after;
    ASSERT_TRUE(before.Ok() && after.Ok());
    TempDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.path("by-id")));
    const QString name = dir.path("by-id/usb-Maker_Adapter_A1-if00-port0");
    ASSERT_TRUE(MakeLink(name, before.SlavePath()));

    auto port = NewPort(before.SlavePath());
    int lost = 0;
    port->OnDeviceLost = [&](TVaComm*, const QString&) { ++lost; };
    ASSERT_TRUE(port->TryOpen());
    // While it is there, the caller notes its link.
    const QString link = DeviceIdentity(dir.path("by-id")).LinkFor(port->DeviceName());
    ASSERT_EQ(link, name);

    // Pulled: reported, closed by the caller, then tried again and again while it is away.
    before.CloseMaster();
    ASSERT_TRUE(pumpUntil([&] { return lost == 1; }));
    port->Close();
    ASSERT_TRUE(MakeLink(name, dir.path("ttyUSB0")));
    for (int attempt = 0; attempt < 5; ++attempt) {
        port->SetDeviceName(DeviceIdentity::Resolve(link));
        int err = 0;
        EXPECT_FALSE(port->TryOpen(&err)) << attempt;
        EXPECT_EQ(err, ENOENT) << attempt;
        EXPECT_FALSE(port->Active());
    }

    // Back as another node: the same link finds it, the same settings open it.
    ASSERT_TRUE(MakeLink(name, after.SlavePath()));
    port->SetDeviceName(DeviceIdentity::Resolve(link));
    int err = -1;
    ASSERT_TRUE(port->TryOpen(&err));
    EXPECT_EQ(err, 0);
    EXPECT_EQ(port->DeviceName(), QFileInfo(after.SlavePath()).canonicalFilePath());
    EXPECT_EQ(port->Baudrate(), br9600);
    ASSERT_TRUE(after.Write("back"));
    QByteArray got;
    EXPECT_TRUE(pumpUntil([&] {
        char buffer[16];
        got.append(buffer, port->ReadBuf(reinterpret_cast<uint8_t*>(buffer), sizeof buffer));
        return got.size() >= 4;
    }));
    EXPECT_EQ(got, QByteArray("back"));
    pumpFor(50);
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(shown.messages.empty());
}

TEST_F(Reopen, FailedAndSuccessfulAttemptsLeaveNoDescriptorBehind) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto port = NewPort(pty.SlavePath());
    auto holder = NewPort(pty.SlavePath());
    // One cycle first: whatever the application opens once on first use is open from here.
    ASSERT_TRUE(port->TryOpen());
    port->Close();
    ASSERT_TRUE(trelmo::test::WorkersGone());
    const int idle = OpenDescriptors();

    // Missing: nothing opened.
    port->SetDeviceName(QStringLiteral("/dev/trelmo-no-such-device"));
    for (int i = 0; i < 25; ++i) {
        int err = 0;
        EXPECT_FALSE(port->TryOpen(&err));
        EXPECT_EQ(err, ENOENT);
    }
    EXPECT_EQ(OpenDescriptors(), idle);

    // Busy: opened, refused and closed again.
    holder->Open();
    const int held = OpenDescriptors();
    EXPECT_GT(held, idle);
    port->SetDeviceName(pty.SlavePath());
    for (int i = 0; i < 25; ++i) {
        int err = 0;
        EXPECT_FALSE(port->TryOpen(&err));
        EXPECT_EQ(err, EBUSY);
        EXPECT_FALSE(port->Active());
    }
    EXPECT_EQ(OpenDescriptors(), held);
    holder->Close();
    ASSERT_TRUE(trelmo::test::WorkersGone());
    EXPECT_EQ(OpenDescriptors(), idle);

    // Opened and closed.
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(port->TryOpen()) << i;
        // An open port is left as it is.
        int err = 0;
        EXPECT_FALSE(port->TryOpen(&err));
        EXPECT_EQ(err, EISCONN);
        EXPECT_TRUE(port->Active());
        port->Close();
    }
    ASSERT_TRUE(trelmo::test::WorkersGone());
    EXPECT_EQ(OpenDescriptors(), idle);
    EXPECT_FALSE(HoldsDescriptorFor(pty.SlavePath()));
    EXPECT_TRUE(shown.messages.empty());
}

TEST_F(Reopen, AVanishedDeviceIsLetGoWhenThePortCloses) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto port = NewPort(pty.SlavePath());
    int lost = 0;
    port->OnDeviceLost = [&](TVaComm*, const QString&) { ++lost; };
    ASSERT_TRUE(port->TryOpen());
    port->Close();
    ASSERT_TRUE(trelmo::test::WorkersGone());
    const int idle = OpenDescriptors();

    ASSERT_TRUE(port->TryOpen());
    EXPECT_TRUE(HoldsDescriptorFor(pty.SlavePath()));
    pty.CloseMaster();  // the far end goes: the device vanishes under the open port
    ASSERT_TRUE(pumpUntil([&] { return lost == 1; }));
    EXPECT_TRUE(port->Active());
    // What the main window does: release, then close.
    port->ReleaseHandle();
    port->Close();
    ASSERT_TRUE(trelmo::test::WorkersGone());
    EXPECT_FALSE(HoldsDescriptorFor(pty.SlavePath()));
    EXPECT_EQ(OpenDescriptors(), idle - 1);  // the master too is closed now
}

TEST_F(Reopen, ARefusedSettingIsAFailedAttemptThatHoldsNothing) {
    auto peer = SimPeer::Create(QStringLiteral("reopen-settings"));
    auto port = NewPort(peer->DeviceName());
    peer->FailNext(SimOp::SetState, EINVAL);
    int err = 0;
    EXPECT_FALSE(port->TryOpen(&err));
    EXPECT_EQ(err, EINVAL);
    EXPECT_FALSE(port->Active());
    EXPECT_FALSE(peer->IsOpen());
    EXPECT_EQ(peer->CloseCount(), peer->OpenCount());
    EXPECT_EQ(port->EventThread(), nullptr);
    EXPECT_TRUE(port->TryOpen(&err));
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(shown.messages.empty());
}

// --- the loss reported once ---

TEST_F(Reopen, ALossStillOnItsWayIsNotReportedToTheNextOpening) {
    auto peer = SimPeer::Create(QStringLiteral("reopen-lost"));
    auto port = NewPort(peer->DeviceName());
    // Both workers: the writer is held in a write the device does not take.
    port->SetDirectWrite(false);
    QStringList log;
    port->OnDeviceLost = [&](TVaComm* sender, const QString&) {
        log << "lost";
        // The caller closes and, the device being back at once, opens again from the handler.
        sender->Close();
        peer->Plug();
        log << (sender->TryOpen() ? "reopened" : "failed");
    };
    ASSERT_TRUE(port->TryOpen());
    peer->SetTxStall(true);
    EXPECT_TRUE(port->WriteText("held"));
    peer->Pull();
    // The event thread and the writer both saw the loss and wait to report it.
    ASSERT_TRUE(WaitWithoutEvents([] { return PendingGuiCalls() == 2; }));
    EXPECT_TRUE(pumpUntil([&] { return log.size() >= 2; }));
    pumpFor(100);
    EXPECT_EQ(log.join(' ').toStdString(), "lost reopened");
    // The new opening works.
    peer->SetTxStall(false);
    ASSERT_TRUE(port->Active());
    ASSERT_TRUE(peer->Inject("fine"));
    QByteArray got;
    EXPECT_TRUE(pumpUntil([&] {
        char buffer[16];
        got.append(buffer, port->ReadBuf(reinterpret_cast<uint8_t*>(buffer), sizeof buffer));
        return got.size() >= 4;
    }));
    EXPECT_EQ(got, QByteArray("fine"));
    port->Close();
}

TEST_F(Reopen, APortDestroyedByItsLossHandlerIsSafe) {
    auto peer = SimPeer::Create(QStringLiteral("reopen-destroyed"));
    auto* port = NewPort(peer->DeviceName()).release();
    bool destroyed = false;
    QObject::connect(port, &QObject::destroyed, [&] { destroyed = true; });
    port->OnDeviceLost = [&destroyed](TVaComm* sender, const QString&) {
        delete sender;
        EXPECT_TRUE(destroyed);
    };
    ASSERT_TRUE(port->TryOpen());
    peer->Pull();
    EXPECT_TRUE(pumpUntil([&] { return destroyed; }));
    EXPECT_TRUE(trelmo::test::WorkersGone());
}

}  // namespace
