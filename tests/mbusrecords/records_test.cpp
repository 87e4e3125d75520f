// The record decoder on constructed telegrams: every data type, the three VIF tables, VIFE
// combinations, DIFE chains, the header variants, special functions and the faults inside
// the user data.
#include <gtest/gtest.h>

#include "core/mbus/MbusRecords.h"
#include "core/mbus/MbusTables.h"
#include "tests/mbusrecords/MbusTestUtil.h"

using namespace trelmo::mbus;
using trelmo::mbus::test::decodeRecords;
using trelmo::mbus::test::describe;
using trelmo::mbus::test::hex;

namespace {

struct Expect {
    const char* records;  // hex of one record
    const char* quantity;
    const char* value;
    const char* unit;
};

// Each case is one record in a telegram of its own; it must decode without a fault.
void expectEach(std::initializer_list<Expect> cases) {
    for (const Expect& c : cases) {
        SCOPED_TRACE(c.records);
        const Telegram t = decodeRecords(c.records);
        EXPECT_TRUE(t.ok()) << describe(t);
        ASSERT_EQ(t.records.size(), 1u) << describe(t);
        const Record& r = t.records[0];
        EXPECT_EQ(r.quantity, QString::fromUtf8(c.quantity));
        EXPECT_EQ(r.value, QString::fromUtf8(c.value));
        EXPECT_EQ(r.unit, QString::fromUtf8(c.unit));
        EXPECT_EQ(r.offset, test::kFirstRecord);
        EXPECT_EQ(r.offset + r.length, t.bytes.size() - 2);
    }
}

}  // namespace

TEST(MbusDataTypes, IntegersAreSignedLittleEndianOfEachWidth) {
    expectEach({
        {"01 FD 3A FF", "Dimensionless", "-1", ""},
        {"01 FD 3A 7F", "Dimensionless", "127", ""},
        {"02 FD 3A 34 12", "Dimensionless", "4660", ""},
        {"02 FD 3A FE FF", "Dimensionless", "-2", ""},
        {"03 FD 3A 00 00 80", "Dimensionless", "-8388608", ""},
        {"03 FD 3A FF FF 7F", "Dimensionless", "8388607", ""},
        {"04 FD 3A 78 56 34 12", "Dimensionless", "305419896", ""},
        {"04 FD 3A 00 00 00 80", "Dimensionless", "-2147483648", ""},
        {"06 FD 3A 01 00 00 00 00 80", "Dimensionless", "-140737488355327", ""},
        {"06 FD 3A FF FF FF FF FF 7F", "Dimensionless", "140737488355327", ""},
        {"07 FD 3A FF FF FF FF FF FF FF 7F", "Dimensionless", "9223372036854775807", ""},
        {"07 FD 3A 00 00 00 00 00 00 00 80", "Dimensionless", "-9223372036854775808", ""},
    });
    const Telegram t = decodeRecords("03 13 00 00 80");
    EXPECT_EQ(t.records[0].type, QStringLiteral("int24"));
    EXPECT_EQ(t.records[0].raw, -8388608);
    EXPECT_EQ(t.records[0].value, QStringLiteral("-8388.608"));
    EXPECT_EQ(t.records[0].valueType, ValueType::Number);
    EXPECT_DOUBLE_EQ(t.records[0].number, -8388.608);
}

TEST(MbusDataTypes, BcdOfEachLengthWithSignAndSpecialDigits) {
    expectEach({
        {"09 FD 3A 42", "Dimensionless", "42", ""},
        {"0A 5A 88 12", "Flow temperature", "128.8", "°C"},
        {"0B 22 86 40 04", "On time", "158709600", "s"},  // 44086 h
        {"0C 12 34 12 78 56", "Volume", "5678.1234", "m³"},
        {"0E 04 56 34 12 90 78 56", "Energy", "5678901234560", "Wh"},
        // A top nibble F is the minus sign.
        {"0A 5E 34 F1", "Return temperature", "-13.4", "°C"},
        {"0C 13 99 99 99 F9", "Volume", "-9999.999", "m³"},
    });
    // Hex digits A-E (or F below the top) are reported as they are, not read as a number.
    for (const char* special : {"0C 13 A0 00 00 00", "0A 5E 34 E1", "0C 13 FF FF FF FF"}) {
        SCOPED_TRACE(special);
        const Telegram t = decodeRecords(special);
        ASSERT_EQ(t.records.size(), 1u);
        const Record& r = t.records[0];
        EXPECT_EQ(r.valueType, ValueType::Text);
        EXPECT_TRUE(r.invalid);
        EXPECT_TRUE(r.note.contains(QStringLiteral("BCD")));
        EXPECT_FALSE(r.raw.has_value());
    }
    EXPECT_EQ(decodeRecords("0C 13 A0 00 00 00").records[0].value, QStringLiteral("000000A0"));
    EXPECT_EQ(decodeRecords("0A 5E 34 E1").records[0].value, QStringLiteral("E134"));
}

TEST(MbusDataTypes, RealsKeepTheirShortestDecimal) {
    expectEach({
        {"05 5B 00 00 C0 3F", "Flow temperature", "1.5", "°C"},
        {"05 13 CD CC CC 3D", "Volume", "0.0001", "m³"},  // 0.1 x 10^-3
        {"05 2B 00 00 20 C0", "Power", "-2.5", "W"},
        {"05 5A D0 0F 49 40", "Flow temperature", "0.314159", "°C"},
        {"05 3E 00 00 00 00", "Volume flow", "0", "m³/h"},
    });
    const Telegram nan = decodeRecords("05 5B 00 00 C0 7F");
    ASSERT_EQ(nan.records.size(), 1u);
    EXPECT_EQ(nan.records[0].valueType, ValueType::Text);
    EXPECT_EQ(nan.records[0].value, QStringLiteral("NaN"));
    EXPECT_TRUE(nan.records[0].invalid);
    EXPECT_EQ(decodeRecords("05 5B 00 00 80 FF").records[0].value, QStringLiteral("-Infinity"));
}

TEST(MbusDataTypes, VariableLengthOfEachKind) {
    expectEach({
        {"0D FD 11 05 6F 6C 6C 65 48", "Customer", "Hello", ""},  // characters stored reversed
        {"0D FD 11 00", "Customer", "", ""},
        {"0D FD 3A C2 78 56", "Dimensionless", "5678", ""},       // positive BCD
        {"0D FD 3A D2 78 56", "Dimensionless", "-5678", ""},      // negative BCD
        {"0D FD 3A E3 01 02 03", "Dimensionless", "197121", ""},  // binary, 3 bytes
        {"0D FD 3A E0", "Dimensionless", "", ""},
        {"0D FD 3A F0 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", "Dimensionless",
         "0F0E0D0C0B0A09080706050403020100", ""},
    });
    Telegram t = decodeRecords("0D FD 11 03 41 42 43");
    EXPECT_EQ(t.records[0].type, QStringLiteral("text"));
    EXPECT_EQ(t.records[0].lvar, 3);
    EXPECT_EQ(t.records[0].dataOffset, test::kFirstRecord + 4);
    EXPECT_EQ(byteRole(t, test::kFirstRecord + 3), ByteRole::Lvar);
    // F1..F4: 20..32 bytes.
    QByteArray f4 =
        test::defaultHeader() + hex("0D FD 3A F4") + QByteArray(32, '\x11') + hex("01 FD 3A 05");
    t = decodeTelegram(test::rsp(f4));
    ASSERT_EQ(t.records.size(), 2u) << describe(t);
    EXPECT_EQ(t.records[0].dataLength, 32);
    EXPECT_EQ(t.records[1].value, QStringLiteral("5"));
    // A reserved LVAR: the length of the rest is unknown, so decoding stops there and says so.
    t = decodeRecords("01 FD 3A 05 0D FD 3A F8 01 02 01 FD 3A 06");
    ASSERT_EQ(t.records.size(), 1u);
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_EQ(t.errors[0].offset, test::kFirstRecord + 4 + 3);
    EXPECT_TRUE(t.errors[0].reason.contains(QStringLiteral("LVAR")));
    EXPECT_EQ(byteRole(t, test::kFirstRecord + 8), ByteRole::Undecoded);
    // A text longer than the telegram.
    t = decodeRecords("0D FD 11 09 41 42");
    EXPECT_TRUE(t.records.empty());
    ASSERT_FALSE(t.errors.empty());
    EXPECT_TRUE(t.errors[0].reason.contains(QStringLiteral("2 of 9 bytes")));
}

TEST(MbusDataTypes, DatesAndTimesWithTheirInvalidMarks) {
    expectEach({
        {"02 6C 7F 1C", "Date", "2011-12-31", ""},                          // type G
        {"04 6D 1A 2F 65 11", "Date and time", "2011-01-05T15:26:00", ""},  // type F
        {"04 6D 32 14 86 16", "Date and time", "2012-06-06T20:50:00", ""},
        {"06 6D 1E 1A 6F 65 11 01", "Date and time", "2011-01-05T15:26:30", ""},  // type I
        {"03 6D 1E 1A 0F", "Date and time", "15:26:30", ""},                      // type J
        {"02 FD 70 7F 1C", "Date and time of battery change", "2011-12-31", ""},
    });
    Telegram t = decodeRecords("04 6D 1A 2F 65 11");
    EXPECT_EQ(t.records[0].type, QStringLiteral("datetime"));
    EXPECT_FALSE(t.records[0].invalid);
    // Type F with its invalid bit; with the summer time bit.
    t = decodeRecords("04 6D 9A 2F 65 11");
    EXPECT_TRUE(t.records[0].invalid);
    EXPECT_TRUE(t.records[0].note.contains(QStringLiteral("invalid")));
    t = decodeRecords("04 6D 1A AF 65 11");
    EXPECT_FALSE(t.records[0].invalid);
    EXPECT_TRUE(t.records[0].note.contains(QStringLiteral("summer time")));
    // Type G all zero: no date.
    t = decodeRecords("02 6C 00 00");
    EXPECT_EQ(t.records[0].value, QStringLiteral("2000-00-00"));
    EXPECT_TRUE(t.records[0].invalid);
    // Type I invalid bit and day of week.
    t = decodeRecords("06 6D 1E 9A 6F 65 11 01");
    EXPECT_TRUE(t.records[0].invalid);
    EXPECT_TRUE(decodeRecords("06 6D 1E 1A 6F 65 11 01")
                    .records[0]
                    .note.contains(QStringLiteral("day of week 3")));
    // A date in a BCD field is reported, and the number kept.
    t = decodeRecords("0A 6C 12 34");
    EXPECT_EQ(t.records[0].value, QStringLiteral("3412"));
    EXPECT_TRUE(t.records[0].note.contains(QStringLiteral("date")));
}

TEST(MbusDataTypes, NoDataAndSelection) {
    Telegram t = decodeRecords("00 13 08 13");
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.records[0].valueType, ValueType::None);
    EXPECT_EQ(t.records[0].type, QStringLiteral("none"));
    EXPECT_EQ(t.records[1].type, QStringLiteral("selection"));
    EXPECT_EQ(t.records[1].length, 2);
}

TEST(MbusVifTables, PrimaryTableScalesIntoItsUnits) {
    expectEach({
        {"04 03 E8 03 00 00", "Energy", "1000", "Wh"},
        {"04 06 E8 03 00 00", "Energy", "1000000", "Wh"},
        {"04 00 05 00 00 00", "Energy", "0.005", "Wh"},
        {"04 0E 01 00 00 00", "Energy", "1000000", "J"},
        {"04 16 05 00 00 00", "Volume", "5", "m³"},
        {"04 10 05 00 00 00", "Volume", "0.000005", "m³"},
        {"04 1B 07 00 00 00", "Mass", "7", "kg"},
        {"04 2E 2A 00 00 00", "Power", "42000", "W"},
        {"04 33 01 00 00 00", "Power", "1000", "J/h"},
        {"04 3B 1F 02 00 00", "Volume flow", "0.543", "m³/h"},
        {"04 46 05 00 00 00", "Volume flow", "0.5", "m³/min"},
        {"04 4F 05 00 00 00", "Volume flow", "0.05", "m³/s"},
        {"04 53 09 00 00 00", "Mass flow", "9", "kg/h"},
        {"02 59 D2 04", "Flow temperature", "12.34", "°C"},
        {"02 5D 08 12", "Return temperature", "46.16", "°C"},
        {"02 61 B1 15", "Temperature difference", "55.53", "K"},
        {"02 65 D0 08", "External temperature", "22.56", "°C"},
        {"02 69 E8 03", "Pressure", "10", "bar"},
        {"02 6E 2A 00", "Units for HCA", "42", "HCA"},
        {"0C 78 17 58 85 06", "Fabrication number", "6855817", ""},
        {"01 7A 05", "Bus address", "5", ""},
    });
}

TEST(MbusVifTables, DurationsAreConvertedToSeconds) {
    expectEach({
        {"02 20 05 00", "On time", "5", "s"},
        {"02 21 03 00", "On time", "180", "s"},
        {"04 22 D9 03 00 00", "On time", "3546000", "s"},
        {"02 23 01 00", "On time", "86400", "s"},
        {"02 27 37 0D", "Operating time", "292291200", "s"},
        {"01 72 18", "Averaging duration", "86400", "s"},
        {"01 74 04", "Actuality duration", "4", "s"},
        {"02 FD 26 0F 00", "Storage interval", "54000", "s"},
        {"01 FD 28 03", "Storage interval", "3", "month"},
        {"02 FD 69 02 00", "Duration since last cumulation", "172800", "s"},
        {"02 FD 6F 05 00", "Operating time battery", "5", "year"},
        {"02 FD 32 02 00", "Duration of tariff", "7200", "s"},
    });
}

TEST(MbusVifTables, ExtensionTableFd) {
    expectEach({
        {"0B FD 47 56 34 12", "Voltage", "1234.56", "V"},
        {"0B FD 59 56 34 12", "Current", "123.456", "A"},
        {"02 FD 48 60 03", "Voltage", "86.4", "V"},
        {"04 FD 02 39 30 00 00", "Credit", "1234.5", "currency units"},
        {"01 FD 08 2A", "Access number", "42", ""},
        {"04 FD 17 04 00 00 00", "Error flags", "4", ""},
        {"01 FD 1B 01", "Digital input", "1", ""},
        {"02 FD 1C 60 09", "Baud rate", "2400", "Bd"},
        {"0D FD 0B 05 31 32 48 46 57", "Parameter set identification", "WFH21", ""},
        {"06 FD 0C 0A 00 01 00 FA 01", "Model / version", "2173253517322", ""},
        {"0C FD 10 45 00 94 63", "Customer location", "63940045", ""},
        {"02 FD 74 6E 01", "Remaining battery life time", "366", "d"},
    });
    const Telegram t = decodeRecords("01 FD 7A 05");
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_TRUE(t.records[0].quantity.startsWith(QStringLiteral("Reserved")));
    EXPECT_TRUE(t.records[0].note.contains(QStringLiteral("reserved")));
    EXPECT_EQ(t.records[0].value, QStringLiteral("5"));
}

TEST(MbusVifTables, ExtensionTableFbInBaseUnits) {
    expectEach({
        {"04 FB 00 08 00 00 00", "Energy", "800000", "Wh"},  // 0.1 MWh steps
        {"04 FB 01 36 01 00 00", "Energy", "310000000", "Wh"},
        {"04 FB 09 03 00 00 00", "Energy", "3000000000", "J"},  // GJ
        {"04 FB 10 02 00 00 00", "Volume", "200", "m³"},
        {"04 FB 19 01 00 00 00", "Mass", "1000000", "kg"},       // 1000 t
        {"04 FB 29 01 00 00 00", "Power", "1000000", "W"},       // 1 MW
        {"04 FB 31 02 00 00 00", "Power", "2000000000", "J/h"},  // 2 GJ/h
        {"02 FB 1A D2 04", "Relative humidity", "123.4", "%"},
        {"02 FB 2E 88 13", "Frequency", "500", "Hz"},
        {"02 FB 5B 2C 01", "Flow temperature", "300", "°F"},
        {"02 FB 21 0A 00", "Volume", "1", "ft³"},
        {"02 FB 76 E8 03", "Cold / warm temperature limit", "100", "°C"},
    });
}

TEST(MbusVifTables, PlainTextUnitInEitherPlace) {
    // After the VIFEs, as the layer is written: VIFE 0x20 (per second), then "ABC".
    Telegram t = decodeRecords("03 FC 20 03 43 42 41 15 31 00");
    ASSERT_EQ(t.records.size(), 1u) << describe(t);
    EXPECT_TRUE(t.ok());
    EXPECT_EQ(t.records[0].unitText, QStringLiteral("ABC"));
    EXPECT_EQ(t.records[0].unit, QStringLiteral("ABC/s"));
    EXPECT_EQ(t.records[0].value, QStringLiteral("12565"));
    EXPECT_EQ(byteRole(t, test::kFirstRecord + 2), ByteRole::Vife);
    EXPECT_EQ(byteRole(t, test::kFirstRecord + 3), ByteRole::UnitText);
    // Right after the VIF, as some meters send it: "%RH" then VIFE 0x74 (x 10^-2).
    t = decodeRecords("02 FC 03 48 52 25 74 D4 11 01 FD 3A 01");
    ASSERT_EQ(t.records.size(), 2u) << describe(t);
    EXPECT_EQ(t.records[0].unit, QStringLiteral("%RH"));
    EXPECT_EQ(t.records[0].value, QStringLiteral("45.64"));
    EXPECT_TRUE(t.records[0].note.contains(QStringLiteral("before the VIFEs")));
    EXPECT_EQ(t.records[1].value, QStringLiteral("1"));
    // No VIFE: VIF 0x7C, length, text.
    t = decodeRecords("02 7C 09 65 6D 69 74 20 2E 74 61 62 D2 0F");
    EXPECT_EQ(t.records[0].unit, QStringLiteral("bat. time"));
    EXPECT_EQ(t.records[0].value, QStringLiteral("4050"));
    // A text that fits nowhere stops the decoding with the reason.
    t = decodeRecords("02 7C 09 65 6D");
    EXPECT_TRUE(t.records.empty());
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_TRUE(t.errors[0].reason.contains(QStringLiteral("plain-text unit")));
}

TEST(MbusVifTables, ManufacturerVifLeavesItsVifesUninterpreted) {
    // ABB: VIF 0xFF with VIFEs 0x92 0x00: the 0x00 is no error code here.
    Telegram t = decodeRecords("0C FF 92 00 00 00 00 01");
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].quantity, QStringLiteral("Manufacturer specific"));
    EXPECT_EQ(t.records[0].value, QStringLiteral("1000000"));
    EXPECT_EQ(t.records[0].recordError, -1);
    EXPECT_EQ(t.records[0].vifeTexts.size(), 2);
    // After VIFE 0xFF in a standard record the rest of the chain is manufacturer specific.
    t = decodeRecords("02 FD C9 FF 01 DF 00");
    EXPECT_EQ(t.records[0].quantity, QStringLiteral("Voltage"));
    EXPECT_EQ(t.records[0].value, QStringLiteral("223"));
    EXPECT_EQ(t.records[0].recordError, -1);
    EXPECT_EQ(t.records[0].vifeTexts, QStringList({QStringLiteral("manufacturer specific"),
                                                   QStringLiteral("manufacturer specific 0x01")}));
}

TEST(MbusVifes, UnitsPerTimeAndCorrectionFactors) {
    expectEach({
        {"04 93 22 64 00 00 00", "Volume", "0.1", "m³/h"},
        {"04 96 A0 2C 01 00 00 00", "Volume", "1", "m³/s/l"},
        {"02 A9 74 D2 04", "Power", "0.1234", "W"},           // 10^-2 x 10^-2
        {"02 96 7D 05 00", "Volume", "5000", "m³"},           // x 10^3
        {"02 96 F0 22 05 00", "Volume", "0.000005", "m³/h"},  // x 10^-6, per hour
        {"02 96 79 05 00", "Volume, additive correction constant", "0.05", "m³"},
        {"02 A9 36 03 00", "Power", "0.03", "W·s"},
    });
    const Telegram t = decodeRecords("02 A9 74 D2 04");
    EXPECT_EQ(t.records[0].vifeTexts,
              QStringList({QStringLiteral("multiplicative correction factor 10^-2")}));
}

TEST(MbusVifes, ErrorCodesMarkTheRecord) {
    Telegram t = decodeRecords("02 96 15 00 00");
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].recordError, 0x15);
    EXPECT_TRUE(t.records[0].invalid);
    EXPECT_EQ(t.records[0].vifeTexts,
              QStringList({QStringLiteral("error: no data available (undefined value)")}));
    // Error code 0 is "none" and marks nothing.
    t = decodeRecords("07 FD 97 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(t.records[0].recordError, 0);
    EXPECT_FALSE(t.records[0].invalid);
    EXPECT_EQ(t.records[0].quantity, QStringLiteral("Error flags"));
    // After the combinable extension code 0x7C the next VIFE is no error code.
    t = decodeRecords("02 96 FC 05 03 00");
    EXPECT_EQ(t.records[0].recordError, -1);
    EXPECT_EQ(t.records[0].vifeTexts.last(), QStringLiteral("combinable extension code 0x05"));
}

TEST(MbusVifes, LimitExceedsBecomeDurationsCountsOrDates) {
    expectEach({
        {"04 BB 5A 0A 00 00 00", "Volume flow, duration of first upper limit exceed", "36000", "s"},
        {"02 BB 61 02 00", "Volume flow, duration of first", "120", "s"},
        {"02 BB 49 07 00", "Volume flow, number of exceeds of upper limit", "7", ""},
        {"02 BB 4A 7F 1C", "Volume flow, date (and time) of begin of first upper limit exceed",
         "2011-12-31", ""},
        {"04 86 39 1A 2F 65 11", "Energy, start date (and time) of", "2011-01-05T15:26:00", ""},
        {"04 BB 48 10 27 00 00", "Volume flow", "10", "m³/h"},  // upper limit value
    });
    EXPECT_EQ(decodeRecords("04 BB 48 10 27 00 00").records[0].vifeTexts,
              QStringList({QStringLiteral("upper limit value")}));
}

TEST(MbusVifes, MoreThanTenIsNotedAndDecodingGoesOn) {
    const Telegram t = decodeRecords("01 96 BA BA BA BA BA BA BA BA BA BA 3A 07  01 FD 3A 08");
    ASSERT_EQ(t.records.size(), 2u) << describe(t);
    EXPECT_EQ(t.records[0].vife.size(), 11);
    EXPECT_TRUE(t.records[0].note.contains(QStringLiteral("more than 10 VIFEs")));
    EXPECT_EQ(t.records[0].value, QStringLiteral("7"));
    EXPECT_EQ(t.records[1].value, QStringLiteral("8"));
}

TEST(MbusVifes, ANumberBeyondTheRangeOfADoubleGoesOutAsText) {
    // 60 correction VIFEs of 10^-6 each: 10^-360, which no double holds.
    std::string records = "01 96";
    for (int i = 0; i < 59; ++i)
        records += " F0";
    records += " 70 07";
    const Telegram t = decodeRecords(records.c_str());
    ASSERT_EQ(t.records.size(), 1u) << describe(t);
    EXPECT_EQ(t.records[0].valueType, ValueType::Text);
    EXPECT_EQ(t.records[0].value, QStringLiteral("7e-360"));
    EXPECT_TRUE(t.records[0].invalid);
    EXPECT_TRUE(t.records[0].note.contains(QStringLiteral("range of a double")));
}

TEST(MbusDifes, StorageTariffAndSubunitAcrossTheChain) {
    struct Case {
        const char* records;
        quint64 storage;
        quint32 tariff;
        quint32 subunit;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"04 13 01 00 00 00", 0, 0, 0},
             {"44 13 01 00 00 00", 1, 0, 0},
             {"84 10 06 01 00 00 00", 0, 1, 0},
             {"C4 00 0E 01 00 00 00", 1, 0, 0},
             {"84 40 14 01 00 00 00", 0, 0, 1},
             {"84 80 40 14 01 00 00 00", 0, 0, 2},
             {"84 C0 40 14 01 00 00 00", 0, 0, 3},
             {"84 8F 0F 13 01 00 00 00", 510, 0, 0},
             {"8C 11 04 93 02 00 00", 2, 1, 0},
             {"84 B0 20 13 01 00 00 00", 0, 11, 0},
             {"82 01 6C 5F 1C", 2, 0, 0},
             {"84 8F 8F 8F 8F 8F 8F 8F 8F 8F 0F 13 01 00 00 00", 2199023255550ull, 0, 0},
         }) {
        SCOPED_TRACE(c.records);
        const Telegram t = decodeRecords(c.records);
        ASSERT_EQ(t.records.size(), 1u) << describe(t);
        EXPECT_EQ(t.records[0].storage, c.storage);
        EXPECT_EQ(t.records[0].tariff, c.tariff);
        EXPECT_EQ(t.records[0].subunit, c.subunit);
        EXPECT_TRUE(t.records[0].note.isEmpty()) << t.records[0].note.toStdString();
    }
    // An eleventh DIFE is noted; the record still decodes.
    const Telegram t = decodeRecords("84 80 80 80 80 80 80 80 80 80 80 00 13 02 00 00 00");
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].dife.size(), 11);
    EXPECT_TRUE(t.records[0].note.contains(QStringLiteral("more than 10 DIFEs")));
    EXPECT_EQ(t.records[0].value, QStringLiteral("0.002"));
}

TEST(MbusDifes, FunctionField) {
    const Telegram t = decodeRecords(
        "04 13 01 00 00 00 14 13 02 00 00 00 24 13 03 00 00 00 "
        "34 13 04 00 00 00");
    ASSERT_EQ(t.records.size(), 4u);
    EXPECT_EQ(t.records[0].function, Function::Instantaneous);
    EXPECT_EQ(t.records[1].function, Function::Maximum);
    EXPECT_EQ(t.records[2].function, Function::Minimum);
    EXPECT_EQ(t.records[3].function, Function::Error);
}

TEST(MbusSpecialFunctions, FillerManufacturerDataAndMoreRecords) {
    Telegram t = decodeRecords("2F 2F 04 13 01 00 00 00 2F 0F 01 02 03");
    ASSERT_EQ(t.records.size(), 2u) << describe(t);
    EXPECT_EQ(t.records[0].offset, test::kFirstRecord + 2);
    EXPECT_EQ(byteRole(t, test::kFirstRecord), ByteRole::Filler);
    EXPECT_EQ(byteRole(t, test::kFirstRecord + 8), ByteRole::Filler);
    EXPECT_EQ(t.records[1].function, Function::Manufacturer);
    EXPECT_EQ(t.records[1].value, QStringLiteral("010203"));
    EXPECT_EQ(byteRole(t, test::kFirstRecord + 10), ByteRole::ManufacturerData);
    EXPECT_FALSE(t.moreRecordsFollow);

    t = decodeRecords("04 13 01 00 00 00 1F");
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.records[1].function, Function::More);
    EXPECT_TRUE(t.moreRecordsFollow);
    // After 0x1F everything is manufacturer data, whatever it looks like.
    t = decodeRecords("1F 04 13 01 00 00 00");
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].value, QStringLiteral("041301000000"));
    EXPECT_TRUE(t.moreRecordsFollow);

    // Global readout request: a record without VIF and data.
    t = decodeRecords("7F 01 FD 3A 01");
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.records[0].quantity, QStringLiteral("Global readout request"));
    EXPECT_EQ(t.records[0].length, 1);
    // A reserved special function: the length that follows is unknown.
    t = decodeRecords("01 FD 3A 01 3F 01 02");
    ASSERT_EQ(t.records.size(), 1u);
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_EQ(t.errors[0].offset, test::kFirstRecord + 4);
    EXPECT_EQ(byteRole(t, test::kFirstRecord + 5), ByteRole::Undecoded);
}

TEST(MbusHeaders, LongHeaderFields) {
    const Telegram t = decodeRecords("");
    EXPECT_TRUE(t.ok()) << describe(t);
    const Header& h = t.header;
    EXPECT_EQ(h.kind, HeaderKind::Long);
    EXPECT_EQ(h.id, QStringLiteral("12345678"));
    EXPECT_EQ(h.idRaw, 0x12345678u);
    EXPECT_EQ(h.manufacturerCode, 0x0443);
    EXPECT_EQ(h.manufacturer, QStringLiteral("ABC"));
    EXPECT_EQ(h.version, 1);
    EXPECT_EQ(h.medium, 7);
    EXPECT_EQ(h.mediumText, QStringLiteral("Water"));
    EXPECT_EQ(h.access, 0x2A);
    EXPECT_EQ(h.status, 0);
    EXPECT_TRUE(h.statusTexts.isEmpty());
    EXPECT_EQ(h.signature, 0);
    EXPECT_EQ(t.ciText, QStringLiteral("variable data response"));
    const std::vector<ByteRole> roles = byteRoles(t);
    const std::vector<ByteRole> header(roles.begin() + 7, roles.begin() + 19);
    EXPECT_EQ(header,
              (std::vector<ByteRole>{
                  ByteRole::HeaderId, ByteRole::HeaderId, ByteRole::HeaderId, ByteRole::HeaderId,
                  ByteRole::HeaderManufacturer, ByteRole::HeaderManufacturer,
                  ByteRole::HeaderVersion, ByteRole::HeaderMedium, ByteRole::HeaderAccess,
                  ByteRole::HeaderStatus, ByteRole::HeaderSignature, ByteRole::HeaderSignature}));
}

TEST(MbusHeaders, StatusBitsAreNamed) {
    EXPECT_EQ(statusTexts(0x15),
              QStringList({QStringLiteral("application busy"), QStringLiteral("power low"),
                           QStringLiteral("temporary error")}));
    EXPECT_EQ(
        statusTexts(0xEA),
        QStringList({QStringLiteral("any application error"), QStringLiteral("permanent error"),
                     QStringLiteral("manufacturer bit 5"), QStringLiteral("manufacturer bit 6"),
                     QStringLiteral("manufacturer bit 7")}));
    QByteArray header = test::defaultHeader();
    header[9] = char(0x0C);
    const Telegram t = decodeTelegram(test::rsp(header));
    EXPECT_EQ(t.header.statusTexts,
              QStringList({QStringLiteral("power low"), QStringLiteral("permanent error")}));
}

TEST(MbusHeaders, ShortHeaderNoHeaderAndHighByteFirst) {
    Telegram t = decodeTelegram(test::rsp(hex("2A 04 00 00 04 13 10 27 00 00"), 0x7A));
    EXPECT_TRUE(t.ok()) << describe(t);
    EXPECT_EQ(t.header.kind, HeaderKind::Short);
    EXPECT_EQ(t.header.access, 0x2A);
    EXPECT_EQ(t.header.statusTexts, QStringList({QStringLiteral("power low")}));
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].offset, 11);
    EXPECT_EQ(t.records[0].value, QStringLiteral("10"));

    for (uint8_t ci : {uint8_t(0x78), uint8_t(0x79)}) {
        t = decodeTelegram(test::rsp(hex("04 13 10 27 00 00"), ci));
        EXPECT_TRUE(t.ok()) << describe(t);
        EXPECT_EQ(t.header.kind, HeaderKind::None);
        ASSERT_EQ(t.records.size(), 1u);
        EXPECT_EQ(t.records[0].offset, 7);
    }

    // CI 0x76: every multi-byte field high byte first.
    t = decodeTelegram(test::rsp(hex("12 34 56 78 04 43 01 07 2A 00 00 00 04 13 00 00 27 10 "
                                     "02 6C 1C 7F 0D FD 11 03 41 42 43"),
                                 0x76));
    EXPECT_TRUE(t.ok()) << describe(t);
    EXPECT_TRUE(t.highByteFirst);
    EXPECT_EQ(t.header.id, QStringLiteral("12345678"));
    EXPECT_EQ(t.header.manufacturer, QStringLiteral("ABC"));
    ASSERT_EQ(t.records.size(), 3u);
    EXPECT_EQ(t.records[0].value, QStringLiteral("10"));
    EXPECT_EQ(t.records[1].value, QStringLiteral("2011-12-31"));
    EXPECT_EQ(t.records[2].value, QStringLiteral("ABC"));
}

TEST(MbusHeaders, FixedDataStructure) {
    // The example of the M-Bus documentation: id 12345678, access 0x0A, water, counter 1 in
    // litres (1), counter 2 historic in the same unit (135), BCD.
    Telegram t = test::decodeHex(
        "68 13 13 68 08 05 73 78 56 34 12 0A 00 E9 7E 01 00 00 00 35 "
        "01 00 00 3C 16");
    EXPECT_TRUE(t.ok()) << describe(t);
    EXPECT_EQ(t.header.kind, HeaderKind::Fixed);
    EXPECT_EQ(t.header.id, QStringLiteral("12345678"));
    EXPECT_EQ(t.header.access, 0x0A);
    EXPECT_EQ(t.header.medium, 7);
    EXPECT_EQ(t.header.mediumText, QStringLiteral("Water"));
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.records[0].value, QStringLiteral("0.001"));
    EXPECT_EQ(t.records[0].unit, QStringLiteral("m³"));
    EXPECT_EQ(t.records[0].raw, 1);
    EXPECT_EQ(t.records[0].storage, 0u);
    EXPECT_EQ(t.records[1].value, QStringLiteral("0.135"));
    EXPECT_EQ(t.records[1].storage, 1u);
    EXPECT_EQ(t.records[1].offset, 19);
    EXPECT_EQ(byteRole(t, 13), ByteRole::FixedMediumUnit);

    // High byte first, binary counters (status bit 0), electricity in kWh.
    t = decodeTelegram(test::rsp(hex("12 34 56 78 0A 01 85 05 00 00 01 00 00 00 00 02"), 0x77));
    EXPECT_TRUE(t.ok()) << describe(t);
    EXPECT_EQ(t.header.id, QStringLiteral("12345678"));
    EXPECT_EQ(t.header.medium, 2);
    EXPECT_EQ(t.header.statusTexts.first(), QStringLiteral("counters binary"));
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.records[0].value, QStringLiteral("256000"));
    EXPECT_EQ(t.records[0].unit, QStringLiteral("Wh"));
    EXPECT_EQ(t.records[1].value, QStringLiteral("2000"));
}

TEST(MbusHeaders, ApplicationErrorsUnknownCiAndEncryptedData) {
    for (int code = 0; code <= 9; ++code) {
        QByteArray data(1, char(code));
        const Telegram t = decodeTelegram(test::rsp(data, 0x70));
        EXPECT_EQ(t.applicationError, code);
        EXPECT_FALSE(t.applicationErrorText.isEmpty());
    }
    EXPECT_EQ(decodeTelegram(test::rsp(QByteArray(1, char(9)), 0x70)).applicationErrorText,
              QStringLiteral("too many readouts"));
    Telegram t = decodeTelegram(test::rsp({}, 0x70));
    EXPECT_EQ(t.applicationError, -1);
    EXPECT_FALSE(t.ok());

    t = decodeTelegram(test::rsp(hex("01 02 03"), 0x71));
    EXPECT_EQ(t.ciText, QStringLiteral("alarm status"));
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_EQ(t.errors[0].offset, 6);
    EXPECT_TRUE(t.errors[0].reason.contains(QStringLiteral("not decoded")));
    EXPECT_TRUE(t.errors[0].reason.endsWith(QStringLiteral("[010203]")))
        << t.errors[0].reason.toStdString();
    EXPECT_EQ(byteRole(t, 8), ByteRole::Undecoded);
    t = decodeTelegram(test::rsp(hex("01"), 0xA0));
    EXPECT_TRUE(t.ciText.contains(QStringLiteral("0xA0")));

    QByteArray header = test::defaultHeader();
    header[11] = char(0x05);  // signature 0x0500: security mode 5
    t = decodeTelegram(test::rsp(header + hex("2F 2F 04 13 01 00 00 00")));
    EXPECT_TRUE(t.records.empty());
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_TRUE(t.errors[0].reason.contains(QStringLiteral("encrypted")));
    EXPECT_EQ(byteRole(t, test::kFirstRecord), ByteRole::Undecoded);

    // A header cut short.
    t = decodeTelegram(test::rsp(hex("78 56 34 12 43"), 0x72));
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_TRUE(t.errors[0].reason.contains(QStringLiteral("header cut")));
}

TEST(MbusByteRoles, EveryByteOfAReplyHasItsRole) {
    const Telegram t = decodeRecords("8C 10 13 01 00 00 00 02 FD 97 00 00 00 2F 0F AA");
    ASSERT_TRUE(t.ok()) << describe(t);
    const std::vector<ByteRole> roles = byteRoles(t);
    ASSERT_EQ(roles.size(), static_cast<std::size_t>(t.bytes.size()));
    const std::vector<ByteRole> tail(roles.begin() + test::kFirstRecord, roles.end());
    using B = ByteRole;
    EXPECT_EQ(tail,
              (std::vector<ByteRole>{B::Dif, B::Dife, B::Vif, B::Data, B::Data, B::Data, B::Data,
                                     B::Dif, B::Vif, B::Vife, B::Vife, B::Data, B::Data, B::Filler,
                                     B::Dif, B::ManufacturerData, B::Checksum, B::Stop}));
    EXPECT_EQ(roles[0], B::Start);
    EXPECT_EQ(roles[1], B::Length);
    EXPECT_EQ(roles[2], B::Length);
    EXPECT_EQ(roles[3], B::Start);
    EXPECT_EQ(roles[4], B::Control);
    EXPECT_EQ(roles[5], B::Address);
    EXPECT_EQ(roles[6], B::Ci);
    for (ByteRole r : roles)
        EXPECT_NE(r, B::Unknown);
    EXPECT_EQ(byteRoleName(B::Dife), QStringLiteral("DIFE"));
    EXPECT_EQ(byteRole(t, -1), B::Unknown);
    EXPECT_EQ(byteRole(t, 1000), B::Unknown);
}

TEST(MbusUserData, DecodesFromTheCiField) {
    const Telegram t = decodeUserData(hex("78 04 13 10 27 00 00 02 FD 17 00 00"));
    EXPECT_TRUE(t.ok()) << describe(t);
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.records[0].offset, 1);
    EXPECT_EQ(t.records[0].value, QStringLiteral("10"));
    EXPECT_EQ(t.frame.type, FrameType::None);
}

TEST(MbusNumbers, DecimalTextIsExact) {
    EXPECT_EQ(decimalText(56781234, -4), QStringLiteral("5678.1234"));
    EXPECT_EQ(decimalText(-2, -1), QStringLiteral("-0.2"));
    EXPECT_EQ(decimalText(347, 2), QStringLiteral("34700"));
    EXPECT_EQ(decimalText(56108, -2), QStringLiteral("561.08"));
    EXPECT_EQ(decimalText(300, -3), QStringLiteral("0.3"));
    EXPECT_EQ(decimalText(0, -3), QStringLiteral("0"));
    EXPECT_EQ(decimalText(5, -7), QStringLiteral("0.0000005"));
    EXPECT_EQ(decimalText(INT64_MIN, 0), QStringLiteral("-9223372036854775808"));
    EXPECT_EQ(decimalText(12, 30), QStringLiteral("1.2e+31"));
    EXPECT_EQ(decimalText(12, -40), QStringLiteral("1.2e-39"));
}

TEST(MbusTablesText, ManufacturerLettersBothWays) {
    EXPECT_EQ(manufacturerText(0x2C2D), QStringLiteral("KAM"));
    EXPECT_EQ(manufacturerText(0x4DEE), QStringLiteral("SON"));
    EXPECT_EQ(manufacturerCode(u"kam"), 0x2C2D);
    EXPECT_EQ(manufacturerCode(u"ELS"), 0x1593);
    EXPECT_EQ(manufacturerCode(u"K4M"), -1);
    EXPECT_EQ(manufacturerCode(u"KAMS"), -1);
    for (int code = 0x0421; code < 0x6B5A; code += 37) {
        const QString letters = manufacturerText(static_cast<uint16_t>(code));
        if (!letters.contains(QLatin1Char('?'))) {
            EXPECT_EQ(manufacturerCode(letters), code) << code;
        }
    }
    EXPECT_EQ(manufacturerText(0x0000), QStringLiteral("???"));
    EXPECT_EQ(mediumName(0x04), QStringLiteral("Heat (outlet)"));
    EXPECT_TRUE(mediumName(0x60).contains(QStringLiteral("0x60")));
}
