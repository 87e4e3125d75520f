// Finding in the pane: text over the characters shown (names, hex, messages), bytes over the
// received bytes (line feeds included, messages left out), case folding, hex and "#hh" input,
// matches across the store's chunks and across line ends, next and previous with wrapping,
// counting in slices with the number of a match, a pane emptied or grown meanwhile, and the
// spans of the matches in view. Counts and places are checked against plain searches of the
// lines and of the byte table.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <random>

#include "core/receive/PaneSearch.h"
#include "core/receive/ReceiveFormatter.h"

using namespace trelmo;

namespace {

constexpr qsizetype kAny = std::numeric_limits<qsizetype>::max();

// A capture made as the receive path makes it.
struct Capture {
    PaneModel pane;
    ByteTableModel table;
    ReceiveFormatter fmt{pane, table};
    ReceiveState st;
    void take(QByteArrayView bytes, bool hex = false,
              const LinkPolicy& policy = LinkPolicy::serial()) {
        fmt.receiveBlock(st, bytes, policy, hex);
    }
    void message(const QString& text) { pane.addLine(text, st.LineIndex, 0); }
};

FindQuery text(const QString& s, bool caseSensitive = false) {
    return FindQuery{FindQuery::Input::Text, s, caseSensitive};
}
FindQuery hex(const QString& s) {
    return FindQuery{FindQuery::Input::Hex, s, false};
}
FindQuery escapes(const QString& s) {
    return FindQuery{FindQuery::Input::Escapes, s, false};
}

PaneMatch match(int l0, qsizetype c0, int l1, qsizetype c1) {
    return PaneMatch{{l0, c0}, {l1, c1}};
}

// Every match from the top, by findNext without wrapping.
std::vector<PaneMatch> all(const PaneFinder& f) {
    std::vector<PaneMatch> out;
    for (auto m = f.findNext({}, false, false); m; m = f.findNext(m->start, true, false))
        out.push_back(*m);
    return out;
}

qsizetype countAll(PaneFinder& f) {
    while (!f.countSome(1000000000)) {
    }
    return f.count();
}

// Starts of a text's occurrences in each line, overlapping ones too, case folded as the
// finder folds.
std::vector<PanePosition> plainTextMatches(const PaneModel& pane, const QString& pattern,
                                           bool caseSensitive) {
    auto fold = [caseSensitive](QString s) {
        if (!caseSensitive)
            for (QChar& c : s)
                c = c.toCaseFolded();
        return s;
    };
    const QString p = fold(pattern);
    std::vector<PanePosition> out;
    for (int i = 0; i < pane.lineCount(); ++i) {
        const QString line = fold(pane.line(i));
        for (qsizetype at = line.indexOf(p); at >= 0; at = line.indexOf(p, at + 1))
            out.push_back(PanePosition{i, at});
    }
    return out;
}

qsizetype plainByteCount(const QByteArray& bytes, const QByteArray& pattern) {
    qsizetype n = 0;
    for (qsizetype at = bytes.indexOf(pattern); at >= 0; at = bytes.indexOf(pattern, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(FindQuery, HexAndCommandStringBytes) {
    FindError e = FindError::None;
    EXPECT_EQ(findBytesOf(hex("0D 0A"), &e), QByteArray("\r\n"));
    EXPECT_EQ(e, FindError::None);
    EXPECT_EQ(findBytesOf(hex("0d0a41")), QByteArray("\r\nA"));
    EXPECT_EQ(findBytesOf(hex("0x0D,0x0A; ff")), QByteArray("\r\n\xFF"));
    EXPECT_EQ(findBytesOf(escapes("#0D#0A")), QByteArray("\r\n"));
    EXPECT_EQ(findBytesOf(escapes("OK#0d")), QByteArray("OK\r"));
    EXPECT_EQ(findBytesOf(escapes("#23")), QByteArray("#"));

    EXPECT_FALSE(findBytesOf(hex("0D 0"), &e));
    EXPECT_EQ(e, FindError::NotHex);
    EXPECT_FALSE(findBytesOf(hex("0G"), &e));
    EXPECT_EQ(e, FindError::NotHex);
    EXPECT_FALSE(findBytesOf(escapes("#0G"), &e));
    EXPECT_EQ(e, FindError::NotEscapes);
    EXPECT_FALSE(findBytesOf(hex("  "), &e));
    EXPECT_EQ(e, FindError::Empty);
    EXPECT_FALSE(findBytesOf(hex(QString(2 * PaneFinder::kMaxPattern + 2, u'4')), &e));
    EXPECT_EQ(e, FindError::TooLong);

    Capture c;
    PaneFinder f(c.pane);
    EXPECT_EQ(f.setQuery(text("")), FindError::Empty);
    EXPECT_FALSE(f.hasPattern());
    EXPECT_EQ(f.setQuery(escapes("#1")), FindError::NotEscapes);
    EXPECT_FALSE(f.findNext({}, false));
    EXPECT_EQ(f.setQuery(text("ab")), FindError::None);
    EXPECT_EQ(f.patternLength(), 2);
}

TEST(FindText, TheCharactersShownNamesHexAndMessages) {
    Capture c;
    c.take("Hello World\r\nnext\x02line\n");
    c.take("...");
    c.message("Link up");  // behind a partly received line: a line of its own
    c.take("AB", true);    // the message line goes on in hex
    ASSERT_EQ(c.pane.lines(),
              QStringList({"Hello World<CR>", "next<STX>line", "...", "Link up0x41 0x42 "}));
    PaneFinder f(c.pane);
    ASSERT_EQ(f.setQuery(text("world<cr")), FindError::None);
    EXPECT_EQ(all(f), std::vector<PaneMatch>{match(0, 6, 0, 14)});
    ASSERT_EQ(f.setQuery(text("STX>L")), FindError::None);
    EXPECT_EQ(all(f), std::vector<PaneMatch>{match(1, 5, 1, 10)});
    // A message is text like any other; hex units match as their digits and blanks.
    ASSERT_EQ(f.setQuery(text("up0x41 0x")), FindError::None);
    EXPECT_EQ(all(f), std::vector<PaneMatch>{match(3, 5, 3, 14)});
    // No match over a line end.
    ASSERT_EQ(f.setQuery(text("<CR>next")), FindError::None);
    EXPECT_TRUE(all(f).empty());
    EXPECT_EQ(countAll(f), 0);
}

TEST(FindText, CaseIsFoldedUnlessAskedNotTo) {
    Capture c;
    c.take("abc ABC \xC4rger \xE4RGER");  // Windows-1252: Ä, ä
    PaneFinder f(c.pane);
    ASSERT_EQ(f.setQuery(text("abc")), FindError::None);
    EXPECT_EQ(all(f), (std::vector<PaneMatch>{match(0, 0, 0, 3), match(0, 4, 0, 7)}));
    ASSERT_EQ(f.setQuery(text("ABC", true)), FindError::None);
    EXPECT_EQ(all(f), std::vector<PaneMatch>{match(0, 4, 0, 7)});
    ASSERT_EQ(f.setQuery(text(QString::fromUtf8("ärger"))), FindError::None);
    EXPECT_EQ(countAll(f), 2);
    ASSERT_EQ(f.setQuery(text(QString::fromUtf8("Ärger"), true)), FindError::None);
    EXPECT_EQ(countAll(f), 1);
    // Characters outside the code page (a message kept as UTF-16) fold too.
    c.message(QString::fromUtf8("Ω-Meter"));
    ASSERT_EQ(f.setQuery(text(QString::fromUtf8("ω-m"))), FindError::None);
    EXPECT_EQ(all(f), std::vector<PaneMatch>{match(1, 0, 1, 3)});
}

TEST(FindBytes, ReceivedBytesAcrossLineEndsWithoutMessages) {
    Capture c;
    c.take("A\r\nB\r\nC");
    ASSERT_EQ(c.pane.lines(), QStringList({"A<CR>", "B<CR>", "C"}));
    PaneFinder f(c.pane);
    // CR LF: from the "<CR>" to the next line's start (the line feed ended the line).
    ASSERT_EQ(f.setQuery(hex("0D 0A")), FindError::None);
    EXPECT_EQ(all(f), (std::vector<PaneMatch>{match(0, 1, 1, 0), match(1, 1, 2, 0)}));
    ASSERT_EQ(f.setQuery(escapes("#0A#42")), FindError::None);
    EXPECT_EQ(all(f), std::vector<PaneMatch>{match(0, 5, 1, 1)});
    ASSERT_EQ(f.setQuery(escapes("B#0D#0AC")), FindError::None);
    EXPECT_EQ(all(f), std::vector<PaneMatch>{match(1, 0, 2, 1)});

    // Messages are no part of the bytes: "C" then "D" arrived one after the other.
    c.message("msg");
    c.take("D");
    ASSERT_EQ(c.pane.lines(), QStringList({"A<CR>", "B<CR>", "C", "msgD"}));
    ASSERT_EQ(f.setQuery(hex("43 44")), FindError::None);
    EXPECT_EQ(all(f), std::vector<PaneMatch>{match(2, 0, 3, 4)});
    ASSERT_EQ(f.setQuery(escapes("m")), FindError::None);
    EXPECT_TRUE(all(f).empty());

    // In the hex mode that writes every byte the line feed is a unit of its own.
    Capture h;
    h.take("A\r\nB", true);
    ASSERT_EQ(h.pane.lines(), QStringList({"0x41 0x0D ", "0x0A 0x42 "}));
    PaneFinder g(h.pane);
    ASSERT_EQ(g.setQuery(hex("0D 0A 42")), FindError::None);
    EXPECT_EQ(all(g), std::vector<PaneMatch>{match(0, 5, 1, 10)});
}

TEST(FindBytes, CountsAgreeWithTheByteTableInEveryMode) {
    std::mt19937 rng(7);
    Capture c;
    const char alphabet[] = {'a', 'b', '\r', '\n', 2, 'A', 'B'};
    for (int block = 0; block < 400; ++block) {
        QByteArray b;
        const int n = 1 + int(rng() % 300);
        for (int i = 0; i < n; ++i)
            b.append(alphabet[rng() % sizeof alphabet]);
        const int mode = int(rng() % 3);
        c.take(b, mode != 0, mode == 2 ? LinkPolicy::tcpClient() : LinkPolicy::serial());
        if (rng() % 50 == 0)
            c.message("note ab");
    }
    const QByteArray received = c.table.store().bytes();
    PaneFinder f(c.pane);
    for (const QByteArray& pattern :
         {QByteArray("\r\n"), QByteArray("a\na"), QByteArray("\n\n"), QByteArray("ab\r\nab")}) {
        ASSERT_EQ(f.setQuery(hex(QString::fromLatin1(pattern.toHex(' ')))), FindError::None);
        const std::vector<PaneMatch> found = all(f);
        // A line feed at a line's very end is known only once the next line has begun.
        EXPECT_EQ(countAll(f), qsizetype(found.size())) << pattern.toHex().constData();
        const qsizetype expected = plainByteCount(received, pattern);
        EXPECT_GE(qsizetype(found.size()), expected - 1) << pattern.toHex().constData();
        EXPECT_LE(qsizetype(found.size()), expected) << pattern.toHex().constData();
        for (size_t i = 0; i < found.size(); i += 7)
            EXPECT_EQ(f.numberOf(found[i]), qsizetype(i + 1));
    }
}

TEST(FindText, CountsAndPlacesAgreeWithThePlainLines) {
    std::mt19937 rng(11);
    Capture c;
    const char alphabet[] = {'a', 'b', '<', '\r', '\n', 2, 'x'};
    for (int block = 0; block < 300; ++block) {
        QByteArray b;
        const int n = 1 + int(rng() % 400);
        for (int i = 0; i < n; ++i)
            b.append(alphabet[rng() % sizeof alphabet]);
        c.take(b, rng() % 4 == 0);
    }
    PaneFinder f(c.pane);
    for (const QString& pattern :
         {QStringLiteral("ab"), QStringLiteral("aBa"), QStringLiteral("x<cr>"),
          QStringLiteral("0x0"), QStringLiteral("<<"), QStringLiteral("X>A")}) {
        ASSERT_EQ(f.setQuery(text(pattern)), FindError::None);
        const std::vector<PanePosition> expected = plainTextMatches(c.pane, pattern, false);
        const std::vector<PaneMatch> found = all(f);
        ASSERT_EQ(found.size(), expected.size()) << pattern.toStdString();
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].start, expected[i]) << pattern.toStdString() << " " << i;
            EXPECT_EQ(found[i].end,
                      (PanePosition{expected[i].line, expected[i].column + pattern.size()}));
        }
        EXPECT_EQ(countAll(f), qsizetype(expected.size())) << pattern.toStdString();
        for (size_t i = 0; i < found.size(); i += 5)
            EXPECT_EQ(f.numberOf(found[i]), qsizetype(i + 1)) << pattern.toStdString();
        // Backwards gives the same matches in the opposite order.
        std::vector<PaneMatch> back;
        for (auto m = f.findPrevious({c.pane.lineCount(), 0}, false); m;
             m = f.findPrevious(m->start, false))
            back.push_back(*m);
        std::reverse(back.begin(), back.end());
        EXPECT_EQ(back, found) << pattern.toStdString();
    }
}

TEST(FindText, AcrossTheChunksOfTheStore) {
    // The store keeps 64 KiB chunks: a match starting 3 bytes before the end of the first.
    const qsizetype chunk = 65536;
    Capture c;
    c.take(QByteArray(chunk - 3, 'x') + "NEEDLE" + QByteArray(1000, 'x'));
    // Numbered 64-byte lines from there on, with one more match over the next chunk's end.
    QByteArray lines;
    while (lines.size() < chunk)
        lines += QByteArray(62, 'y') + "\r\n";
    c.take("\n" + lines.left(chunk - 5) + "NEEDLE" + lines);
    PaneFinder f(c.pane);
    ASSERT_EQ(f.setQuery(text("needle")), FindError::None);
    const std::vector<PaneMatch> found = all(f);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], match(0, chunk - 3, 0, chunk + 3));
    EXPECT_EQ(found[1].start.line, found[1].end.line);
    EXPECT_EQ(c.pane.line(found[1].start.line).mid(found[1].start.column, 6), "NEEDLE");
    EXPECT_EQ(countAll(f), 2);
    EXPECT_EQ(f.numberOf(found[1]), 2);
    // The same as bytes.
    ASSERT_EQ(f.setQuery(escapes("NEEDLE")), FindError::None);
    EXPECT_EQ(all(f), found);
    EXPECT_EQ(countAll(f), 2);
}

TEST(FindText, NextAndPreviousWrapAround) {
    Capture c;
    c.take("one\ntwo one\nthree one\n");
    PaneFinder f(c.pane);
    ASSERT_EQ(f.setQuery(text("one")), FindError::None);
    bool wrapped = true;
    auto m = f.findNext({1, 0}, false, true, &wrapped);
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, match(1, 4, 1, 7));
    EXPECT_FALSE(wrapped);
    m = f.findNext(m->start, true, true, &wrapped);
    EXPECT_EQ(*m, match(2, 6, 2, 9));
    m = f.findNext(m->start, true, true, &wrapped);
    EXPECT_EQ(*m, match(0, 0, 0, 3));
    EXPECT_TRUE(wrapped);
    EXPECT_FALSE(f.findNext({2, 7}, false, false));
    m = f.findPrevious(m->start, true, &wrapped);
    EXPECT_EQ(*m, match(2, 6, 2, 9));
    EXPECT_TRUE(wrapped);
    m = f.findPrevious(m->start, true, &wrapped);
    EXPECT_EQ(*m, match(1, 4, 1, 7));
    EXPECT_FALSE(wrapped);
    // A single match wraps onto itself.
    ASSERT_EQ(f.setQuery(text("three")), FindError::None);
    m = f.findNext({2, 0}, true, true, &wrapped);
    EXPECT_EQ(*m, match(2, 0, 2, 5));
    EXPECT_TRUE(wrapped);
    // Overlapping matches count each.
    c.take("aaaa");
    ASSERT_EQ(f.setQuery(text("aa")), FindError::None);
    EXPECT_EQ(countAll(f), 3);
}

TEST(FindText, ALongLineIsSearchedAroundItsMarks) {
    Capture c;
    QByteArray line(300000, 'x');
    for (qsizetype at = 5; at + 6 < line.size(); at += 10007)
        line.replace(at, 6, "needle");
    c.take(line);
    c.take("\x02 needle\r\n");  // named units behind the long part
    PaneFinder f(c.pane);
    ASSERT_EQ(f.setQuery(text("NEEDLE")), FindError::None);
    const std::vector<PaneMatch> found = all(f);
    ASSERT_EQ(found.size(), 31u);
    EXPECT_EQ(found[0], match(0, 5, 0, 11));
    EXPECT_EQ(found[29].start.column, 5 + 29 * 10007);
    // After "<STX> " (6 characters from one unit and a blank).
    EXPECT_EQ(found[30].start.column, 300000 + 6);
    EXPECT_EQ(*f.findPrevious(found[20].start), found[19]);
    EXPECT_EQ(*f.findNext({0, 150000}, false), found[15]);
    EXPECT_EQ(countAll(f), 31);
    EXPECT_EQ(f.numberOf(found[30]), 31);
    EXPECT_EQ(f.numberOf(found[17]), 18);
    EXPECT_FALSE(f.numberOf(match(0, 6, 0, 12)));  // no match there
    std::vector<MatchSpan> spans;
    f.spansOnLine(0, found[12].start.column - 3, found[12].start.column + 2, spans);
    const std::vector<MatchSpan> expected{{found[12].start.column, found[12].end.column, false}};
    EXPECT_EQ(spans, expected);
}

TEST(FindCount, GoesOnOverWhatArrivesAndStopsOnAnEmptiedPane) {
    Capture c;
    QByteArray lines;
    for (int i = 0; i < 40000; ++i)
        lines += QByteArray::number(i).rightJustified(8, '0') + " abcdefghijklmnopqrstuvwxyz\r\n";
    c.take(lines);
    PaneFinder f(c.pane);
    QSignalSpy cleared(&f, &PaneFinder::cleared);
    ASSERT_EQ(f.setQuery(text("7 ab")), FindError::None);
    // The smallest slices: one stretch each.
    EXPECT_FALSE(f.countSome(0));
    EXPECT_FALSE(f.counted());
    const auto first = f.findNext({}, false);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, match(7, 7, 7, 11));
    EXPECT_EQ(countAll(f), 4000);
    EXPECT_EQ(f.numberOf(*first), 1);

    // More arrives: counted on from where it stopped, a line end now known included.
    c.take("99999997 ab");
    EXPECT_FALSE(f.counted());
    EXPECT_EQ(countAll(f), 4001);
    ASSERT_EQ(f.setQuery(hex("0D 0A 30 30 30 31")), FindError::None);
    EXPECT_EQ(countAll(f), 10000);
    c.take("\r");
    EXPECT_EQ(countAll(f), 10000);
    c.take("\n0001");  // the CR LF before it is whole only now
    EXPECT_EQ(countAll(f), 10001);

    // Emptied while counting: nothing stale is left, and what comes after counts anew.
    ASSERT_EQ(f.setQuery(text("ab")), FindError::None);
    f.countSome(0);
    c.pane.clear();
    c.st = ReceiveState{};
    EXPECT_EQ(cleared.count(), 1);
    EXPECT_EQ(f.count(), 0);
    EXPECT_TRUE(f.counted());
    EXPECT_FALSE(f.findNext({}, false));
    EXPECT_FALSE(f.findPrevious({5, 0}));
    EXPECT_FALSE(f.numberOf(*first));
    std::vector<MatchSpan> spans;
    f.spansOnLine(7, 0, 100, spans);
    EXPECT_TRUE(spans.empty());
    c.take("ab ab\r\nab");
    EXPECT_EQ(countAll(f), 3);
    EXPECT_EQ(f.numberOf(match(1, 0, 1, 2)), 3);
}

TEST(FindHighlight, SpansOfTheMatchesInTheColumnsAsked) {
    Capture c;
    c.take("abcabc\r\nxbc\r\n");
    PaneFinder f(c.pane);
    ASSERT_EQ(f.setQuery(text("bc")), FindError::None);
    std::vector<MatchSpan> spans;
    f.spansOnLine(0, 0, 20, spans);
    EXPECT_EQ(spans, (std::vector<MatchSpan>{{1, 3, false}, {4, 6, false}}));
    f.spansOnLine(0, 3, 5, spans);
    EXPECT_EQ(spans, (std::vector<MatchSpan>{{4, 6, false}}));
    f.spansOnLine(0, 2, 3, spans);
    EXPECT_EQ(spans, (std::vector<MatchSpan>{{1, 3, false}}));
    f.spansOnLine(5, 0, 20, spans);  // no such line
    EXPECT_TRUE(spans.empty());

    // A byte match over a line end: the rest of its first line with the line break, and the
    // start of the next.
    ASSERT_EQ(f.setQuery(hex("0D 0A 78")), FindError::None);
    f.spansOnLine(0, 0, 20, spans);
    EXPECT_EQ(spans, (std::vector<MatchSpan>{{6, kAny, true}}));
    f.spansOnLine(1, 0, 20, spans);
    EXPECT_EQ(spans, (std::vector<MatchSpan>{{0, 1, false}}));
    f.spansOnLine(1, 1, 20, spans);
    EXPECT_TRUE(spans.empty());
}
