// The pane model: the add-a-line rule with its line index, appending to a line, clearing,
// the text read-back and the change signals.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "terminal/PaneModel.h"

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
    QSignalSpy appended(&p, &PaneModel::linesAppended);
    p.addLine(u"first", idx);
    EXPECT_EQ(idx, 1);
    EXPECT_EQ(p.lines(), QStringList({"first", ""}));
    EXPECT_EQ(p.text(), QStringLiteral("first\n"));
    ASSERT_EQ(appended.count(), 1);
    EXPECT_EQ(appended[0][0].toInt(), 0);
    EXPECT_EQ(appended[0][1].toInt(), 2);
    // The last line is empty: it takes the next line's text, another empty line follows.
    p.addLine(u"second", idx);
    EXPECT_EQ(idx, 2);
    EXPECT_EQ(p.lines(), QStringList({"first", "second", ""}));
}

TEST(PaneModel, AddLineBehindPartialLineBecomesTheLastLine) {
    PaneModel p;
    int idx = 0;
    p.appendToLine(idx, u"partial");
    QSignalSpy changed(&p, &PaneModel::lineChanged);
    p.addLine(u"message", idx);
    EXPECT_EQ(idx, 1);
    EXPECT_EQ(p.lines(), QStringList({"partial", "message"}));
    EXPECT_EQ(changed.count(), 0);
    p.appendToLine(idx, u" more");
    EXPECT_EQ(p.lines(), QStringList({"partial", "message more"}));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toInt(), 1);
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
    QSignalSpy appended(&p, &PaneModel::linesAppended);
    p.appendToLine(2, u"x");
    EXPECT_EQ(p.lines(), QStringList({"", "", "x"}));
    ASSERT_EQ(appended.count(), 1);
    EXPECT_EQ(appended[0][0].toInt(), 0);
    EXPECT_EQ(appended[0][1].toInt(), 3);
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
