// Application shutdown while ports still have busy workers: destroying the application
// ends and joins every worker before anything they use goes. This executable creates and
// destroys the application itself, so it has a main of its own.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "serial/VaCommThreads.h"
#include "tests/serial/SerialFixtures.h"

using namespace trelmo::serial;
using trelmo::serial::sim::SimPeer;
using trelmo::test::pumpUntil;
using trelmo::test::WaitWithoutEvents;

namespace {

int argc = 1;
char name[] = "serial_shutdown_tests";
char* argv[] = {name, nullptr};

std::unique_ptr<TVaComm> OpenPort(const SimPeer& peer, bool directWrite) {
    auto port = std::make_unique<TVaComm>();
    port->SetDeviceName(peer.DeviceName());
    port->SetDirectWrite(directWrite);
    port->Open();
    return port;
}

TEST(SerialShutdown, DestroyingTheApplicationJoinsEveryWorker) {
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    auto receiving = SimPeer::Create(QStringLiteral("shutdown-rx"));
    auto stalled = SimPeer::Create(QStringLiteral("shutdown-tx"));
    auto closing = SimPeer::Create(QStringLiteral("shutdown-closed"));
    bool called = false;

    // An open port whose event thread waits in the hand-over.
    auto waiting = OpenPort(*receiving, true);
    waiting->OnRxChar = [&](TVaComm*, int) { called = true; };
    ASSERT_TRUE(receiving->Inject("abc"));
    ASSERT_TRUE(WaitWithoutEvents([] { return PendingGuiCalls() == 1; }));
    // An open port whose writer waits in a write the device does not take, while its event
    // thread waits for events.
    stalled->SetTxStall(true);
    auto writing = OpenPort(*stalled, false);
    EXPECT_TRUE(writing->WriteText("held"));
    // A closed port whose event thread still waits in the hand-over.
    auto closed = OpenPort(*closing, true);
    closed->OnRxChar = [&](TVaComm*, int) { called = true; };
    ASSERT_TRUE(closing->Inject("xyz"));
    ASSERT_TRUE(WaitWithoutEvents([] { return PendingGuiCalls() == 2; }));
    closed->Close();
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 4);

    app.reset();
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);
    EXPECT_EQ(PendingGuiCalls(), 0);
    EXPECT_FALSE(called);

    // The ports close and go as usual afterwards.
    waiting->Close();
    EXPECT_FALSE(waiting->Active());
    waiting.reset();
    writing.reset();
    closed.reset();
    EXPECT_TRUE(stalled->Written().isEmpty());
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);
}

TEST(SerialShutdown, ANewApplicationRunsTheHandOversAgain) {
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    auto peer = SimPeer::Create(QStringLiteral("shutdown-again"));
    QByteArray got;
    auto port = OpenPort(*peer, true);
    port->OnRxChar = [&](TVaComm* sender, int count) {
        QByteArray block(count, '\0');
        got.append(block.constData(),
                   sender->ReadBuf(reinterpret_cast<uint8_t*>(block.data()), count));
    };
    ASSERT_TRUE(peer->Inject("again"));
    EXPECT_TRUE(pumpUntil([&] { return got == "again"; }));
    // This application's end joins the workers of the port still open too.
    ASSERT_TRUE(WaitWithoutEvents([] { return TVaCustomComm::LiveWorkerThreads() == 1; }));
    app.reset();
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);
    port.reset();
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
