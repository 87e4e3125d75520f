// The pane view: a real QPlainTextEdit follows the pane model incrementally, coalesced on a
// timer, keeping the user's selection and scroll position.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <random>

#include "terminal/PaneModel.h"
#include "terminal/PaneView.h"
#include "terminal/ReceiveFormatter.h"
#include "tests/common/Pump.h"
#include "widgets/ByteTableModel.h"

using namespace trelmo;
using trelmo::test::pumpUntil;

namespace {

struct Fixture {
    PaneModel pane;
    ByteTableModel table;
    ReceiveFormatter fmt{pane, table};
    ReceiveState st;
    QPlainTextEdit edit;
    PaneView* view;

    Fixture() {
        edit.setObjectName(QStringLiteral("Memo_receive"));
        edit.resize(300, 120);
        edit.show();
        view = new PaneView(pane, &edit);
    }
    void feed(const QByteArray& b, bool hex = false) {
        fmt.receiveBlock(st, b, LinkPolicy::serial(), hex);
    }
    bool inStep() const { return !view->hasPending() && edit.toPlainText() == pane.text(); }
};

QByteArray randomText(std::mt19937& rng, int n) {
    QByteArray out;
    for (int i = 0; i < n; ++i) {
        const int r = static_cast<int>(rng() % 20);
        out.append(static_cast<char>(r == 0 ? 10 : r == 1 ? 13 : 0x20 + rng() % 95));
    }
    return out;
}

}  // namespace

TEST(PaneView, FollowsTheModelAfterEvents) {
    Fixture f;
    EXPECT_TRUE(f.edit.isReadOnly());
    std::mt19937 rng(5);
    for (int round = 0; round < 30; ++round) {
        f.feed(randomText(rng, 1 + static_cast<int>(rng() % 400)), round % 3 == 0);
        if (round % 7 == 0)
            f.pane.addLine(u"Socket error #10061", f.st.LineIndex);
        if (round % 5 == 0) {
            ASSERT_TRUE(pumpUntil([&] { return f.inStep(); }));
        }
    }
    ASSERT_TRUE(pumpUntil([&] { return f.inStep(); }));
    EXPECT_EQ(f.edit.document()->blockCount(), std::max(1, f.pane.lineCount()));
}

TEST(PaneView, ShowsAModelThatAlreadyHasLinesAndFollowsAClear) {
    PaneModel pane;
    int idx = 0;
    pane.addLine(u"before", idx);
    pane.appendToLine(idx, u"partial");
    QPlainTextEdit edit;
    PaneView* view = new PaneView(pane, &edit);
    ASSERT_TRUE(pumpUntil([&] { return edit.toPlainText() == QStringLiteral("before\npartial"); }));
    pane.clear();
    ASSERT_TRUE(pumpUntil([&] { return !view->hasPending() && edit.toPlainText().isEmpty(); }));
    idx = 0;
    pane.addLine(u"after", idx);
    view->flush();
    EXPECT_EQ(edit.toPlainText(), QStringLiteral("after\n"));
}

TEST(PaneView, UpdatesAreAppendsNotRewrites) {
    Fixture f;
    f.feed("hello");
    f.view->flush();
    int removed = 0;
    int inserted = 0;
    QObject::connect(f.edit.document(), &QTextDocument::contentsChange,
                     [&](int, int charsRemoved, int charsAdded) {
                         removed += charsRemoved;
                         inserted += charsAdded;
                     });
    const QByteArray more = "world\nline two\npart";
    f.feed(more);
    f.feed(" three");
    EXPECT_TRUE(f.view->hasPending());  // coalesced, not applied per change
    f.view->flush();
    EXPECT_EQ(f.edit.toPlainText(), QStringLiteral("helloworld\nline two\npart three"));
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(inserted, more.size() + 6);
}

TEST(PaneView, KeepsSelectionAndScrollUnlessAtBottom) {
    Fixture f;
    for (int i = 0; i < 200; ++i)
        f.feed("line of text\n");
    f.view->flush();
    QScrollBar* bar = f.edit.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());  // followed the output

    // The user scrolls up and selects something: new output leaves both alone.
    QTextCursor sel(f.edit.document());
    sel.setPosition(5);
    sel.setPosition(9, QTextCursor::KeepAnchor);
    f.edit.setTextCursor(sel);
    bar->setValue(10);
    for (int i = 0; i < 50; ++i)
        f.feed("more text\n");
    f.view->flush();
    EXPECT_EQ(bar->value(), 10);
    EXPECT_EQ(f.edit.textCursor().anchor(), 5);
    EXPECT_EQ(f.edit.textCursor().position(), 9);
    EXPECT_EQ(f.edit.textCursor().selectedText(), QStringLiteral("of t"));

    // Back at the bottom: it follows again.
    bar->setValue(bar->maximum());
    for (int i = 0; i < 50; ++i)
        f.feed("tail\n");
    f.view->flush();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(f.edit.toPlainText(), f.pane.text());
}

TEST(PaneView, SelectionAtTheEndDoesNotGrowWithNewText) {
    Fixture f;
    f.feed("abc");
    f.view->flush();
    QTextCursor all(f.edit.document());
    all.select(QTextCursor::Document);
    f.edit.setTextCursor(all);
    f.feed("def\n");
    f.view->flush();
    EXPECT_EQ(f.edit.textCursor().selectedText(), QStringLiteral("abc"));
}

TEST(PaneView, LineBreakCharactersInsideALineKeepLinesAligned) {
    Fixture f;
    f.feed("A\n");
    f.pane.addLine(QStringLiteral("\r"), f.st.LineIndex);  // a line holding only CR
    f.feed("B");
    f.view->flush();
    EXPECT_EQ(f.pane.lines(), QStringList({"A", "\r", "B"}));
    EXPECT_EQ(f.edit.document()->blockCount(), 3);
    EXPECT_EQ(f.edit.document()->findBlockByNumber(2).text(), QStringLiteral("B"));
    EXPECT_EQ(f.edit.toPlainText(), QStringLiteral("A\n \nB"));
}
