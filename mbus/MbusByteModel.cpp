#include "mbus/MbusByteModel.h"

#include "core/mbus/MbusRecords.h"

#include <QBrush>
#include <QFont>
#include <algorithm>

namespace trelmo {

using mbus::ByteRole;

QColor MbusByteModel::roleColor(ByteRole role) {
    switch (role) {
        case ByteRole::Start:
        case ByteRole::Length:
        case ByteRole::Control:
        case ByteRole::Address:
        case ByteRole::Ci:
        case ByteRole::Checksum:
        case ByteRole::Stop:
        case ByteRole::Ack:
            return QColor(225, 225, 225);
        case ByteRole::HeaderId:
        case ByteRole::HeaderManufacturer:
        case ByteRole::HeaderVersion:
        case ByteRole::HeaderMedium:
        case ByteRole::HeaderAccess:
        case ByteRole::HeaderStatus:
        case ByteRole::HeaderSignature:
        case ByteRole::FixedMediumUnit:
            return QColor(214, 226, 245);
        case ByteRole::Dif:
        case ByteRole::Dife:
            return QColor(200, 230, 250);
        case ByteRole::Vif:
        case ByteRole::Vife:
        case ByteRole::UnitText:
            return QColor(210, 240, 205);
        case ByteRole::Lvar:
        case ByteRole::Data:
            return QColor(255, 255, 255);
        case ByteRole::Filler:
        case ByteRole::ManufacturerData:
            return QColor(240, 228, 245);
        case ByteRole::ApplicationError:
        case ByteRole::Undecoded:
        case ByteRole::Trailing:
        case ByteRole::Unknown:
            return QColor(250, 210, 210);
    }
    return QColor(255, 255, 255);
}

MbusByteModel::MbusByteModel(QObject* parent) : QAbstractTableModel(parent) {}

void MbusByteModel::setTelegram(const mbus::Telegram& telegram) {
    beginResetModel();
    bytes_ = telegram.bytes;
    roles_ = telegram.roles;
    recordOf_.assign(static_cast<std::size_t>(bytes_.size()), 0);
    for (std::size_t i = 0; i < telegram.records.size(); ++i) {
        const mbus::Record& r = telegram.records[i];
        const int from = std::clamp(r.offset, 0, static_cast<int>(bytes_.size()));
        const int to = std::clamp(r.offset + r.length, from, static_cast<int>(bytes_.size()));
        for (int k = from; k < to; ++k)
            recordOf_[static_cast<std::size_t>(k)] = static_cast<int>(i + 1);
    }
    highlightOffset_ = 0;
    highlightLength_ = 0;
    endResetModel();
}

void MbusByteModel::setHighlight(int offset, int length) {
    const int oldFrom = highlightOffset_;
    const int oldTo = highlightOffset_ + highlightLength_;
    highlightOffset_ = std::max(offset, 0);
    highlightLength_ = std::max(length, 0);
    const int from = std::min(oldFrom, highlightOffset_);
    const int to = std::max(oldTo, highlightOffset_ + highlightLength_);
    if (bytes_.isEmpty() || to <= from)
        return;
    const int last = std::min<int>(to, static_cast<int>(bytes_.size())) - 1;
    if (last < from)
        return;
    emit dataChanged(index(from / kColumns, 0), index(last / kColumns, kColumns - 1),
                     {Qt::BackgroundRole, Qt::FontRole});
}

QModelIndex MbusByteModel::indexOfByte(int offset) const {
    if (offset < 0 || offset >= bytes_.size())
        return {};
    return index(offset / kColumns, offset % kColumns);
}

int MbusByteModel::byteOf(const QModelIndex& index) const {
    if (!index.isValid())
        return -1;
    const int offset = index.row() * kColumns + index.column();
    return offset < bytes_.size() ? offset : -1;
}

ByteRole MbusByteModel::role(int offset) const {
    if (offset < 0 || offset >= roles_.size())
        return ByteRole::Unknown;
    return static_cast<ByteRole>(static_cast<uint8_t>(roles_[offset]));
}

QString MbusByteModel::roleText(int offset) const {
    if (offset < 0 || offset >= bytes_.size())
        return {};
    const ByteRole r = role(offset);
    QString text = QStringLiteral("byte %1 (0x%2): %3")
                       .arg(offset)
                       .arg(QString::number(offset, 16).toUpper())
                       .arg(mbus::byteRoleName(r));
    const int record = recordOf_[static_cast<std::size_t>(offset)];
    if (record > 0)
        text += QStringLiteral(", record %1").arg(record);
    switch (r) {
        case ByteRole::HeaderId:
        case ByteRole::HeaderManufacturer:
        case ByteRole::HeaderVersion:
        case ByteRole::HeaderMedium:
        case ByteRole::HeaderAccess:
        case ByteRole::HeaderStatus:
        case ByteRole::HeaderSignature:
            text += QStringLiteral(", header field");
            break;
        default:
            break;
    }
    return text;
}

int MbusByteModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return static_cast<int>((bytes_.size() + kColumns - 1) / kColumns);
}

int MbusByteModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant MbusByteModel::data(const QModelIndex& index, int role) const {
    const int offset = byteOf(index);
    if (offset < 0)
        return {};
    switch (role) {
        case Qt::DisplayRole:
            return QString::number(static_cast<uint8_t>(bytes_[offset]), 16)
                .rightJustified(2, QLatin1Char('0'))
                .toUpper();
        case Qt::ToolTipRole:
            return roleText(offset);
        case Qt::BackgroundRole:
            return QBrush(highlighted(offset) ? highlightColor() : roleColor(this->role(offset)));
        case Qt::ForegroundRole:
            return QBrush(QColor(0, 0, 0));
        case Qt::FontRole:
            if (highlighted(offset)) {
                QFont f;
                f.setBold(true);
                return f;
            }
            return {};
        case Qt::TextAlignmentRole:
            return int(Qt::AlignCenter);
        default:
            return {};
    }
}

QVariant MbusByteModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return QString::number(section, 16).toUpper();
    return QString::number(section * kColumns, 16).rightJustified(4, QLatin1Char('0')).toUpper();
}

}  // namespace trelmo
