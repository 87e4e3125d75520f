// Frames, value encodings, input checks, option logic and text conversions of the M-Bus
// window's logic units, tested without a window: what they make and the messages they hand
// back.

#include <gtest/gtest.h>

#include "core/Convert.h"
#include "core/mbus/MbusOptions.h"
#include "core/mbus/MbusTelegram.h"
#include "tests/common/MbusTestUtil.h"

using namespace trelmo;
using namespace trelmo::mbus;
using trelmo::test::FixedClock;
using trelmo::test::hexBytes;
using trelmo::test::spaced;

namespace {

TelegramState created() {
    TelegramState s;
    s.create();
    return s;
}

}  // namespace

TEST(MbusFrames, LayoutsLengthAndWrappingChecksum) {
    EXPECT_EQ(spaced(shortFrame(0x40, 0x01)), spaced(hexBytes("10 40 01 41 16")));
    EXPECT_EQ(spaced(controlFrame(0x40, 0xFE, 0x51)),
              spaced(hexBytes("68 03 03 68 40 FE 51 8F 16")));
    // Reset with "Reset user data": CS = 53 + 05 + 50 + 10.
    EXPECT_EQ(spaced(controlFrameWithParam(0x53, 0x05, 0x50, 0x10)),
              spaced(hexBytes("68 04 04 68 53 05 50 10 B8 16")));
    EXPECT_EQ(spaced(longFrame(0x5B, 0x01, 0x51, hexBytes("0F 7F"))),
              spaced(hexBytes("68 05 05 68 5B 01 51 0F 7F 3B 16")));
    EXPECT_EQ(spaced(longFrame(0x53, 0x01, 0x51, QByteArray())),
              spaced(hexBytes("68 03 03 68 53 01 51 A5 16")));
    // Short frame checksum wraps too: FF + 02 = 01.
    EXPECT_EQ(spaced(shortFrame(0xFF, 0x02)), spaced(hexBytes("10 FF 02 01 16")));
}

TEST(MbusValues, DateTimeTypeFFromTheInjectedClock) {
    // 2026-07-12 14:05: yy 26 = 0b0011010 -> low bits 010 into byte 3, bits 3-6 0011 into byte 4.
    EXPECT_EQ(spaced(dateTimeValue(QDateTime(QDate(2026, 7, 12), QTime(14, 5, 9)))),
              spaced(hexBytes("05 0E 4C 37")));
    EXPECT_EQ(spaced(dateTimeValue(QDateTime(QDate(2099, 12, 31), QTime(23, 59)))),
              spaced(hexBytes("3B 17 7F CC")));
    EXPECT_EQ(spaced(dateTimeValue(QDateTime(QDate(2000, 1, 1), QTime(0, 0)))),
              spaced(hexBytes("00 00 01 01")));
    FixedClock clock(QDateTime(QDate(2026, 7, 12), QTime(14, 5, 9)));
    EXPECT_EQ(spaced(dateTimeValueNow()), spaced(hexBytes("05 0E 4C 37")));
}

TEST(MbusValues, IdentificationCostTypeAndStart) {
    TelegramState s = created();
    s.Medium_code = 0x07;
    EXPECT_EQ(spaced(identificationBlock("12345678", s)),
              spaced(hexBytes("78 56 34 12 D9 2E 01 07")));
    EXPECT_EQ(spaced(identificationBlock("90817263", s)),
              spaced(hexBytes("63 72 81 90 D9 2E 01 07")));
    EXPECT_EQ(spaced(tariffCostValue("258")), spaced(hexBytes("02 01 00 00 42 47 4E")));
    EXPECT_EQ(spaced(tariffCostValue("-1")), spaced(hexBytes("FF FF FF FF 42 47 4E")));
    EXPECT_THROW(tariffCostValue("1x"), EConvertError);
    EXPECT_EQ(spaced(typeValueBlock(7, 1, 255)), spaced(hexBytes("07 01 FF")));
    EXPECT_EQ(spaced(tariffStartValue(30, 7)), spaced(hexBytes("1E 07 00 00")));
}

TEST(MbusValues, HoursTextRule) {
    EXPECT_EQ(hoursFromText("7").value(), std::optional<uint8_t>(0x07));
    EXPECT_EQ(hoursFromText("42").value(), std::optional<uint8_t>(0x2A));
    EXPECT_EQ(hoursFromText("99").value(), std::optional<uint8_t>(99));
    for (const char* text : {"7", "42", "99"})
        EXPECT_EQ(hoursFromText(text).messages(), QStringList()) << text;
    const struct {
        const char* text;
        const char* message;
    } failing[] = {{"", "Please enter hours of duration"},
                   {"1x", "Error in hours"},
                   {"x", "Error in hours"},
                   {"123", "Error in hours"}};
    for (const auto& f : failing) {
        const auto hours = hoursFromText(f.text);
        EXPECT_FALSE(hours) << f.text;
        EXPECT_EQ(hours.messages(), QStringList{f.message}) << f.text;
    }
}

TEST(MbusChecks, IdentificationInOrder) {
    TelegramState s = created();
    s.Medium_valid = true;
    const auto passed = checkIdentification("12345678", s);
    EXPECT_TRUE(passed);
    EXPECT_EQ(passed.messages(), QStringList());
    EXPECT_EQ(checkIdentification("1234567", s).messages(),
              QStringList{"Wrong ID - must be 8-digit"});
    EXPECT_EQ(checkIdentification("123456789", s).messages(),
              QStringList{"Wrong ID - must be 8-digit"});
    EXPECT_EQ(checkIdentification("1234567a", s).messages(),
              QStringList{"Error in ID - must be digits only"});
    s.Medium_valid = false;
    EXPECT_FALSE(checkIdentification("12345678", s));
    EXPECT_EQ(checkIdentification("12345678", s).messages(), QStringList{"Wrong medium"});
    EXPECT_EQ(checkIdentification("1234567", s).messages(),
              QStringList{"Wrong ID - must be 8-digit"})
        << "only the first failing check speaks";
}

TEST(MbusChecks, NumDenTextAndValues) {
    EXPECT_TRUE(checkNumDenText("12/3"));
    EXPECT_EQ(checkNumDenText("12/3").messages(), QStringList());
    EXPECT_EQ(checkNumDenText("").messages(), QStringList{"Please enter NUM/DENUM"});
    EXPECT_EQ(checkNumDenText("12").messages(), QStringList{"Error in NUM/DENUM"});
    EXPECT_EQ(checkNumDenText("1a/2").messages(),
              QStringList{"Error in NUM/DENUM - must be digits only"});

    const auto values = checkNumDenValues("2/255", 0x07);
    ASSERT_TRUE(values);
    EXPECT_EQ(values->num, 2);
    EXPECT_EQ(values->den, 255);
    EXPECT_EQ(values.messages(), QStringList());
    EXPECT_EQ(checkNumDenValues("2/3", 0).messages(), QStringList{"Please select medium"});
    EXPECT_EQ(checkNumDenValues("256/3", 7).messages(), QStringList{"Numerator must be < 255"});
    EXPECT_EQ(checkNumDenValues("3/256", 7).messages(), QStringList{"Denumerator must be < 255"});
    EXPECT_FALSE(checkNumDenValues("3/256", 7));
    EXPECT_THROW((void)checkNumDenValues("/5", 7), EConvertError);
}

TEST(MbusText, HexTextToNumber) {
    EXPECT_EQ(hexTextToNumber("000000FD"), 253u);
    EXPECT_EQ(hexTextToNumber("00002710"), 10000u);
    EXPECT_EQ(hexTextToNumber("80000000"), 0x80000000u);
    EXPECT_EQ(hexTextToNumber("abcdef01"), 0xABCDEF01u);
    EXPECT_EQ(hexTextToNumber("0000003039XYZ"), 0x00000030u) << "only eight characters count";
    try {
        hexTextToNumber("000000G1");
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.message(), "'G' is not a valid integer value");
    }
}

TEST(MbusOptions, ControlTextsToState) {
    EXPECT_EQ(cFieldFromText("Initialisation of Slave (SND_NKE)"), std::optional<uint8_t>(0x40));
    EXPECT_EQ(cFieldFromText("Alarm protocol (Class 1 Data)"), std::optional<uint8_t>(0x5A));
    EXPECT_FALSE(cFieldFromText("request class 2 data")) << "comparison is case-sensitive";
    EXPECT_EQ(ciFieldFromText("Software test"), std::optional<uint8_t>(0xB6));
    EXPECT_EQ(ciFieldFromText("Baud rate 2400bps"), std::optional<uint8_t>(0xBB));
    EXPECT_FALSE(ciFieldFromText(""));
    EXPECT_EQ(resetParamFromText("Reset instantous values"), std::optional<uint8_t>(0x50));
    EXPECT_FALSE(resetParamFromText(""));
    EXPECT_EQ(mediumFromText("Cold water"), std::optional<uint8_t>(0x16));
    EXPECT_EQ(mediumFromText("Other"), std::optional<uint8_t>(0x00));
    EXPECT_FALSE(mediumFromText("water"));

    TelegramState s = created();
    EXPECT_TRUE(applyCChoice(s, "Request Class 2 Data"));
    EXPECT_TRUE(s.Request_mode);
    EXPECT_FALSE(applyCChoice(s, "Alarm protocol (Class 1 Data)"));
    EXPECT_EQ(s.Field_C, 0x5A);
    EXPECT_FALSE(s.Request_mode);
    EXPECT_FALSE(applyCChoice(s, "junk"));
    EXPECT_EQ(s.Field_C, 0x5A);
    EXPECT_TRUE(applyCChoice(s, "Send user data to Slave (SND_UD)"));
    EXPECT_EQ(s.Field_C, 0x53);
}

TEST(MbusOptions, TariffBitsAndVolumeUnit) {
    EXPECT_EQ(tariffDife(0xFF, "0"), std::optional<uint8_t>(0x00));
    EXPECT_EQ(tariffDife(0x00, "2"), std::optional<uint8_t>(0x20));
    EXPECT_EQ(tariffDife(0x4F, "1"), std::optional<uint8_t>(0x5F));
    EXPECT_EQ(tariffDife(0x7F, "3"), std::optional<uint8_t>(0x7F));
    EXPECT_FALSE(tariffDife(0x10, "4"));

    EXPECT_EQ(vifFromChoice(0x00, "kg", "0.1"), std::optional<uint8_t>(0x1A));
    EXPECT_EQ(vifFromChoice(0xED, "kg", "0.1"), std::optional<uint8_t>(0x9A)) << "bit 7 kept";
    EXPECT_EQ(vifFromChoice(0x00, "Wh", ""), std::optional<uint8_t>(0x03));
    EXPECT_EQ(vifFromChoice(0x80, "kJ/h", "10000"), std::optional<uint8_t>(0xB7));
    EXPECT_EQ(vifFromChoice(0x00, "l", "0.001"), std::optional<uint8_t>(0x10));
    EXPECT_EQ(vifFromChoice(0x00, "kJ", "1000"), std::optional<uint8_t>(0x0E));
    EXPECT_EQ(vifFromChoice(0x80, "Identification", "1"), std::optional<uint8_t>(0xF9));
    EXPECT_EQ(vifFromChoice(0x00, "Time - only date", ""), std::optional<uint8_t>(0x6C));
    EXPECT_EQ(vifFromChoice(0x00, "Manufacterer specific", ""), std::optional<uint8_t>(0x7F));
    EXPECT_FALSE(vifFromChoice(0x93, "", "1"));
    EXPECT_EQ(powerExponent("5"), 3) << "an unknown typed power counts as 1";
}

TEST(MbusOptions, AddressActionAndManufacturer) {
    EXPECT_EQ(addressFromText("300"), 0x2C);
    EXPECT_EQ(addressFromText("253"), 0xFD);
    try {
        addressFromText("");
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.message(), "'' is not a valid integer value");
    }
    EXPECT_EQ(actionFromText("Battery status"), Action::Battery);
    EXPECT_EQ(actionFromText("Send/Request device type & value"), Action::TypeValue);
    EXPECT_EQ(actionFromText("Send/Request device ID, manufacturer, medium"),
              Action::Identification);
    EXPECT_EQ(actionFromText("battery status"), Action::None);

    EXPECT_EQ(manufacturerNumber("A", "A", "A"), std::optional<int32_t>(1057));
    EXPECT_EQ(manufacturerNumber("K", "V", "Y"), std::optional<int32_t>(11993));
    // No letter check: lower case enters the sum as it is.
    EXPECT_EQ(manufacturerNumber("a", "A", "A"), std::optional<int32_t>(33 * 1024 + 32 + 1));
    EXPECT_FALSE(manufacturerNumber("A", "", "A"));
}

TEST(MbusOptions, ManufacturerLettersCountWithTheirCodePageBytes) {
    // A letter's number is its byte in the program's code page (Windows-1252), not its
    // UTF-16 value: the euro sign is 0x80 there (0x20AC in UTF-16), e-acute 0xE9 in both.
    const QString euro = QString(QChar(0x20AC));
    EXPECT_EQ(manufacturerNumber(euro, "A", "A"), std::optional<int32_t>((0x80 - 64) * 1024 + 33));
    EXPECT_EQ(manufacturerNumber("A", euro, "A"),
              std::optional<int32_t>(1024 + (0x80 - 64) * 32 + 1));
    EXPECT_EQ(manufacturerNumber("A", "A", euro), std::optional<int32_t>(1024 + 32 + 0x80 - 64));
    EXPECT_EQ(manufacturerNumber(QString(QChar(0x0178)), "A", "A"),  // Y with diaeresis: 0x9F
              std::optional<int32_t>((0x9F - 64) * 1024 + 33));
    EXPECT_EQ(manufacturerNumber(QString(QChar(0xE9)), "A", "A"),
              std::optional<int32_t>((0xE9 - 64) * 1024 + 33));
    // A letter the code page lacks is '?' (63) there.
    const QString han = QString(QChar(0x4E2D));
    EXPECT_EQ(manufacturerNumber(han, "A", "A"), std::optional<int32_t>((63 - 64) * 1024 + 33));
    EXPECT_EQ(manufacturerNumber("A", "A", han), std::optional<int32_t>(1024 + 32 - 1));
}
