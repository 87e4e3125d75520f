// The receive ring both backends share: bytes in order across the wrap, a full ring that
// takes no more and holds its producer back until reads make room, the lost-byte count, the
// arrival marks kept beside the bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "serial/QueuedDevice.h"
#include "tests/serial/SerialFixtures.h"

using namespace trelmo::serial;
using trelmo::test::pumpUntil;

namespace {

// A device with nothing behind the ring: the test is its producer.
class TestRing : public QueuedDevice {
  public:
    int SetState(const TVaDcb&) override { return 0; }
    int Escape(int) override { return 0; }
    int Write(const uint8_t*, size_t, size_t& written, int) override {
        written = 0;
        return EIO;
    }
    void CancelIo() override {}
    void Close() override { MarkClosed(); }

    size_t Offer(const QByteArray& b, int64_t arrivalNs = ArrivalClockNs()) {
        return Push(reinterpret_cast<const uint8_t*>(b.constData()), static_cast<size_t>(b.size()),
                    arrivalNs);
    }
    size_t OfferAll(const QByteArray& b, uint32_t events, uint32_t flags, uint64_t lost = 0) {
        return PushAll(reinterpret_cast<const uint8_t*>(b.constData()),
                       static_cast<size_t>(b.size()), ArrivalClockNs(), events, flags, lost);
    }
    bool OfferWaiting(const QByteArray& b, size_t& queued, int64_t arrivalNs = ArrivalClockNs()) {
        return PushWaiting(reinterpret_cast<const uint8_t*>(b.constData()),
                           static_cast<size_t>(b.size()), arrivalNs, 0, 0, 0, queued);
    }
    QByteArray Take(size_t n, ArrivalMarks* marks = nullptr) {
        QByteArray out(static_cast<qsizetype>(n), '\0');
        size_t got = 0;
        EXPECT_EQ(Read(reinterpret_cast<uint8_t*>(out.data()), n, got, marks), 0);
        out.resize(static_cast<qsizetype>(got));
        return out;
    }
    size_t Free() const { return RingFree(); }
    bool ProducerHeld() { return Held(); }
    void Lose(uint32_t flags, uint64_t bytes) { AddErrors(flags, bytes); }
    void Vanish() { MarkLost(ENODEV); }
    int roomMade = 0;

  protected:
    void RoomMade() override { ++roomMade; }
};

constexpr size_t kRing = QueuedDevice::kMinRing;

TEST(ReceiveRing, BytesComeOutInOrderAcrossTheWrap) {
    TestRing ring;
    ring.SetMask(EV_RXCHAR);
    QByteArray sent, got;
    // Offers and reads of changing sizes walk the head around the ring several times; the
    // ring is never quite emptied, so pieces straddle the end of the block.
    int seed = 0;
    for (int round = 0; round < 40; ++round) {
        const int in = 100000 + (round * 37717) % 150000;
        const QByteArray block = trelmo::test::pattern(in, ++seed);
        ASSERT_EQ(ring.Offer(block), static_cast<size_t>(in)) << round;
        sent += block;
        const size_t out = static_cast<size_t>(in - 1 - (round % 7) * 13);
        got += ring.Take(out);
    }
    got += ring.Take(kRing);
    EXPECT_GT(sent.size(), static_cast<qsizetype>(4 * kRing));
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_EQ(trelmo::test::FirstDifference(got, sent), -1);
}

TEST(ReceiveRing, AFullRingTakesWhatFitsAndHoldsTheProducerUntilReadsMakeRoom) {
    TestRing ring;
    ring.SetMask(EV_RXCHAR | EV_ERR);
    const QByteArray first = trelmo::test::pattern(static_cast<int>(kRing) - 10, 1);
    EXPECT_EQ(ring.Offer(first), kRing - 10);
    EXPECT_FALSE(ring.ProducerHeld());
    const QByteArray more = trelmo::test::pattern(100, 2);
    EXPECT_EQ(ring.Offer(more), 10u);  // the rest stays with the producer
    EXPECT_EQ(ring.Free(), 0u);
    EXPECT_TRUE(ring.ProducerHeld());
    EXPECT_EQ(ring.Offer(more.mid(10)), 0u);
    // No error for what was not taken: it was not lost.
    uint32_t errors = 0;
    TVaComStat stat;
    ring.ClearError(errors, stat);
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, kRing);
    EXPECT_EQ(stat.cbLost, 0u);

    // A little room does not release the producer; enough room does, once.
    QByteArray got = ring.Take(1000);
    EXPECT_TRUE(ring.ProducerHeld());
    EXPECT_EQ(ring.roomMade, 0);
    got += ring.Take(QueuedDevice::kResumeRoom - 1000);
    EXPECT_EQ(ring.roomMade, 1);
    EXPECT_FALSE(ring.ProducerHeld());
    EXPECT_EQ(ring.Offer(more.mid(10)), 90u);
    got += ring.Take(kRing);
    EXPECT_EQ(ring.roomMade, 1);  // the producer was not held any more
    EXPECT_EQ(got, first + more);
}

TEST(ReceiveRing, EventsAndFlagsOfAPartialTakeStillArrive) {
    TestRing ring;
    ring.SetMask(EV_RXCHAR | EV_ERR | EV_RING);
    EXPECT_EQ(ring.Offer(QByteArray(static_cast<qsizetype>(kRing), 'a')), kRing);
    uint32_t mask = 0;
    ASSERT_EQ(ring.WaitEvent(mask), 0);
    EXPECT_EQ(mask, EV_RXCHAR);
    // Events, flags and a lost count offered with bytes that do not fit still arrive.
    EXPECT_EQ(ring.OfferAll("bc", EV_RING, CE_FRAME, 2), 0u);
    mask = 0;
    ASSERT_EQ(ring.WaitEvent(mask), 0);
    EXPECT_EQ(mask, EV_ERR | EV_RING);
    EXPECT_TRUE(ring.ProducerHeld());
    uint32_t errors = 0;
    TVaComStat stat;
    ring.ClearError(errors, stat);
    EXPECT_EQ(errors, static_cast<uint32_t>(CE_FRAME));
    EXPECT_EQ(stat.cbLost, 2u);
    EXPECT_EQ(stat.cbInQue, kRing);
}

TEST(ReceiveRing, BytesLeftAfterAReadRaiseAnotherReceivedEvent) {
    TestRing ring;
    ring.SetMask(EV_RXCHAR);
    ring.Offer(QByteArray(static_cast<qsizetype>(kRing), 'x'));
    uint32_t mask = 0;
    ASSERT_EQ(ring.WaitEvent(mask), 0);
    // A full, held ring read in small steps: each read that leaves bytes raises the event.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ring.Take(10000).size(), 10000);
        mask = 0;
        ASSERT_EQ(ring.WaitEvent(mask), 0);
        EXPECT_EQ(mask, EV_RXCHAR);
    }
}

TEST(ReceiveRing, GrowingTheRingKeepsWrappedBytesInOrderAndReleasesTheProducer) {
    TestRing ring;
    const QByteArray a = trelmo::test::pattern(static_cast<int>(kRing) - 1000, 3);
    ASSERT_EQ(ring.Offer(a), static_cast<size_t>(a.size()));
    QByteArray got = ring.Take(5000);
    // This piece wraps around the end of the block.
    const QByteArray b = trelmo::test::pattern(6000, 4);
    EXPECT_EQ(ring.Offer(b), 6000u);
    EXPECT_EQ(ring.Offer("c"), 0u);
    EXPECT_TRUE(ring.ProducerHeld());
    EXPECT_EQ(ring.Setup(2 * kRing, 0), 0);
    EXPECT_EQ(ring.RingCapacity(), 2 * kRing);
    EXPECT_EQ(ring.roomMade, 1);
    EXPECT_FALSE(ring.ProducerHeld());
    EXPECT_EQ(ring.Offer("c"), 1u);
    got += ring.Take(2 * kRing);
    EXPECT_EQ(trelmo::test::FirstDifference(got, a + b + "c"), -1);
    // A smaller queue size never shrinks it.
    EXPECT_EQ(ring.Setup(4096, 0), 0);
    EXPECT_EQ(ring.RingCapacity(), 2 * kRing);
}

TEST(ReceiveRing, LostBytesAreCountedUntilTheStatusIsCleared) {
    TestRing ring;
    ring.SetMask(EV_ERR);
    ring.Lose(CE_OVERRUN, 3);
    ring.Lose(CE_RXOVER, 40);
    uint32_t mask = 0;
    ASSERT_EQ(ring.WaitEvent(mask), 0);
    EXPECT_EQ(mask, EV_ERR);
    uint32_t errors = 0;
    TVaComStat stat;
    EXPECT_EQ(ring.ClearError(errors, stat), 0);
    EXPECT_EQ(errors, static_cast<uint32_t>(CE_OVERRUN | CE_RXOVER));
    EXPECT_EQ(stat.cbLost, 43u);
    EXPECT_EQ(ring.ClearError(errors, stat), 0);
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbLost, 0u);
    ring.Close();
    stat.cbLost = 99;
    EXPECT_EQ(ring.ClearError(errors, stat), EBADF);
    EXPECT_EQ(stat.cbLost, 0u);
}

TEST(ReceiveRing, AWaitingProducerQueuesEverythingAsReadsMakeRoom) {
    TestRing ring;
    const QByteArray data = trelmo::test::pattern(3 * static_cast<int>(kRing) + 12345, 5);
    std::atomic<bool> done{false};
    bool all = false;
    size_t queued = 0;
    std::thread producer([&] {
        all = ring.OfferWaiting(data, queued);
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return ring.Free() == 0; }));
    EXPECT_FALSE(done);
    QByteArray got;
    EXPECT_TRUE(pumpUntil(
        [&] {
            got += ring.Take(30000);
            return got.size() >= data.size();
        },
        60000));
    if (!done)
        ring.Close();
    producer.join();
    EXPECT_TRUE(all);
    EXPECT_EQ(queued, static_cast<size_t>(data.size()));
    EXPECT_EQ(trelmo::test::FirstDifference(got, data), -1);
}

TEST(ReceiveRing, AWaitingProducerGivesUpWhenTheDeviceClosesOrVanishes) {
    for (bool vanish : {false, true}) {
        TestRing ring;
        const QByteArray data = trelmo::test::pattern(2 * static_cast<int>(kRing), 6);
        std::atomic<bool> done{false};
        bool all = true;
        size_t queued = 0;
        std::thread producer([&] {
            all = ring.OfferWaiting(data, queued);
            done = true;
        });
        EXPECT_TRUE(pumpUntil([&] { return ring.Free() == 0; }));
        EXPECT_FALSE(done);
        if (vanish)
            ring.Vanish();
        else
            ring.Close();
        producer.join();
        EXPECT_FALSE(all) << vanish;
        EXPECT_EQ(queued, kRing) << vanish;
        size_t again = 7;
        EXPECT_FALSE(ring.OfferWaiting("x", again)) << vanish;
        EXPECT_EQ(again, 0u);
    }
}

// --- arrival marks ---

using Marks = ArrivalMarks;

TEST(ReceiveRing, EachReadGetsTheArrivalTimesOfTheBytesItTakes) {
    TestRing ring;
    ring.Offer("aaaa", 100);
    ring.Offer("bbb", 200);
    ring.Offer("cc", 300);
    Marks marks{{7, 7}};  // whatever the caller held is replaced
    EXPECT_EQ(ring.Take(2, &marks), "aa");
    EXPECT_EQ(marks, (Marks{{0, 100}}));
    // A block that starts inside one chunk and ends inside the next.
    EXPECT_EQ(ring.Take(4, &marks), "aabb");
    EXPECT_EQ(marks, (Marks{{0, 100}, {2, 200}}));
    EXPECT_EQ(ring.Take(100, &marks), "bcc");
    EXPECT_EQ(marks, (Marks{{0, 200}, {1, 300}}));
    // Nothing to read: no marks.
    EXPECT_EQ(ring.Take(100, &marks), "");
    EXPECT_TRUE(marks.empty());
    // An emptied ring starts afresh; chunks of one arrival share a mark.
    ring.Offer("d", 400);
    ring.Offer("ee", 400);
    ring.Offer("f", 500);
    EXPECT_EQ(ring.Take(100, &marks), "deef");
    EXPECT_EQ(marks, (Marks{{0, 400}, {3, 500}}));
    // A read without marks still moves them on.
    ring.Offer("gg", 600);
    ring.Offer("h", 700);
    EXPECT_EQ(ring.Take(1), "g");
    EXPECT_EQ(ring.Take(100, &marks), "gh");
    EXPECT_EQ(marks, (Marks{{0, 600}, {1, 700}}));
}

TEST(ReceiveRing, MarksFollowTheirBytesAcrossTheWrapAndAGrowingRing) {
    TestRing ring;
    const QByteArray a = trelmo::test::pattern(static_cast<int>(kRing) - 100, 1);
    ASSERT_EQ(ring.Offer(a, 1), static_cast<size_t>(a.size()));
    Marks marks;
    ring.Take(static_cast<size_t>(a.size()) - 10, &marks);
    EXPECT_EQ(marks, (Marks{{0, 1}}));
    // This chunk wraps around the end of the block.
    ASSERT_EQ(ring.Offer(QByteArray(500, 'w'), 2), 500u);
    ring.Offer("z", 3);
    ASSERT_EQ(ring.Setup(2 * kRing, 0), 0);
    EXPECT_EQ(ring.Take(kRing, &marks), a.right(10) + QByteArray(500, 'w') + "z");
    EXPECT_EQ(marks, (Marks{{0, 1}, {10, 2}, {510, 3}}));
}

TEST(ReceiveRing, BytesHeldBackKeepTheTimeTheyArrived) {
    TestRing ring;
    ASSERT_EQ(ring.Offer(QByteArray(static_cast<qsizetype>(kRing) - 2, 'x'), 10), kRing - 2);
    // The producer read "abcd" at 20; the ring takes two bytes, the rest comes once read
    // room is made, with the time it was read.
    EXPECT_EQ(ring.Offer("abcd", 20), 2u);
    ring.Take(QueuedDevice::kResumeRoom);
    EXPECT_EQ(ring.Offer("cd", 20), 2u);
    ring.Offer("e", 30);
    Marks marks;
    const QByteArray rest = ring.Take(kRing, &marks);
    const size_t x = kRing - 2 - QueuedDevice::kResumeRoom;
    EXPECT_EQ(rest.right(5), "abcde");
    EXPECT_EQ(marks, (Marks{{0, 10}, {x, 20}, {x + 4, 30}}));

    // A waiting producer's bytes keep the time of its call, also those that had to wait.
    ASSERT_EQ(ring.Offer(QByteArray(static_cast<qsizetype>(kRing) - 2, 'y'), 40), kRing - 2);
    std::atomic<bool> done{false};
    std::thread producer([&] {
        size_t queued = 0;
        ring.OfferWaiting("late", queued, 50);
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return ring.Free() == 0; }));  // "la" is in, "te" waits
    EXPECT_EQ(ring.Take(kRing, &marks).right(2), "la");
    EXPECT_EQ(marks, (Marks{{0, 40}, {kRing - 2, 50}}));
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
    producer.join();
    EXPECT_EQ(ring.Take(kRing, &marks), "te");
    EXPECT_EQ(marks, (Marks{{0, 50}}));
}

TEST(ReceiveRing, ManySmallChunksKeepABoundedListOfTrueMarks) {
    TestRing ring;
    // One byte per chunk, each with a time of its own: far more chunks than marks kept.
    const int chunks = 3 * static_cast<int>(QueuedDevice::kMaxMarks) + 17;
    auto timeOf = [](size_t i) { return static_cast<int64_t>(1000 + 10 * i); };
    for (int i = 0; i < chunks; ++i)
        ASSERT_EQ(ring.Offer(QByteArray(1, 'm'), timeOf(static_cast<size_t>(i))), 1u);
    Marks marks;
    // A first read inside the chunks, then the rest in one.
    ring.Take(5, &marks);
    EXPECT_EQ(marks.front(), (ArrivalMark{0, timeOf(0)}));
    ASSERT_EQ(ring.Take(kRing, &marks).size(), chunks - 5);
    EXPECT_LE(marks.size(), QueuedDevice::kMaxMarks);
    // Thinned, not thrown away.
    EXPECT_GE(marks.size(), QueuedDevice::kMaxMarks / 4);
    // The first byte of the block has a mark; every mark is one of a chunk that starts
    // there, so no byte gets a time later than its own; the newest chunk keeps its mark.
    ASSERT_FALSE(marks.empty());
    EXPECT_EQ(marks.front().offset, 0u);
    for (size_t i = 0; i < marks.size(); ++i) {
        if (i == 0) {
            EXPECT_LE(marks[i].ns, timeOf(5));
            continue;
        }
        EXPECT_GT(marks[i].offset, marks[i - 1].offset) << i;
        // The block starts at byte 5 of the stream.
        EXPECT_EQ(marks[i].ns, timeOf(marks[i].offset + 5)) << i;
    }
    EXPECT_EQ(marks.back(), (ArrivalMark{static_cast<size_t>(chunks - 6),
                                         timeOf(static_cast<size_t>(chunks - 1))}));
}

}  // namespace
