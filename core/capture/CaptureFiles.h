#pragma once
// The capture files: the text log (header, the receive pane's lines and, in text mode, a table
// of every received byte) and the BIN file (header and every received byte as eight "0"/"1"
// digits). Both are Windows-1252 text, every line ending in CR LF, the last included, and both
// are written streaming through a temporary file that replaces the target only when complete.
// While the pane reads received text as UTF-8 the text log is written in UTF-8 instead, so it
// carries the characters the pane shows.

#include <QString>
#include <QtGlobal>
#include <stdexcept>

class QIODevice;

namespace trelmo {

// The receive pane as the capture files read it.
class CapturePaneSource {
  public:
    virtual ~CapturePaneSource() = default;
    virtual qsizetype paneLineCount() const = 0;
    // Line i, 0 <= i < paneLineCount(), as the pane holds it.
    virtual QString paneLine(qsizetype i) const = 0;
};

// The byte table read back as its grid shows it: row 0 is the header, rows 1..n the n bytes
// received since the last clear, row n + 1 the empty row kept for the next byte.
class CaptureTableSource {
  public:
    virtual ~CaptureTableSource() = default;
    // n + 2; never less than 2.
    virtual qsizetype gridRowCount() const = 0;
    // Text of a cell; column 0 "No.", 1 "ASCII", 2 "Hex" ("0x" and two upper-case digits),
    // 3 "Dec", 4 "Parity". The empty row's cells are empty.
    virtual QString cellText(int column, qsizetype gridRow) const = 0;
};

// The texts the headers are made of, as the window shows them.
struct CaptureHeader {
    QString date;      // short date, as the clock label shows it
    QString time;      // long time, as the clock label shows it
    QString port;      // e.g. "COM1"
    QString speed;     // e.g. "9600"
    QString dataBits;  // e.g. "8"
    QString parity;    // e.g. "None"
    QString stopBits;  // e.g. "1" (printed, not saved)
};

// A capture file that could not be built or written; message() says why.
class ECaptureError : public std::runtime_error {
  public:
    explicit ECaptureError(const QString& message);
    QString message() const { return QString::fromUtf8(what()); }
};

// "Date: " + date + "    Time: " + time
QString captureDateLine(const CaptureHeader& header);
// "Settings: " + port + ", " + speed + ", " + data bits + ", " + parity
QString captureSettingsLine(const CaptureHeader& header);
// The byte table's heading and rule lines in the text log.
QString captureTableHeading();
QString captureTableRule();
// The text log line of one grid row: each of the five cells followed by TAB "|" TAB, except a
// cell that is a single TAB, which is followed by "|" TAB only.
QString captureRowLine(const CaptureTableSource& table, qsizetype gridRow);
// The eight "0"/"1" digits of a Hex cell such as "0x41". Throws ECaptureError for a cell that
// is not "0x" and two hexadecimal digits.
QString binaryDigitsOfHexCell(const QString& hexCell);

// Writes the text log to path: the date line, the settings line, every pane line and, unless
// hexMode, the table heading, the rule and for each grid row 1..n+1 its row line and the rule.
// utf8: written in UTF-8 (otherwise in the code page). Throws ECaptureError when the file
// cannot be written; the old file, if any, is kept then.
void saveTextLog(const QString& path, const CaptureHeader& header, const CapturePaneSource& pane,
                 const CaptureTableSource& table, bool hexMode, bool utf8 = false);

// What saveBinFile did.
enum class BinSaveResult {
    Written,          // the file was written
    NothingReceived,  // the table has no byte rows: no file was written or touched
};

// Writes the BIN file to path: the date line, the settings line and one line with eight digits
// per byte (grid rows 1..n, from their Hex cells), when at least one byte was received.
// Throws ECaptureError when a Hex cell is malformed or the file cannot be written; the old
// file, if any, is kept then.
BinSaveResult saveBinFile(const QString& path, const CaptureHeader& header,
                          const CaptureTableSource& table);

// The same two formats written to an open device (no temporary file, no commit); throw
// ECaptureError when a write fails. saveTextLog/saveBinFile use these.
void writeTextLog(QIODevice& out, const CaptureHeader& header, const CapturePaneSource& pane,
                  const CaptureTableSource& table, bool hexMode, bool utf8 = false);
BinSaveResult writeBinFile(QIODevice& out, const CaptureHeader& header,
                           const CaptureTableSource& table);

}  // namespace trelmo
