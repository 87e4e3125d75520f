#pragma once
// A table model whose rows may outnumber what Qt's models count (an int): the byte table of a
// capture past 2^31 bytes. To Qt's views it shows at most kMaxModelRows rows (rowCount() stays
// sane); a view that knows this interface reads the whole table through the 64-bit row count
// and cell texts, and follows rows appended at the end through longRowsInserted.

#include <QAbstractTableModel>
#include <QString>
#include <climits>

namespace trelmo {

class LongTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    using QAbstractTableModel::QAbstractTableModel;

    // The most rows rowCount() reports.
    static constexpr int kMaxModelRows = INT_MAX;

    // Every row, past kMaxModelRows too.
    virtual qint64 longRowCount() const = 0;
    // The display text of a cell; empty outside the table.
    virtual QString longCellText(qint64 row, int column) const = 0;

  signals:
    // Rows first..last (0-based) were appended (before any trailing row of the table's own).
    void longRowsInserted(qint64 first, qint64 last);
};

}  // namespace trelmo
