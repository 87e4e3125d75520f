#include "core/capture/CaptureFiles.h"

#include <QIODevice>
#include <QSaveFile>

#include "core/Codec.h"
#include "core/Convert.h"

namespace trelmo {
namespace {

constexpr int kColumns = 5;
constexpr qsizetype kChunk = 1 << 18;

// Encodes lines into a bounded buffer and hands it to the device whenever it fills, so a
// capture of any size is written without a second copy of it in memory.
class LineWriter {
  public:
    // utf8: the texts in UTF-8, otherwise in the code page.
    explicit LineWriter(QIODevice& out, bool utf8 = false) : out_(out), utf8_(utf8) {
        buffer_.reserve(kChunk + 4096);
    }

    void text(QStringView s) {
        if (utf8_)
            buffer_ += s.toUtf8();
        else
            for (QChar ch : s)
                buffer_.append(static_cast<char>(codec::toByte(ch)));
        if (buffer_.size() >= kChunk)
            flush();
    }
    void endLine() {
        buffer_.append("\r\n", 2);
        if (buffer_.size() >= kChunk)
            flush();
    }
    void line(QStringView s) {
        text(s);
        endLine();
    }
    void flush() {
        if (buffer_.isEmpty())
            return;
        if (out_.write(buffer_) != buffer_.size())
            throw ECaptureError(QStringLiteral("Write error: %1").arg(out_.errorString()));
        buffer_.clear();
    }

  private:
    QIODevice& out_;
    bool utf8_;
    QByteArray buffer_;
};

qsizetype byteRows(const CaptureTableSource& table) {
    return qMax<qsizetype>(0, table.gridRowCount() - 2);
}

// Opens a temporary file for path, lets fill() write it and renames it over path.
template <typename Fill>
void saveThroughTemporary(const QString& path, Fill fill) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ECaptureError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    try {
        fill(file);
    } catch (...) {
        file.cancelWriting();
        throw;
    }
    if (!file.commit())
        throw ECaptureError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

}  // namespace

ECaptureError::ECaptureError(const QString& message) : std::runtime_error(message.toStdString()) {}

QString captureDateLine(const CaptureHeader& h) {
    return QStringLiteral("Date: ") + h.date + QStringLiteral("    Time: ") + h.time;
}

QString captureSettingsLine(const CaptureHeader& h) {
    return QStringLiteral("Settings: ") + h.port + QStringLiteral(", ") + h.speed +
           QStringLiteral(", ") + h.dataBits + QStringLiteral(", ") + h.parity;
}

QString captureTableHeading() {
    return QStringLiteral("No.\t|\tASCII\t|\tHex\t|\tDec.\t|\tParity");
}

QString captureTableRule() {
    return QString(72, u'-') + u'|';
}

QString captureRowLine(const CaptureTableSource& table, qsizetype gridRow) {
    QString line;
    for (int c = 0; c < kColumns; ++c) {
        const QString cell = table.cellText(c, gridRow);
        line += cell;
        line += cell == QStringLiteral("\t") ? QStringLiteral("|\t") : QStringLiteral("\t|\t");
    }
    return line;
}

QString binaryDigitsOfHexCell(const QString& hexCell) {
    const bool wellFormed = hexCell.size() == 4 && hexCell[0] == u'0' &&
                            (hexCell[1] == u'x' || hexCell[1] == u'X') &&
                            hexDigitValue(hexCell[2]) >= 0 && hexDigitValue(hexCell[3]) >= 0;
    if (!wellFormed)
        throw ECaptureError(QStringLiteral("'%1' is not a valid hexadecimal byte").arg(hexCell));
    const int value = hexDigitValue(hexCell[2]) * 16 + hexDigitValue(hexCell[3]);
    QString digits(8, u'0');
    for (int bit = 0; bit < 8; ++bit)
        if (value & (0x80 >> bit))
            digits[bit] = u'1';
    return digits;
}

void writeTextLog(QIODevice& out, const CaptureHeader& header, const CapturePaneSource& pane,
                  const CaptureTableSource& table, bool hexMode, bool utf8) {
    LineWriter w(out, utf8);
    w.line(captureDateLine(header));
    w.line(captureSettingsLine(header));
    const qsizetype lines = pane.paneLineCount();
    for (qsizetype i = 0; i < lines; ++i)
        w.line(pane.paneLine(i));
    if (!hexMode) {
        const QString rule = captureTableRule();
        w.line(captureTableHeading());
        w.line(rule);
        const qsizetype n = byteRows(table);
        for (qsizetype r = 1; r <= n + 1; ++r) {
            w.line(captureRowLine(table, r));
            w.line(rule);
        }
    }
    w.flush();
}

BinSaveResult writeBinFile(QIODevice& out, const CaptureHeader& header,
                           const CaptureTableSource& table) {
    const qsizetype n = byteRows(table);
    if (n == 0)
        return BinSaveResult::NothingReceived;
    LineWriter w(out);
    w.line(captureDateLine(header));
    w.line(captureSettingsLine(header));
    for (qsizetype r = 1; r <= n; ++r)
        w.text(binaryDigitsOfHexCell(table.cellText(2, r)));
    w.endLine();
    w.flush();
    return BinSaveResult::Written;
}

void saveTextLog(const QString& path, const CaptureHeader& header, const CapturePaneSource& pane,
                 const CaptureTableSource& table, bool hexMode, bool utf8) {
    saveThroughTemporary(
        path, [&](QIODevice& out) { writeTextLog(out, header, pane, table, hexMode, utf8); });
}

BinSaveResult saveBinFile(const QString& path, const CaptureHeader& header,
                          const CaptureTableSource& table) {
    if (byteRows(table) == 0)
        return BinSaveResult::NothingReceived;
    saveThroughTemporary(path, [&](QIODevice& out) { writeBinFile(out, header, table); });
    return BinSaveResult::Written;
}

}  // namespace trelmo
