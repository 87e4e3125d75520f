#pragma once
// The application layer's code tables: the value information codes (primary table, the two
// extension tables behind VIF 0xFD and 0xFB, the combinable VIFE codes), the data field codes,
// the media, the CI fields, the error codes and the units of the fixed data structure. The
// tables are plain constexpr arrays of code ranges; the look-ups below find the entry of one
// code.

#include <QString>
#include <cstdint>
#include <span>

namespace trelmo::mbus::inline records {

// How the value of a record is turned into a quantity.
enum class ValueRule : uint8_t {
    Scaled,        // value x 10^exponent, in `unit` (the exponent grows by one per code)
    Duration,      // the code's low two bits name s / min / h / d: converted to seconds
    LongDuration,  // the low two bits name h / d / month / year: h and d converted to seconds
    Date,          // a point in time: date, date and time or time, by the data field's size
    Plain,         // a number or text without scaling (identifiers, counters, versions)
    Reserved,      // a code the tables leave reserved
};

// One range of codes [first, last] with one meaning; for Scaled the exponent of `first`.
struct VifEntry {
    uint8_t first;
    uint8_t last;
    const char* quantity;  // UTF-8
    const char* unit;      // UTF-8, empty for none
    int8_t exponent;
    ValueRule rule;
};

// What a combinable VIFE (one after the VIF or after an extension table's code) does.
enum class VifeAction : uint8_t {
    Note,          // names something about the value; value and unit unchanged
    RecordError,   // 0x00..0x1F in a reply: the record's error code
    PerUnit,       // divides the unit by something ("per hour"): `unit` holds the suffix
    TimesUnit,     // multiplies the unit ("multiplied by s"): `unit` holds the suffix
    Exponent,      // multiplies the value by 10^(exponent + offset in the range)
    Additive,      // the value is an additive correction constant, 10^(exponent + offset)
    DateOf,        // the value becomes the date (and time) of the event named
    DurationOf,    // the value becomes a duration; low two bits name s / min / h / d
    CountOf,       // the value becomes a count of events: no unit, no scaling
    Extension,     // 0x7C: the next VIFE is a code of the combinable extension table
    Manufacturer,  // 0x7F: the following VIFEs and the data are manufacturer specific
    Reserved,
};

struct VifeEntry {
    uint8_t first;
    uint8_t last;
    const char* text;  // UTF-8
    const char* unit;  // suffix for PerUnit / TimesUnit
    int8_t exponent;   // for Exponent / Additive: the exponent of `first`
    VifeAction action;
};

struct CodeName {
    uint8_t code;
    const char* name;
};

// The data field (the DIF's low nibble): its name and the number of data bytes
// (-1: a variable length, LVAR, follows; -2: a special function).
struct DataFieldEntry {
    const char* name;
    int8_t length;
};

// The unit codes of the fixed data structure (CI 0x73 / 0x77): quantity, unit, exponent.
struct FixedUnitEntry {
    uint8_t code;
    const char* quantity;
    const char* unit;
    int8_t exponent;
};

std::span<const VifEntry> primaryVifTable();
std::span<const VifEntry> extensionFdTable();
std::span<const VifEntry> extensionFbTable();
std::span<const VifeEntry> combinableVifeTable();

// The entry for `code` (the extension bit masked off), or nullptr.
const VifEntry* findVif(std::span<const VifEntry> table, uint8_t code);
const VifeEntry* findVife(uint8_t code);

const DataFieldEntry& dataField(uint8_t dif);

// Names; an unknown code gives a text saying so with the code in hexadecimal.
QString mediumName(int medium);
QString ciName(int ci);
QString recordErrorName(int code);       // VIFE 0x00..0x1F
QString applicationErrorName(int code);  // the byte after CI 0x70
QString fixedMediumName(int medium);     // 4-bit medium of the fixed data structure
const FixedUnitEntry* fixedUnit(int code);

// The status byte of the header, its set bits named ("application busy", "power low", ...).
QStringList statusTexts(int status);

// The three letters of a 15-bit manufacturer code (each letter 5 bits, 'A' = 1), e.g.
// 0x2C2D = "KAM". A letter outside A..Z is shown as '?'.
QString manufacturerText(uint16_t code);
// The code of three letters A..Z (any case); -1 for anything else.
int manufacturerCode(QStringView letters);

}  // namespace trelmo::mbus::inline records
