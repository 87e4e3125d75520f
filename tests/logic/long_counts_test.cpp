// Captures past 2^31 bytes, without receiving them: a byte table that starts as if 2 GiB less a
// little had been received (ByteStore::startAt) takes real blocks through the receive
// formatter. The count, the "Total received" label, the table's rows (clamped for Qt's views,
// whole through the 64-bit interface) and the captures' reading of the table stay right.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <climits>

#include "core/capture/CaptureFiles.h"
#include "core/receive/ReceiveFormatter.h"

using namespace trelmo;

namespace {

constexpr qint64 k2G = qint64(1) << 31;
// A whole number of the store's chunks, a little under 2^31.
constexpr qint64 kStart = k2G - 2 * ByteStore::kChunkBytes;

}  // namespace

TEST(LongCounts, TheStoreCountsOnFromWhereItWasStarted) {
    ByteStore store;
    store.startAt(kStart + 1234);  // rounded down to whole chunks
    EXPECT_EQ(store.size(), kStart);
    EXPECT_EQ(store.firstKept(), kStart);
    EXPECT_LT(store.memoryUsage(), size_t(1) << 20);  // nothing of what was let go is held
    store.append(QByteArrayView("AB"), false, LineParity::Even);
    EXPECT_EQ(store.size(), kStart + 2);
    EXPECT_EQ(store.value(kStart + 1), 'B');
    EXPECT_EQ(store.cellText(kStart + 1, ByteStore::ColNo), QString::number(kStart + 2));
    EXPECT_EQ(store.cellText(kStart + 1, ByteStore::ColHex), "0x42");
    EXPECT_EQ(store.cellText(kStart - 1, ByteStore::ColHex), QString());  // let go
    // Only an empty store starts elsewhere.
    store.startAt(4 * k2G);
    EXPECT_EQ(store.size(), kStart + 2);
}

TEST(LongCounts, TheFormatterAndTheTableCountPast2G) {
    PaneModel pane;
    ByteTableModel table;
    ReceiveFormatter fmt(pane, table);
    table.startAt(kStart);
    ReceiveState st;
    st.ReceivedCount = table.receivedCount();
    ASSERT_EQ(st.ReceivedCount, kStart);
    EXPECT_EQ(table.rowCount(), kStart + 1);

    QSignalSpy inserted(&table, &QAbstractItemModel::rowsInserted);
    QSignalSpy longInserted(&table, &LongTableModel::longRowsInserted);
    QByteArray block(10000, 'x');
    for (int i = 0; i < 10000; ++i)
        block[i] = static_cast<char>(i % 251);
    ReceiveResult result;
    const int blocks = 30;  // 300000 bytes: across 2^31 - 1 and 2^31
    for (int i = 0; i < blocks; ++i)
        result = fmt.receiveBlock(st, block, LinkPolicy::serial(), false, LineParity::Odd);
    const qint64 total = kStart + qint64(blocks) * block.size();
    ASSERT_GT(total, k2G);
    EXPECT_EQ(st.ReceivedCount, total);
    EXPECT_EQ(table.receivedCount(), total);
    EXPECT_EQ(result.labelRec, "Total received: " + QString::number(total));
    EXPECT_EQ(ReceiveFormatter::receivedLabel(total), "Total received: 2147652576");

    // Qt's views see a sane, clamped table; the long interface every row.
    EXPECT_EQ(table.rowCount(), INT_MAX);
    EXPECT_EQ(table.longRowCount(), total + 1);
    EXPECT_EQ(table.gridRowCount(), total + 2);
    for (const auto& args : inserted) {
        EXPECT_GE(args[1].toInt(), 0);
        EXPECT_GE(args[2].toInt(), args[1].toInt());
        EXPECT_LT(args[2].toInt(), INT_MAX);
    }
    ASSERT_EQ(longInserted.count(), blocks);
    EXPECT_EQ(longInserted.last()[0].toLongLong(), total - block.size());
    EXPECT_EQ(longInserted.last()[1].toLongLong(), total - 1);
    // The last byte row and the ones on either side of 2^31.
    const qint64 last = total - 1;
    EXPECT_EQ(table.longCellText(last, ByteStore::ColNo), QString::number(total));
    EXPECT_EQ(table.longCellText(last, ByteStore::ColDec),
              QString::number((blocks * 10000 - 1) % 10000 % 251));
    EXPECT_EQ(table.longCellText(k2G, ByteStore::ColNo), "2147483649");
    EXPECT_EQ(table.longCellText(INT_MAX - 1, ByteStore::ColNo), "2147483647");
    EXPECT_EQ(table.longCellText(total, ByteStore::ColNo), QString());  // the empty row
    EXPECT_EQ(table.gridCell(ByteStore::ColNo, total), QString::number(total));
    EXPECT_EQ(table.gridCell(ByteStore::ColNo, total + 1), QString());
    // The last row Qt sees is a byte (the 2^31 - 1th), read through data().
    EXPECT_EQ(table.data(table.index(INT_MAX - 1, ByteStore::ColNo)).toString(), "2147483647");
}

TEST(LongCounts, TheCapturesReadEveryRow) {
    // The text log, BIN file and printout read the table through CaptureTableSource, with
    // 64-bit rows: a source over a long table answers past 2^31.
    ByteTableModel table;
    table.startAt(kStart);
    table.appendBytes(QByteArray(3 * ByteStore::kChunkBytes, 'Q'), true, LineParity::None);
    table.commitRows();
    struct Source : CaptureTableSource {
        const ByteTableModel& t;
        explicit Source(const ByteTableModel& table) : t(table) {}
        qsizetype gridRowCount() const override { return t.gridRowCount(); }
        QString cellText(int column, qsizetype row) const override {
            return t.gridCell(column, row);
        }
    } source(table);
    EXPECT_EQ(source.gridRowCount(), kStart + 3 * ByteStore::kChunkBytes + 2);
    const qsizetype row = k2G + 10;  // grid row: byte number 2^31 + 10
    EXPECT_EQ(captureRowLine(source, row), "2147483658\t|\tQ\t|\t0x51\t|\t81\t|\t\t|\t");
    EXPECT_EQ(binaryDigitsOfHexCell(source.cellText(2, row)), "01010001");
}
