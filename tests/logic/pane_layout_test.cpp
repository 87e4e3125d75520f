// The pane layout without any widget or font: made-up advances, and every answer held against
// the x of each column worked out from the line's text alone. Short lines, long lines and
// their marks, the walk taken only as far as asked, hit testing inside wide units, UTF-16
// units, lines that grow while walked, the widest line, a prefix before each line, new
// advances and an emptied model.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <random>
#include <vector>

#include "core/receive/PaneLayout.h"
#include "core/receive/PaneModel.h"

using namespace trelmo;
using Width = PaneLayout::Width;
using Kind = PaneModel::Kind;

namespace {

constexpr char16_t kZhong = 0x4E2D;  // a wide character, twelve pixels
constexpr Width kZhongWidth = 12 * 64;

// Made-up advances: characters differ in width, so a column off by one shows as a wrong x.
Width advance(char16_t c) {
    if (c == kZhong)
        return kZhongWidth;
    return 64 + (c % 7) * 8;
}

// The control characters without a name in the pane (a tab too), drawn as their pictures.
bool hasPicture(char16_t c) {
    return (c >= 0x07 && c <= 0x0C) || (c >= 0x0E && c <= 0x1F) || c == 0x7F;
}

// The width a character of the text takes in the pane, from the pane's rules: a control
// character without a name is its picture (U+2400 + code, DEL U+2421), other characters
// without a glyph are blanks, a lone surrogate is U+FFFD.
Width shownWidth(QChar qc) {
    const char16_t c = qc.unicode();
    if (hasPicture(c))
        return advance(c == 0x7F ? char16_t(0x2421) : char16_t(0x2400 + c));
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029)
        return advance(u' ');
    if (c >= 0xD800 && c <= 0xDFFF)
        return advance(0xFFFD);
    return advance(c);
}

// The x of every column of a text: xs[i] is column i's left edge, xs[size] the text's width.
std::vector<Width> columnXs(const QString& text) {
    std::vector<Width> xs{0};
    for (QChar c : text)
        xs.push_back(xs.back() + shownWidth(c));
    return xs;
}

// The column each unit of a line starts at, by store offset (from the model's own reader).
std::vector<std::pair<qsizetype, qsizetype>> unitColumns(const PaneModel& m, int line) {
    std::vector<std::pair<qsizetype, qsizetype>> out;
    qsizetype column = 0;
    for (PaneModel::Reader r(m, line); !r.atEnd(); r.next()) {
        out.emplace_back(r.offset(), column);
        column += r.text().size();
    }
    out.emplace_back(m.lineBytes(line), column);
    return out;
}

// Appends `blocks` blocks of received bytes to line `index`, in text, hex and named hex by
// turns, with names, controls and tabs among them, and messages outside the code page and
// inside it between blocks.
void appendMixed(PaneModel& m, int index, std::mt19937& rng, int blocks, int blockSize = 2500,
                 int firstBlock = 0) {
    static constexpr Kind kinds[] = {Kind::Text, Kind::HexEvery, Kind::HexNamed};
    for (int block = firstBlock; block < firstBlock + blocks; ++block) {
        QByteArray b;
        for (int i = 0; i < blockSize; ++i) {
            const int r = static_cast<int>(rng() % 40);
            b.append(static_cast<char>(r == 0   ? 13
                                       : r == 1 ? 9
                                       : r == 2 ? 2
                                       : r == 3 ? 0x81
                                       : r == 4 ? 0x7F
                                                : 0x20 + rng() % 95));
        }
        m.appendReceived(index, kinds[block % 3], b);
        if (block % 2 == 0)
            m.appendToLine(index, u"[\u0416\u4E2D\U0001F600\u2028]");
        else
            m.appendToLine(index, u"plain words");
    }
}

// A layout over a model that follows it as the pane's view does.
struct Laid {
    PaneModel model;
    PaneLayout layout;
    int index = 0;

    Laid() {
        layout.setAdvance(advance);
        layout.setModel(&model);
        QObject::connect(&model, &PaneModel::grown,
                         [this](int first) { layout.linesChanged(first); });
        QObject::connect(&model, &PaneModel::cleared, [this] { layout.reset(); });
    }
};

// Checks that the marks of a walk stand every kMarkEvery bytes (one more where a two-byte
// unit straddles the place) at the right column and x.
void expectMarksRight(const PaneModel& m, int line, const PaneLayout::Walk& walk) {
    const auto units = unitColumns(m, line);
    const std::vector<Width> xs = columnXs(m.line(line));
    ASSERT_FALSE(walk.marks.empty());
    EXPECT_EQ(walk.marks.front(), (PaneLayout::Mark{0, 0, 0}));
    for (size_t i = 0; i < walk.marks.size(); ++i) {
        const PaneLayout::Mark& mk = walk.marks[i];
        SCOPED_TRACE(i);
        if (i > 0) {
            const qsizetype step = mk.offset - walk.marks[i - 1].offset;
            EXPECT_GE(step, PaneLayout::kMarkEvery);
            EXPECT_LE(step, PaneLayout::kMarkEvery + 1);
        }
        auto it =
            std::lower_bound(units.begin(), units.end(), std::make_pair(mk.offset, qsizetype(0)));
        ASSERT_NE(it, units.end());
        ASSERT_EQ(it->first, mk.offset) << "a mark between units";
        EXPECT_EQ(mk.column, it->second);
        EXPECT_EQ(mk.x, xs[size_t(mk.column)]);
    }
}

}  // namespace

TEST(PaneLayout, ColumnsAndXOfShortLinesFollowTheirText) {
    Laid f;
    f.model.appendReceived(f.index, Kind::Text, QByteArrayView("ab\r\x02\tc\x81", 7));
    f.model.addEmptyLine(f.index);
    f.model.appendReceived(f.index, Kind::HexEvery, "AZ");
    f.model.appendReceived(f.index, Kind::HexNamed, QByteArrayView("\x01q\r", 3));
    f.model.addLine(u"host \u0416\u4E2D end", f.index);
    f.model.appendToLine(f.index, u"\u20ac tail");
    for (int line = 0; line < f.model.lineCount(); ++line) {
        SCOPED_TRACE(line);
        const QString text = f.model.line(line);
        const std::vector<Width> xs = columnXs(text);
        EXPECT_EQ(f.layout.lineLength(line), text.size());
        EXPECT_EQ(f.layout.lineWidth(line), xs.back());
        for (qsizetype c = 0; c <= text.size(); ++c) {
            EXPECT_EQ(f.layout.xOfColumn(line, c), xs[size_t(c)]) << c;
            EXPECT_EQ(f.layout.columnAt(line, xs[size_t(c)]), c) << c;
            EXPECT_EQ(f.layout.lineText(line, c, 3), text.mid(c, 3)) << c;
        }
        // Past either end: the line's end, the first column.
        EXPECT_EQ(f.layout.xOfColumn(line, text.size() + 5), xs.back());
        EXPECT_EQ(f.layout.columnAt(line, xs.back() + 100 * 64), text.size());
        EXPECT_EQ(f.layout.columnAt(line, -300 * 64), 0);
        // Short lines are never walked.
        EXPECT_EQ(f.layout.walked(line), nullptr);
    }
    EXPECT_EQ(f.layout.lineText(0), f.model.line(0));
    EXPECT_EQ(f.layout.lineLength(-1), 0);
    EXPECT_EQ(f.layout.lineLength(f.model.lineCount()), 0);
}

TEST(PaneLayout, ALongLineHasAMarkEvery4096Units) {
    Laid f;
    std::mt19937 rng(3);
    appendMixed(f.model, f.index, rng, 8);
    ASSERT_EQ(f.model.lineCount(), 1);
    const QString line = f.model.line(0);
    ASSERT_GT(f.model.lineBytes(0), 4 * PaneLayout::kMarkEvery);

    EXPECT_EQ(f.layout.lineLength(0), line.size());  // walks the whole line
    const PaneLayout::Walk* walk = f.layout.walked(0);
    ASSERT_NE(walk, nullptr);
    expectMarksRight(f.model, 0, *walk);
    // The last mark stands within a mark's distance of the end.
    EXPECT_LT(walk->marks.back().offset, f.model.lineBytes(0));
    EXPECT_LE(f.model.lineBytes(0) - walk->marks.back().offset, PaneLayout::kMarkEvery + 1);
    EXPECT_EQ(walk->end,
              (PaneLayout::Mark{f.model.lineBytes(0), line.size(), columnXs(line).back()}));
    EXPECT_EQ(f.layout.lineWidth(0), columnXs(line).back());
}

TEST(PaneLayout, ALongLineIsWalkedOnlyAsFarAsAsked) {
    Laid f;
    std::mt19937 rng(4);
    appendMixed(f.model, f.index, rng, 12);
    const QString line = f.model.line(0);
    const std::vector<Width> xs = columnXs(line);
    const qsizetype bytes = f.model.lineBytes(0);

    // A column near the start: the walk stops at the first mark past it.
    EXPECT_EQ(f.layout.xOfColumn(0, 10), xs[10]);
    const PaneLayout::Walk* walk = f.layout.walked(0);
    ASSERT_NE(walk, nullptr);
    ASSERT_EQ(walk->marks.size(), 2u);
    EXPECT_EQ(walk->end, walk->marks.back());
    EXPECT_GT(walk->marks.back().column, 10);

    // The middle: further, but not to the end.
    const qsizetype middle = line.size() / 2;
    EXPECT_EQ(f.layout.columnAt(0, xs[size_t(middle)]), middle);
    EXPECT_GT(walk->end.offset, PaneLayout::kMarkEvery);
    EXPECT_LT(walk->end.offset, bytes);
    // It stopped at the first mark past x.
    ASSERT_GE(walk->marks.size(), 3u);
    EXPECT_EQ(walk->end, walk->marks.back());
    EXPECT_GT(walk->end.x, xs[size_t(middle)]);
    EXPECT_LE(walk->marks[walk->marks.size() - 2].x, xs[size_t(middle)]);
    expectMarksRight(f.model, 0, *walk);
    const size_t marksAtMiddle = walk->marks.size();

    // Asking again for places behind the walk walks no further.
    EXPECT_EQ(f.layout.xOfColumn(0, middle / 2), xs[size_t(middle / 2)]);
    EXPECT_EQ(f.layout.walked(0)->marks.size(), marksAtMiddle);

    // The end.
    EXPECT_EQ(f.layout.xOfColumn(0, line.size()), xs.back());
    EXPECT_EQ(f.layout.walked(0)->end.offset, bytes);
    expectMarksRight(f.model, 0, *f.layout.walked(0));
}

TEST(PaneLayout, AnyColumnOfALongLineMapsToItsXAndBack) {
    Laid f;
    std::mt19937 rng(5);
    appendMixed(f.model, f.index, rng, 10);
    const QString line = f.model.line(0);
    const std::vector<Width> xs = columnXs(line);
    std::vector<qsizetype> columns = {0, 1, 4095, 4096, 4097, 8191, 8192};
    for (qsizetype c : {line.size() / 3, line.size() / 2, line.size() - 1, line.size()})
        columns.push_back(c);
    for (int i = 0; i < 200; ++i)
        columns.push_back(static_cast<qsizetype>(rng() % (line.size() + 1)));
    for (qsizetype c : columns) {
        SCOPED_TRACE(c);
        EXPECT_EQ(f.layout.xOfColumn(0, c), xs[size_t(c)]);
        EXPECT_EQ(f.layout.columnAt(0, xs[size_t(c)]), c);
        EXPECT_EQ(f.layout.lineText(0, c, 9), line.mid(c, 9));
    }
}

TEST(PaneLayout, HitTestingTakesTheNearerSideOfTheCharacterUnderX) {
    Laid f;
    // "ab", a wide character in a UTF-16 piece, then a hex unit of five characters.
    f.model.appendToLine(f.index, u"ab");
    f.model.appendToLine(f.index, QString(QChar(kZhong)));
    f.model.appendReceived(f.index, Kind::HexEvery, "A");
    ASSERT_EQ(f.model.line(0), QStringView(u"ab\u4E2D0x41 ").toString());
    const std::vector<Width> xs = columnXs(f.model.line(0));
    ASSERT_EQ(xs[3] - xs[2], kZhongWidth);

    // Across the middle of the wide character.
    EXPECT_EQ(f.layout.columnAt(0, xs[2]), 2);
    EXPECT_EQ(f.layout.columnAt(0, xs[2] + kZhongWidth / 2 - 1), 2);
    EXPECT_EQ(f.layout.columnAt(0, xs[2] + kZhongWidth / 2), 3);
    EXPECT_EQ(f.layout.columnAt(0, xs[3] - 1), 3);
    // Inside the hex unit: its characters are columns of their own.
    for (qsizetype c = 3; c < 8; ++c) {
        const Width w = xs[size_t(c + 1)] - xs[size_t(c)];
        EXPECT_EQ(f.layout.columnAt(0, xs[size_t(c)] + w / 2 - 1), c) << c;
        EXPECT_EQ(f.layout.columnAt(0, xs[size_t(c)] + w / 2), c + 1) << c;
    }

    // The same in a long line, the wide character just past a mark.
    f.model.clear();
    f.index = 0;
    f.model.appendReceived(f.index, Kind::Text, QByteArray(PaneLayout::kMarkEvery + 3, 'x'));
    f.model.appendToLine(f.index, QString(QChar(kZhong)));
    f.model.appendReceived(f.index, Kind::Text, QByteArray(PaneLayout::kMarkEvery, 'y'));
    const std::vector<Width> longXs = columnXs(f.model.line(0));
    const size_t at = PaneLayout::kMarkEvery + 3;
    EXPECT_EQ(f.layout.columnAt(0, longXs[at] + kZhongWidth / 2 - 1), qsizetype(at));
    EXPECT_EQ(f.layout.columnAt(0, longXs[at] + kZhongWidth / 2), qsizetype(at + 1));
    EXPECT_EQ(f.layout.xOfColumn(0, qsizetype(at + 1)), longXs[at] + kZhongWidth);
}

TEST(PaneLayout, WideUnitsAreTwoBytesAndOneColumnEach) {
    Laid f;
    // One byte first, so the two-byte units start at odd offsets, then 9000 of them.
    QString wide;
    for (int i = 0; i < 9000; ++i)
        wide += QChar(char16_t(i % 5 == 0 ? kZhong : 0x0410 + i % 32));
    f.model.appendToLine(f.index, u"x");
    f.model.appendToLine(f.index, wide);
    ASSERT_EQ(f.model.lineBytes(0), 1 + 2 * 9000);
    const QString line = f.model.line(0);
    const std::vector<Width> xs = columnXs(line);
    EXPECT_EQ(f.layout.lineLength(0), 9001);
    const PaneLayout::Walk* walk = f.layout.walked(0);
    ASSERT_NE(walk, nullptr);
    expectMarksRight(f.model, 0, *walk);
    for (const PaneLayout::Mark& mk : walk->marks)
        EXPECT_EQ(mk.offset % 2, mk.offset == 0 ? 0 : 1) << "a mark inside a unit";
    for (qsizetype c : {qsizetype(1), qsizetype(2048), qsizetype(2049), qsizetype(4500),
                        qsizetype(9000), qsizetype(9001)}) {
        EXPECT_EQ(f.layout.xOfColumn(0, c), xs[size_t(c)]) << c;
        EXPECT_EQ(f.layout.columnAt(0, xs[size_t(c)]), c) << c;
    }
    EXPECT_EQ(f.layout.lineText(0, 4000, 20), line.mid(4000, 20));
}

TEST(PaneLayout, ALineThatGrowsWhileWalkedKeepsItsMarksAndGoesOn) {
    Laid f;
    std::mt19937 rng(6);
    appendMixed(f.model, f.index, rng, 5);
    ASSERT_EQ(f.layout.lineLength(0), f.model.line(0).size());
    const std::vector<PaneLayout::Mark> before = f.layout.walked(0)->marks;

    appendMixed(f.model, f.index, rng, 5);
    ASSERT_EQ(f.model.lineCount(), 1);
    const QString line = f.model.line(0);
    const std::vector<Width> xs = columnXs(line);
    // The walk is kept and goes on from where it stood.
    const PaneLayout::Walk* walk = f.layout.walked(0);
    ASSERT_NE(walk, nullptr);
    ASSERT_EQ(walk->marks.size(), before.size());
    EXPECT_EQ(f.layout.xOfColumn(0, line.size() - 3), xs[size_t(line.size() - 3)]);
    EXPECT_EQ(f.layout.lineLength(0), line.size());
    walk = f.layout.walked(0);
    ASSERT_GT(walk->marks.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), walk->marks.begin()));
    expectMarksRight(f.model, 0, *walk);

    // The same marks as a layout that saw the line whole.
    PaneLayout fresh;
    fresh.setAdvance(advance);
    fresh.setModel(&f.model);
    EXPECT_EQ(fresh.lineLength(0), line.size());
    EXPECT_EQ(fresh.walked(0)->marks, walk->marks);
    EXPECT_EQ(fresh.walked(0)->end, walk->end);
}

TEST(PaneLayout, TheWidestLineIsMeasuredAsLinesArrive) {
    Laid f;
    auto widest = [&] {
        Width w = 0;
        for (int line = 0; line < f.model.lineCount(); ++line)
            w = std::max(w, columnXs(f.model.line(line)).back());
        return w;
    };
    f.layout.measureNew();
    EXPECT_EQ(f.layout.widestLine(), 0);

    std::mt19937 rng(8);
    for (int round = 0; round < 30; ++round) {
        // A partial line measured in pieces, then lines and line breaks.
        appendMixed(f.model, f.index, rng, 1, 1 + static_cast<int>(rng() % 300), round);
        f.layout.measureNew();
        ASSERT_EQ(f.layout.widestLine(), widest()) << round;
        if (round % 3 == 2)
            f.model.addEmptyLine(f.index);
        if (round % 5 == 4)
            f.model.addLine(u"a message line", f.index);
        f.layout.measureNew();
        ASSERT_EQ(f.layout.widestLine(), widest()) << round;
    }
    f.layout.measureNew();
    EXPECT_EQ(f.layout.widestLine(), widest()) << "nothing new";
    for (int line = 0; line < f.model.lineCount(); ++line)
        EXPECT_EQ(f.layout.lineWidth(line), columnXs(f.model.line(line)).back()) << line;
}

TEST(PaneLayout, AnEmptiedModelStartsFromNothing) {
    Laid f;
    std::mt19937 rng(9);
    appendMixed(f.model, f.index, rng, 4);
    f.layout.measureNew();
    ASSERT_EQ(f.layout.lineLength(0), f.model.line(0).size());
    ASSERT_GT(f.layout.widestLine(), 0);

    f.model.clear();
    f.index = 0;
    EXPECT_EQ(f.layout.widestLine(), 0);
    EXPECT_EQ(f.layout.walked(0), nullptr);
    EXPECT_EQ(f.layout.lineLength(0), 0);
    EXPECT_EQ(f.layout.lineWidth(0), 0);
    EXPECT_EQ(f.layout.xOfColumn(0, 50), 0);
    EXPECT_EQ(f.layout.columnAt(0, 5000), 0);
    EXPECT_EQ(f.layout.lineText(0, 0, 10), QString());
    PaneLayout::Visible shown;
    f.layout.visible(0, 0, 100 * 64, shown);
    EXPECT_TRUE(shown.glyphs.empty());
    EXPECT_FALSE(shown.more);

    // What arrives next is measured alone.
    f.model.addLine(u"short", f.index);
    f.layout.measureNew();
    EXPECT_EQ(f.layout.widestLine(), columnXs(QStringLiteral("short")).back());

    // Without a model nothing is laid out.
    f.layout.setModel(nullptr);
    f.layout.measureNew();
    EXPECT_EQ(f.layout.widestLine(), 0);
    EXPECT_EQ(f.layout.lineLength(0), 0);
    EXPECT_EQ(f.layout.xOfColumn(0, 3), 0);
}

TEST(PaneLayout, BlanksTabsAndLoneSurrogates) {
    Laid f;
    // Text mode: a tab, a C1 control and DEL as themselves; then a line separator and the
    // two halves of a surrogate pair, each alone, in a message. The tab and DEL are drawn as
    // their pictures, the C1 control and the separator as blanks.
    f.model.appendReceived(f.index, Kind::Text, QByteArrayView("a\t\x81\x7f\x62", 5));
    const QChar message[] = {QChar(0x2028), QChar(0xD83D), QChar(u'c'), QChar(0xDE00)};
    f.model.appendToLine(f.index, QString(message, 4));
    const QString text = f.model.line(0);
    ASSERT_EQ(text.size(), 9);
    const Width space = advance(u' ');
    EXPECT_EQ(f.layout.charWidth(u'\t'), advance(0x2409));
    EXPECT_EQ(f.layout.charWidth(0x7F), advance(0x2421));
    EXPECT_EQ(f.layout.charWidth(0x81), space);
    EXPECT_EQ(f.layout.charWidth(0x2028), space);
    EXPECT_EQ(f.layout.charWidth(0xD83D), advance(0xFFFD));
    EXPECT_EQ(f.layout.unitWidth(Kind::Text, '\t'), advance(0x2409));
    EXPECT_EQ(f.layout.unitWidth(Kind::HexEvery, 'A'), columnXs(QStringLiteral("0x41 ")).back());
    EXPECT_EQ(f.layout.unitWidth(Kind::Text, 13), columnXs(QStringLiteral("<CR>")).back());
    EXPECT_EQ(f.layout.unitWidth(Kind::Wide, kZhong), kZhongWidth);

    PaneLayout::Visible shown;
    f.layout.visible(0, 0, 1000 * 64, shown);
    ASSERT_EQ(shown.glyphs.size(), 9u);
    const std::vector<Width> xs = columnXs(text);
    const char16_t drawn[] = {u'a', u'\t', 0x81, 0x7F, u'b', 0x2028, 0xFFFD, u'c', 0xFFFD};
    using Look = PaneLayout::Look;
    const Look looks[] = {Look::Shown, Look::Picture, Look::Blank, Look::Picture, Look::Shown,
                          Look::Blank, Look::Shown,   Look::Shown, Look::Shown};
    for (size_t i = 0; i < 9; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(shown.glyphs[i].x, xs[i]);
        EXPECT_EQ(shown.glyphs[i].look, looks[i]);
        if (looks[i] != Look::Blank) {
            EXPECT_EQ(shown.glyphs[i].c, drawn[i]);
        }
    }
    EXPECT_EQ(shown.end, xs.back());
    EXPECT_FALSE(shown.more);
}

TEST(PaneLayout, TheVisibleCharactersRunFromTheLeftEdgeToPastTheRight) {
    Laid f;
    std::mt19937 rng(10);
    appendMixed(f.model, f.index, rng, 12);
    const QString line = f.model.line(0);
    const std::vector<Width> xs = columnXs(line);
    const Width span = 300 * 64;
    PaneLayout::Visible shown;
    for (Width left : {Width(-4 * 64), Width(0), xs[4096] + 5, xs.back() / 2, xs.back() - span / 2,
                       xs.back() - 10}) {
        SCOPED_TRACE(left);
        f.layout.visible(0, left, left + span, shown);
        ASSERT_FALSE(shown.glyphs.empty());
        const qsizetype first = shown.column;
        // The first unit is the one under the left edge.
        const auto units = unitColumns(f.model, 0);
        auto unit = std::find_if(units.begin(), units.end(),
                                 [&](const auto& u) { return u.second == first; });
        ASSERT_NE(unit, units.end()) << "the first glyph is a unit's first character";
        ASSERT_NE(unit + 1, units.end());
        EXPECT_LE(xs[size_t(first)], std::max<Width>(left, 0));
        EXPECT_GT(xs[size_t((unit + 1)->second)], std::max<Width>(left, 0));
        // Glyph by glyph, the line's characters at their x.
        for (size_t g = 0; g < shown.glyphs.size(); ++g) {
            const qsizetype c = first + qsizetype(g);
            ASSERT_LT(c, line.size());
            EXPECT_EQ(shown.glyphs[g].x, xs[size_t(c)]) << g;
        }
        const qsizetype past = first + qsizetype(shown.glyphs.size());
        EXPECT_EQ(shown.end, xs[size_t(past)]);
        // It ends at the first unit starting at or past the right edge, or at the line's end.
        EXPECT_EQ(shown.more, past < line.size());
        if (shown.more) {
            EXPECT_GE(shown.end, left + span);
        }
        // Its last unit starts before the right edge.
        auto last = std::find_if(units.rbegin(), units.rend(),
                                 [&](const auto& u) { return u.second < past; });
        ASSERT_NE(last, units.rend());
        EXPECT_LT(xs[size_t(last->second)], left + span);
        // However long the line, no more than the span's worth of characters (the narrowest
        // is one pixel) and a unit either side.
        EXPECT_LE(shown.glyphs.size(), size_t(span / 64 + 2 * 5 + 1));
    }
}

TEST(PaneLayout, APrefixComesBeforeEachLinesText) {
    Laid f;
    f.layout.setPrefix([](int line) { return Width(10 + line) * 64; });
    f.model.addLine(u"first line", f.index);
    f.model.appendReceived(f.index, Kind::HexEvery, "xyz");
    f.model.addEmptyLine(f.index);
    f.layout.measureNew();
    Width widest = 0;
    for (int line = 0; line < f.model.lineCount(); ++line) {
        SCOPED_TRACE(line);
        const Width prefix = (10 + line) * 64;
        const QString text = f.model.line(line);
        const std::vector<Width> xs = columnXs(text);
        EXPECT_EQ(f.layout.prefixWidth(line), prefix);
        EXPECT_EQ(f.layout.lineWidth(line), prefix + xs.back());
        widest = std::max(widest, prefix + xs.back());
        for (qsizetype c = 0; c <= text.size(); ++c) {
            EXPECT_EQ(f.layout.xOfColumn(line, c), prefix + xs[size_t(c)]) << c;
            EXPECT_EQ(f.layout.columnAt(line, prefix + xs[size_t(c)]), c) << c;
        }
        EXPECT_EQ(f.layout.columnAt(line, prefix / 2), 0) << "on the prefix";
        PaneLayout::Visible shown;
        f.layout.visible(line, 0, 1000 * 64, shown);
        EXPECT_EQ(shown.end, prefix + xs.back());
        if (!text.isEmpty()) {
            EXPECT_EQ(shown.glyphs.front().x, prefix);
        }
    }
    EXPECT_EQ(f.layout.widestLine(), widest);
}

TEST(PaneLayout, NewAdvancesMeasureEverythingAgain) {
    Laid f;
    std::mt19937 rng(11);
    appendMixed(f.model, f.index, rng, 4);
    f.layout.measureNew();
    ASSERT_EQ(f.layout.lineLength(0), f.model.line(0).size());
    const Width single = f.layout.widestLine();
    ASSERT_EQ(single, columnXs(f.model.line(0)).back());

    f.layout.setAdvance([](char16_t c) { return 2 * advance(c); });
    EXPECT_EQ(f.layout.walked(0), nullptr);
    EXPECT_EQ(f.layout.widestLine(), 0);
    f.layout.measureNew();
    EXPECT_EQ(f.layout.widestLine(), 2 * single);
    EXPECT_EQ(f.layout.xOfColumn(0, 5000), 2 * columnXs(f.model.line(0))[5000]);
    EXPECT_EQ(f.layout.charWidth(kZhong), 2 * kZhongWidth);
}
