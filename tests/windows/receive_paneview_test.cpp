// The receive pane's view over the pane model: its text, following the end, selection by
// mouse and keys, copy, and lines far longer than the view.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTest>
#include <random>

#include "core/receive/ByteTableModel.h"
#include "core/receive/PaneModel.h"
#include "core/receive/ReceiveFormatter.h"
#include "terminal/ReceivePaneView.h"
#include "tests/common/Pump.h"

using namespace trelmo;
using Pos = ReceivePaneView::Position;

namespace {

struct Fixture {
    PaneModel pane;
    ByteTableModel table;
    ReceiveFormatter fmt{pane, table};
    ReceiveState st;
    ReceivePaneView view;

    Fixture() {
        view.setObjectName(QStringLiteral("Memo_receive"));
        view.resize(300, 120);
        view.setModel(&pane);
        view.show();
    }
    void feed(const QByteArray& b, bool hex = false) {
        fmt.receiveBlock(st, b, LinkPolicy::serial(), hex);
    }
    void feedTcp(const QByteArray& b, bool hex) {
        fmt.receiveBlock(st, b, LinkPolicy::tcpClient(), hex);
    }
    QScrollBar* vbar() { return view.verticalScrollBar(); }
};

QByteArray randomText(std::mt19937& rng, int n) {
    QByteArray out;
    for (int i = 0; i < n; ++i) {
        const int r = static_cast<int>(rng() % 20);
        out.append(static_cast<char>(r == 0   ? 10
                                     : r == 1 ? 13
                                     : r == 2 ? rng() % 256
                                              : 0x20 + rng() % 95));
    }
    return out;
}

}  // namespace

TEST(ReceivePaneView, PlainTextIsTheModelsTextAtAnyTime) {
    Fixture f;
    std::mt19937 rng(5);
    for (int round = 0; round < 40; ++round) {
        f.feed(randomText(rng, 1 + static_cast<int>(rng() % 400)), round % 3 == 0);
        if (round % 7 == 0)
            f.pane.addLine(u"Socket error #10061", f.st.LineIndex);
        // No waiting: the property reads the model.
        ASSERT_EQ(f.view.property("plainText").toString(), f.pane.text());
    }
    EXPECT_EQ(f.view.toPlainText(), f.pane.lines().join(u'\n'));
    f.pane.clear();
    EXPECT_EQ(f.view.toPlainText(), QString());
}

TEST(ReceivePaneView, FollowsTheEndOnlyFromTheBottom) {
    Fixture f;
    for (int i = 0; i < 200; ++i)
        f.feed("line of text\n");
    f.view.flush();
    ASSERT_GT(f.vbar()->maximum(), 0);
    EXPECT_TRUE(f.view.atBottom());
    EXPECT_EQ(f.view.firstVisibleLine(), f.pane.lineCount() - f.view.visibleLineCount());

    // Scrolled up by the user: new lines leave the view where it is.
    f.vbar()->setValue(10);
    for (int i = 0; i < 50; ++i)
        f.feed("more text\n");
    f.view.flush();
    EXPECT_EQ(f.view.firstVisibleLine(), 10);
    EXPECT_FALSE(f.view.atBottom());

    // Back at the bottom: followed again, also when the timer applies the change.
    f.vbar()->setValue(f.vbar()->maximum());
    for (int i = 0; i < 50; ++i)
        f.feed("tail\n");
    ASSERT_TRUE(test::pumpUntil([&] { return !f.view.hasPending(); }));
    EXPECT_TRUE(f.view.atBottom());
    EXPECT_EQ(f.vbar()->maximum(), f.pane.lineCount() - f.view.visibleLineCount());
}

TEST(ReceivePaneView, MouseAndKeyboardSelectionAndCopy) {
    Fixture f;
    f.feed("alpha beta gamma\nsecond line\nthird");
    f.view.flush();
    QWidget* vp = f.view.viewport();

    // Drag from the start of "beta" to the start of "line" on the next line.
    const QPoint from = f.view.pointOf(Pos{0, 6});
    const QPoint to = f.view.pointOf(Pos{1, 7});
    EXPECT_EQ(f.view.positionAt(from), (Pos{0, 6}));
    EXPECT_EQ(f.view.positionAt(to), (Pos{1, 7}));
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(vp, to);
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(f.view.selectedText(), QStringLiteral("beta gamma\nsecond "));

    // Shift+click extends from the same anchor.
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, f.view.pointOf(Pos{2, 3}));
    EXPECT_EQ(f.view.selectedText(), QStringLiteral("beta gamma\nsecond line\nthi"));

    // Keys: Shift+Right and Shift+End extend, Ctrl+C copies.
    f.view.setFocus();
    f.view.setSelection(Pos{1, 0}, Pos{1, 0});
    QTest::keyClick(&f.view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&f.view, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(f.view.selectedText(), QStringLiteral("se"));
    QTest::keyClick(&f.view, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(f.view.selectedText(), QStringLiteral("second line"));
    QTest::keyClick(&f.view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("second line"));
    // A move without Shift drops the selection.
    QTest::keyClick(&f.view, Qt::Key_Left);
    EXPECT_FALSE(f.view.hasSelection());

    // Double-click selects a word; Ctrl+A everything.
    QTest::mouseDClick(vp, Qt::LeftButton, Qt::NoModifier, f.view.pointOf(Pos{0, 13}));
    EXPECT_EQ(f.view.selectedText(), QStringLiteral("gamma"));
    QTest::keyClick(&f.view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(f.view.selectedText(), f.pane.text());
}

TEST(ReceivePaneView, SelectionStaysOnItsTextWhileBytesArrive) {
    Fixture f;
    for (int i = 0; i < 100; ++i)
        f.feed("line of text\n");
    f.view.flush();
    f.vbar()->setValue(0);
    f.view.setSelection(Pos{3, 0}, Pos{3, 7});
    ASSERT_EQ(f.view.selectedText(), QStringLiteral("line of"));
    for (int i = 0; i < 100; ++i)
        f.feed("new line\n");
    f.view.flush();
    EXPECT_EQ(f.view.selectedText(), QStringLiteral("line of"));
    EXPECT_EQ(f.view.firstVisibleLine(), 0);

    // A clear empties the view and forgets the selection.
    f.pane.clear();
    f.view.flush();
    EXPECT_FALSE(f.view.hasSelection());
    EXPECT_EQ(f.view.toPlainText(), QString());
    EXPECT_EQ(f.vbar()->maximum(), 0);
}

TEST(ReceivePaneView, LongLinesAreMeasuredAndWalkedExactly) {
    Fixture f;
    // One line of about a megabyte of characters, in blocks, in text and hex mode, with
    // names, control characters and a message outside the code page in the middle.
    std::mt19937 rng(9);
    for (int block = 0; block < 40; ++block) {
        QByteArray b;
        for (int i = 0; i < 10000; ++i) {
            const int r = static_cast<int>(rng() % 30);
            b.append(static_cast<char>(r == 0 ? 13 : r == 1 ? 9 : r == 2 ? 2 : 0x20 + rng() % 95));
        }
        f.feedTcp(b, block % 2 == 1);
        if (block == 20)
            f.pane.appendToLine(f.st.LineIndex, u"[\u0416\u4E2D]");
    }
    f.view.flush();
    ASSERT_EQ(f.pane.lineCount(), 1);
    const QString line = f.pane.line(0);
    EXPECT_EQ(f.view.lineLength(0), line.size());

    // The scroll range covers the line as the pane's font lays it out.
    QFont font = f.view.font();
    font.setKerning(false);
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
    // A tab is drawn as its picture, the pane's other controls are named.
    QString shown = line;
    shown.remove(u'\t');
    const qsizetype tabs = line.size() - shown.size();
    ASSERT_GT(tabs, 0);
    ASSERT_GT(f.view.characterWidth(u'\t'), 0);
    const qreal expected =
        QFontMetricsF(font).horizontalAdvance(shown) + tabs * f.view.characterWidth(u'\t');
    EXPECT_NEAR(f.view.contentWidth(), expected, 2.0 + expected * 1e-6);

    // Any column, brought into view, maps to a point and back; its text is the line's.
    for (qsizetype column : {qsizetype(0), qsizetype(4095), qsizetype(4096), line.size() / 3,
                             line.size() / 2, line.size() - 7, line.size() - 1}) {
        const Pos p{0, column};
        f.view.ensureVisible(p);
        EXPECT_EQ(f.view.positionAt(f.view.pointOf(p)), p) << column;
        EXPECT_EQ(f.view.lineText(0, column, 5), line.mid(column, 5)) << column;
    }
    f.view.setSelection(Pos{0, line.size() / 2}, Pos{0, line.size() / 2 + 100});
    EXPECT_EQ(f.view.selectedText(), line.mid(line.size() / 2, 100));
    // The far end of the line is painted (from its marks, not from its start).
    f.view.horizontalScrollBar()->setValue(f.view.horizontalScrollBar()->maximum());
    const QImage shot = f.view.viewport()->grab().toImage();
    const QRgb base = f.view.palette().color(QPalette::Base).rgb();
    int inked = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            inked += shot.pixel(x, y) != base;
    EXPECT_GT(inked, 50);
}
