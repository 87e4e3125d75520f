#pragma once
// The byte table's model: one row per received byte over a ByteStore, then one empty row.
// Model row i - 1 holds the i-th byte since the last clear; longRowCount() is received + 1.
// The grid the user sees adds the header row, so its row count is received + 2. Counts are
// 64-bit: past 2^31 bytes, Qt's views see the first kMaxModelRows rows (rowCount() stays
// sane); the grid and the captures read every row through the long interface.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "core/receive/ByteStore.h"
#include "core/receive/LongTableModel.h"

namespace trelmo {

class ByteTableModel : public LongTableModel {
    Q_OBJECT
  public:
    explicit ByteTableModel(QObject* parent = nullptr);

    // QAbstractTableModel. Display role only; the horizontal header gives "No.", "ASCII",
    // "Hex", "Dec", "Parity". rowCount() is longRowCount() up to kMaxModelRows.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Filling, one block at a time: appendByte() and appendBytes() store bytes without
    // telling views (useNames and parity as in ByteStore::append); commitRows() then
    // announces every byte appended since the last commit as one row insertion. Views and
    // the read-back functions below see committed rows only.
    void appendByte(uint8_t value, bool useNames, LineParity parity) {
        store_.append(value, useNames, parity);
    }
    void appendBytes(QByteArrayView values, bool useNames, LineParity parity) {
        store_.append(values, useNames, parity);
    }
    void commitRows();

    // LongTableModel: every row, and the text of any of them.
    qint64 longRowCount() const override { return committed_ + 1; }
    QString longCellText(qint64 row, int column) const override;
    // Bytes shown in the table (committed rows).
    qsizetype receivedCount() const { return committed_; }

    // Read-back as the grid shows it: row 0 is the header, rows 1..n the bytes, row n + 1
    // the empty row. gridRowCount() is n + 2; a cell outside the grid reads as empty.
    qint64 gridRowCount() const;
    QString gridCell(int column, qint64 gridRow) const;

    // The committed byte values, in arrival order.
    QByteArray bytes() const;

    // Back to the header and one empty row; all byte rows are gone.
    void clear();
    // A seam for tests of long captures: an empty table as if `count` bytes had been
    // received (see ByteStore::startAt); their cells read empty.
    void startAt(qsizetype count);

    const ByteStore& store() const { return store_; }

    // The five column headings.
    static QString heading(int column);

  private:
    ByteStore store_;
    qsizetype committed_ = 0;
};

}  // namespace trelmo
