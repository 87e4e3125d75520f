// Line times and time stamps: the stamp clock's texts, the time each pane line keeps (the
// arrival of its first byte, or when a message was added), the line ends the pane remembers,
// and the hex mode's packet framing by idle gaps between chunks.
#include <gtest/gtest.h>

#include <vector>

#include "core/receive/PaneModel.h"
#include "core/receive/ReceiveFormatter.h"
#include "core/receive/TimeStamps.h"

using namespace trelmo;

namespace {

constexpr int64_t kMs = 1000000;

// The pane and table a formatter writes to.
struct Receiver {
    PaneModel pane;
    ByteTableModel table;
    ReceiveFormatter fmt{pane, table};
    ReceiveState st;
    void take(QByteArrayView bytes, std::vector<ArrivalTime> arrivals, bool hex = false,
              const LinkPolicy& policy = LinkPolicy::serial()) {
        fmt.receiveBlock(st, bytes, policy, hex, LineParity::None, arrivals);
    }
    std::vector<int64_t> times() const {
        std::vector<int64_t> out;
        for (int i = 0; i < pane.lineCount(); ++i)
            out.push_back(pane.lineTime(i));
        return out;
    }
};

}  // namespace

TEST(StampClock, TextsAreTheAnchorsTimeOfDayPlusTheSteadyTime) {
    StampClock clock;
    const int64_t base = 5000 * kMs;
    clock.setAnchor(QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26)), base);
    EXPECT_EQ(clock.stampText(base), "[15:09:26.000] ");
    EXPECT_EQ(clock.stampText(base + 1234 * kMs + 567890), "[15:09:27.234] ");
    // Before the anchor: the millisecond before, not after.
    EXPECT_EQ(clock.stampText(base - 1), "[15:09:25.999] ");
    EXPECT_EQ(clock.stampText(base + (3600 + 2 * 60) * 1000 * kMs), "[16:11:26.000] ");
    EXPECT_EQ(clock.stampText(base).size(), StampClock::kStampLength);
    EXPECT_EQ(StampClock::widestStamp().size(), StampClock::kStampLength);

    // Over midnight the time of day starts again.
    clock.setAnchor(QDateTime(QDate(2026, 3, 14), QTime(23, 59, 59, 500)), base);
    EXPECT_EQ(clock.stampText(base + 1000 * kMs), "[00:00:00.500] ");
    EXPECT_EQ(clock.msOfDay(base + 1000 * kMs), 500);
}

TEST(StampClock, AnchoredAtConstructionOnTheSteadyClock) {
    const int64_t before = steadyNowNs();
    StampClock clock;
    const int64_t after = steadyNowNs();
    EXPECT_GE(clock.anchorSteadyNs(), before);
    EXPECT_LE(clock.anchorSteadyNs(), after);
    EXPECT_TRUE(clock.anchorWall().isValid());
}

TEST(LineTimes, EachLineGetsTheArrivalOfItsFirstByte) {
    Receiver r;
    // "AB\r\n" came at 10 ms, "CD\r\nE" at 20 ms, "F" at 30 ms.
    r.take("AB\r\nCD\r\nEF", {{0, 10 * kMs}, {4, 20 * kMs}, {9, 30 * kMs}});
    EXPECT_EQ(r.pane.lines(), QStringList({"AB<CR>", "CD<CR>", "EF"}));
    EXPECT_EQ(r.times(), (std::vector<int64_t>{10 * kMs, 20 * kMs, 20 * kMs}));
    // A line over two blocks keeps the time of its first byte.
    r.take("G\n", {{0, 40 * kMs}});
    EXPECT_EQ(r.pane.lines(), QStringList({"AB<CR>", "CD<CR>", "EFG", ""}));
    EXPECT_EQ(r.pane.lineTime(2), 20 * kMs);
    // The empty last line has no time until a byte arrives for it.
    EXPECT_EQ(r.pane.lineTime(3), PaneModel::kNoTime);
    // A line that holds nothing takes the time of the line feed that ended it.
    r.take("\nH", {{0, 50 * kMs}, {1, 60 * kMs}});
    EXPECT_EQ(r.pane.lines(), QStringList({"AB<CR>", "CD<CR>", "EFG", "", "H"}));
    EXPECT_EQ(r.pane.lineTime(3), 50 * kMs);
    EXPECT_EQ(r.pane.lineTime(4), 60 * kMs);
}

TEST(LineTimes, HexModeLineFeedStartsItsLineWithItsOwnTime) {
    Receiver r;
    r.take("A\r", {{0, 1 * kMs}}, true);
    r.take("\nB", {{0, 2 * kMs}}, true);
    EXPECT_EQ(r.pane.lines(), QStringList({"0x41 0x0D ", "0x0A 0x42 "}));
    EXPECT_EQ(r.times(), (std::vector<int64_t>{1 * kMs, 2 * kMs}));
}

TEST(LineTimes, WithoutArrivalsABlockArrivesWhenItIsTaken) {
    Receiver r;
    const int64_t before = steadyNowNs();
    r.take("A\nB", {});
    const int64_t after = steadyNowNs();
    ASSERT_EQ(r.pane.lineCount(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_GE(r.pane.lineTime(i), before) << i;
        EXPECT_LE(r.pane.lineTime(i), after) << i;
    }
}

TEST(LineTimes, MessageLinesKeepWhenTheyWereAdded) {
    PaneModel p;
    int idx = 0;
    p.appendReceived(idx, PaneModel::Kind::Text, "AB", 5);
    p.addLine(u"message", idx, 7);  // behind the partly received line: a line of its own
    EXPECT_EQ(p.lines(), QStringList({"AB", "message"}));
    EXPECT_EQ(p.lineTime(0), 5);
    EXPECT_EQ(p.lineTime(1), 7);
    // Received bytes on the message line do not change its time.
    p.appendReceived(idx, PaneModel::Kind::Text, "C", 9);
    EXPECT_EQ(p.lineTime(1), 7);
    p.addLineBreak(idx, true, 9);
    // On an empty last line the message takes that line and its time.
    p.addLine(u"second", idx, 11);
    EXPECT_EQ(p.lines(), QStringList({"AB", "messageC", "second", ""}));
    EXPECT_EQ(p.lineTime(2), 11);
    EXPECT_EQ(p.lineTime(3), PaneModel::kNoTime);
    EXPECT_TRUE(p.endsWithLineFeed(1));
    p.clear();
    EXPECT_EQ(p.lineTime(0), PaneModel::kNoTime);
}

TEST(LineTimes, ThePaneRemembersLinesEndedByALineFeedItDoesNotShow) {
    Receiver text;
    text.take("A\r\n\nB", {});
    EXPECT_EQ(text.pane.lines(), QStringList({"A<CR>", "", "B"}));
    EXPECT_TRUE(text.pane.endsWithLineFeed(0));
    EXPECT_TRUE(text.pane.endsWithLineFeed(1));
    EXPECT_FALSE(text.pane.endsWithLineFeed(2));

    // The hex mode that writes every byte keeps the line feed itself.
    Receiver hex;
    hex.take("A\nB", {}, true);
    EXPECT_EQ(hex.pane.lines(), QStringList({"0x41 ", "0x0A 0x42 "}));
    EXPECT_FALSE(hex.pane.endsWithLineFeed(0));

    // TCP's hex mode shows names and drops the line feed.
    Receiver tcp;
    tcp.take("A\nB", {}, true, LinkPolicy::tcpClient());
    EXPECT_EQ(tcp.pane.lines(), QStringList({"0x41 ", "0x42 "}));
    EXPECT_TRUE(tcp.pane.endsWithLineFeed(0));
}

TEST(PacketGap, AnIdleGapStartsANewLineInHexMode) {
    Receiver r;
    r.fmt.setPacketGap(20 * kMs);
    // Two packets 100 ms apart: two lines, each with its own time.
    r.take("\x01\x02\x03", {{0, 1000 * kMs}}, true);
    r.take("\x04\x05", {{0, 1100 * kMs}}, true);
    EXPECT_EQ(r.pane.lines(), QStringList({"0x01 0x02 0x03 ", "0x04 0x05 "}));
    EXPECT_EQ(r.times(), (std::vector<int64_t>{1000 * kMs, 1100 * kMs}));
    EXPECT_FALSE(r.pane.endsWithLineFeed(0));
    // Closer than the gap: the same line.
    r.take("\x06", {{0, 1110 * kMs}}, true);
    EXPECT_EQ(r.pane.lines(), QStringList({"0x01 0x02 0x03 ", "0x04 0x05 0x06 "}));
    // Exactly the gap starts a new line too.
    r.take("\x07", {{0, 1130 * kMs}}, true);
    EXPECT_EQ(r.pane.lineCount(), 3);
    EXPECT_EQ(r.pane.line(2), "0x07 ");
    // The counters and the table see every byte, framed or not.
    EXPECT_EQ(r.st.ReceivedCount, 7);
    EXPECT_EQ(r.table.receivedCount(), 7);
}

TEST(PacketGap, LinesBreakOnlyBetweenChunksNeverInsideOne) {
    Receiver r;
    r.fmt.setPacketGap(20 * kMs);
    // One block of three chunks: the first two 5 ms apart, the third 50 ms later.
    r.take("ABCDEFGHI", {{0, 100 * kMs}, {3, 105 * kMs}, {6, 155 * kMs}}, true);
    EXPECT_EQ(r.pane.lines(), QStringList({"0x41 0x42 0x43 0x44 0x45 0x46 ", "0x47 0x48 0x49 "}));
    EXPECT_EQ(r.times(), (std::vector<int64_t>{100 * kMs, 155 * kMs}));
    // One chunk read in two blocks (a block holds at most the read's size) keeps its time on
    // both: no gap between them, whatever the time between the reads.
    r.take(QByteArray(300, 'x'), {{0, 400 * kMs}}, true);
    r.take(QByteArray(200, 'x'), {{0, 400 * kMs}}, true);
    EXPECT_EQ(r.pane.lineCount(), 3);
    EXPECT_EQ(r.pane.lineBytes(2), 500);
}

TEST(PacketGap, LineFeedsStillBreakAndEmptyLinesAreNotAdded) {
    Receiver r;
    r.fmt.setPacketGap(20 * kMs);
    r.take("A\n", {{0, 0}}, true, LinkPolicy::tcpClient());
    // A gap on the empty line after a line feed adds no line.
    r.take("B", {{0, 500 * kMs}}, true, LinkPolicy::tcpClient());
    EXPECT_EQ(r.pane.lines(), QStringList({"0x41 ", "0x42 "}));
}

TEST(PacketGap, NotInTextModeNorWhenOff) {
    Receiver text;
    text.fmt.setPacketGap(20 * kMs);
    text.take("AB", {{0, 0}});
    text.take("CD", {{0, 500 * kMs}});
    EXPECT_EQ(text.pane.lines(), QStringList({"ABCD"}));

    Receiver off;
    off.take("AB", {{0, 0}}, true);
    off.take("CD", {{0, 500 * kMs}}, true);
    EXPECT_EQ(off.pane.lines(), QStringList({"0x41 0x42 0x43 0x44 "}));
}
