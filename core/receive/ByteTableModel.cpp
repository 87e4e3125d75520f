#include "core/receive/ByteTableModel.h"

#include <algorithm>

namespace trelmo {

ByteTableModel::ByteTableModel(QObject* parent) : LongTableModel(parent) {}

int ByteTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return static_cast<int>(std::min<qint64>(committed_ + 1, kMaxModelRows));
}

int ByteTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ByteStore::ColumnCount;
}

QVariant ByteTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid())
        return QVariant();
    if (index.row() >= committed_)
        return QString();  // the empty row
    return store_.cellText(index.row(), index.column());
}

QVariant ByteTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal)
        return heading(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

QString ByteTableModel::heading(int column) {
    switch (column) {
        case ByteStore::ColNo:
            return QStringLiteral("No.");
        case ByteStore::ColAscii:
            return QStringLiteral("ASCII");
        case ByteStore::ColHex:
            return QStringLiteral("Hex");
        case ByteStore::ColDec:
            return QStringLiteral("Dec");
        case ByteStore::ColParity:
            return QStringLiteral("Parity");
        default:
            return QString();
    }
}

QString ByteTableModel::longCellText(qint64 row, int column) const {
    if (row < 0 || row >= committed_)
        return QString();  // the empty row, or past the table
    return store_.cellText(row, column);
}

void ByteTableModel::commitRows() {
    const qsizetype total = store_.size();
    if (total == committed_)
        return;
    const qsizetype before = committed_;
    // The new rows go in before the empty row, which moves down. Qt's views see rows up to
    // kMaxModelRows: past it the last of them, the empty row until then, becomes a byte.
    const qint64 shownBefore = std::min<qint64>(before + 1, kMaxModelRows);
    const qint64 shownAfter = std::min<qint64>(total + 1, kMaxModelRows);
    if (shownAfter > shownBefore) {
        beginInsertRows(QModelIndex(), static_cast<int>(before),
                        static_cast<int>(before + shownAfter - shownBefore - 1));
        committed_ = total;
        endInsertRows();
        if (total + 1 > kMaxModelRows)
            emit dataChanged(index(kMaxModelRows - 1, 0),
                             index(kMaxModelRows - 1, ByteStore::ColumnCount - 1));
    } else {
        committed_ = total;
        if (before + 1 == kMaxModelRows)
            emit dataChanged(index(kMaxModelRows - 1, 0),
                             index(kMaxModelRows - 1, ByteStore::ColumnCount - 1));
    }
    emit longRowsInserted(before, total - 1);
}

qint64 ByteTableModel::gridRowCount() const {
    return committed_ + 2;
}

QString ByteTableModel::gridCell(int column, qint64 gridRow) const {
    if (column < 0 || column >= ByteStore::ColumnCount)
        return QString();
    if (gridRow == 0)
        return heading(column);
    if (gridRow < 0 || gridRow > committed_)
        return QString();
    return store_.cellText(gridRow - 1, column);
}

QByteArray ByteTableModel::bytes() const {
    QByteArray all = store_.bytes();
    all.truncate(committed_);
    return all;
}

void ByteTableModel::clear() {
    beginResetModel();
    store_.clear();
    committed_ = 0;
    endResetModel();
}

void ByteTableModel::startAt(qsizetype count) {
    if (committed_ != 0 || !store_.isEmpty())
        return;
    beginResetModel();
    store_.startAt(count);
    committed_ = store_.size();
    endResetModel();
}

}  // namespace trelmo
