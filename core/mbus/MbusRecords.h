#pragma once
// The application layer decoder: one frame in, one Telegram out, with the frame's fields,
// the header, every data record with its place in the input, the faults met, and the role of
// every byte (for a view that annotates the bytes). Never reads outside the input and never
// throws: whatever it does not understand it reports, with the offset, and goes on where the
// length of what follows is still known.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/mbus/MbusFrame.h"

namespace trelmo::mbus::inline records {

// What one byte of the input is.
enum class ByteRole : uint8_t {
    Unknown,  // not reached by the decoder (input that is no frame)
    Start,
    Length,
    Control,
    Address,
    Ci,
    Checksum,
    Stop,
    Ack,
    HeaderId,
    HeaderManufacturer,
    HeaderVersion,
    HeaderMedium,
    HeaderAccess,
    HeaderStatus,
    HeaderSignature,
    FixedMediumUnit,
    Dif,
    Dife,
    Vif,
    Vife,
    UnitText,  // the plain-text unit of VIF 0x7C / 0xFC, with its length byte
    Lvar,      // the length byte of a variable-length value
    Data,
    Filler,  // idle filler 0x2F
    ManufacturerData,
    ApplicationError,
    Undecoded,  // user data the decoder could not or would not read (unknown CI, encrypted,
                // after a fault whose length is unknown)
    Trailing,   // bytes after the end of the frame
};
QString byteRoleName(ByteRole role);

// The DIF's function field, or the kind of a manufacturer-data record (0x0F / 0x1F).
enum class Function : uint8_t { Instantaneous, Maximum, Minimum, Error, Manufacturer, More };
// "instantaneous", "maximum", "minimum", "error", "manufacturer", "more".
QString functionName(Function function);

enum class ValueType : uint8_t { None, Number, Text };

struct Record {
    int offset = 0;  // the DIF
    int length = 0;  // DIF to the last data byte
    int vifOffset = -1;
    int dataOffset = -1;  // first value byte (after the LVAR byte, if any)
    int dataLength = 0;
    uint8_t dif = 0;
    QByteArray dife;
    int vif = -1;  // -1: none (manufacturer data, fixed data structure)
    QByteArray vife;
    int lvar = -1;     // the LVAR byte of a variable-length value
    QString unitText;  // the plain-text unit of VIF 0x7C / 0xFC
    quint64 storage = 0;
    quint32 tariff = 0;
    quint32 subunit = 0;
    Function function = Function::Instantaneous;
    QString type;  // how the data was read: "int16", "bcd8", "real32", "text", "date", ...
    QString quantity;
    QString unit;           // UTF-8 names: "m³", "°C", "Wh", "s"; empty when dimensionless
    QStringList vifeTexts;  // what each combinable VIFE says
    ValueType valueType = ValueType::None;
    QString value;  // numbers as exact decimal text ("5678.1234"), or the text
    double number = 0;
    std::optional<qint64> raw;  // the integer as sent, before scaling (integer and BCD data)
    int recordError = -1;       // the record error code of a VIFE 0x00..0x1F
    bool invalid = false;       // a date marked invalid, BCD with digits A-F, a record error
    QString note;               // what was not understood about this record
};

enum class HeaderKind : uint8_t { None, Long, Short, Fixed };

struct Header {
    HeaderKind kind = HeaderKind::None;
    QString id;  // 8 digits as sent (a nibble above 9 shows as its hex digit)
    quint32 idRaw = 0;
    uint16_t manufacturerCode = 0;
    QString manufacturer;
    int version = -1;
    int medium = -1;
    QString mediumText;
    int access = -1;
    int status = -1;
    QStringList statusTexts;
    int signature = -1;
};

struct Telegram {
    QByteArray bytes;
    Frame frame;
    QString ciText;
    Header header;
    std::vector<Record> records;
    bool moreRecordsFollow = false;  // the last record is DIF 0x1F
    bool highByteFirst = false;      // CI 0x76 / 0x77
    int applicationError = -1;       // the code of a CI 0x70 reply
    QString applicationErrorText;
    std::vector<DecodeError> errors;
    QByteArray roles;  // one ByteRole per input byte

    // No fault: the frame's checks pass and every byte was understood.
    bool ok() const { return errors.empty(); }
};

// Decodes one frame (E5, short, control or long) at the start of `bytes`.
Telegram decodeTelegram(QByteArrayView bytes);
// Decodes application data without a link layer: `bytes` starts with the CI field.
Telegram decodeUserData(QByteArrayView bytes);

ByteRole byteRole(const Telegram& telegram, int offset);
std::vector<ByteRole> byteRoles(const Telegram& telegram);

// Exact decimal text of mantissa x 10^exponent ("5678.1234", "-0.2", "34700"), without
// trailing zeros after the point.
QString decimalText(qint64 mantissa, int exponent);

}  // namespace trelmo::mbus::inline records
