// The pane model: the add-a-line rule with its line index, appending to a line, clearing,
// the text read-back, the change signals and the compact store behind it.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <random>

#include "core/receive/PaneModel.h"

using namespace trelmo;

TEST(PaneModel, EmptyPaneReadsAsEmptyText) {
    PaneModel p;
    EXPECT_TRUE(p.isEmpty());
    EXPECT_EQ(p.text(), QString());
    EXPECT_EQ(p.lineCount(), 0);
    EXPECT_EQ(p.line(0), QString());
    p.appendToLine(0, QStringView());  // an empty text adds nothing
    EXPECT_TRUE(p.isEmpty());
}

TEST(PaneModel, AddLineOnEmptyPaneLeavesAnEmptyLineBelow) {
    PaneModel p;
    int idx = 0;
    QSignalSpy grown(&p, &PaneModel::grown);
    p.addLine(u"first", idx);
    EXPECT_EQ(idx, 1);
    EXPECT_EQ(p.lines(), QStringList({"first", ""}));
    EXPECT_EQ(p.text(), QStringLiteral("first\n"));
    ASSERT_EQ(grown.count(), 1);
    EXPECT_EQ(grown[0][0].toInt(), 0);
    // The last line is empty: it takes the next line's text, another empty line follows.
    p.addLine(u"second", idx);
    EXPECT_EQ(idx, 2);
    EXPECT_EQ(p.lines(), QStringList({"first", "second", ""}));
}

TEST(PaneModel, AddLineBehindPartialLineBecomesTheLastLine) {
    PaneModel p;
    int idx = 0;
    p.appendToLine(idx, u"partial");
    QSignalSpy grown(&p, &PaneModel::grown);
    p.addLine(u"message", idx);
    EXPECT_EQ(idx, 1);
    EXPECT_EQ(p.lines(), QStringList({"partial", "message"}));
    p.appendToLine(idx, u" more");
    EXPECT_EQ(p.lines(), QStringList({"partial", "message more"}));
    ASSERT_EQ(grown.count(), 2);
    EXPECT_EQ(grown[0][0].toInt(), 1);  // the first line is untouched
    EXPECT_EQ(grown[1][0].toInt(), 1);
}

TEST(PaneModel, EmptyLinesOfLineBreaks) {
    PaneModel p;
    int idx = 0;
    p.appendToLine(idx, u"A");
    p.addEmptyLine(idx);
    p.addEmptyLine(idx);
    p.appendToLine(idx, u"B");
    EXPECT_EQ(idx, 2);
    EXPECT_EQ(p.lines(), QStringList({"A", "", "B"}));
    EXPECT_EQ(p.text(), QStringLiteral("A\n\nB"));
}

TEST(PaneModel, AppendPastTheEndExtendsWithEmptyLines) {
    PaneModel p;
    QSignalSpy grown(&p, &PaneModel::grown);
    p.appendToLine(2, u"x");
    EXPECT_EQ(p.lines(), QStringList({"", "", "x"}));
    ASSERT_EQ(grown.count(), 1);
    p.appendToLine(-1, u"ignored");
    EXPECT_EQ(p.text(), QStringLiteral("\n\nx"));
}

TEST(PaneModel, ClearEmptiesAndSignals) {
    PaneModel p;
    int idx = 0;
    p.addLine(u"one", idx);
    p.appendToLine(idx, u"two");
    QSignalSpy cleared(&p, &PaneModel::cleared);
    p.clear();
    EXPECT_EQ(cleared.count(), 1);
    EXPECT_TRUE(p.isEmpty());
    EXPECT_EQ(p.text(), QString());
    idx = 0;
    p.addLine(u"again", idx);
    EXPECT_EQ(p.lines(), QStringList({"again", ""}));
}

TEST(PaneModel, LinesBeforeTheLastNeverChange) {
    // Text goes to the last line only: an earlier line is left as it is.
    PaneModel p;
    int idx = 0;
    p.appendReceived(idx, PaneModel::Kind::HexEvery, "AB");
    p.addEmptyLine(idx);
    p.appendReceived(idx, PaneModel::Kind::Text, QByteArrayView("C\rD", 3));
    p.addLine(u"msg \u00e9", idx);
    QSignalSpy grown(&p, &PaneModel::grown);
    p.appendToLine(0, u"+");
    p.appendReceived(1, PaneModel::Kind::HexNamed, QByteArrayView("\x01\x7f", 2));
    EXPECT_EQ(p.lines(), QStringList({"0x41 0x42 ", "C<CR>D", "msg \u00e9"}));
    EXPECT_EQ(grown.count(), 0);
    p.appendToLine(2, u"!");
    EXPECT_EQ(p.line(2), QStringLiteral("msg \u00e9!"));
}

TEST(PaneModel, ReceivedBytesShowByTheirKindAndKeepOneByteEach) {
    PaneModel p;
    int idx = 0;
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    // Text mode drops byte 10 (it breaks lines elsewhere); hex every byte keeps it.
    p.appendReceived(idx, PaneModel::Kind::Text, all);
    p.addEmptyLine(idx);
    p.appendReceived(idx, PaneModel::Kind::HexEvery, all);
    p.addEmptyLine(idx);
    p.appendReceived(idx, PaneModel::Kind::HexNamed, all);
    QString text, hexEvery, hexNamed;
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<uint8_t>(b);
        const QString hex =
            QStringLiteral("0x%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper().replace("0X", "0x");
        hexEvery += hex;
        static const char* const names[] = {"<NUL>", "<SOH>", "<STX>", "<ETX>",
                                            "<EOT>", "<ENQ>", "<ACK>"};
        if (b <= 6)
            text += QLatin1String(names[b]);
        else if (b == 13)
            text += QStringLiteral("<CR>");
        else if (b != 10)
            text += PaneModel::unitText(PaneModel::Kind::Literal, byte);
        if (b >= 1 && b <= 6)
            hexNamed += QLatin1String(names[b]);
        else if (b == 13)
            hexNamed += QStringLiteral("<CR>");
        else if (b != 10)
            hexNamed += hex;
    }
    EXPECT_EQ(p.lines(), QStringList({text, hexEvery, hexNamed}));
    EXPECT_EQ(p.lineBytes(0), 255);
    EXPECT_EQ(p.lineBytes(1), 256);
    // The Windows-1252 characters: 0x80 is the euro sign, 0x81 (unassigned) stays itself.
    EXPECT_EQ(PaneModel::unitText(PaneModel::Kind::Literal, 0x80), QStringView(u"\u20ac"));
    EXPECT_EQ(PaneModel::unitText(PaneModel::Kind::Literal, 0x81), QStringView(u"\u0081"));

    // A hex-mode capture costs about one byte a received byte, not five characters.
    PaneModel big;
    int bigIdx = 0;
    std::mt19937 rng(2);
    QByteArray line(63, 'x');
    for (int i = 0; i < 100000; ++i) {
        for (char& c : line) {
            c = static_cast<char>(rng() % 256);
            if (c == '\n')
                c = 11;
        }
        big.appendReceived(bigIdx, PaneModel::Kind::HexEvery, line);
        big.addEmptyLine(bigIdx);
    }
    const double perByte = double(big.memoryUsage()) / (100000.0 * 64);
    EXPECT_LT(perByte, 1.3);
    EXPECT_EQ(big.line(50000).size(), 63 * 5);
}

TEST(PaneModel, MessagesOutsideTheCodePageAndTheReaderWalk) {
    PaneModel p;
    int idx = 0;
    const QString wide = QStringLiteral("host \u0416\u4e2d \U0001F600 end");
    p.appendReceived(idx, PaneModel::Kind::Text, "ab");
    p.appendToLine(idx, wide);
    p.appendReceived(idx, PaneModel::Kind::HexEvery, "c");
    EXPECT_EQ(p.line(0), QStringLiteral("ab") + wide + QStringLiteral("0x63 "));
    // The reader gives the same characters unit by unit, from any unit's offset.
    QString walked;
    qsizetype wideStart = -1;
    for (PaneModel::Reader r(p, 0); !r.atEnd(); r.next()) {
        if (r.kind() == PaneModel::Kind::Wide && wideStart < 0)
            wideStart = r.offset();
        walked += r.text();
    }
    EXPECT_EQ(walked, p.line(0));
    ASSERT_EQ(wideStart, 2);
    QString tail;
    for (PaneModel::Reader r(p, 0, wideStart); !r.atEnd(); r.next())
        tail += r.text();
    EXPECT_EQ(tail, wide + QStringLiteral("0x63 "));
    // Stretches cover the same units.
    qsizetype units = 0;
    p.forEachStretch(0, 0, p.lineBytes(0), [&](PaneModel::Kind k, const uint8_t*, qsizetype n) {
        units += k == PaneModel::Kind::Wide ? n / 2 : n;
    });
    EXPECT_EQ(units, 2 + wide.size() + 1);
}
