// Received text read as UTF-8: the characters a line shows (broken sequences as the code page
// shows their bytes), characters split across blocks joined, the bytes kept so that switching
// shows everything anew; the layout, the selection and the find over the decoded text; the
// text log and the saved text log in UTF-8. The expectations come from Qt's own UTF-8 decoder
// (QString::fromUtf8) wherever the bytes are well-formed.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QRandomGenerator>
#include <QSignalSpy>

#include "core/Codec.h"
#include "core/capture/CaptureFiles.h"
#include "core/capture/LogWriter.h"
#include "core/receive/PaneLayout.h"
#include "core/receive/PaneSearch.h"
#include "core/receive/PaneSelection.h"
#include "core/receive/ReceiveFormatter.h"

using namespace trelmo;
using Kind = PaneModel::Kind;
using Width = PaneLayout::Width;

namespace {

struct Capture {
    PaneModel pane;
    ByteTableModel table;
    ReceiveFormatter fmt{pane, table};
    ReceiveState st;
    void take(QByteArrayView bytes, bool hex = false) {
        fmt.receiveBlock(st, bytes, LinkPolicy::serial(), hex);
    }
};

Width advance(char16_t c) {
    return 64 + (c % 7) * 8;
}

qsizetype countAll(PaneFinder& f) {
    while (!f.countSome(1000000000)) {
    }
    return f.count();
}

QString u8(const char* s) {
    return QString::fromUtf8(s);
}

}  // namespace

TEST(Utf8Pane, WellFormedSequencesShowTheirCharactersOthersTheCodePages) {
    Capture c;
    c.pane.setUtf8(true);
    // Two, three and four bytes; then broken ones: a stray continuation, a lead without its
    // continuation, an overlong form, a surrogate, a byte that is never UTF-8.
    c.take("h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80!\r\n");
    c.take("\xA9x \xC3( \xC0\xAF \xED\xA0\x80 \xFF\n");
    ASSERT_EQ(c.pane.lineCount(), 3);
    EXPECT_EQ(c.pane.line(0), u8("h\u00e9llo \u20ac \U0001F600!<CR>"));
    const QString broken = codec::toUnicode("\xA9") + "x " + codec::toUnicode("\xC3") + "( " +
                           codec::toUnicode("\xC0\xAF") + " " + codec::toUnicode("\xED\xA0\x80") +
                           " " + codec::toUnicode("\xFF");
    EXPECT_EQ(c.pane.line(1), broken);
    // Off: the code page, a character a byte, as ever; the bytes were kept as they came.
    QSignalSpy reshown(&c.pane, &PaneModel::reshown);
    c.pane.setUtf8(false);
    EXPECT_EQ(reshown.count(), 1);
    EXPECT_EQ(c.pane.line(0),
              codec::toUnicode("h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80!") + "<CR>");
    c.pane.setUtf8(true);
    EXPECT_EQ(reshown.count(), 2);
    EXPECT_EQ(c.pane.line(0), u8("h\u00e9llo \u20ac \U0001F600!<CR>"));
    EXPECT_EQ(c.table.bytes().size(), c.st.ReceivedCount);
    // Hex mode is no text: its bytes stay hex.
    c.take("\xC3\xA9\n", true);
    EXPECT_EQ(c.pane.line(2), "0xC3 0xA9 ");
}

TEST(Utf8Pane, ACharacterSplitAcrossBlocksJoins) {
    Capture c;
    c.pane.setUtf8(true);
    QSignalSpy grown(&c.pane, &PaneModel::grown);
    c.take("ab\xE2");
    // The start of a sequence waits for the rest; what came before is shown.
    EXPECT_EQ(c.pane.line(0), "ab");
    EXPECT_EQ(c.pane.heldBackBytes(), 1);
    EXPECT_EQ(c.pane.lineBytes(0), 2);
    c.take("\x82");
    EXPECT_EQ(c.pane.line(0), "ab");
    EXPECT_EQ(c.pane.heldBackBytes(), 2);
    c.take("\xAC\xF0\x9F");
    EXPECT_EQ(c.pane.line(0), u8("ab\u20ac"));
    c.take("\x98\x80z");
    EXPECT_EQ(c.pane.line(0), u8("ab\u20ac\U0001F600z"));
    EXPECT_EQ(c.pane.heldBackBytes(), 0);
    // A line break decides a sequence left incomplete: its bytes show as the code page's.
    c.take("\xC3");
    EXPECT_EQ(c.pane.line(0), u8("ab\u20ac\U0001F600z"));
    c.take("\r\n");
    EXPECT_EQ(c.pane.line(0), u8("ab\u20ac\U0001F600z") + codec::toUnicode("\xC3") + "<CR>");
    // So does a byte that cannot go on with it.
    c.take("\xE2\x82");
    c.take("A");
    EXPECT_EQ(c.pane.line(1), codec::toUnicode("\xE2\x82") + "A");
    EXPECT_GT(grown.count(), 0);
    // Whatever the blocks, the text is Qt's reading of the whole (well-formed) line.
    const QByteArray text =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8D\x95 fin";
    for (qsizetype cut = 1; cut < text.size(); ++cut) {
        Capture d;
        d.pane.setUtf8(true);
        d.take(QByteArrayView(text).first(cut));
        d.take(QByteArrayView(text).sliced(cut));
        ASSERT_EQ(d.pane.line(0), QString::fromUtf8(text)) << cut;
    }
}

TEST(Utf8Pane, LayoutSelectionAndCopyGoByTheDecodedCharacters) {
    PaneModel m;
    m.setUtf8(true);
    PaneLayout layout;
    layout.setAdvance(advance);
    layout.setModel(&m);
    QObject::connect(&m, &PaneModel::reshown, [&] { layout.reset(); });
    int index = 0;
    // Long enough for marks, with characters of every length across the marks' places.
    QByteArray bytes;
    for (int i = 0; bytes.size() < 3 * PaneLayout::kMarkEvery; ++i)
        bytes += i % 3 == 0 ? "a\xC3\xA9" : i % 3 == 1 ? "\xE2\x82\xAC" : "\xF0\x9F\x98\x80";
    bytes += "\xFF";
    m.appendReceived(index, Kind::Text, bytes);
    const QString text = QString::fromUtf8(bytes.chopped(1)) + codec::toUnicode("\xFF");
    ASSERT_EQ(m.line(0), text);
    layout.measureNew();
    EXPECT_EQ(layout.lineLength(0), text.size());
    // Every column's x from the decoded characters (surrogates have U+FFFD's width).
    std::vector<Width> xs{0};
    for (QChar ch : text)
        xs.push_back(xs.back() + advance(ch.isSurrogate() ? char16_t(0xFFFD) : ch.unicode()));
    EXPECT_EQ(layout.widestLine(), xs.back());
    EXPECT_EQ(layout.lineWidth(0), xs.back());
    for (qsizetype col : {qsizetype(0), qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(1000),
                          text.size() / 2, text.size() - 3, text.size()}) {
        EXPECT_EQ(layout.xOfColumn(0, col), xs[size_t(col)]) << col;
        EXPECT_EQ(layout.columnAt(0, xs[size_t(col)]), col) << col;
        EXPECT_EQ(layout.lineText(0, col, 5), text.mid(col, 5)) << col;
    }
    PaneSelection sel(layout);
    sel.select({0, 4}, {0, text.size() - 4});
    EXPECT_EQ(sel.text(), text.mid(4, text.size() - 8));
    // Switched off: the same layout object measures the code page's characters.
    m.setUtf8(false);
    layout.measureNew();
    EXPECT_EQ(layout.lineLength(0), bytes.size());
    EXPECT_EQ(m.line(0), codec::toUnicode(bytes));
}

TEST(Utf8Pane, FindMatchesWhatIsShown) {
    Capture c;
    c.pane.setUtf8(true);
    c.take("caf\xC3\xA9 \xC3\xA9t\xC3\xA9 \xE2\x82\xAC\r\n\xC3\xA9");
    PaneFinder f(c.pane);
    ASSERT_EQ(f.setQuery(FindQuery{FindQuery::Input::Text, u8("\u00e9"), true}), FindError::None);
    EXPECT_EQ(countAll(f), 4);
    auto m = f.findNext({}, false);
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, (PaneMatch{{0, 3}, {0, 4}}));
    m = f.findNext(m->start, true);
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, (PaneMatch{{0, 5}, {0, 6}}));
    EXPECT_EQ(f.numberOf(*m), 2);
    // The code page's reading of the same bytes is not found.
    ASSERT_EQ(f.setQuery(FindQuery{FindQuery::Input::Text, codec::toUnicode("\xC3\xA9"), true}),
              FindError::None);
    EXPECT_EQ(countAll(f), 0);
    ASSERT_EQ(f.setQuery(FindQuery{FindQuery::Input::Text, u8("\u20ac<cr>"), false}),
              FindError::None);
    EXPECT_EQ(countAll(f), 1);
    std::vector<MatchSpan> spans;
    f.spansOnLine(0, 0, 100, spans);
    EXPECT_EQ(spans, (std::vector<MatchSpan>{{9, 14, false}}));
    // Bytes are bytes, whatever the reading: the match covers the character's column.
    ASSERT_EQ(f.setQuery(FindQuery{FindQuery::Input::Hex, "A9 74", false}), FindError::None);
    EXPECT_EQ(countAll(f), 1);
    m = f.findNext({}, false);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->end, (PanePosition{0, 7}));
    // Switching drops the count: it is counted again over the other text.
    QSignalSpy cleared(&f, &PaneFinder::cleared);
    c.pane.setUtf8(false);
    EXPECT_EQ(cleared.count(), 1);
    EXPECT_EQ(f.count(), 0);
    ASSERT_EQ(f.setQuery(FindQuery{FindQuery::Input::Text, codec::toUnicode("\xC3\xA9"), true}),
              FindError::None);
    EXPECT_EQ(countAll(f), 4);
}

// Whatever the blocks, the text log read as UTF-8 has the pane's lines.
TEST(Utf8Pane, TheTextLogHasThePanesLinesInUtf8) {
    for (quint32 seed = 1; seed <= 10; ++seed) {
        QRandomGenerator gen(seed);
        QByteArray data;
        while (data.size() < 20000) {
            const int pick = gen.bounded(100);
            if (pick < 6)
                data += '\n';
            else if (pick < 10)
                data += static_cast<char>(gen.bounded(32));
            else if (pick < 20)
                data += "\xC3\xA9";
            else if (pick < 26)
                data += "\xE2\x82\xAC";
            else if (pick < 30)
                data += "\xF0\x9F\x98\x80";
            else if (pick < 36)
                data += static_cast<char>(128 + gen.bounded(128));  // mostly broken
            else
                data += static_cast<char>(32 + gen.bounded(95));
        }
        Capture c;
        c.pane.setUtf8(true);
        LogTextLines lines;
        QByteArray log;
        for (qsizetype at = 0; at < data.size();) {
            const qsizetype n = std::min<qsizetype>(1 + gen.bounded(9), data.size() - at);
            const QByteArrayView block = QByteArrayView(data).sliced(at, n);
            c.take(block);
            lines.add(block, Kind::Text, std::nullopt, log, true);
            at += n;
        }
        c.take("\n");
        lines.add("\n", Kind::Text, std::nullopt, log, true);
        QStringList expected = c.pane.lines();
        expected.removeLast();
        const QStringList logged = QString::fromUtf8(log.chopped(2)).split(QStringLiteral("\r\n"));
        ASSERT_EQ(logged.size(), expected.size()) << seed;
        for (qsizetype i = 0; i < expected.size(); ++i)
            ASSERT_EQ(logged[i], expected[i]) << "seed " << seed << " line " << i;
    }
}

TEST(Utf8Pane, TheSavedTextLogIsUtf8WhileOn) {
    struct Lines : CapturePaneSource {
        QStringList lines;
        qsizetype paneLineCount() const override { return lines.size(); }
        QString paneLine(qsizetype i) const override { return lines[i]; }
    } pane;
    pane.lines = {u8("\u65e5\u672c \u20ac"), "plain"};
    struct NoBytes : CaptureTableSource {
        qsizetype gridRowCount() const override { return 2; }
        QString cellText(int, qsizetype) const override { return QString(); }
    } table;
    const CaptureHeader header{"d", "t", "COM1", "9600", "8", "None", "1"};
    QBuffer utf8;
    utf8.open(QIODevice::WriteOnly);
    writeTextLog(utf8, header, pane, table, true, true);
    EXPECT_TRUE(utf8.data().contains(u8("\u65e5\u672c \u20ac\r\nplain\r\n").toUtf8()));
    // Off: the code page as ever (the euro sign is one of its bytes, the rest is not).
    QBuffer page;
    page.open(QIODevice::WriteOnly);
    writeTextLog(page, header, pane, table, true);
    EXPECT_TRUE(page.data().contains("?? \x80\r\nplain\r\n"));
}
