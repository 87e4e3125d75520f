// The building blocks: wait handles, the tick arithmetic, the writer's byte block, the modem
// line rule of the backends, the rate a driver reports, the settings groups and the hand-over
// to the GUI thread.
#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <thread>
#include <vector>

#include "serial/CommDevice.h"
#include "serial/PosixRate.h"
#include "serial/VaComm.h"
#include "serial/VaCommThreads.h"
#include "serial/VaSync.h"
#include "tests/serial/SerialFixtures.h"

using namespace trelmo::serial;
using trelmo::test::pumpUntil;

namespace {

TEST(SerialSync, WaitEventIsManualResetAndStartsClear) {
    TVaWaitEvent event;
    EXPECT_EQ(event.WaitFor(0), wrTimeout);
    event.SetEvent();
    EXPECT_EQ(event.WaitFor(0), wrSignaled);
    EXPECT_EQ(event.WaitFor(INFINITE), wrSignaled);  // stays set until reset
    event.ResetEvent();
    EXPECT_EQ(event.WaitFor(10), wrTimeout);
}

TEST(SerialSync, WaitForAnyWakesOnTheFirstSignalledHandle) {
    TVaWaitEvent stop, data;
    EXPECT_EQ(TVaHandleObject::WaitForAny({&stop, &data}, 10), -1);
    data.SetEvent();
    EXPECT_EQ(TVaHandleObject::WaitForAny({&stop, &data}, INFINITE), 1);
    stop.SetEvent();
    EXPECT_EQ(TVaHandleObject::WaitForAny({&stop, &data}, INFINITE), 0);  // stop wins
    stop.ResetEvent();
    data.ResetEvent();
    std::atomic<int> woke{-2};
    std::thread waiter([&] { woke = TVaHandleObject::WaitForAny({&stop, &data}, INFINITE); });
    stop.SetEvent();
    waiter.join();
    EXPECT_EQ(woke.load(), 0);
}

TEST(SerialSync, WaitForAnyReturnsTheFirstSignalledInListOrder) {
    TVaWaitEvent a, b, c, d;
    c.SetEvent();
    EXPECT_EQ(TVaHandleObject::WaitForAny({&a, &b, &c, &d}, INFINITE), 2);
    d.SetEvent();
    b.SetEvent();
    EXPECT_EQ(TVaHandleObject::WaitForAny({&a, &b, &c, &d}, 0), 1);
    EXPECT_EQ(TVaHandleObject::WaitForAny({&d, &c}, 0), 0);
    b.ResetEvent();
    c.ResetEvent();
    EXPECT_EQ(TVaHandleObject::WaitForAny({&a, &b, &c, &d}, INFINITE), 3);
    d.ResetEvent();
    EXPECT_EQ(TVaHandleObject::WaitForAny({&a, &b, &c, &d}, 5), -1);
    // A wait in progress returns the index of the handle that woke it.
    std::atomic<int> woke{-2};
    std::thread waiter([&] { woke = TVaHandleObject::WaitForAny({&a, &b, &c, &d}, INFINITE); });
    ASSERT_TRUE(trelmo::test::WaitWithoutEvents([&] { return c.Waiters() == 1; }));
    c.SetEvent();
    waiter.join();
    EXPECT_EQ(woke.load(), 2);
    for (TVaHandleObject* h : {&a, &b, &c, &d})
        EXPECT_EQ(h->Waiters(), 0);  // every registration went with the wait
}

TEST(SerialSync, AHandleWakesOnlyTheWaitsRegisteredOnIt) {
    // The stop and data events of many ports, each waited on by several threads as the
    // writer thread waits on them.
    constexpr int kPorts = 24;
    constexpr int kWaitersPerPort = 3;
    struct Port {
        TVaWaitEvent stop, data;
    };
    std::vector<Port> ports(kPorts);
    struct Result {
        std::atomic<int> index{-2};
        std::atomic<uint64_t> wakeUps{0};
    };
    std::vector<Result> results(kPorts * kWaitersPerPort);
    std::vector<std::thread> waiters;
    for (int p = 0; p < kPorts; ++p) {
        for (int w = 0; w < kWaitersPerPort; ++w) {
            waiters.emplace_back([&, p, w] {
                Result& r = results[p * kWaitersPerPort + w];
                const uint64_t before = TVaHandleObject::ThreadWakeUps();
                r.index = TVaHandleObject::WaitForAny({&ports[p].stop, &ports[p].data}, INFINITE);
                r.wakeUps = TVaHandleObject::ThreadWakeUps() - before;
            });
        }
    }
    ASSERT_TRUE(trelmo::test::WaitWithoutEvents([&] {
        for (const Port& port : ports) {
            if (port.stop.Waiters() != kWaitersPerPort || port.data.Waiters() != kWaitersPerPort)
                return false;
        }
        return true;
    }));
    // One port after the other: odd ports are stopped, even ones get data.
    for (int p = 0; p < kPorts; ++p) {
        if (p % 2)
            ports[p].stop.SetEvent();
        else
            ports[p].data.SetEvent();
    }
    for (auto& t : waiters)
        t.join();
    for (int p = 0; p < kPorts; ++p) {
        for (int w = 0; w < kWaitersPerPort; ++w) {
            const Result& r = results[p * kWaitersPerPort + w];
            EXPECT_EQ(r.index.load(), p % 2 ? 0 : 1) << "port " << p;
            // Woken once, by its own port's event, not by the events of the other ports.
            EXPECT_EQ(r.wakeUps.load(), 1u) << "port " << p;
        }
        EXPECT_EQ(ports[p].stop.Waiters(), 0);
        EXPECT_EQ(ports[p].data.Waiters(), 0);
    }
}

TEST(SerialSync, AWaitForASignalledHandleIsNotWoken) {
    TVaWaitEvent event, other;
    const uint64_t before = TVaHandleObject::ThreadWakeUps();
    event.SetEvent();
    EXPECT_EQ(event.WaitFor(INFINITE), wrSignaled);
    EXPECT_EQ(other.WaitFor(1), wrTimeout);
    EXPECT_EQ(TVaHandleObject::ThreadWakeUps(), before);
    EXPECT_EQ(other.Waiters(), 0);
}

TEST(SerialSync, CriticalSectionIsReentrantAndExcludesOtherThreads) {
    TVaCriticalSection cs;
    int shared = 0;
    cs.Enter();
    cs.Enter();
    std::thread other([&] {
        cs.Enter();
        shared += 1;
        cs.Leave();
    });
    QThread::msleep(20);
    EXPECT_EQ(shared, 0);
    shared = 10;
    cs.Leave();
    cs.Leave();
    other.join();
    EXPECT_EQ(shared, 11);
}

TEST(SerialPriority, NiceValuesOfThePriorities) {
    EXPECT_EQ(NiceOf(tpIdle), 19);
    EXPECT_EQ(NiceOf(tpLowest), 10);
    EXPECT_EQ(NiceOf(tpLower), 5);
    EXPECT_EQ(NiceOf(tpNormal), 0);
    EXPECT_EQ(NiceOf(tpHigher), -5);
    EXPECT_EQ(NiceOf(tpHighest), -10);
    EXPECT_EQ(NiceOf(tpTimeCritical), -20);
}

TEST(SerialRate, ARateWithinTwoPercentOfTheOneAskedForWillDo) {
    using posix::RateAccepted;
    // Exactly asked, and what drivers of USB adapters report for common rates.
    EXPECT_TRUE(RateAccepted(115200, 115200));
    EXPECT_TRUE(RateAccepted(250000, 250000));
    EXPECT_TRUE(RateAccepted(921600, 923077));
    EXPECT_TRUE(RateAccepted(31250, 31250));
    // 2 % of 115200 is 2304: the edge on either side is taken, one more is not.
    EXPECT_TRUE(RateAccepted(115200, 117504));
    EXPECT_FALSE(RateAccepted(115200, 117505));
    EXPECT_TRUE(RateAccepted(115200, 112896));
    EXPECT_FALSE(RateAccepted(115200, 112895));
    // 2 % of 9600 is 192.
    EXPECT_TRUE(RateAccepted(9600, 9792));
    EXPECT_FALSE(RateAccepted(9600, 9793));
    EXPECT_TRUE(RateAccepted(9600, 9408));
    EXPECT_FALSE(RateAccepted(9600, 9407));
    // Another standard rate is no rounding.
    EXPECT_FALSE(RateAccepted(115200, 57600));
    EXPECT_FALSE(RateAccepted(9600, 38400));
    // Small rates: 2 % of 50 is one bit per second.
    EXPECT_TRUE(RateAccepted(50, 51));
    EXPECT_TRUE(RateAccepted(50, 49));
    EXPECT_FALSE(RateAccepted(50, 52));
    EXPECT_FALSE(RateAccepted(1, 2));
    // No rate.
    EXPECT_FALSE(RateAccepted(0, 0));
    EXPECT_FALSE(RateAccepted(0, 9600));
    EXPECT_FALSE(RateAccepted(9600, 0));
    // Huge rates do not overflow the arithmetic.
    constexpr uint32_t kMax = 0xFFFFFFFFu;
    EXPECT_TRUE(RateAccepted(kMax, kMax));
    EXPECT_TRUE(RateAccepted(kMax, kMax - kMax / 50));
    EXPECT_FALSE(RateAccepted(kMax, kMax - kMax / 50 - 1));
    EXPECT_TRUE(RateAccepted(4000000000u, 4080000000u));
    EXPECT_FALSE(RateAccepted(4000000000u, 4080000001u));
    EXPECT_FALSE(RateAccepted(4000000000u, 1));
    EXPECT_FALSE(RateAccepted(1, kMax));
}

TEST(SerialTicks, ElapsedTimeSurvivesTheWrap) {
    EXPECT_EQ(TickDiff(100, 350), 250u);
    EXPECT_EQ(TickDiff(5, 5), 0u);
    EXPECT_EQ(TickDiff(0xFFFFFFF0u, 0x10), 0x1Fu);  // one less than the modular 0x20
    const uint32_t a = TickCount();
    QThread::msleep(5);
    EXPECT_GE(TickDiff(a, TickCount()), 1u);
}

TEST(SerialBuffer, AppendAndRemoveKeepTheOrder) {
    TVaCommBuffer buffer(8);
    EXPECT_EQ(buffer.Capacity(), 8u);
    EXPECT_EQ(buffer.Count(), 0u);
    const uint8_t a[] = {1, 2, 3, 4, 5};
    buffer.Append(a, 5);
    buffer.Remove(2);
    EXPECT_EQ(buffer.Count(), 3u);
    EXPECT_EQ(buffer.Data()[0], 3);
    const uint8_t b[] = {6, 7, 8, 9, 10};
    buffer.Append(b, 5);
    ASSERT_EQ(buffer.Count(), 8u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(buffer.Data()[i], 3 + i);
    buffer.Remove(8);
    EXPECT_EQ(buffer.Count(), 0u);
}

TEST(SerialGroups, UpdateCounterBracketsNotifications) {
    TVaFlowControl fc;
    int notified = 0;
    fc.OnChange = [&] { ++notified; };
    fc.SetXonXoffIn(true);
    EXPECT_EQ(notified, 1);
    fc.SetXonXoffIn(true);  // same value: no notification
    EXPECT_EQ(notified, 1);
    fc.LockUpdate();
    fc.LockUpdate();
    fc.SetOutCtsFlow(true);
    fc.SetControlRts(rtsToggle);
    EXPECT_EQ(notified, 1);
    fc.UnlockUpdate();
    EXPECT_EQ(notified, 1);  // still locked once
    fc.UnlockUpdate();
    EXPECT_EQ(notified, 2);
    fc.UnlockUpdate();  // counter stays at 0 and Changed notifies
    EXPECT_EQ(fc.UpdateCount(), 0);
    EXPECT_EQ(notified, 3);
}

TEST(SerialGroups, EventCharsAlwaysNotifyBuffersTimeoutsNever) {
    TVaEventChars chars;
    int charsNotified = 0;
    chars.OnChange = [&] { ++charsNotified; };
    chars.SetXonChar(17);  // same value, still notifies
    chars.SetChar(5, 26);
    EXPECT_EQ(charsNotified, 2);
    EXPECT_EQ(chars.EofChar(), 26);
    TVaBuffers buffers;
    int buffersNotified = 0;
    buffers.OnChange = [&] { ++buffersNotified; };
    buffers.SetReadTimeout(5);
    buffers.SetWriteTimeout(6);
    EXPECT_EQ(buffersNotified, 0);
    buffers.SetReadSize(10);
    buffers.SetWriteSize(11);
    buffers.SetXonLimit(12);
    buffers.SetXoffLimit(13);
    buffers.SetXoffLimit(13);
    EXPECT_EQ(buffersNotified, 4);
    buffers.SetReadSize(-4);
    EXPECT_EQ(buffers.ReadSize(), 0);
}

TEST(SerialGroups, AssignCopiesEveryFieldWithOneNotification) {
    TVaBuffers source;
    source.SetReadSize(1);
    source.SetWriteSize(2);
    source.SetReadTimeout(3);
    source.SetWriteTimeout(4);
    source.SetXonLimit(5);
    source.SetXoffLimit(6);
    TVaBuffers target;
    int notified = 0;
    target.OnChange = [&] { ++notified; };
    target.Assign(source);
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(target.ReadSize(), 1);
    EXPECT_EQ(target.WriteSize(), 2);
    EXPECT_EQ(target.ReadTimeout(), 3);
    EXPECT_EQ(target.WriteTimeout(), 4);
    EXPECT_EQ(target.XonLimit(), 5);
    EXPECT_EQ(target.XoffLimit(), 6);

    TVaFlowControl fcSource;
    fcSource.SetControlDtr(dtrHandshake);
    fcSource.SetTxContinueOnXoff(true);
    TVaFlowControl fc;
    fc.Assign(fcSource);
    EXPECT_EQ(fc.ControlDtr(), dtrHandshake);
    EXPECT_TRUE(fc.TxContinueOnXoff());

    TVaEventChars chars;
    chars.SetErrorChar(0x3F);
    TVaEventChars copy;
    copy.Assign(chars);
    EXPECT_EQ(copy.ErrorChar(), 0x3F);
    EXPECT_EQ(copy.XonChar(), 17);

    try {
        target.Assign(fc);
        FAIL() << "assigning another class succeeded";
    } catch (const EVaCommError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot assign a TVaFlowControl to a TVaBuffers"));
    }
    EXPECT_EQ(target.ReadSize(), 1);
}

TEST(SerialModemLines, FirstBlockSetsBothLinesLaterBlocksOnlyAChangedOne) {
    auto block = [](uint32_t flags, uint32_t rate = 9600) {
        TVaDcb dcb;
        dcb.BaudRate = rate;
        dcb.ByteSize = 8;
        dcb.Flags = fBinary | flags;
        return dcb;
    };
    using Levels = ModemLineControl::Levels;
    auto same = [](const Levels& a, const Levels& b) { return a.dtr == b.dtr && a.rts == b.rts; };

    ModemLineControl lines;
    // The first block decides both lines, whatever it holds.
    EXPECT_TRUE(same(lines.For(block(0)), Levels{false, false}));
    EXPECT_TRUE(same(lines.For(block(0x0010 | 0x1000)), Levels{true, true}));
    EXPECT_TRUE(same(lines.For(block(0x0020 | 0x3000)), Levels{true, false}));
    EXPECT_TRUE(same(lines.For(block(0x2000)), Levels{false, std::nullopt}));  // RTS handshake
    lines.Applied(block(0));

    // Rate, parity, options and the other flow control bits leave both lines.
    EXPECT_TRUE(same(lines.For(block(0, 115200)), Levels{}));
    EXPECT_TRUE(same(lines.For(block(fParity | fOutX | fInX | fOutxCtsFlow | fNull)), Levels{}));
    // A changed control field sets its own line only.
    EXPECT_TRUE(same(lines.For(block(0x0010)), Levels{true, std::nullopt}));
    EXPECT_TRUE(same(lines.For(block(0x1000, 300)), Levels{std::nullopt, true}));
    EXPECT_TRUE(same(lines.For(block(0x3000)), Levels{std::nullopt, false}));
    EXPECT_TRUE(same(lines.For(block(0x2000)), Levels{}));  // handshake: the driver's line

    // For only looks: nothing is recorded until Applied.
    lines.Applied(block(0x0010 | 0x1000));
    EXPECT_TRUE(same(lines.For(block(0x0010 | 0x1000, 4800)), Levels{}));
    EXPECT_TRUE(same(lines.For(block(0x1000)), Levels{false, std::nullopt}));
    EXPECT_TRUE(same(lines.For(block(0)), Levels{false, false}));
}

TEST(SerialHandOver, RunsOnTheGuiThreadInOrderAndCarriesExceptionsBack) {
    RegisterGuiThread();
    QThread* gui = QThread::currentThread();
    std::vector<int> order;
    std::atomic<bool> onGui{true};
    std::atomic<bool> done{false};
    std::string caught;
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) {
            RunOnGuiThread([&, i] {
                if (QThread::currentThread() != gui)
                    onGui = false;
                order.push_back(i);
            });
        }
        try {
            RunOnGuiThread([] { throw EVaCommError(QStringLiteral("from the GUI")); });
        } catch (const EVaCommError& e) {
            caught = e.what();
        }
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(onGui.load());
    ASSERT_EQ(order.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_EQ(caught, "from the GUI");
}

}  // namespace
