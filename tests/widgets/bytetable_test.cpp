// The byte store and the byte table model: cell texts, the grid's shape, clearing,
// one row insertion per block, memory per byte.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <random>

#include "app/Codec.h"
#include "widgets/ByteStore.h"
#include "widgets/ByteTableModel.h"

using namespace trelmo;

namespace {

QString expectedHex(int v) {
    return QStringLiteral("0x") + QString::number(v, 16).toUpper().rightJustified(2, u'0');
}

void fill(ByteTableModel& m, const QByteArray& bytes, bool names, ParityMark parity) {
    for (char c : bytes)
        m.appendByte(static_cast<uint8_t>(c), names, parity);
    m.commitRows();
}

}  // namespace

TEST(ByteStore, CellTextsForEveryByteValue) {
    ByteStore s;
    for (int v = 0; v < 256; ++v)
        s.append(static_cast<uint8_t>(v), false, ParityMark::None);
    for (int v = 0; v < 256; ++v)
        s.append(static_cast<uint8_t>(v), true, ParityMark::One);
    ASSERT_EQ(s.size(), 512);
    for (int i = 0; i < 512; ++i) {
        const int v = i % 256;
        EXPECT_EQ(s.value(i), v);
        EXPECT_EQ(s.cellText(i, ByteStore::ColNo), QString::number(i + 1));
        EXPECT_EQ(s.cellText(i, ByteStore::ColHex), expectedHex(v));
        EXPECT_EQ(s.cellText(i, ByteStore::ColDec), QString::number(v));
        EXPECT_EQ(s.cellText(i, ByteStore::ColParity), i < 256 ? QString() : QStringLiteral("1"));
        // Without names every cell is the character itself, whatever the byte.
        if (i < 256) {
            EXPECT_EQ(s.cellText(i, ByteStore::ColAscii), QString(codec::toChar(v))) << v;
        }
    }
    // With names: the control bytes take their names, the rest stay characters.
    const char* names[14] = {"<NUL>", "<SOH>", "<STX>", "<ETX>", "<EOT>", "<ENQ>", "<ACK>",
                             nullptr, nullptr, nullptr, "<LF>",  nullptr, nullptr, "<CR>"};
    for (int v = 0; v < 256; ++v) {
        const QString want =
            (v < 14 && names[v]) ? QString::fromLatin1(names[v]) : QString(codec::toChar(v));
        EXPECT_EQ(s.cellText(256 + v, ByteStore::ColAscii), want) << v;
    }
    EXPECT_EQ(s.cellText(0x80 + 256, ByteStore::ColAscii), QString(QChar(0x20AC)));
}

TEST(ByteStore, ParityMarksFlagsAndOutOfRange) {
    ByteStore s;
    s.append(0x41, true, ParityMark::Zero);
    s.append(0x42, false, ParityMark::One);
    s.append(0x43, true, ParityMark::None);
    EXPECT_EQ(s.parity(0), ParityMark::Zero);
    EXPECT_EQ(s.parity(1), ParityMark::One);
    EXPECT_EQ(s.parity(2), ParityMark::None);
    EXPECT_TRUE(s.usesNames(0));
    EXPECT_FALSE(s.usesNames(1));
    EXPECT_EQ(s.cellText(0, ByteStore::ColParity), QStringLiteral("0"));
    EXPECT_EQ(s.cellText(1, ByteStore::ColParity), QStringLiteral("1"));
    EXPECT_EQ(s.cellText(3, ByteStore::ColNo), QString());
    EXPECT_EQ(s.cellText(-1, ByteStore::ColHex), QString());
    EXPECT_EQ(s.cellText(0, 5), QString());
}

TEST(ByteStore, ManyChunksKeepEveryByteAndStayCompact) {
    ByteStore s;
    std::mt19937 rng(7);
    const qsizetype n = ByteStore::kChunkBytes * 5 + 123;
    QByteArray want(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i) {
        want[i] = static_cast<char>(rng());
        s.append(static_cast<uint8_t>(want[i]), i % 3 == 0,
                 static_cast<ParityMark>(static_cast<uint8_t>(i % 3)));
    }
    EXPECT_EQ(s.size(), n);
    EXPECT_EQ(s.bytes(), want);
    for (qsizetype i : {qsizetype(0), ByteStore::kChunkBytes - 1, ByteStore::kChunkBytes,
                        ByteStore::kChunkBytes * 3 + 5, n - 1}) {
        EXPECT_EQ(s.value(i), static_cast<uint8_t>(want[i]));
        EXPECT_EQ(s.usesNames(i), i % 3 == 0);
        EXPECT_EQ(static_cast<int>(s.parity(i)), static_cast<int>(i % 3));
    }
    // At most four bytes of memory per received byte, growth included.
    EXPECT_LE(s.memoryUsage(), static_cast<size_t>(n) * 4);
    EXPECT_GE(s.memoryUsage(), static_cast<size_t>(n) * 2);
    s.clear();
    EXPECT_EQ(s.size(), 0);
    EXPECT_EQ(s.memoryUsage(), 0u);
    EXPECT_TRUE(s.bytes().isEmpty());
}

TEST(ByteTableModel, ShapeHeaderAndEmptyRow) {
    ByteTableModel m;
    EXPECT_EQ(m.rowCount(), 1);
    EXPECT_EQ(m.columnCount(), 5);
    EXPECT_EQ(m.gridRowCount(), 2);
    const QStringList heads = {"No.", "ASCII", "Hex", "Dec", "Parity"};
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(m.headerData(c, Qt::Horizontal).toString(), heads[c]);
        EXPECT_EQ(m.gridCell(c, 0), heads[c]);
        EXPECT_EQ(m.gridCell(c, 1), QString());
    }
    fill(m, QByteArray("\x41\x0D\x0A", 3), true, ParityMark::None);
    EXPECT_EQ(m.rowCount(), 4);
    EXPECT_EQ(m.gridRowCount(), 5);
    EXPECT_EQ(m.receivedCount(), 3);
    // Model row i - 1 holds byte i; the last model row is empty.
    EXPECT_EQ(m.data(m.index(0, 0)).toString(), QStringLiteral("1"));
    EXPECT_EQ(m.data(m.index(1, 1)).toString(), QStringLiteral("<CR>"));
    EXPECT_EQ(m.data(m.index(2, 1)).toString(), QStringLiteral("<LF>"));
    EXPECT_EQ(m.data(m.index(2, 2)).toString(), QStringLiteral("0x0A"));
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(m.data(m.index(3, c)).toString(), QString());
    // The grid read-back: rows 1..n hold the bytes, row n + 1 is empty.
    EXPECT_EQ(m.gridCell(0, 3), QStringLiteral("3"));
    EXPECT_EQ(m.gridCell(3, 1), QStringLiteral("65"));
    EXPECT_EQ(m.gridCell(0, 4), QString());
    EXPECT_EQ(m.gridCell(0, 5), QString());
    EXPECT_EQ(m.bytes(), QByteArray("\x41\x0D\x0A", 3));
}

TEST(ByteTableModel, OneInsertionPerCommittedBlock) {
    ByteTableModel m;
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
    m.appendByte('a', true, ParityMark::None);
    m.appendByte('b', true, ParityMark::None);
    // Appended but not committed: views and read-back do not see the rows yet.
    EXPECT_EQ(m.rowCount(), 1);
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_TRUE(m.bytes().isEmpty());
    m.commitRows();
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 1);
    m.commitRows();  // nothing new: no signal
    EXPECT_EQ(inserted.count(), 1);
    fill(m, QByteArray(1000, 'x'), true, ParityMark::None);
    ASSERT_EQ(inserted.count(), 2);
    EXPECT_EQ(inserted[1][1].toInt(), 2);
    EXPECT_EQ(inserted[1][2].toInt(), 1001);
    EXPECT_EQ(m.rowCount(), 1003);
}

TEST(ByteTableModel, ClearLeavesHeaderAndOneEmptyRowAndNoOldParity) {
    ByteTableModel m;
    fill(m, QByteArray("ABC"), false, ParityMark::One);
    EXPECT_EQ(m.gridCell(4, 2), QStringLiteral("1"));
    QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
    m.clear();
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(m.gridRowCount(), 2);
    EXPECT_EQ(m.rowCount(), 1);
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(m.gridCell(c, 1), QString());
    // A capture without parity after the clear: its Parity cells stay empty.
    fill(m, QByteArray("DE"), true, ParityMark::None);
    EXPECT_EQ(m.gridRowCount(), 4);
    EXPECT_EQ(m.gridCell(0, 1), QStringLiteral("1"));
    EXPECT_EQ(m.gridCell(1, 1), QStringLiteral("D"));
    EXPECT_EQ(m.gridCell(4, 1), QString());
    EXPECT_EQ(m.gridCell(4, 2), QString());
    EXPECT_EQ(m.bytes(), QByteArray("DE"));
}
