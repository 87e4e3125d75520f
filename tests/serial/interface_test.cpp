// One suite for the port, run against both backends: a real pseudo-terminal pair and the
// simulated device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <type_traits>

#include "serial/DeviceFactory.h"
#include "serial/QueuedDevice.h"
#include "serial/SimDevice.h"
#include "serial/VaComm.h"
#include "tests/common/ErrorRecorder.h"
#include "tests/serial/SerialFixtures.h"

using namespace trelmo::serial;
using trelmo::test::pumpFor;
using trelmo::test::pumpUntil;

namespace {

using trelmo::test::PtyBackend;
using trelmo::test::SimBackend;

template <typename Backend>
class PortInterface : public trelmo::test::BackendPort<Backend> {
  protected:
    using trelmo::test::BackendPort<Backend>::backend;
    using trelmo::test::BackendPort<Backend>::port;
    // Collects what the port receives through OnRxChar/ReadBuf, at most perEvent per call.
    void CollectInto(QByteArray& sink, int perEvent = 10000, std::vector<int>* counts = nullptr) {
        port->OnRxChar = [&sink, perEvent, counts](TVaComm* sender, int count) {
            if (counts)
                counts->push_back(count);
            QByteArray block(std::min(count, perEvent), '\0');
            const int got = sender->ReadBuf(reinterpret_cast<uint8_t*>(block.data()), block.size());
            sink.append(block.constData(), got);
        };
    }
    QByteArray ReceivedByPeer(int expected) {
        QByteArray all;
        pumpUntil(
            [&] {
                all += backend.Received();
                return all.size() >= expected;
            },
            20000);
        return all;
    }

    trelmo::test::ErrorRecorder shown;
};

using Backends = ::testing::Types<SimBackend, PtyBackend>;
class BackendNames {
  public:
    template <typename T>
    static std::string GetName(int) {
        return std::is_same_v<T, SimBackend> ? "sim" : "posix";
    }
};
TYPED_TEST_SUITE(PortInterface, Backends, BackendNames);

TYPED_TEST(PortInterface, OpenAndCloseRunHandlersAndThreads) {
    QStringList log;
    this->port->OnOpen = [&](TVaComm*) { log << "open"; };
    this->port->OnClose = [&](TVaComm*) { log << "close"; };
    this->port->Open();
    EXPECT_TRUE(this->port->Active());
    EXPECT_NE(this->port->EventThread(), nullptr);
    EXPECT_EQ(this->port->WriteThread(), nullptr);  // DirectWrite
    EXPECT_THROW(this->port->Open(), EVaCommError);
    EXPECT_TRUE(this->port->Active());
    this->port->Close();
    EXPECT_FALSE(this->port->Active());
    EXPECT_EQ(this->port->EventThread(), nullptr);
    EXPECT_TRUE(trelmo::test::WorkersGone());
    this->port->Close();  // closed: nothing happens
    this->port->Open();   // a closed port opens again, with new threads
    EXPECT_TRUE(this->port->Active());
    this->port->Close();
    EXPECT_EQ(log, (QStringList{"open", "close", "open", "close"}));
}

TYPED_TEST(PortInterface, SecondOpenerIsRefusedAndProbeSeesTheDeviceBusy) {
    EXPECT_TRUE(TVaComm::ProbeDevice(this->backend.Device()));
    this->port->Open();
    EXPECT_FALSE(TVaComm::ProbeDevice(this->backend.Device()));
    TVaComm second;
    second.SetDeviceName(this->backend.Device());
    try {
        second.Open();
        FAIL() << "second open succeeded";
    } catch (const EVaCommError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Can't open specified device %1 (Error 16, %2)")
                                   .arg(this->backend.Device(), CommErrorText(EBUSY)));
    }
    EXPECT_FALSE(second.Active());
    EXPECT_EQ(second.EventThread(), nullptr);
    this->port->Close();
    EXPECT_TRUE(TVaComm::ProbeDevice(this->backend.Device()));
    second.Open();
    EXPECT_TRUE(second.Active());
}

TYPED_TEST(PortInterface, BytesWrittenReachThePeerUnchanged) {
    this->port->Open();
    const QByteArray data = trelmo::test::pattern(3000);
    EXPECT_TRUE(this->port->WriteText(data.left(1000)));
    for (int i = 1000; i < 1100; ++i)
        EXPECT_TRUE(this->port->WriteChar(static_cast<uint8_t>(data[i])));
    EXPECT_EQ(this->port->WriteBuf(reinterpret_cast<const uint8_t*>(data.constData()) + 1100, 1900),
              1900);
    EXPECT_EQ(this->ReceivedByPeer(3000), data);
}

TYPED_TEST(PortInterface, BytesFromThePeerReachOnRxCharUnchanged) {
    QByteArray got;
    std::vector<int> counts;
    this->CollectInto(got, 10000, &counts);
    this->port->Open();
    const QByteArray data = trelmo::test::pattern(300000, 3);
    std::thread feeder([&] { this->backend.Send(data); });
    EXPECT_TRUE(pumpUntil([&] { return got.size() >= data.size(); }, 30000));
    feeder.join();
    EXPECT_EQ(got, data);
    ASSERT_FALSE(counts.empty());
    for (int c : counts)
        EXPECT_GT(c, 0);
    EXPECT_EQ(this->port->InQueCount(), 0);
}

// --- arrival times ---

// Reads what is queued (at most count bytes) with its arrival marks.
QByteArray ReadWithMarks(TVaComm& port, int count, ArrivalMarks& marks) {
    QByteArray block(count, '\0');
    block.resize(port.ReadBuf(reinterpret_cast<uint8_t*>(block.data()), count, &marks));
    return block;
}

TYPED_TEST(PortInterface, AStalledReaderGetsTheTimeTheBytesArrivedNotTheTimeItReads) {
    this->port->Open();
    const int64_t sent = ArrivalClockNs();
    ASSERT_TRUE(this->backend.Send("hello"));
    ASSERT_TRUE(pumpUntil([&] { return this->port->InQueCount() == 5; }));
    const int64_t queued = ArrivalClockNs();
    // The GUI thread is busy elsewhere for a while before it reads.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int64_t reading = ArrivalClockNs();
    ArrivalMarks marks;
    EXPECT_EQ(ReadWithMarks(*this->port, 100, marks), QByteArray("hello"));
    ASSERT_FALSE(marks.empty());
    EXPECT_EQ(marks.front().offset, 0u);
    for (const ArrivalMark& m : marks) {
        // Taken between the send and the moment the bytes were seen queued, so at least the
        // stall before the read.
        EXPECT_GE(m.ns, sent);
        EXPECT_LE(m.ns, queued) << "stamped " << (reading - m.ns) / 1000000
                                << " ms before the read";
    }
}

TYPED_TEST(PortInterface, TwoBurstsReadTogetherKeepTheirOwnArrivalTimes) {
    this->port->Open();
    const QByteArray first("first burst\n"), second("second burst\n");
    const int64_t firstSent = ArrivalClockNs();
    ASSERT_TRUE(this->backend.Send(first));
    ASSERT_TRUE(pumpUntil([&] { return this->port->InQueCount() == first.size(); }));
    const int64_t firstQueued = ArrivalClockNs();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int64_t secondSent = ArrivalClockNs();
    ASSERT_TRUE(this->backend.Send(second));
    const int total = static_cast<int>(first.size() + second.size());
    ASSERT_TRUE(pumpUntil([&] { return this->port->InQueCount() == total; }));
    const int64_t secondQueued = ArrivalClockNs();

    // Five bytes first, then the rest in one read: the block starts inside the first burst.
    ArrivalMarks head, marks;
    EXPECT_EQ(ReadWithMarks(*this->port, 5, head), first.left(5));
    ASSERT_FALSE(head.empty());
    EXPECT_EQ(head.front().offset, 0u);
    EXPECT_EQ(ReadWithMarks(*this->port, 100, marks), first.mid(5) + second);
    ASSERT_FALSE(marks.empty());
    EXPECT_EQ(marks.front().offset, 0u);
    const size_t boundary = static_cast<size_t>(first.size() - 5);
    bool markAtBoundary = false;
    for (size_t i = 0; i < marks.size(); ++i) {
        const ArrivalMark& m = marks[i];
        if (i > 0) {
            EXPECT_GT(m.offset, marks[i - 1].offset);
        }
        markAtBoundary = markAtBoundary || m.offset == boundary;
        if (m.offset < boundary) {
            EXPECT_GE(m.ns, firstSent) << m.offset;
            EXPECT_LE(m.ns, firstQueued) << m.offset;
        } else {
            EXPECT_GE(m.ns, secondSent) << m.offset;
            EXPECT_LE(m.ns, secondQueued) << m.offset;
        }
    }
    EXPECT_TRUE(markAtBoundary) << "no mark where the second burst starts";
    if constexpr (std::is_same_v<TypeParam, SimBackend>) {
        // One mark per delivery: the sim device's bursts are exactly two chunks.
        ASSERT_EQ(marks.size(), 2u);
        EXPECT_EQ(marks[0].ns, head[0].ns);
        EXPECT_GE(marks[1].ns - marks[0].ns, 200'000'000);
    }
    // Nothing left: no marks.
    EXPECT_EQ(ReadWithMarks(*this->port, 100, marks), QByteArray());
    EXPECT_TRUE(marks.empty());
}

TYPED_TEST(PortInterface, ReadsOfAClosedPortGiveNoMarks) {
    ArrivalMarks marks{{3, 4}};
    uint8_t buffer[8];
    EXPECT_EQ(this->port->ReadBuf(buffer, 8, &marks), 0);
    EXPECT_TRUE(marks.empty());
    this->port->Open();
    ASSERT_TRUE(this->backend.Send("x"));
    ASSERT_TRUE(pumpUntil([&] { return this->port->InQueCount() == 1; }));
    this->port->ReleaseHandle();
    marks = {{3, 4}};
    EXPECT_EQ(this->port->ReadBuf(buffer, 8, &marks), 0);
    EXPECT_TRUE(marks.empty());
}

TYPED_TEST(PortInterface, BytesLeftQueuedRaiseAnotherEvent) {
    QByteArray got;
    std::vector<int> counts;
    this->CollectInto(got, 100, &counts);  // the handler takes only 100 per event
    this->port->Open();
    const QByteArray data = trelmo::test::pattern(5000, 9);
    ASSERT_TRUE(this->backend.Send(data));
    EXPECT_TRUE(pumpUntil([&] { return got.size() >= data.size(); }));
    EXPECT_EQ(got, data);
    EXPECT_GE(counts.size(), 50u);
}

// A peer that writes faster than the port reads loses nothing: with nobody reading, the
// receive ring fills and the port stops taking bytes, so the peer's writes wait (a pty
// master's writes are refused, a simulated Inject blocks). Once the reader starts, every
// byte arrives in order and the peer finishes.
TYPED_TEST(PortInterface, FastPeerWaitsForAPausedReaderAndLosesNothing) {
    const int size = 4 * 1024 * 1024;  // four times the receive ring
    bool reading = false;
    QByteArray got;
    std::vector<int> errors;
    std::vector<qint64> lost;
    this->port->OnRxChar = [&](TVaComm* sender, int count) {
        if (!reading)
            return;
        QByteArray block(std::min(count, 10000), '\0');
        got.append(block.constData(),
                   sender->ReadBuf(reinterpret_cast<uint8_t*>(block.data()), block.size()));
    };
    this->port->OnError = [&](TVaComm*, int flags) { errors.push_back(flags); };
    this->port->OnDataLost = [&](TVaComm*, qint64 count) { lost.push_back(count); };
    this->port->Open();
    const QByteArray data = trelmo::test::pattern(size, 11);
    std::atomic<bool> sent{false};
    bool sentAll = false;
    std::thread peer([&] {
        sentAll = this->backend.SendHeldBack(data);
        sent = true;
    });
    const int ring = static_cast<int>(QueuedDevice::kMinRing);
    // The ring fills up and the peer is held off.
    EXPECT_TRUE(pumpUntil(
        [&] { return sent || (this->port->InQueCount() == ring && this->backend.SenderStalled()); },
        60000));
    EXPECT_FALSE(sent) << "the peer finished although nobody read";
    EXPECT_EQ(this->port->InQueCount(), ring);
    // The reader starts; the bytes left after each read keep the events coming.
    reading = true;
    QByteArray first(10000, '\0');
    got.append(first.constData(),
               this->port->ReadBuf(reinterpret_cast<uint8_t*>(first.data()), first.size()));
    EXPECT_TRUE(pumpUntil([&] { return got.size() >= size; }, 120000));
    if (!sent)
        this->port->Close();  // a failed run must not leave the peer waiting for ever
    peer.join();
    EXPECT_TRUE(sentAll);
    EXPECT_EQ(got.size(), size);
    EXPECT_EQ(trelmo::test::FirstDifference(got, data), -1);
    EXPECT_EQ(this->port->InQueCount(), 0);
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(lost.empty());
}

// A terminal that hangs up while the port holds it back (ring full, device unread) is
// reported lost, and the bytes the ring already holds are still read in order.
TEST(PosixPort, HangUpWhileHeldBackIsReportedAndKeepsTheQueuedBytes) {
    trelmo::test::ErrorRecorder shown;
    trelmo::test::PtyPair pty;
    ASSERT_TRUE(pty.Ok()) << "no pseudo-terminal available";
    auto port = std::make_unique<TVaComm>();
    port->SetDeviceName(pty.SlavePath());
    port->SetDirectWrite(true);
    QStringList lost;
    port->OnDeviceLost = [&](TVaComm*, const QString& message) { lost << message; };
    port->Open();
    const QByteArray data = trelmo::test::pattern(3 * 1024 * 1024, 13);
    std::atomic<bool> stalled{false}, stop{false};
    std::thread writer([&] { pty.WriteHeldBack(data, stalled, &stop); });
    const int ring = static_cast<int>(QueuedDevice::kMinRing);
    EXPECT_TRUE(pumpUntil([&] { return port->InQueCount() == ring && stalled; }, 60000));
    stop = true;
    writer.join();
    pty.CloseMaster();
    ASSERT_TRUE(pumpUntil([&] { return !lost.isEmpty(); }));
    EXPECT_TRUE(lost.first().startsWith(QStringLiteral("Serial device lost (")));
    QByteArray got(ring, '\0');
    EXPECT_EQ(port->ReadBuf(reinterpret_cast<uint8_t*>(got.data()), ring), ring);
    EXPECT_EQ(trelmo::test::FirstDifference(got, data.left(ring)), -1);
    pumpFor(50);
    EXPECT_EQ(lost.size(), 1);
    port.reset();
    EXPECT_TRUE(trelmo::test::WorkersGone());
}

TYPED_TEST(PortInterface, WriterThreadCarriesWritesAndReportsTxEmpty) {
    this->port->SetDirectWrite(false);
    this->port->Buffers().SetWriteSize(16384);
    int txEmpty = 0;
    this->port->OnTxEmpty = [&](TVaComm*) { ++txEmpty; };
    this->port->Open();
    EXPECT_NE(this->port->WriteThread(), nullptr);
    const QByteArray data = trelmo::test::pattern(10000, 5);
    EXPECT_EQ(this->port->WriteBuf(reinterpret_cast<const uint8_t*>(data.constData()), 10000),
              10000);
    EXPECT_EQ(this->ReceivedByPeer(10000), data);
    EXPECT_TRUE(pumpUntil([&] { return txEmpty >= 1; }));
}

TYPED_TEST(PortInterface, CloseAndDestroyWhileBytesFlow) {
    QByteArray got;
    this->CollectInto(got, 700);
    this->port->SetDirectWrite(false);
    this->port->Open();
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        const QByteArray chunk = trelmo::test::pattern(512);
        while (!stop) {
            this->backend.Send(chunk);
            std::this_thread::yield();
        }
    });
    EXPECT_TRUE(pumpUntil([&] { return got.size() > 20000; }));
    const uint8_t out[64] = {};
    this->port->WriteBuf(out, 64);
    this->port->Close();
    EXPECT_FALSE(this->port->Active());
    this->port->Open();
    pumpFor(20);
    this->port.reset();  // destroyed while open, with events in flight
    stop = true;
    feeder.join();
    EXPECT_TRUE(trelmo::test::WorkersGone());
}

TYPED_TEST(PortInterface, CancelBeforeAWriteStartsEndsThatWrite) {
    // The writer thread may be told to stop just before it starts a write: that write must
    // end too, or the thread could not be joined.
    int err = 0;
    auto device = OpenCommDevice(MapDeviceName(this->backend.Device()), err);
    ASSERT_NE(device, nullptr) << err;
    device->CancelIo();
    const QByteArray data = trelmo::test::pattern(64);
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    size_t written = 99;
    EXPECT_EQ(device->Write(bytes, static_cast<size_t>(data.size()), written, -1), ECANCELED);
    EXPECT_EQ(written, 0u);
    // One cancel ends one write.
    EXPECT_EQ(device->Write(bytes, static_cast<size_t>(data.size()), written, 10000), 0);
    EXPECT_EQ(written, static_cast<size_t>(data.size()));
    EXPECT_EQ(this->ReceivedByPeer(data.size()), data);
    device->Close();
}

TYPED_TEST(PortInterface, HandOverQueuedForADestroyedPortRunsNoHandler) {
    bool called = false;
    this->port->OnRxChar = [&](TVaComm*, int) { called = true; };
    this->port->Open();
    ASSERT_TRUE(this->backend.Send("abc"));
    // Give the event thread time to hand the event over, without running it.
    QThread::msleep(50);
    this->port.reset();
    EXPECT_TRUE(trelmo::test::WorkersGone());
    EXPECT_FALSE(called);
}

TYPED_TEST(PortInterface, VanishedDeviceIsReportedOnceAndStopsTheEventThread) {
    QStringList lost;
    this->port->OnDeviceLost = [&](TVaComm* sender, const QString& message) {
        EXPECT_EQ(sender, this->port.get());
        lost << message;
    };
    this->port->Open();
    this->backend.Vanish();
    EXPECT_TRUE(pumpUntil([&] { return !lost.isEmpty(); }));
    EXPECT_TRUE(lost.first().startsWith(QStringLiteral("Serial device lost (")));
    // The event thread ended instead of retrying the failed wait.
    EXPECT_TRUE(trelmo::test::WorkersGone());
    pumpFor(100);
    EXPECT_EQ(lost.size(), 1);
    EXPECT_TRUE(this->port->Active());
    this->port->Close();
    EXPECT_FALSE(this->port->Active());
}

TYPED_TEST(PortInterface, AnyRateAndLineSettingsApplyWhileOpen) {
    this->port->SetUserBaudrate(28800);
    this->port->Open();
    this->port->SetBaudrate(br115200);
    this->port->SetUserBaudrate(250000);
    this->port->SetParity(paMark);
    this->port->SetParity(paSpace);
    this->port->SetDatabits(db7);
    this->port->SetStopbits(sb15);
    this->port->SetRts(true);
    this->port->SetDtr(true);
    this->port->SetRts(false);
    this->port->SetDtr(false);
    EXPECT_EQ(this->port->BuildDcb().BaudRate, 250000u);
    EXPECT_TRUE(this->port->Active());
}

TYPED_TEST(PortInterface, SettingsChangedWhileOpenLeaveDtrAndRtsAsTheyWereSet) {
    constexpr bool lines = TypeParam::kHasModemLines;
    auto expectLines = [&](bool dtr, bool rts, const char* after) {
        if (!lines)
            return;
        EXPECT_EQ(this->backend.Dtr(), dtr) << after;
        EXPECT_EQ(this->backend.Rts(), rts) << after;
    };
    TVaComm& port = *this->port;
    port.Open();
    expectLines(false, false, "open: the control block disables both");
    port.SetDtr(true);
    port.SetRts(true);
    expectLines(true, true, "SetDtr, SetRts");

    port.SetBaudrate(br19200);
    expectLines(true, true, "Baudrate");
    port.SetUserBaudrate(28800);
    expectLines(true, true, "UserBaudrate");
    port.SetParity(paEven);
    expectLines(true, true, "Parity");
    port.SetDatabits(db7);
    expectLines(true, true, "Databits");
    port.SetStopbits(sb2);
    expectLines(true, true, "Stopbits");
    port.SetOptions({coParityCheck});
    expectLines(true, true, "Options");
    port.EventChars().SetXonChar(1);
    expectLines(true, true, "EventChars");
    port.FlowControl().SetXonXoffIn(true);
    port.FlowControl().SetXonXoffIn(false);
    expectLines(true, true, "FlowControl without the line controls");
    EXPECT_EQ(port.BuildDcb().BaudRate, 28800u);

    // A line's own control field sets it from the control block, and only that line.
    port.SetDtr(false);
    port.FlowControl().SetControlDtr(dtrEnabled);
    expectLines(true, true, "ControlDtr enabled");
    port.SetRts(false);
    port.FlowControl().SetControlDtr(dtrDisabled);
    expectLines(false, false, "ControlDtr disabled");
    port.FlowControl().SetControlRts(rtsEnabled);
    expectLines(false, true, "ControlRts enabled");
    port.SetParity(paNone);
    expectLines(false, true, "Parity after the line controls");
    port.FlowControl().SetControlRts(rtsDisabled);
    expectLines(false, false, "ControlRts disabled");

    // The port carries bytes on as before.
    EXPECT_TRUE(port.WriteText("ok"));
    EXPECT_EQ(this->ReceivedByPeer(2), QByteArray("ok"));

    // Opening again: the first control block decides both lines.
    port.SetDtr(true);
    port.Close();
    port.FlowControl().SetControlRts(rtsEnabled);
    port.Open();
    expectLines(false, true, "reopened with DTR disabled and RTS enabled");
}

TYPED_TEST(PortInterface, EarlyReleaseThenCloseReleasesTheDeviceOnce) {
    int closes = 0;
    this->port->OnClose = [&](TVaComm*) { ++closes; };
    this->port->Open();
    this->port->ReleaseHandle();
    EXPECT_TRUE(this->port->HandleReleased());
    // The device is free at once, before Close.
    EXPECT_TRUE(TVaComm::ProbeDevice(this->backend.Device()));
    uint8_t buffer[8];
    EXPECT_EQ(this->port->ReadBuf(buffer, 8), 0);
    EXPECT_EQ(this->port->InQueCount(), 0);
    this->port->ReleaseHandle();
    pumpFor(30);
    this->port->Close();
    EXPECT_FALSE(this->port->Active());
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(trelmo::test::WorkersGone());
    // The next open gets a fresh device.
    this->port->Open();
    EXPECT_FALSE(this->port->HandleReleased());
    EXPECT_TRUE(this->port->WriteText("x"));
    EXPECT_EQ(this->ReceivedByPeer(1), QByteArray("x"));
}

}  // namespace
