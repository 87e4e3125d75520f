// The byte store and the byte table model: cell texts, parity values, settings kept per
// run, the grid's shape, clearing, one row insertion per block, memory per byte.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <bit>
#include <random>

#include "core/Codec.h"
#include "core/receive/ByteStore.h"
#include "core/receive/ByteTableModel.h"

using namespace trelmo;

namespace {

QString expectedHex(int v) {
    return QStringLiteral("0x") + QString::number(v, 16).toUpper().rightJustified(2, u'0');
}

void fill(ByteTableModel& m, const QByteArray& bytes, bool names, LineParity parity) {
    for (char c : bytes)
        m.appendByte(static_cast<uint8_t>(c), names, parity);
    m.commitRows();
}

QString markText(ParityMark mark) {
    return mark == ParityMark::One    ? QStringLiteral("1")
           : mark == ParityMark::Zero ? QStringLiteral("0")
                                      : QString();
}

}  // namespace

TEST(ByteStore, CellTextsForEveryByteValue) {
    ByteStore s;
    for (int v = 0; v < 256; ++v)
        s.append(static_cast<uint8_t>(v), false, LineParity::None);
    for (int v = 0; v < 256; ++v)
        s.append(static_cast<uint8_t>(v), true, LineParity::Mark);
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

TEST(ByteStore, ParityValueOfEveryByteUnderEverySetting) {
    for (int v = 0; v < 256; ++v) {
        const auto b = static_cast<uint8_t>(v);
        const bool oddOnes = std::popcount(b) % 2 == 1;
        EXPECT_EQ(parityValue(b, LineParity::None), ParityMark::None) << v;
        EXPECT_EQ(parityValue(b, LineParity::Odd), oddOnes ? ParityMark::One : ParityMark::Zero)
            << v;
        EXPECT_EQ(parityValue(b, LineParity::Even), oddOnes ? ParityMark::Zero : ParityMark::One)
            << v;
        EXPECT_EQ(parityValue(b, LineParity::Mark), ParityMark::One) << v;
        EXPECT_EQ(parityValue(b, LineParity::Space), ParityMark::Zero) << v;
    }
    // All eight bits count: 0x80 has one bit set, 0xFF eight.
    EXPECT_EQ(parityValue(0x80, LineParity::Odd), ParityMark::One);
    EXPECT_EQ(parityValue(0xFF, LineParity::Odd), ParityMark::Zero);
    EXPECT_EQ(parityValue(0x00, LineParity::Even), ParityMark::One);
}

TEST(ByteStore, ParityCellsFlagsAndOutOfRange) {
    ByteStore s;
    s.append(0x41, true, LineParity::Odd);    // two one bits
    s.append(0x43, false, LineParity::Odd);   // three
    s.append(0x43, true, LineParity::Even);   // three
    s.append(0x43, true, LineParity::Space);  // three
    s.append(0x43, true, LineParity::None);
    EXPECT_EQ(s.parity(0), ParityMark::Zero);
    EXPECT_EQ(s.parity(1), ParityMark::One);
    EXPECT_EQ(s.parity(2), ParityMark::Zero);
    EXPECT_EQ(s.parity(3), ParityMark::Zero);
    EXPECT_EQ(s.parity(4), ParityMark::None);
    EXPECT_EQ(s.lineParity(2), LineParity::Even);
    EXPECT_TRUE(s.usesNames(0));
    EXPECT_FALSE(s.usesNames(1));
    EXPECT_TRUE(s.usesNames(2));
    EXPECT_EQ(s.cellText(0, ByteStore::ColParity), QStringLiteral("0"));
    EXPECT_EQ(s.cellText(1, ByteStore::ColParity), QStringLiteral("1"));
    EXPECT_EQ(s.cellText(4, ByteStore::ColParity), QString());
    EXPECT_EQ(s.cellText(5, ByteStore::ColNo), QString());
    EXPECT_EQ(s.cellText(-1, ByteStore::ColHex), QString());
    EXPECT_EQ(s.cellText(0, 5), QString());
}

TEST(ByteStore, SettingsAreKeptPerRunAcrossChunks) {
    // Settings change at arbitrary places, within chunks and on chunk edges, by single
    // bytes and by blocks; every byte reads back with the settings it was stored with.
    struct Piece {
        qsizetype length;
        bool names;
        LineParity parity;
        bool bulk;
    };
    const qsizetype chunk = ByteStore::kChunkBytes;
    const std::vector<Piece> pieces = {{100, true, LineParity::None, false},
                                       {chunk - 100, false, LineParity::Odd, true},
                                       {1, false, LineParity::Odd, false},
                                       {1, true, LineParity::Odd, false},
                                       {3 * chunk + 17, true, LineParity::Even, true},
                                       {5, true, LineParity::Even, false},
                                       {chunk, false, LineParity::Mark, true},
                                       {7, false, LineParity::Space, false},
                                       {0, true, LineParity::None, true},
                                       {chunk / 2, false, LineParity::Space, true}};
    ByteStore s;
    std::mt19937 rng(11);
    QByteArray want;
    std::vector<bool> wantNames;
    std::vector<LineParity> wantParity;
    for (const Piece& piece : pieces) {
        QByteArray block(piece.length, Qt::Uninitialized);
        for (char& c : block)
            c = static_cast<char>(rng());
        if (piece.bulk) {
            s.append(QByteArrayView(block), piece.names, piece.parity);
        } else {
            for (char c : block)
                s.append(static_cast<uint8_t>(c), piece.names, piece.parity);
        }
        want += block;
        wantNames.insert(wantNames.end(), block.size(), piece.names);
        wantParity.insert(wantParity.end(), block.size(), piece.parity);
    }
    ASSERT_EQ(s.size(), want.size());
    EXPECT_EQ(s.bytes(), want);
    for (qsizetype i = 0; i < want.size(); ++i) {
        const auto v = static_cast<uint8_t>(want[i]);
        ASSERT_EQ(s.value(i), v) << i;
        ASSERT_EQ(s.usesNames(i), wantNames[i]) << i;
        ASSERT_EQ(s.lineParity(i), wantParity[i]) << i;
        ASSERT_EQ(s.parity(i), parityValue(v, wantParity[i])) << i;
        ASSERT_EQ(s.cellText(i, ByteStore::ColParity), markText(parityValue(v, wantParity[i])))
            << i;
    }
    // A run per change of settings: repeated settings and the empty block add none.
    EXPECT_EQ(s.settingsRunCount(), 6);
}

TEST(ByteStore, OneByteOfMemoryPerReceivedByte) {
    ByteStore s;
    std::mt19937 rng(7);
    const qsizetype n = ByteStore::kChunkBytes * 5 + 123;
    QByteArray want(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i) {
        want[i] = static_cast<char>(rng());
        // The display mode changes now and then, as a user toggles it.
        s.append(static_cast<uint8_t>(want[i]), (i / 5000) % 2 == 0, LineParity::Odd);
    }
    EXPECT_EQ(s.size(), n);
    EXPECT_EQ(s.bytes(), want);
    for (qsizetype i : {qsizetype(0), ByteStore::kChunkBytes - 1, ByteStore::kChunkBytes,
                        ByteStore::kChunkBytes * 3 + 5, n - 1}) {
        EXPECT_EQ(s.value(i), static_cast<uint8_t>(want[i]));
        EXPECT_EQ(s.usesNames(i), (i / 5000) % 2 == 0);
        EXPECT_EQ(s.parity(i), parityValue(static_cast<uint8_t>(want[i]), LineParity::Odd));
    }
    // The values, the last chunk's spare room and a little bookkeeping: well under two
    // bytes per received byte.
    EXPECT_GE(s.memoryUsage(), static_cast<size_t>(n));
    EXPECT_LE(s.memoryUsage(), static_cast<size_t>(n + ByteStore::kChunkBytes + 4096));
    s.clear();
    EXPECT_EQ(s.size(), 0);
    EXPECT_EQ(s.memoryUsage(), 0u);
    EXPECT_EQ(s.settingsRunCount(), 0);
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
    fill(m, QByteArray("\x41\x0D\x0A", 3), true, LineParity::None);
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
    m.appendByte('a', true, LineParity::None);
    m.appendBytes("b", true, LineParity::None);
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
    fill(m, QByteArray(1000, 'x'), true, LineParity::None);
    ASSERT_EQ(inserted.count(), 2);
    EXPECT_EQ(inserted[1][1].toInt(), 2);
    EXPECT_EQ(inserted[1][2].toInt(), 1001);
    EXPECT_EQ(m.rowCount(), 1003);
    // A block appended at once is one insertion too.
    m.appendBytes(QByteArray(25000, 'y'), false, LineParity::Even);
    EXPECT_EQ(m.rowCount(), 1003);
    m.commitRows();
    ASSERT_EQ(inserted.count(), 3);
    EXPECT_EQ(inserted[2][1].toInt(), 1002);
    EXPECT_EQ(inserted[2][2].toInt(), 26001);
    EXPECT_EQ(m.gridCell(1, 26002), QStringLiteral("y"));
    EXPECT_EQ(m.gridCell(4, 26002), QStringLiteral("0"));  // 'y' has five one bits
    EXPECT_EQ(m.gridCell(4, 1002), QString());
}

TEST(ByteTableModel, ClearLeavesHeaderAndOneEmptyRowAndNoOldParity) {
    ByteTableModel m;
    fill(m, QByteArray("ABC"), false, LineParity::Mark);
    EXPECT_EQ(m.gridCell(4, 2), QStringLiteral("1"));
    QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
    m.clear();
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(m.gridRowCount(), 2);
    EXPECT_EQ(m.rowCount(), 1);
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(m.gridCell(c, 1), QString());
    // A capture without parity after the clear: its Parity cells stay empty.
    fill(m, QByteArray("DE"), true, LineParity::None);
    EXPECT_EQ(m.gridRowCount(), 4);
    EXPECT_EQ(m.gridCell(0, 1), QStringLiteral("1"));
    EXPECT_EQ(m.gridCell(1, 1), QStringLiteral("D"));
    EXPECT_EQ(m.gridCell(4, 1), QString());
    EXPECT_EQ(m.gridCell(4, 2), QString());
    EXPECT_EQ(m.bytes(), QByteArray("DE"));
}
