// The receive rules on one block: names, hex, line breaks, counts, table rows, check sum,
// parity, the per-link differences, byte 0, and independence from how bytes are cut into
// blocks.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <random>

#include "core/Codec.h"
#include "core/receive/ByteTableModel.h"
#include "core/receive/CheckSum.h"
#include "core/receive/PaneModel.h"
#include "core/receive/ReceiveFormatter.h"
#include "tests/common/Bytes.h"

using namespace trelmo;
using trelmo::test::bytesOf;

namespace {

struct Rx {
    PaneModel pane;
    ByteTableModel table;
    ReceiveFormatter fmt{pane, table};
    ReceiveState st;

    ReceiveResult feed(const QByteArray& b, const LinkPolicy& p = LinkPolicy::serial(),
                       bool hex = false, LineParity par = LineParity::None) {
        return fmt.receiveBlock(st, b, p, hex, par);
    }
    QString ascii(int row) const { return table.gridCell(ByteStore::ColAscii, row); }
};

int ones(int v) {
    int n = 0;
    for (int bit = 0; bit < 8; ++bit)
        n += (v >> bit) & 1;
    return n;
}

}  // namespace

TEST(ReceiveFormatter, TextModeSerialNamesAndLineBreak) {
    Rx rx;
    const ReceiveResult r = rx.feed(bytesOf({0x41, 13, 10, 0x42}));
    EXPECT_EQ(rx.pane.lines(), QStringList({"A<CR>", "B"}));
    EXPECT_EQ(rx.st.LineIndex, 1);
    EXPECT_EQ(rx.st.ReceivedCount, 4);
    EXPECT_EQ(rx.table.gridRowCount(), 6);
    EXPECT_EQ(rx.ascii(1), QStringLiteral("A"));
    EXPECT_EQ(rx.ascii(2), QStringLiteral("<CR>"));
    EXPECT_EQ(rx.ascii(3), QStringLiteral("<LF>"));
    EXPECT_EQ(rx.ascii(4), QStringLiteral("B"));
    EXPECT_EQ(r.labelRec, QStringLiteral("Total received: 4"));
    EXPECT_TRUE(r.showParity);
    EXPECT_EQ(r.parityText, QStringLiteral("Last byte parity: None"));
    EXPECT_FALSE(r.moreThan10k);
    EXPECT_EQ(rx.table.gridCell(ByteStore::ColParity, 1), QString());
}

TEST(ReceiveFormatter, TextModeNamesEveryControlByte) {
    Rx rx;
    rx.feed(bytesOf({1, 2, 3, 4, 5, 6, 7, 9, 13, 0x7F, 0xE9}));
    const QString want = QStringLiteral("<SOH><STX><ETX><EOT><ENQ><ACK>") + QChar(7) + QChar(9) +
                         QStringLiteral("<CR>") + QChar(0x7F) + QChar(0xE9);
    EXPECT_EQ(rx.pane.text(), want);
}

TEST(ReceiveFormatter, HexModeSerialWritesEveryByteInHex) {
    Rx rx;
    rx.feed(bytesOf({0x41, 13, 10, 0x42}), LinkPolicy::serial(), true);
    EXPECT_EQ(rx.pane.lines(), QStringList({"0x41 0x0D ", "0x0A 0x42 "}));
    EXPECT_EQ(rx.ascii(1), QStringLiteral("A"));
    EXPECT_EQ(rx.ascii(2), QString(QChar(13)));
    EXPECT_EQ(rx.ascii(3), QString(QChar(10)));
    EXPECT_EQ(rx.ascii(4), QStringLiteral("B"));
    EXPECT_EQ(rx.table.gridCell(ByteStore::ColHex, 2), QStringLiteral("0x0D"));
}

TEST(ReceiveFormatter, HexModeTcpKeepsNamesAndOnlyBreaksOnLineFeed) {
    for (const LinkPolicy* p : {&LinkPolicy::tcpClient(), &LinkPolicy::tcpListener()}) {
        Rx rx;
        const ReceiveResult r =
            rx.feed(bytesOf({0x41, 13, 10, 0x42, 1, 6, 0xFF}), *p, true, LineParity::Odd);
        EXPECT_EQ(rx.pane.lines(), QStringList({"0x41 <CR>", "0x42 <SOH><ACK>0xFF "}));
        // Names in the table in hex mode too; no parity on TCP.
        EXPECT_EQ(rx.ascii(2), QStringLiteral("<CR>"));
        EXPECT_EQ(rx.ascii(3), QStringLiteral("<LF>"));
        EXPECT_EQ(rx.ascii(5), QStringLiteral("<SOH>"));
        EXPECT_EQ(rx.ascii(7), QString(QChar(0xFF)));
        for (int row = 1; row <= 7; ++row)
            EXPECT_EQ(rx.table.gridCell(ByteStore::ColParity, row), QString());
        EXPECT_FALSE(r.showParity);
        EXPECT_EQ(r.labelRec, QStringLiteral("Total received: 7"));
    }
}

TEST(ReceiveFormatter, TextModeTcpMatchesSerialPane) {
    Rx serial, tcp;
    const QByteArray b = bytesOf({'x', 2, 13, 10, 'y', 10, 10, 'z'});
    serial.feed(b);
    tcp.feed(b, LinkPolicy::tcpClient());
    EXPECT_EQ(tcp.pane.lines(), serial.pane.lines());
    EXPECT_EQ(tcp.pane.text(), QStringLiteral("x<STX><CR>\ny\n\nz"));
}

TEST(ReceiveFormatter, LineArrivingOverSeveralBlocksGrows) {
    Rx rx;
    rx.feed("AB");
    EXPECT_EQ(rx.pane.lines(), QStringList({"AB"}));
    rx.feed(bytesOf({'D', 10}));
    EXPECT_EQ(rx.pane.line(0), QStringLiteral("ABD"));
    EXPECT_EQ(rx.pane.lines(), QStringList({"ABD", ""}));
    EXPECT_EQ(rx.st.LineIndex, 1);

    Rx tcp;
    tcp.feed(bytesOf({0x41, 0x42}), LinkPolicy::tcpClient());
    tcp.feed(bytesOf({0x43, 0x0A, 0x44}), LinkPolicy::tcpClient());
    EXPECT_EQ(tcp.pane.lines(), QStringList({"ABC", "D"}));
}

TEST(ReceiveFormatter, TwoLineBreaksLeaveOneEmptyLine) {
    Rx rx;
    rx.feed(bytesOf({'A', 10, 10, 'B'}));
    EXPECT_EQ(rx.pane.lines(), QStringList({"A", "", "B"}));
    EXPECT_EQ(rx.st.LineIndex, 2);
    Rx first;
    first.feed(bytesOf({10, 'B'}));
    EXPECT_EQ(first.pane.text(), QStringLiteral("\nB"));
}

TEST(ReceiveFormatter, CheckSumWrapsAndResets) {
    struct Case {
        std::initializer_list<int> bytes;
        const char* text;
    };
    for (const Case& c : {Case{{0xFF, 0x02}, "CRC: 0x01"}, Case{{1, 2, 3}, "CRC: 0x06"},
                          Case{{0xFF, 0x01}, "CRC: 0x00"}, Case{{0x80, 0x90}, "CRC: 0x10"},
                          Case{{4, 6}, "CRC: 0x0A"}, Case{{0xAB}, "CRC: 0xAB"}}) {
        Rx rx;
        const ReceiveResult r = rx.feed(bytesOf(c.bytes));
        EXPECT_EQ(r.crcText, QString::fromLatin1(c.text));
        int sum = 0;
        for (int b : c.bytes)
            sum = (sum + b) % 256;
        EXPECT_EQ(rx.st.CheckSum, sum);
    }
    // The sum runs across blocks and links and is cleared only by the reset a send does.
    Rx rx;
    rx.feed(bytesOf({0x10, 10, 0x20}));
    rx.feed(bytesOf({0x05}), LinkPolicy::tcpClient());
    EXPECT_EQ(rx.st.CheckSum, 0x10 + 10 + 0x20 + 5);
    rx.pane.clear();
    rx.table.clear();
    EXPECT_EQ(rx.st.CheckSum, 0x10 + 10 + 0x20 + 5);
    EXPECT_EQ(resetCheckSum(rx.st.CheckSum), QStringLiteral("CRC: 0x00"));
    EXPECT_EQ(rx.st.CheckSum, 0);
    EXPECT_EQ(rx.feed(bytesOf({1, 2, 3})).crcText, QStringLiteral("CRC: 0x06"));
    EXPECT_EQ(addToCheckSum(0xF0, 0x20), 0x10);
}

TEST(ReceiveFormatter, ParityOfLastByteAndOfEveryRow) {
    struct Case {
        LineParity parity;
        const char* last;
    };
    for (const Case& c : {Case{LineParity::Odd, "Last byte parity: 0"},
                          Case{LineParity::Even, "Last byte parity: 1"},
                          Case{LineParity::Mark, "Last byte parity: 1"},
                          Case{LineParity::Space, "Last byte parity: 0"},
                          Case{LineParity::None, "Last byte parity: None"}}) {
        Rx rx;
        const ReceiveResult r =
            rx.feed(bytesOf({0x07, 0x41}), LinkPolicy::serial(), false, c.parity);
        EXPECT_EQ(r.parityText, QString::fromLatin1(c.last));
        // 0x07 has three one bits.
        const QString first = rx.table.gridCell(ByteStore::ColParity, 1);
        switch (c.parity) {
            case LineParity::Odd:
                EXPECT_EQ(first, QStringLiteral("1"));
                break;
            case LineParity::Even:
                EXPECT_EQ(first, QStringLiteral("0"));
                break;
            case LineParity::Mark:
                EXPECT_EQ(first, QStringLiteral("1"));
                break;
            case LineParity::Space:
                EXPECT_EQ(first, QStringLiteral("0"));
                break;
            case LineParity::None:
                EXPECT_EQ(first, QString());
                break;
        }
    }
    for (int v = 0; v < 256; ++v) {
        const bool odd = ones(v) % 2 == 1;
        const auto b = static_cast<uint8_t>(v);
        EXPECT_EQ(parityValue(b, LineParity::Odd), odd ? ParityMark::One : ParityMark::Zero);
        EXPECT_EQ(parityValue(b, LineParity::Even), odd ? ParityMark::Zero : ParityMark::One);
        EXPECT_EQ(parityValue(b, LineParity::Mark), ParityMark::One);
        EXPECT_EQ(parityValue(b, LineParity::Space), ParityMark::Zero);
        EXPECT_EQ(parityValue(b, LineParity::None), ParityMark::None);
    }
}

TEST(ReceiveFormatter, EmptyBlockStillReportsCountsAndParityZero) {
    Rx rx;
    rx.feed("ab", LinkPolicy::serial(), false, LineParity::Even);
    const ReceiveResult r = rx.feed(QByteArray(), LinkPolicy::serial(), false, LineParity::Even);
    EXPECT_EQ(r.parityText, QStringLiteral("Last byte parity: 0"));
    EXPECT_EQ(r.labelRec, QStringLiteral("Total received: 2"));
    EXPECT_EQ(rx.pane.lines(), QStringList({"ab"}));
    EXPECT_EQ(rx.table.gridRowCount(), 4);
}

TEST(ReceiveFormatter, LinkPoliciesAndTheFullReadReport) {
    EXPECT_EQ(LinkPolicy::serial().maxBlockBytes, 10000);
    EXPECT_EQ(LinkPolicy::tcpClient().maxBlockBytes, 10000);
    EXPECT_EQ(LinkPolicy::tcpListener().maxBlockBytes, 5000);
    EXPECT_TRUE(LinkPolicy::serial().hasParity);
    EXPECT_FALSE(LinkPolicy::tcpClient().hasParity);
    EXPECT_FALSE(LinkPolicy::tcpListener().hasParity);
    EXPECT_EQ(QString::fromLatin1(kMoreThan10kText), QStringLiteral("More than 10k bytes"));

    Rx rx;
    EXPECT_TRUE(rx.feed(QByteArray(10000, 'a'), LinkPolicy::tcpClient()).moreThan10k);
    EXPECT_FALSE(rx.feed(QByteArray(9999, 'a'), LinkPolicy::tcpClient()).moreThan10k);
    EXPECT_FALSE(rx.feed(QByteArray(5000, 'a'), LinkPolicy::tcpListener()).moreThan10k);
    EXPECT_FALSE(rx.feed(QByteArray(10000, 'a'), LinkPolicy::serial()).moreThan10k);
    // A larger block is still handled whole: the cap is the caller's.
    rx.feed(QByteArray(12000, 'b'), LinkPolicy::serial());
    EXPECT_EQ(rx.st.ReceivedCount, 10000 + 9999 + 5000 + 10000 + 12000);
    EXPECT_EQ(rx.table.receivedCount(), rx.st.ReceivedCount);
    EXPECT_EQ(countersText("Total send: 12", "Total received: 345"),
              QStringLiteral("Total send: 12   Total received: 345"));
}

TEST(ReceiveFormatter, MessageLineBehindPartialLineAndOnEmptyLine) {
    const QString msg = QStringLiteral("Already active TCP socket, disconnect first!");
    {  // behind a partly received line: the next text goes to the message line
        Rx rx;
        rx.feed("AB");
        rx.pane.addLine(msg, rx.st.LineIndex);
        EXPECT_EQ(rx.st.LineIndex, 1);
        rx.feed("C");
        EXPECT_EQ(rx.pane.lines(), QStringList({"AB", msg + "C"}));
    }
    {  // on an empty pane: the next text starts on the line below
        Rx rx;
        rx.pane.addLine(msg, rx.st.LineIndex);
        rx.feed("C");
        EXPECT_EQ(rx.pane.lines(), QStringList({msg, "C"}));
    }
    {  // just after a line break: the same
        Rx rx;
        rx.feed(bytesOf({'A', 10}));
        rx.pane.addLine(msg, rx.st.LineIndex);
        EXPECT_EQ(rx.st.LineIndex, 2);
        rx.feed(bytesOf({'C', 10, 'D'}));
        EXPECT_EQ(rx.pane.lines(), QStringList({"A", msg, "C", "D"}));
    }
}

TEST(ReceiveFormatter, ByteZeroKeepsTheLineWhole) {
    Rx rx;
    const ReceiveResult r = rx.feed(bytesOf({'A', 0, 'B', 0, 10, 'C'}));
    EXPECT_EQ(rx.pane.lines(), QStringList({"A<NUL>B<NUL>", "C"}));
    EXPECT_EQ(rx.ascii(2), QStringLiteral("<NUL>"));
    EXPECT_EQ(rx.table.gridCell(ByteStore::ColHex, 2), QStringLiteral("0x00"));
    EXPECT_EQ(rx.table.gridCell(ByteStore::ColDec, 4), QStringLiteral("0"));
    EXPECT_EQ(rx.st.ReceivedCount, 6);
    EXPECT_EQ(r.crcText, checkSumText('A' + 'B' + 10 + 'C'));
    EXPECT_EQ(rx.table.bytes(), bytesOf({'A', 0, 'B', 0, 10, 'C'}));

    // TCP names it in the table in hex mode too; its hex pane writes it in hex.
    Rx tcp;
    tcp.feed(bytesOf({0, 'A'}), LinkPolicy::tcpListener(), true);
    EXPECT_EQ(tcp.pane.text(), QStringLiteral("0x00 0x41 "));
    EXPECT_EQ(tcp.ascii(1), QStringLiteral("<NUL>"));
    // Serial hex mode shows characters in the table: byte 0 is the character 0.
    Rx hex;
    hex.feed(bytesOf({0}), LinkPolicy::serial(), true);
    EXPECT_EQ(hex.pane.text(), QStringLiteral("0x00 "));
    EXPECT_EQ(hex.ascii(1), QString(QChar(0)));
}

TEST(ReceiveFormatter, PrintableTextAndLineFeedsComeThroughUnaltered) {
    std::mt19937 rng(11);
    QByteArray data;
    // One long line, then many short lines and some empty ones.
    for (int i = 0; i < 300000; ++i)
        data.append(static_cast<char>(0x20 + rng() % 95));
    for (int line = 0; line < 20000; ++line) {
        const int len = static_cast<int>(rng() % 40);
        for (int i = 0; i < len; ++i)
            data.append(static_cast<char>(0x20 + rng() % 95));
        data.append('\n');
    }
    for (const LinkPolicy* p : {&LinkPolicy::serial(), &LinkPolicy::tcpListener()}) {
        Rx rx;
        for (qsizetype at = 0; at < data.size(); at += p->maxBlockBytes)
            rx.feed(data.mid(at, p->maxBlockBytes), *p);
        EXPECT_EQ(rx.pane.text(), QString::fromLatin1(data));
        EXPECT_EQ(rx.table.bytes(), data);
        EXPECT_EQ(rx.st.LineIndex, 20000);
        EXPECT_EQ(rx.pane.lineCount(), 20001);
    }
}

TEST(ReceiveFormatter, SameBytesInAnyBlocksGiveTheSameResult) {
    std::mt19937 rng(3);
    QByteArray data;
    for (int i = 0; i < 20000; ++i) {
        // Control bytes and line feeds often, every other value too.
        const int pick = static_cast<int>(rng() % 10);
        data.append(static_cast<char>(pick < 2 ? 10 : pick < 4 ? rng() % 14 : rng() % 256));
    }
    struct Mode {
        const LinkPolicy* policy;
        bool hex;
        LineParity parity;
    };
    for (const Mode& m : {Mode{&LinkPolicy::serial(), false, LineParity::Odd},
                          Mode{&LinkPolicy::serial(), true, LineParity::Even},
                          Mode{&LinkPolicy::tcpClient(), true, LineParity::None},
                          Mode{&LinkPolicy::tcpListener(), false, LineParity::None}}) {
        Rx whole;
        whole.feed(data, *m.policy, m.hex, m.parity);
        Rx cut;
        for (qsizetype at = 0; at < data.size();) {
            const qsizetype n = std::min<qsizetype>(rng() % 50, data.size() - at);
            cut.feed(data.mid(at, n), *m.policy, m.hex, m.parity);
            at += n;
        }
        EXPECT_EQ(cut.pane.lines(), whole.pane.lines());
        EXPECT_EQ(cut.st.LineIndex, whole.st.LineIndex);
        EXPECT_EQ(cut.st.ReceivedCount, data.size());
        EXPECT_EQ(cut.st.CheckSum, whole.st.CheckSum);
        ASSERT_EQ(cut.table.gridRowCount(), whole.table.gridRowCount());
        EXPECT_EQ(cut.table.bytes(), data);
        for (int row = 1; row < cut.table.gridRowCount(); ++row)
            for (int col = 0; col < 5; ++col)
                ASSERT_EQ(cut.table.gridCell(col, row), whole.table.gridCell(col, row))
                    << row << "," << col;
        // Line feeds: one pane line each, plus the first.
        EXPECT_EQ(whole.pane.lineCount(), data.count('\n') + 1);
    }
}

TEST(ReceiveFormatter, OneChangeNoticePerBlock) {
    Rx rx;
    rx.feed("start");
    QSignalSpy grown(&rx.pane, &PaneModel::grown);
    QSignalSpy rows(&rx.table, &QAbstractItemModel::rowsInserted);
    rx.feed(bytesOf({'a', 'b', 10, 'c', 10, 10, 'd', 'e'}));
    // Three line breaks and the block end: the views hear of it once, from the first line
    // that grew; the table announces the block's rows in one insertion.
    ASSERT_EQ(grown.count(), 1);
    EXPECT_EQ(grown[0][0].toInt(), 0);
    EXPECT_EQ(rows.count(), 1);
    EXPECT_EQ(rx.pane.lines(), QStringList({"startab", "c", "", "de"}));
}
