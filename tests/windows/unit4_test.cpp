// The byte table window: its frame, its grid, its memory per row and its close behaviour.
#include <gtest/gtest.h>

#include <malloc.h>

#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStatusBar>

#include "core/receive/ByteTableModel.h"
#include "tests/common/Pump.h"
#include "widgets/ByteGridView.h"
#include "widgets/ByteTableWindow.h"

using namespace trelmo;

using trelmo::ByteGridView;

namespace {

// Bytes the process holds from the heap, small blocks and mapped ones alike.
size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

}  // namespace

TEST(TForm4, WindowFrame) {
    TForm4 form;
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(form.isHidden());
    ASSERT_NE(form.StatusBar1, nullptr);
    EXPECT_EQ(form.StatusBar1->objectName(), "StatusBar1");
    EXPECT_EQ(form.findChild<ByteGridView*>("StringGrid1"), form.StringGrid1);
}

TEST(TForm4, GridGeometryAndCells) {
    TForm4 form;
    QStandardItemModel model(2, 5);
    form.setTableModel(&model);
    ByteGridView* grid = form.StringGrid1;
    // The grid keeps nothing per row: it holds the model hidden as well as shown.
    EXPECT_EQ(grid->model(), &model);
    form.show();
    EXPECT_EQ(grid->model(), &model);
    EXPECT_EQ(grid->geometry(), QRect(8, 0, 241, 553));
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(grid->columnWidth(c), 44) << c;
    EXPECT_EQ(grid->rowHeight(), 16);
    EXPECT_EQ(grid->rowCount(), 3);  // the header row and the model's two
    EXPECT_FALSE(grid->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(grid->focusPolicy() & Qt::ClickFocus);
    EXPECT_FALSE(grid->isHidden());

    // The grid grows in height with the window, not in width.
    form.resize(278, 730);
    ASSERT_TRUE(trelmo::test::pumpUntil([&] { return grid->height() != 553; }));
    EXPECT_EQ(grid->height(), 653);
    EXPECT_EQ(grid->width(), 241);
    EXPECT_EQ(grid->x(), 8);

    // Hidden and shown again, the grid keeps the model and its widths.
    form.hide();
    EXPECT_EQ(grid->model(), &model);
    form.show();
    EXPECT_EQ(grid->model(), &model);
    EXPECT_EQ(grid->columnWidth(4), 44);
}

TEST(TForm4, ShownAfterRowsArrivedItShowsTheNewest) {
    TForm4 form;
    trelmo::ByteTableModel table;
    form.setTableModel(&table);
    table.appendBytes(QByteArray(9'999, 'A') + 'Z', true, trelmo::LineParity::None);
    table.commitRows();
    form.show();
    ByteGridView* grid = form.StringGrid1;
    ASSERT_TRUE(trelmo::test::pumpUntil([&] { return grid->isVisible(); }));
    EXPECT_TRUE(grid->isAtBottom());
    const QList<QStringList> rows = grid->visibleTexts();
    const int lastByte = 10'000 - grid->firstVisibleRow();  // its index in rows
    ASSERT_LT(lastByte, rows.size());
    EXPECT_EQ(rows[lastByte][0], "10000");
    EXPECT_EQ(rows[lastByte][1], "Z");

    // Hidden, it keeps following; scrolled up, it stays.
    form.hide();
    table.appendBytes("BC", true, trelmo::LineParity::None);
    table.commitRows();
    form.show();
    EXPECT_TRUE(grid->isAtBottom());
    EXPECT_EQ(grid->visibleTexts()[10'002 - grid->firstVisibleRow()][1], "C");
    grid->scrollToRow(5);
    form.hide();
    table.appendBytes("DE", true, trelmo::LineParity::None);
    table.commitRows();
    form.show();
    EXPECT_EQ(grid->firstVisibleRow(), 5);
}

TEST(TForm4, AMillionRowsCostTheWindowNothingShownOrHidden) {
    TForm4 form;
    trelmo::ByteTableModel table;
    form.setTableModel(&table);
    form.show();
    ASSERT_TRUE(trelmo::test::pumpUntil([&] { return form.isVisible(); }));
    ByteGridView* grid = form.StringGrid1;
    // Fill a screen first so that painting's own caches exist before measuring.
    const QByteArray block(10'000, 'A');
    table.appendBytes(block, true, trelmo::LineParity::None);
    table.commitRows();
    trelmo::test::pumpFor(50);
    grid->viewport()->repaint();

    auto addRows = [&](int blocks) {
        for (int i = 0; i < blocks; ++i) {
            table.appendBytes(block, true, trelmo::LineParity::None);
            table.commitRows();
            if (i % 10 == 0)
                QCoreApplication::processEvents();  // the grid repaints as it follows
        }
        QCoreApplication::processEvents();
        grid->viewport()->repaint();
    };
    // Beyond what the store itself takes, the window may use a small constant amount.
    constexpr size_t kSlack = 256 * 1024;
    for (const bool shown : {true, false}) {
        form.setVisible(shown);
        const size_t heapBefore = heapInUse();
        const size_t storeBefore = table.store().memoryUsage();
        addRows(100);  // a million rows
        const size_t storeGrowth = table.store().memoryUsage() - storeBefore;
        const size_t heapGrowth = heapInUse() - heapBefore;
        EXPECT_LE(heapGrowth, storeGrowth + kSlack)
            << (shown ? "shown" : "hidden") << ": heap grew by " << heapGrowth
            << " bytes for a store growth of " << storeGrowth;
    }
    EXPECT_EQ(grid->rowCount(), 2'010'000 + 2);
    EXPECT_TRUE(grid->isAtBottom());
}

// The "No." column is drawn as the fixed first column, like the header row, and the other
// columns as ordinary cells.
TEST(TForm4, TheNumberColumnIsDrawnAsTheFixedColumn) {
    TForm4 form;
    trelmo::ByteTableModel model;
    model.appendBytes("abc", true, trelmo::LineParity::None);
    model.commitRows();
    form.setTableModel(&model);
    form.show();
    ByteGridView* grid = form.StringGrid1;
    const QImage shot = grid->viewport()->grab().toImage();
    const int rh = grid->rowHeight();
    const int x = grid->columnWidth(0) - 6;  // right of the left-aligned text, inside the cell
    const QRgb header = shot.pixel(x, rh / 2);
    const QRgb number = shot.pixel(x, rh + rh / 2);
    const QRgb cell = shot.pixel(grid->columnWidth(0) + x, rh + rh / 2);
    EXPECT_EQ(number, header);
    EXPECT_NE(number, cell);
    EXPECT_EQ(QColor(cell), grid->palette().color(QPalette::Base));
}

TEST(TForm4, CloseHidesAndTells) {
    auto* form = new TForm4;
    QPointer<TForm4> alive(form);
    QSignalSpy spy(form, &TForm4::closed);
    form->show();
    ASSERT_TRUE(form->isVisible());
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(alive.isNull());  // hidden, not destroyed
    form->show();
    EXPECT_TRUE(form->isVisible());
    delete form;
}
