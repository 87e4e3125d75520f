#pragma once
// Capture files as the tests write them: a byte table as the TCP receive path fills it, the
// header of the captures and the fixed lines of the text log.

#include <QByteArray>
#include <QString>

#include "core/Codec.h"
#include "core/capture/CaptureFiles.h"

namespace trelmo::test {

// A byte table as a TCP receive path fills it: names in the ASCII column, no parity. The cells
// of each byte value are made once, so a table of millions of rows costs the save little.
class TcpTable : public CaptureTableSource {
  public:
    explicit TcpTable(QByteArray bytes) : bytes_(std::move(bytes)) {}
    qsizetype gridRowCount() const override { return bytes_.size() + 2; }
    QString cellText(int column, qsizetype row) const override {
        static const char* const heads[] = {"No.", "ASCII", "Hex", "Dec", "Parity"};
        if (row == 0)
            return QString::fromLatin1(heads[column]);
        if (row > bytes_.size())
            return {};
        const auto b = static_cast<uint8_t>(bytes_[row - 1]);
        switch (column) {
            case 0:
                return QString::number(row);
            case 1:
                return cells().ascii[b];
            case 2:
                return cells().hex[b];
            case 3:
                return cells().dec[b];
            default:
                return {};
        }
    }
    static QString ascii(uint8_t b) {
        static const char* const names[] = {"",      "<SOH>", "<STX>", "<ETX>",
                                            "<EOT>", "<ENQ>", "<ACK>"};
        if (b >= 1 && b <= 6)
            return QString::fromLatin1(names[b]);
        if (b == 13)
            return QStringLiteral("<CR>");
        if (b == 10)
            return QStringLiteral("<LF>");
        return QString(codec::toChar(b));
    }

  private:
    struct Cells {
        QString ascii[256], hex[256], dec[256];
    };
    static const Cells& cells() {
        static const Cells made = [] {
            Cells c;
            for (int b = 0; b < 256; ++b) {
                c.ascii[b] = ascii(uint8_t(b));
                c.hex[b] =
                    QStringLiteral("0x%1").arg(b, 2, 16, QChar('0')).toUpper().replace("0X", "0x");
                c.dec[b] = QString::number(b);
            }
            return c;
        }();
        return made;
    }

    QByteArray bytes_;
};

inline CaptureHeader header() {
    CaptureHeader h;
    h.date = "01.02.2024";
    h.time = "12:34:56";
    h.port = "COM1";
    h.speed = "9600";
    h.dataBits = "8";
    h.parity = "None";
    h.stopBits = "1";
    return h;
}

inline const QByteArray kHead =
    "Date: 01.02.2024    Time: 12:34:56\r\nSettings: COM1, 9600, 8, None\r\n";
inline const QByteArray kHeading = "No.\t|\tASCII\t|\tHex\t|\tDec.\t|\tParity\r\n";
inline const QByteArray kRule = QByteArray(72, '-') + "|\r\n";
inline const QByteArray kEmptyRow = "\t|\t\t|\t\t|\t\t|\t\t|\t\r\n";

}  // namespace trelmo::test
