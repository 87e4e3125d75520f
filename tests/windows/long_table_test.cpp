// The byte table of a capture past 2^31 bytes (a table started near 2^31, not 2 GiB received):
// the grid scrolls, follows, picks and copies rows past it, its number column makes room for
// ten digits, and the captures read every row.
#include <QScrollBar>

#include "terminal/control/Captures.h"
#include "tests/common/WindowFixture.h"
#include "widgets/ByteGridView.h"
#include "widgets/ByteTableWindow.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {
using LongTableWindow = WindowTest;
}  // namespace

TEST(LongTable, TheGridAndTheCapturesReadRowsPast2G) {
    constexpr qint64 k2G = qint64(1) << 31;
    ByteTableModel table;
    table.startAt(k2G - 2 * ByteStore::kChunkBytes);
    QByteArray bytes(4 * ByteStore::kChunkBytes, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i % 253);
    table.appendBytes(bytes, false, LineParity::None);
    table.commitRows();
    const qint64 total = table.receivedCount();
    ASSERT_EQ(total, k2G + 2 * ByteStore::kChunkBytes);

    ByteGridView grid;
    grid.resize(241, 553);
    grid.setModel(&table);
    grid.show();
    ASSERT_TRUE(pumpUntil([&] { return grid.isVisible(); }));
    EXPECT_EQ(grid.rowCount(), total + 2);
    EXPECT_GT(grid.rowsPerStep(), 1);
    EXPECT_GE(grid.verticalScrollBar()->maximum(), 0);

    // At the bottom: the last bytes and the empty row, numbered past 2^31.
    grid.scrollToRow(total);
    EXPECT_TRUE(grid.isAtBottom());
    const QList<QStringList> rows = grid.visibleTexts();
    EXPECT_EQ(rows.back(), QStringList(5, QString()));
    const QStringList lastByte = rows[rows.size() - 2];
    EXPECT_EQ(lastByte[0], QString::number(total));
    EXPECT_EQ(lastByte[3], QString::number((bytes.size() - 1) % 253));
    // Rows arriving at the bottom are followed, past 2^31 too.
    table.appendBytes("Z", false, LineParity::None);
    table.commitRows();
    EXPECT_TRUE(grid.isAtBottom());
    EXPECT_EQ(grid.visibleTexts()[grid.visibleTexts().size() - 2][0], QString::number(total + 1));
    // A row picked past 2^31 and copied.
    grid.setCurrentCell(k2G + 4, 2);
    EXPECT_EQ(grid.currentRow(), k2G + 4);
    EXPECT_GE(grid.firstVisibleRow(), k2G + 4 - grid.pageRowCount());
    EXPECT_LE(grid.firstVisibleRow(), k2G + 4);
    const qsizetype at = k2G + 4 - (k2G - 2 * ByteStore::kChunkBytes);
    EXPECT_EQ(grid.copyText(),
              QStringLiteral("0x") +
                  QString::number(uchar(bytes[at]), 16).toUpper().rightJustified(2, u'0'));
    // The bar's end is the last row; its start the first.
    grid.verticalScrollBar()->setValue(0);
    EXPECT_EQ(grid.firstVisibleRow(), 0);
    grid.verticalScrollBar()->setValue(grid.verticalScrollBar()->maximum());
    EXPECT_TRUE(grid.isAtBottom());
    EXPECT_EQ(grid.firstVisibleRow(), total + 2 - grid.pageRowCount());
}

TEST(LongTable, TheNumberColumnWidensForLongerNumbers) {
    TForm4 form;
    ByteTableModel table;
    form.setTableModel(&table);
    ByteGridView* grid = form.StringGrid1;
    const int width = grid->columnWidth(0);
    auto numberFits = [&](qint64 number) {
        const QRect cell(0, 0, grid->columnWidth(0), grid->rowHeight());
        return grid->fontMetrics().horizontalAdvance(QString::number(number)) <=
               grid->textRect(cell, true).width();
    };
    // Numbers of up to eight digits: the column as it was.
    table.appendBytes("abc", false, LineParity::None);
    table.commitRows();
    EXPECT_EQ(grid->columnWidth(0), width);
    EXPECT_TRUE(numberFits(99999999));
    ASSERT_FALSE(numberFits(8888888888)) << "ten digits need more than the column has";
    // Past 2^31: the numbers have ten digits, and the column makes room for them.
    table.clear();
    table.startAt(qint64(1) << 31);
    table.appendBytes("x", false, LineParity::None);
    table.commitRows();
    EXPECT_GT(grid->columnWidth(0), width);
    EXPECT_TRUE(numberFits(table.receivedCount()));
    EXPECT_TRUE(numberFits(8888888888));
    form.show();
    ASSERT_TRUE(pumpUntil([&] { return grid->isVisible(); }));
    grid->scrollToRow(table.receivedCount());
    QStringList numbers;
    for (const QStringList& row : grid->visibleTexts())
        numbers.append(row.value(0));
    EXPECT_TRUE(numbers.contains("2147483649")) << numbers.join('|').toStdString();
}

TEST_F(LongTableWindow, TheCaptureControllerReadsTheTablePast2G) {
    constexpr qint64 k2G = qint64(1) << 31;
    ByteTableModel& table = form->receivePath()->table();
    table.startAt(k2G);
    table.appendBytes("abc", true, LineParity::None);
    table.commitRows();
    const CaptureTableSource& source = form->captures()->tableSource();
    EXPECT_EQ(source.gridRowCount(), k2G + 3 + 2);
    EXPECT_EQ(source.cellText(0, k2G + 2), "2147483650");
    EXPECT_EQ(source.cellText(1, k2G + 2), "b");
    EXPECT_EQ(source.cellText(2, k2G + 3), "0x63");
}
