#pragma once
// The bytes of one telegram as a table for the M-Bus window's byte view: 16 bytes a row in
// hex, the offset of each row in its header, every byte tinted by what it is (header field,
// DIF, VIF, data, ...) with its role in its tool tip, and a run of bytes (the selected record
// or header field) highlighted.

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <cstdint>
#include <vector>

// From core/mbus/MbusRecords.h, which this header leaves out (the window's own header includes
// the composer's family: MbusFrame.h says why they stay apart).
namespace trelmo::mbus::inline records {
struct Telegram;
enum class ByteRole : uint8_t;
}  // namespace trelmo::mbus::inline records

namespace trelmo {

class MbusByteModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kColumns = 16;
    // The highlight of the selected bytes.
    static QColor highlightColor() { return QColor(255, 200, 40); }
    // The tint of a byte of this role.
    static QColor roleColor(mbus::ByteRole role);

    explicit MbusByteModel(QObject* parent = nullptr);

    // Shows the bytes of `telegram` (nothing highlighted); an empty telegram empties the view.
    void setTelegram(const mbus::Telegram& telegram);
    const QByteArray& bytes() const { return bytes_; }
    // Highlights `length` bytes from `offset` (length 0: none).
    void setHighlight(int offset, int length);
    int highlightOffset() const { return highlightOffset_; }
    int highlightLength() const { return highlightLength_; }
    bool highlighted(int offset) const {
        return offset >= highlightOffset_ && offset < highlightOffset_ + highlightLength_;
    }

    // The cell of a byte, and the byte of a cell (-1 outside the bytes).
    QModelIndex indexOfByte(int offset) const;
    int byteOf(const QModelIndex& index) const;
    // What a byte is, as its tool tip says it: "byte 19 (0x13): DIF", and the record or the
    // header field it belongs to.
    QString roleText(int offset) const;
    mbus::ByteRole role(int offset) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    QByteArray bytes_;
    QByteArray roles_;
    std::vector<int> recordOf_;  // the record number (from 1) of each byte, 0 for none
    int highlightOffset_ = 0;
    int highlightLength_ = 0;
};

}  // namespace trelmo
