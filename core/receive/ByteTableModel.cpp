#include "core/receive/ByteTableModel.h"

namespace trelmo {

ByteTableModel::ByteTableModel(QObject* parent) : QAbstractTableModel(parent) {}

int ByteTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return static_cast<int>(committed_ + 1);
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

void ByteTableModel::commitRows() {
    const qsizetype total = store_.size();
    if (total == committed_)
        return;
    // The new rows go in before the empty row, which moves down.
    beginInsertRows(QModelIndex(), static_cast<int>(committed_), static_cast<int>(total - 1));
    committed_ = total;
    endInsertRows();
}

int ByteTableModel::gridRowCount() const {
    return static_cast<int>(committed_ + 2);
}

QString ByteTableModel::gridCell(int column, int gridRow) const {
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

}  // namespace trelmo
