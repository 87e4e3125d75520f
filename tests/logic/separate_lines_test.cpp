// Lines of their own in the pane: a report that waits for the line in progress to end instead of
// cutting it, and the echo of sent bytes ("> " and the bytes in the received notation, marked
// as sent), held the same way, kept out of the byte search; the text log has the same lines in
// the same places as the pane, whatever the blocks and the modes.
#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QSignalSpy>

#include "core/Codec.h"
#include "core/capture/LogWriter.h"
#include "core/receive/PaneSearch.h"
#include "core/receive/ReceiveFormatter.h"

using namespace trelmo;
using Kind = PaneModel::Kind;

namespace {

struct Capture {
    PaneModel pane;
    ByteTableModel table;
    ReceiveFormatter fmt{pane, table};
    ReceiveState st;
    void take(QByteArrayView bytes, bool hex = false,
              const LinkPolicy& policy = LinkPolicy::serial()) {
        fmt.receiveBlock(st, bytes, policy, hex);
    }
    void report(const QString& text) { pane.addSeparateLine(text, st.LineIndex, 42); }
    void echo(QByteArrayView bytes, Kind kind = Kind::Text) {
        pane.addSentLines(kind, bytes, st.LineIndex, 43);
    }
};

qsizetype countAll(PaneFinder& f) {
    while (!f.countSome(1000000000)) {
    }
    return f.count();
}

}  // namespace

TEST(SeparateLines, AReportWaitsForTheLineInProgressToEnd) {
    Capture c;
    c.take("first\npart");
    c.report("lost 3");
    // Nothing is cut: the report waits.
    EXPECT_EQ(c.pane.lines(), QStringList({"first", "part"}));
    EXPECT_EQ(c.pane.heldLineCount(), 1);
    c.take("ial");
    EXPECT_EQ(c.pane.lines(), QStringList({"first", "partial"}));
    // The line ends: the report follows it, the next text starts a line of its own.
    c.take(" end\r\nnext");
    EXPECT_EQ(c.pane.lines(), QStringList({"first", "partial end<CR>", "lost 3", "next"}));
    EXPECT_EQ(c.pane.heldLineCount(), 0);
    EXPECT_EQ(c.pane.lineTime(2), 42);
    EXPECT_EQ(c.st.LineIndex, 3);
    // No line in progress: at once, by the rule of whole lines.
    c.take("\n");
    c.report("lost 1");
    EXPECT_EQ(c.pane.lines(),
              QStringList({"first", "partial end<CR>", "lost 3", "next", "lost 1", ""}));
    EXPECT_EQ(c.st.LineIndex, 5);
    // Reports that wait keep their order; a line break in hex mode lets them out too.
    c.take("x", true);
    c.report("a");
    c.report("b");
    c.take("\ny", true);
    EXPECT_EQ(c.pane.lines().mid(5), QStringList({"0x78 ", "a", "b", "0x0A 0x79 "}));
    // The received bytes are all there, none of the reports.
    EXPECT_EQ(c.table.bytes(), QByteArray("first\npartial end\r\nnext\nx\ny"));
}

TEST(SeparateLines, AnEmptiedPaneStartsWithTheLinesThatWaited) {
    Capture c;
    c.take("half");
    c.report("lost 9");
    c.pane.clear();
    c.st.LineIndex = 0;
    EXPECT_EQ(c.pane.heldLineCount(), 1);
    c.pane.releaseHeld(c.st.LineIndex);
    EXPECT_EQ(c.pane.lines(), QStringList({"lost 9", ""}));
    EXPECT_EQ(c.st.LineIndex, 1);
    c.take("new\n");
    EXPECT_EQ(c.pane.lines(), QStringList({"lost 9", "new", ""}));
}

TEST(SeparateLines, EchoLinesAreMarkedAndShowTheReceivedNotation) {
    Capture c;
    c.echo("AT\r\n");
    EXPECT_EQ(c.pane.lines(), QStringList({"> AT<CR>", ""}));
    EXPECT_TRUE(c.pane.isSentLine(0));
    EXPECT_FALSE(c.pane.isSentLine(1));
    EXPECT_EQ(c.pane.lineTime(0), 43);
    c.take("OK\r\n");
    EXPECT_EQ(c.pane.lines(), QStringList({"> AT<CR>", "OK<CR>", ""}));
    EXPECT_FALSE(c.pane.isSentLine(1));
    // Hex, every byte (serial): one line, byte 10 included; hex with names: 10 ends a line.
    c.echo(QByteArrayView("A\nB\x02", 4), Kind::HexEvery);
    c.echo(QByteArrayView("C\n\x05\n", 4), Kind::HexNamed);
    EXPECT_EQ(c.pane.lines().mid(2),
              QStringList({"> 0x41 0x0A 0x42 0x02 ", "> 0x43 ", "> <ENQ>", ""}));
    // A line in progress: the echo waits for its end, and never takes received text.
    c.take("prompt> ");
    c.echo("ls\r");
    c.take("ls");
    EXPECT_EQ(c.pane.lines().mid(5), QStringList({"prompt> ls"}));
    c.take("\r\nfile\r\n");
    EXPECT_EQ(c.pane.lines().mid(5), QStringList({"prompt> ls<CR>", "> ls<CR>", "file<CR>", ""}));
    EXPECT_TRUE(c.pane.isSentLine(6));
    // Not received: not counted, not in the table or the check sum.
    EXPECT_EQ(c.st.ReceivedCount, 4 + 8 + 2 + 8);
    EXPECT_EQ(c.table.bytes(), QByteArray("OK\r\nprompt> ls\r\nfile\r\n"));
    uint8_t sum = 0;
    for (char b : c.table.bytes())
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(b));
    EXPECT_EQ(c.st.CheckSum, sum);
}

TEST(SeparateLines, TheByteSearchLeavesEchoLinesOut) {
    Capture c;
    c.echo("AT\r");
    c.take("AT\r\n");
    c.echo("ATZ\r");
    PaneFinder bytes(c.pane);
    ASSERT_EQ(bytes.setQuery(FindQuery{FindQuery::Input::Hex, "41 54", false}), FindError::None);
    EXPECT_EQ(countAll(bytes), 1);
    const auto found = bytes.findNext({}, false);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->start, (PanePosition{1, 0}));
    // The text search finds what is shown, the echo's characters too.
    PaneFinder text(c.pane);
    ASSERT_EQ(text.setQuery(FindQuery{FindQuery::Input::Text, "AT", false}), FindError::None);
    EXPECT_EQ(countAll(text), 3);
    std::vector<MatchSpan> spans;
    text.spansOnLine(0, 0, 100, spans);
    EXPECT_EQ(spans, (std::vector<MatchSpan>{{2, 4, false}}));
}

// Whatever arrives and is sent, in whatever blocks and modes, the text log's lines are the
// pane's lines, the echo lines in the same places.
TEST(SeparateLines, TheTextLogHasThePanesEchoLines) {
    for (quint32 seed = 1; seed <= 12; ++seed) {
        QRandomGenerator gen(seed);
        Capture c;
        LogTextLines lines;
        QByteArray log;
        const LinkPolicy* policies[] = {&LinkPolicy::serial(), &LinkPolicy::tcpClient(),
                                        &LinkPolicy::tcpListener()};
        for (int step = 0; step < 400; ++step) {
            QByteArray bytes(1 + gen.bounded(40), Qt::Uninitialized);
            for (char& b : bytes) {
                const int pick = gen.bounded(100);
                b = pick < 10   ? '\n'
                    : pick < 14 ? '\r'
                    : pick < 18 ? static_cast<char>(gen.bounded(7))
                    : pick < 22 ? static_cast<char>(128 + gen.bounded(128))
                                : static_cast<char>(32 + gen.bounded(95));
            }
            const LinkPolicy& policy = *policies[gen.bounded(3)];
            const bool hex = gen.bounded(3) == 0;
            const Kind kind = ReceiveFormatter::paneKind(policy, hex);
            if (gen.bounded(4) == 0) {
                c.echo(bytes, kind);
                lines.addSent(bytes, kind, std::nullopt, log);
            } else {
                c.take(bytes, hex, policy);
                lines.add(bytes, kind, std::nullopt, log);
            }
        }
        // A last line break ends the line in progress in both, the echoes that waited after it.
        c.take("\n");
        lines.add("\n", Kind::Text, std::nullopt, log);
        EXPECT_EQ(c.pane.heldLineCount(), 0);
        QStringList expected = c.pane.lines();
        ASSERT_TRUE(expected.last().isEmpty());
        expected.removeLast();
        ASSERT_TRUE(log.endsWith("\r\n"));
        const QStringList logged = codec::toUnicode(log.chopped(2)).split(QStringLiteral("\r\n"));
        ASSERT_EQ(logged.size(), expected.size()) << "seed " << seed;
        for (qsizetype i = 0; i < expected.size(); ++i)
            ASSERT_EQ(logged[i], expected[i]) << "seed " << seed << " line " << i;
    }
}
