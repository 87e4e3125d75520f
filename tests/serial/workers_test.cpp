// The port's worker threads end and are joined: by the port's destructor when the port goes
// (also while a worker waits in the hand-over to a GUI thread that runs no events), on the
// GUI thread once a stopped worker has finished, never from inside the worker's own call.
// And the priorities the workers run at.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "serial/VaCommThreads.h"
#include "tests/serial/SerialFixtures.h"

using namespace trelmo::serial;
using trelmo::serial::sim::SimPeer;
using trelmo::test::pumpUntil;
using trelmo::test::uniqueSimName;
using trelmo::test::WaitWithoutEvents;

namespace {

class PortWorkers : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);
        port = std::make_unique<TVaComm>();
        port->SetDeviceName(peer->DeviceName());
    }
    void TearDown() override {
        port.reset();
        EXPECT_TRUE(trelmo::test::WorkersGone());
        EXPECT_EQ(PendingGuiCalls(), 0);
    }
    // Runs the hand-over events posted so far (they must find nothing left to do).
    static void RunPostedEvents() { QCoreApplication::sendPostedEvents(); }

    std::shared_ptr<SimPeer> peer = SimPeer::Create(uniqueSimName(QStringLiteral("workers")));
    std::unique_ptr<TVaComm> port;
};

TEST_F(PortWorkers, DestroyedWhileTheEventThreadWaitsInTheHandOver) {
    bool called = false;
    port->OnRxChar = [&](TVaComm*, int) { called = true; };
    port->SetDirectWrite(true);
    port->Open();
    ASSERT_TRUE(peer->Inject("abc"));
    ASSERT_TRUE(WaitWithoutEvents([] { return PendingGuiCalls() == 1; }));
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 1);
    port.reset();
    // Joined by the destructor, without the GUI thread running the hand-over.
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);
    EXPECT_EQ(PendingGuiCalls(), 0);
    RunPostedEvents();
    EXPECT_FALSE(called);
}

TEST_F(PortWorkers, ClosedWhileTheHandOverWaitsThenDestroyed) {
    int rings = 0;
    port->SetMonitorEvents({ceRing});
    port->OnRing = [&](TVaComm*) { ++rings; };
    port->SetDirectWrite(true);
    port->Open();
    peer->Ring();
    ASSERT_TRUE(WaitWithoutEvents([] { return PendingGuiCalls() == 1; }));
    port->Close();
    // Close does not wait: the worker still waits for the GUI thread.
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 1);
    EXPECT_EQ(PendingGuiCalls(), 1);
    port.reset();
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);
    RunPostedEvents();
    EXPECT_EQ(rings, 0);  // the port had gone before the call could run
}

TEST_F(PortWorkers, ClosedWhileTheHandOverWaitsItsCallStillRunsAndTheWorkerIsJoined) {
    int rings = 0;
    port->SetMonitorEvents({ceRing});
    port->OnRing = [&](TVaComm*) { ++rings; };
    port->SetDirectWrite(true);
    port->Open();
    peer->Ring();
    ASSERT_TRUE(WaitWithoutEvents([] { return PendingGuiCalls() == 1; }));
    port->Close();
    // The port stays: the worker's call runs, the worker ends and is joined on this thread.
    EXPECT_TRUE(trelmo::test::WorkersGone());
    EXPECT_EQ(rings, 1);
    EXPECT_FALSE(port->Active());
}

TEST_F(PortWorkers, DestroyedWhileTheWriterWaitsInTheHandOver) {
    int txEmpty = 0;
    port->SetMonitorEvents({});
    port->OnTxEmpty = [&](TVaComm*) { ++txEmpty; };
    port->Open();
    ASSERT_NE(port->WriteThread(), nullptr);
    EXPECT_TRUE(port->WriteText("a"));
    ASSERT_TRUE(WaitWithoutEvents([] { return PendingGuiCalls() == 1; }));
    EXPECT_EQ(peer->Written(), QByteArray("a"));
    port.reset();
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);
    RunPostedEvents();
    EXPECT_EQ(txEmpty, 0);
}

TEST_F(PortWorkers, DestroyedWhileTheWriterWaitsInAStalledWrite) {
    port->SetMonitorEvents({});
    port->Open();
    peer->SetTxStall(true);
    EXPECT_TRUE(port->WriteText("held"));
    port.reset();
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);
    peer->SetTxStall(false);
    EXPECT_TRUE(peer->Written().isEmpty());
}

TEST_F(PortWorkers, WorkersOfManyPortsWithEventsInFlightAreJoinedWhenThePortsGo) {
    constexpr int kPorts = 6;
    std::vector<std::shared_ptr<SimPeer>> peers;
    std::vector<std::unique_ptr<TVaComm>> ports;
    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    std::vector<std::thread> feeders;
    for (int i = 0; i < kPorts; ++i) {
        peers.push_back(SimPeer::Create(uniqueSimName(QStringLiteral("workers"))));
        auto p = std::make_unique<TVaComm>();
        p->SetDeviceName(peers.back()->DeviceName());
        p->SetDirectWrite(i % 2 == 0);
        p->SetMonitorEvents({ceRxChar, ceRing, ceError});
        p->OnRxChar = [&delivered](TVaComm* sender, int count) {
            QByteArray block(std::min(count, 4096), '\0');
            sender->ReadBuf(reinterpret_cast<uint8_t*>(block.data()), block.size());
            ++delivered;
        };
        p->Open();
        ports.push_back(std::move(p));
    }
    for (int i = 0; i < kPorts; ++i) {
        feeders.emplace_back([&, peer = peers[i]] {
            const QByteArray chunk = trelmo::test::pattern(256, 0);
            while (!stop && peer->Inject(chunk))
                peer->Ring();
        });
    }
    // Some hand-overs run, then every port goes while its workers are busy.
    EXPECT_TRUE(pumpUntil([&] { return delivered.load() > 3 * kPorts; }));
    for (int i = 0; i < kPorts; ++i) {
        if (i % 3 == 0)
            ports[i]->Close();
        ports[i]->WriteText("bye");
    }
    ports.clear();
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);
    stop = true;
    for (auto& t : feeders)
        t.join();
    RunPostedEvents();
}

// A port whose received-characters dispatch destroys the port itself.
class SelfDestroyingPort : public TVaComm {
  public:
    explicit SelfDestroyingPort(bool* destroyed) : destroyed_(destroyed) {}
    ~SelfDestroyingPort() override { *destroyed_ = true; }
    void DoRxChar() override { delete this; }

  private:
    bool* destroyed_;
};

TEST_F(PortWorkers, PortDestroyedFromItsOwnHandOverLeavesTheWorkerToTheGuiThread) {
    bool destroyed = false;
    auto* own = new SelfDestroyingPort(&destroyed);
    own->SetDeviceName(peer->DeviceName());
    own->SetDirectWrite(true);
    own->Open();
    ASSERT_TRUE(peer->Inject("x"));
    // The destructor runs inside the event thread's call: joining that thread there would
    // never return. It is joined once its call has returned and it has ended.
    EXPECT_TRUE(pumpUntil([&] { return destroyed; }));
    EXPECT_TRUE(trelmo::test::WorkersGone());
}

TEST_F(PortWorkers, FinishedWorkersAreJoinedByTheNextOpen) {
    port->SetDirectWrite(true);
    port->Open();
    auto events = port->EventThread();
    ASSERT_NE(events, nullptr);
    port->Close();
    EXPECT_EQ(port->EventThread(), nullptr);
    // Ended but not joined yet: nothing has run the GUI thread's events.
    ASSERT_TRUE(WaitWithoutEvents([&] { return events->Finished(); }));
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 1);
    port->SetMonitorEvents({});  // the next Open starts no worker
    port->Open();
    EXPECT_EQ(TVaCustomComm::LiveWorkerThreads(), 0);
}

int NiceOfThread(int tid) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    return errno == 0 ? nice : 1000;
}

TEST_F(PortWorkers, WorkersRunAtTheNiceValueOfTheirPriority) {
    // Only lowered priorities: raising one needs privileges.
    if (NiceOfThread(0) > NiceOf(tpLower))
        GTEST_SKIP() << "the tests run below the priorities checked here";
    port->SetEventPriority(tpLower);
    port->SetWritePriority(tpLowest);
    port->Open();
    auto events = port->EventThread();
    auto writer = port->WriteThread();
    ASSERT_NE(events, nullptr);
    ASSERT_NE(writer, nullptr);
    EXPECT_TRUE(WaitWithoutEvents([&] {
        return events->ThreadId() != 0 && NiceOfThread(events->ThreadId()) == NiceOf(tpLower);
    })) << NiceOfThread(events->ThreadId());
    EXPECT_TRUE(WaitWithoutEvents([&] {
        return writer->ThreadId() != 0 && NiceOfThread(writer->ThreadId()) == NiceOf(tpLowest);
    })) << NiceOfThread(writer->ThreadId());
    // A running thread takes a new priority at once.
    port->SetEventPriority(tpIdle);
    EXPECT_EQ(NiceOfThread(events->ThreadId()), 19);
}

}  // namespace
