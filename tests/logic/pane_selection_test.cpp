// The pane's selection without a widget: anchor and caret in either order, clamping, the
// selection's part of each line, the moves of the keys, words, the selected text of short
// and long lines, and a selection that stays on its text while lines arrive.
#include <gtest/gtest.h>

#include <QByteArray>
#include <limits>

#include "core/receive/PaneLayout.h"
#include "core/receive/PaneModel.h"
#include "core/receive/PaneSelection.h"

using namespace trelmo;
using Pos = PanePosition;
using Move = PaneSelection::Move;

namespace {

struct Selecting {
    PaneModel model;
    PaneLayout layout;
    PaneSelection sel{layout};
    int index = 0;

    explicit Selecting(const QStringList& lines = {}) {
        layout.setModel(&model);
        for (const QString& l : lines)
            model.addLine(l, index);
    }
};

}  // namespace

TEST(PaneSelection, RunsFromTheEarlierPositionToTheLaterInEitherOrder) {
    Selecting f({"alpha beta gamma", "second line", "third"});
    EXPECT_FALSE(f.sel.hasSelection());
    f.sel.select(Pos{1, 7}, Pos{0, 6});
    EXPECT_TRUE(f.sel.hasSelection());
    EXPECT_EQ(f.sel.anchor(), (Pos{1, 7}));
    EXPECT_EQ(f.sel.caret(), (Pos{0, 6}));
    EXPECT_EQ(f.sel.start(), (Pos{0, 6}));
    EXPECT_EQ(f.sel.end(), (Pos{1, 7}));
    EXPECT_EQ(f.sel.text(), QStringLiteral("beta gamma\nsecond "));

    // The part of each line: to past any column and over the break on the first line.
    const auto first = f.sel.spanOn(0);
    EXPECT_EQ(first.from, 6);
    EXPECT_EQ(first.to, std::numeric_limits<qsizetype>::max());
    EXPECT_TRUE(first.lineBreak);
    const auto second = f.sel.spanOn(1);
    EXPECT_EQ(second.from, 0);
    EXPECT_EQ(second.to, 7);
    EXPECT_FALSE(second.lineBreak);
    const auto third = f.sel.spanOn(2);
    EXPECT_EQ(third.from, third.to);

    f.sel.deselect();
    EXPECT_FALSE(f.sel.hasSelection());
    EXPECT_EQ(f.sel.caret(), (Pos{0, 6}));
    EXPECT_EQ(f.sel.text(), QString());
    const auto none = f.sel.spanOn(0);
    EXPECT_EQ(none.from, none.to);
}

TEST(PaneSelection, PositionsAreClampedToTheText) {
    Selecting f({"one", "three"});  // and an empty last line
    EXPECT_EQ(f.sel.clamp(Pos{-3, -1}), (Pos{0, 0}));
    EXPECT_EQ(f.sel.clamp(Pos{0, 99}), (Pos{0, 3}));
    EXPECT_EQ(f.sel.clamp(Pos{1, 4}), (Pos{1, 4}));
    EXPECT_EQ(f.sel.clamp(Pos{40, 2}), (Pos{2, 0}));
    f.sel.select(Pos{0, 50}, Pos{1, 50});
    EXPECT_EQ(f.sel.text(), QStringLiteral("\nthree"));
    f.sel.selectAll();
    EXPECT_EQ(f.sel.start(), (Pos{0, 0}));
    EXPECT_EQ(f.sel.end(), (Pos{2, 0}));
    EXPECT_EQ(f.sel.text(), f.model.text());

    // An empty text has only its start; select all selects nothing.
    Selecting empty;
    EXPECT_EQ(empty.sel.clamp(Pos{3, 3}), (Pos{0, 0}));
    empty.sel.selectAll();
    EXPECT_FALSE(empty.sel.hasSelection());
    empty.sel.move(Move::EndOfText, 10, true);
    EXPECT_EQ(empty.sel.caret(), (Pos{0, 0}));
}

TEST(PaneSelection, KeysMoveTheCaretAcrossLineEnds) {
    Selecting f({"abcdef", "xy", "longer line", "z"});  // and an empty last line
    f.sel.select(Pos{0, 6}, Pos{0, 6});
    f.sel.move(Move::NextChar, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{1, 0})) << "over the line break";
    f.sel.move(Move::PreviousChar, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{0, 6})) << "back over it";
    f.sel.move(Move::PreviousChar, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{0, 5}));

    // Down onto a shorter line: the column is clamped to it.
    f.sel.move(Move::NextLine, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{1, 2}));
    f.sel.move(Move::NextLine, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{2, 2}));
    f.sel.move(Move::EndOfLine, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{2, 11}));
    f.sel.move(Move::StartOfLine, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{2, 0}));
    f.sel.move(Move::PreviousPage, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{0, 0}));
    f.sel.move(Move::PreviousChar, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{0, 0})) << "nothing before the start";
    f.sel.move(Move::PreviousLine, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{0, 0}));
    f.sel.move(Move::NextPage, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{3, 0}));
    f.sel.move(Move::NextPage, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{4, 0})) << "the last line";
    f.sel.move(Move::NextChar, 3, false);
    EXPECT_EQ(f.sel.caret(), (Pos{4, 0})) << "nothing after the end";
    EXPECT_FALSE(f.sel.hasSelection());

    // With extend the anchor stays; without it the selection goes.
    f.sel.select(Pos{1, 1}, Pos{1, 1});
    f.sel.move(Move::NextChar, 3, true);
    f.sel.move(Move::NextChar, 3, true);
    EXPECT_EQ(f.sel.text(), QStringLiteral("y\n"));
    f.sel.move(Move::EndOfText, 3, true);
    EXPECT_EQ(f.sel.text(), QStringLiteral("y\nlonger line\nz\n"));
    f.sel.move(Move::StartOfText, 3, true);
    EXPECT_EQ(f.sel.text(), QStringLiteral("abcdef\nx"));
    EXPECT_EQ(f.sel.anchor(), (Pos{1, 1}));
    f.sel.move(Move::NextLine, 3, false);
    EXPECT_FALSE(f.sel.hasSelection());
    EXPECT_EQ(f.sel.caret(), (Pos{1, 0}));
}

TEST(PaneSelection, AWordIsARunOfCharactersOtherThanWhiteSpace) {
    Selecting f({"alpha beta  0x41 <CR>gamma"});
    f.sel.selectWordAt(Pos{0, 8});
    EXPECT_EQ(f.sel.text(), QStringLiteral("beta"));
    f.sel.selectWordAt(Pos{0, 6});
    EXPECT_EQ(f.sel.text(), QStringLiteral("beta")) << "from its first character";
    f.sel.selectWordAt(Pos{0, 20});
    EXPECT_EQ(f.sel.text(), QStringLiteral("<CR>gamma"));
    // On white space or past the end of the line: no word, the caret there.
    f.sel.selectWordAt(Pos{0, 11});
    EXPECT_FALSE(f.sel.hasSelection());
    EXPECT_EQ(f.sel.caret(), (Pos{0, 11}));
    f.sel.selectWordAt(Pos{0, 200});
    EXPECT_FALSE(f.sel.hasSelection());
    EXPECT_EQ(f.sel.caret(), (Pos{0, 26}));

    // A word longer than the search reaches: 512 characters either side of the place.
    Selecting longWord({QString(3000, u'w')});
    longWord.sel.selectWordAt(Pos{0, 1000});
    EXPECT_EQ(longWord.sel.start(), (Pos{0, 488}));
    EXPECT_EQ(longWord.sel.end(), (Pos{0, 1512}));
}

TEST(PaneSelection, TheTextOfALongLineIsReadFromItsMarks) {
    Selecting f;
    QByteArray bytes;
    for (int i = 0; i < 30000; ++i)
        bytes.append(static_cast<char>(i % 17 == 0 ? 13 : 0x21 + i % 90));
    f.model.appendReceived(f.index, PaneModel::Kind::HexNamed, bytes);
    f.model.addLine(u"after", f.index);
    const QString line = f.model.line(0);
    const qsizetype middle = line.size() / 2;
    f.sel.select(Pos{0, middle}, Pos{0, middle + 1000});
    EXPECT_EQ(f.sel.text(), line.mid(middle, 1000));
    f.sel.select(Pos{0, line.size() - 10}, Pos{1, 3});
    EXPECT_EQ(f.sel.text(), line.right(10) + QStringLiteral("\naft"));
    f.sel.move(Move::EndOfLine, 1, false);
    f.sel.move(Move::PreviousLine, 1, false);
    EXPECT_EQ(f.sel.caret(), (Pos{0, 5}));
    f.sel.move(Move::EndOfLine, 1, false);
    EXPECT_EQ(f.sel.caret(), (Pos{0, line.size()}));
    EXPECT_NE(f.layout.walked(0), nullptr);
}

TEST(PaneSelection, StaysOnItsTextWhileLinesArriveAndResetsWithTheText) {
    Selecting f({"line of text", "another"});
    f.sel.select(Pos{0, 5}, Pos{1, 3});
    ASSERT_EQ(f.sel.text(), QStringLiteral("of text\nano"));
    for (int i = 0; i < 100; ++i)
        f.model.addLine(u"new line", f.index);
    f.model.appendToLine(f.index, u"partial");
    EXPECT_EQ(f.sel.text(), QStringLiteral("of text\nano"));

    f.model.clear();
    f.sel.reset();
    EXPECT_FALSE(f.sel.hasSelection());
    EXPECT_EQ(f.sel.caret(), (Pos{0, 0}));
    EXPECT_EQ(f.sel.text(), QString());
}
