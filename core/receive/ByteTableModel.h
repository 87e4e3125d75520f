#pragma once
// The byte table's model: one row per received byte over a ByteStore, then one empty row.
// Model row i - 1 holds the i-th byte since the last clear; rowCount() is received + 1.
// The grid the user sees adds the header row, so its row count is received + 2.

#include <QAbstractTableModel>
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "core/receive/ByteStore.h"

namespace trelmo {

class ByteTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit ByteTableModel(QObject* parent = nullptr);

    // QAbstractTableModel. Display role only; the horizontal header gives "No.", "ASCII",
    // "Hex", "Dec", "Parity".
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

    // Bytes shown in the table (committed rows).
    qsizetype receivedCount() const { return committed_; }

    // Read-back as the grid shows it: row 0 is the header, rows 1..n the bytes, row n + 1
    // the empty row. gridRowCount() is n + 2; a cell outside the grid reads as empty.
    int gridRowCount() const;
    QString gridCell(int column, int gridRow) const;

    // The committed byte values, in arrival order.
    QByteArray bytes() const;

    // Back to the header and one empty row; all byte rows are gone.
    void clear();

    const ByteStore& store() const { return store_; }

    // The five column headings.
    static QString heading(int column);

  private:
    ByteStore store_;
    qsizetype committed_ = 0;
};

}  // namespace trelmo
