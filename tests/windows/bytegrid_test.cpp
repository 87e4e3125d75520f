// The byte grid view over large byte tables: which rows it shows and paints, following the
// newest row, keyboard and mouse, copying, and model changes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <memory>

#include "core/receive/ByteTableModel.h"
#include "tests/common/Pump.h"
#include "widgets/ByteGridView.h"

using namespace trelmo;

namespace {

constexpr int kRowHeight = 16;

// The value of byte i (0-based) in the test captures.
uint8_t byteAt(qsizetype i) {
    return static_cast<uint8_t>((i * 31 + i / 256 + 7) & 0xFF);
}

QString hex2(int v) {
    return QStringLiteral("0x") + QString::number(v, 16).toUpper().rightJustified(2, u'0');
}

// The cells of model row `row` as the table shows them, worked out from the byte values
// (no names, no parity): No., ASCII is not checked here, Hex, Dec, empty parity.
void expectByteRow(const QStringList& cells, qsizetype row) {
    ASSERT_EQ(cells.size(), 5);
    const uint8_t v = byteAt(row);
    EXPECT_EQ(cells[0], QString::number(row + 1));
    EXPECT_EQ(cells[2], hex2(v)) << "row " << row;
    EXPECT_EQ(cells[3], QString::number(v)) << "row " << row;
    EXPECT_EQ(cells[4], QString());
}

// Appends `count` bytes of the test pattern, in blocks as the receive path does.
void addBytes(ByteTableModel& table, qsizetype count, qsizetype block = 10'000) {
    qsizetype at = table.store().size();
    const qsizetype end = at + count;
    QByteArray buffer;
    while (at < end) {
        const qsizetype n = std::min(block, end - at);
        buffer.resize(n);
        for (qsizetype i = 0; i < n; ++i)
            buffer[i] = static_cast<char>(byteAt(at + i));
        table.appendBytes(buffer, false, LineParity::None);
        table.commitRows();
        at += n;
    }
}

// A byte table that notes which rows painting asks it for.
class WatchedTable : public ByteTableModel {
  public:
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override {
        if (role == Qt::DisplayRole && index.isValid()) {
            ++requests;
            lowest = std::min(lowest, index.row());
            highest = std::max(highest, index.row());
        }
        return ByteTableModel::data(index, role);
    }
    void forget() const {
        requests = 0;
        lowest = INT_MAX;
        highest = -1;
    }
    mutable int requests = 0;
    mutable int lowest = INT_MAX;
    mutable int highest = -1;
};

// A grid the size of the table window's, shown.
class GridTest : public ::testing::Test {
  protected:
    void SetUp() override {
        grid = std::make_unique<ByteGridView>();
        grid->resize(241, 553);
        grid->setModel(&table);
        grid->show();
        ASSERT_TRUE(test::pumpUntil([&] { return grid->isVisible(); }));
    }
    // Model rows wholly in view below the header row.
    int page() const { return (grid->viewport()->height() - kRowHeight) / kRowHeight; }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(grid.get(), static_cast<Qt::Key>(k), mods);
    }
    void clickRow(int modelRow, int column, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        const int y = kRowHeight + (modelRow - grid->firstVisibleRow()) * kRowHeight + 5;
        const int x = column * 44 + 10;
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, mods, QPoint(x, y));
    }

    WatchedTable table;
    std::unique_ptr<ByteGridView> grid;
};

}  // namespace

TEST_F(GridTest, ShowsTheRowsItIsScrolledToInFiveMillion) {
    const qsizetype total = 5'000'000;
    addBytes(table, total, 1'000'000);
    grid->scrollToRow(0);
    ASSERT_EQ(grid->rowCount(), total + 2);  // header, the bytes, the empty row
    ASSERT_GT(page(), 10);

    const int painted = (grid->viewport()->height() - kRowHeight + kRowHeight - 1) / kRowHeight;
    auto expectView = [&](int top) {
        SCOPED_TRACE(top);
        EXPECT_EQ(grid->firstVisibleRow(), top);
        const QList<QStringList> rows = grid->visibleTexts();
        ASSERT_EQ(rows.size(), 1 + std::min(painted, static_cast<int>(total + 1 - top)));
        EXPECT_EQ(rows[0], QStringList({"No.", "ASCII", "Hex", "Dec", "Parity"}));
        for (int i = 1; i < rows.size(); ++i) {
            const int row = top + i - 1;
            if (row < total)
                expectByteRow(rows[i], row);
            else
                EXPECT_EQ(rows[i], QStringList(5, QString())) << "the empty last row";
        }
    };
    expectView(0);
    grid->scrollToRow(2'500'000);
    expectView(2'500'000);
    EXPECT_EQ(grid->verticalScrollBar()->value(), 2'500'000);

    // To the end: the last byte and the empty row are the last rows in full view.
    grid->scrollToRow(INT_MAX);
    const int bottomTop = static_cast<int>(total + 1) - page();
    expectView(bottomTop);
    EXPECT_TRUE(grid->isAtBottom());
    EXPECT_EQ(grid->verticalScrollBar()->maximum(), bottomTop);
    EXPECT_EQ(grid->visibleTexts().back(), QStringList(5, QString()));
    expectByteRow(grid->visibleTexts()[page() - 1], total - 1);
}

TEST_F(GridTest, PaintingAsksOnlyForTheRowsInView) {
    addBytes(table, 3'000'000, 1'000'000);
    for (const int top : {0, 1'234'567, INT_MAX}) {
        grid->scrollToRow(top);
        table.forget();
        grid->viewport()->repaint();
        const int first = grid->firstVisibleRow();
        const int shown = static_cast<int>(grid->visibleTexts().size()) - 1;
        SCOPED_TRACE(first);
        ASSERT_GT(table.requests, 0) << "nothing painted";
        EXPECT_EQ(table.lowest, first);
        EXPECT_EQ(table.highest, first + shown - 1);
        EXPECT_LE(table.requests, shown * table.columnCount());
    }
}

TEST_F(GridTest, FollowsTheNewestRowOnlyFromTheBottom) {
    // A fresh grid is at its top, which is also its bottom: it follows from the start.
    EXPECT_TRUE(grid->isAtBottom());
    addBytes(table, 5);
    EXPECT_EQ(grid->firstVisibleRow(), 0);
    addBytes(table, 1000, 7);
    EXPECT_TRUE(grid->isAtBottom());
    EXPECT_EQ(grid->firstVisibleRow(), 1005 + 1 - page());
    expectByteRow(grid->visibleTexts()[page() - 1], 1004);

    // Scrolled up, the view stays where the user left it.
    grid->scrollToRow(100);
    addBytes(table, 20'000);
    EXPECT_EQ(grid->firstVisibleRow(), 100);
    EXPECT_FALSE(grid->isAtBottom());
    expectByteRow(grid->visibleTexts()[1], 100);

    // Back at the bottom, it follows again.
    grid->scrollToRow(INT_MAX);
    addBytes(table, 3);
    EXPECT_TRUE(grid->isAtBottom());
    EXPECT_EQ(grid->firstVisibleRow(), 21'008 + 1 - page());

    // A clear puts it back to the top.
    table.clear();
    EXPECT_EQ(grid->firstVisibleRow(), 0);
    EXPECT_EQ(grid->rowCount(), 2);
    addBytes(table, 2000);
    EXPECT_TRUE(grid->isAtBottom());
}

TEST_F(GridTest, RowsArrivingOutOfViewDoNotRepaintIt) {
    addBytes(table, 10'000);
    grid->scrollToRow(0);
    int paints = 0;
    struct PaintCounter : QObject {
        int& count;
        explicit PaintCounter(int& c) : count(c) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint)
                ++count;
            return false;
        }
    } counter(paints);
    grid->viewport()->installEventFilter(&counter);
    grid->viewport()->update();
    ASSERT_TRUE(test::pumpUntil([&] { return paints > 0; }));
    test::pumpFor(50);  // whatever else showing the grid asked for

    paints = 0;
    addBytes(table, 50'000);
    test::pumpFor(100);
    EXPECT_EQ(paints, 0) << "rows far below the view repainted it";
    EXPECT_EQ(grid->firstVisibleRow(), 0);

    // In view they do.
    grid->scrollToRow(INT_MAX);
    ASSERT_TRUE(test::pumpUntil([&] { return paints > 0; }));
    paints = 0;
    addBytes(table, 1);
    ASSERT_TRUE(test::pumpUntil([&] { return paints > 0; }));
    grid->viewport()->removeEventFilter(&counter);
}

TEST_F(GridTest, KeysMoveTheCurrentCellAndScroll) {
    addBytes(table, 100'000);
    grid->scrollToRow(0);
    EXPECT_EQ(grid->currentRow(), -1);
    EXPECT_EQ(grid->copyText(), QString());

    // The first step key picks the top row in view; the next ones move.
    key(Qt::Key_Down);
    EXPECT_EQ(grid->currentRow(), 0);
    EXPECT_EQ(grid->currentColumn(), 1);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(grid->currentRow(), 2);
    key(Qt::Key_Up);
    EXPECT_EQ(grid->currentRow(), 1);
    key(Qt::Key_Right);
    key(Qt::Key_Right);
    EXPECT_EQ(grid->currentColumn(), 3);
    key(Qt::Key_Home);
    EXPECT_EQ(grid->currentColumn(), 1);
    key(Qt::Key_End);
    EXPECT_EQ(grid->currentColumn(), 4);
    key(Qt::Key_Right);
    EXPECT_EQ(grid->currentColumn(), 4) << "past the last column";
    key(Qt::Key_Left);
    EXPECT_EQ(grid->currentColumn(), 3);

    // Paging keeps the current row in view.
    for (int i = 0; i < 3; ++i)
        key(Qt::Key_PageDown);
    EXPECT_EQ(grid->currentRow(), 1 + 3 * page());
    EXPECT_GE(grid->currentRow(), grid->firstVisibleRow());
    EXPECT_LT(grid->currentRow(), grid->firstVisibleRow() + page());
    EXPECT_GT(grid->firstVisibleRow(), 0);
    key(Qt::Key_PageUp);
    EXPECT_EQ(grid->currentRow(), 1 + 2 * page());
    EXPECT_GE(grid->currentRow(), grid->firstVisibleRow());
    EXPECT_LT(grid->currentRow(), grid->firstVisibleRow() + page());

    // Ctrl+End: the last row (the empty one), the view at the bottom; Ctrl+Home: the top.
    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(grid->currentRow(), 100'000);
    EXPECT_TRUE(grid->isAtBottom());
    key(Qt::Key_Down);
    EXPECT_EQ(grid->currentRow(), 100'000);
    key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(grid->currentRow(), 0);
    EXPECT_EQ(grid->firstVisibleRow(), 0);
    key(Qt::Key_Up);
    EXPECT_EQ(grid->currentRow(), 0);
    EXPECT_EQ(grid->currentColumn(), 3) << "row keys keep the column";

    // Rows arriving keep the current cell on its row, the empty last row included.
    addBytes(table, 10);
    EXPECT_EQ(grid->currentRow(), 0);
    key(Qt::Key_End, Qt::ControlModifier);
    addBytes(table, 10);
    EXPECT_EQ(grid->currentRow(), 100'020);
    EXPECT_TRUE(grid->isAtBottom());
}

TEST_F(GridTest, WheelAndScrollBarScrollByRows) {
    addBytes(table, 100'000);
    grid->scrollToRow(0);
    const QPointF at(50, 100);
    QWheelEvent down(at, grid->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(grid->viewport(), &down);
    EXPECT_EQ(grid->firstVisibleRow(), std::min(QApplication::wheelScrollLines(), page()));
    QWheelEvent up(at, grid->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(grid->viewport(), &up);
    EXPECT_EQ(grid->firstVisibleRow(), 0);

    grid->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(grid->firstVisibleRow(), page());
    expectByteRow(grid->visibleTexts()[1], page());
    grid->verticalScrollBar()->setValue(77'777);
    expectByteRow(grid->visibleTexts()[1], 77'777);
}

TEST_F(GridTest, ClickAndCopy) {
    addBytes(table, 1000);
    grid->scrollToRow(500);
    // A click in the header row picks nothing.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 5));
    EXPECT_EQ(grid->currentRow(), -1);

    clickRow(503, 2);
    EXPECT_EQ(grid->currentRow(), 503);
    EXPECT_EQ(grid->currentColumn(), 2);
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), hex2(byteAt(503)));
    EXPECT_EQ(grid->copyText(), hex2(byteAt(503)));

    // A click in the fixed first column picks the row's first cell.
    clickRow(501, 0);
    EXPECT_EQ(grid->currentRow(), 501);
    EXPECT_EQ(grid->currentColumn(), 1);

    // Shift+click selects the rows from the anchor: each row's cells, tab-separated.
    clickRow(503, 3, Qt::ShiftModifier);
    EXPECT_EQ(grid->anchorRow(), 501);
    EXPECT_EQ(grid->currentRow(), 503);
    QString rows;
    for (int r = 501; r <= 503; ++r) {
        QStringList cells;
        for (int c = 0; c < 5; ++c)
            cells << table.data(table.index(r, c)).toString();
        rows += cells.join(u'\t') + u'\n';
    }
    EXPECT_TRUE(rows.startsWith("502\t"));
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), rows);
    // Shift with a row key extends the same way; a plain key ends the selection.
    key(Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(grid->anchorRow(), 501);
    EXPECT_EQ(grid->copyText().count(u'\n'), 2);
    key(Qt::Key_Down);
    EXPECT_EQ(grid->anchorRow(), 503);
    EXPECT_EQ(grid->copyText(), QString::number(byteAt(503)));
}

TEST(ByteGridView, AnyModelAndItsEnd) {
    ByteGridView grid;
    EXPECT_EQ(grid.rowCount(), 1);
    EXPECT_EQ(grid.visibleTexts(), QList<QStringList>{QStringList()});
    EXPECT_FALSE(grid.focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(grid.columnWidth(3), 44);
    grid.setColumnWidth(1, 60);
    EXPECT_EQ(grid.columnWidth(1), 60);
    EXPECT_EQ(grid.columnWidth(2), 44);
    grid.resize(300, 200);

    auto* model = new QStandardItemModel(3, 2);
    model->setHorizontalHeaderLabels({"A", "B"});
    model->setItem(1, 1, new QStandardItem("x"));
    grid.setModel(model);
    grid.show();
    ASSERT_TRUE(test::pumpUntil([&] { return grid.isVisible(); }));
    EXPECT_EQ(grid.visibleTexts(), (QList<QStringList>{{"A", "B"}, {"", ""}, {"", "x"}, {"", ""}}));
    model->removeRows(0, 2);
    EXPECT_EQ(grid.rowCount(), 2);
    EXPECT_EQ(grid.visibleTexts(), (QList<QStringList>{{"A", "B"}, {"", ""}}));
    model->setItem(0, 0, new QStandardItem("y"));
    EXPECT_EQ(grid.visibleTexts()[1][0], "y");

    // A model that goes away leaves an empty grid that still paints.
    delete model;
    EXPECT_EQ(grid.model(), nullptr);
    EXPECT_EQ(grid.rowCount(), 1);
    grid.viewport()->repaint();
}
