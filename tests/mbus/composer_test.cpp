// The Send composer: every action in send and request mode, control and short frames, the
// multitelegram, and what a failing check or conversion leaves behind.

#include <gtest/gtest.h>

#include "core/Convert.h"
#include "mbus/MbusComposer.h"
#include "mbus/MbusOptions.h"
#include "tests/common/DialogRecorder.h"
#include "tests/mbus/MbusTestUtil.h"

using namespace trelmo;
using namespace trelmo::mbus;
using trelmo::test::DialogRecorder;
using trelmo::test::FixedClock;
using trelmo::test::hexBytes;
using trelmo::test::spaced;

namespace {

// 2026-07-12 14:05 -> 05 0E 4C 37.
const QDateTime kMoment(QDate(2026, 7, 12), QTime(14, 5, 9));

// The state after choosing C, address 1 and CI "Data send" through the option logic.
TelegramState chosen(const char* cText, Action action) {
    TelegramState s;
    s.create();
    applyCChoice(s, cText);
    s.Field_A = addressFromText("1");
    s.Field_CI = *ciFieldFromText("Data send");
    s.Selected_action = action;
    return s;
}

const char* const kSndUd = "Send user data to Slave (SND_UD)";
const char* const kReq = "Request Class 2 Data";

SendInputs single(const QString& data = QString()) {
    SendInputs in;
    in.recordControls = true;
    in.data = data;
    return in;
}

}  // namespace

TEST(MbusSend, ShortAndControlFrames) {
    TelegramState s;
    s.create();
    SendInputs in;
    // Right after creation nothing is chosen: C and CI are still 0.
    s.Field_A = 1;
    SendOutcome out = composeSend(s, in);
    ASSERT_TRUE(out.write);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 03 03 68 00 01 00 01 16")));
    EXPECT_EQ(out.header, "Header: 68 03 03 68 00 01 00");
    EXPECT_EQ(out.dif, "None");
    EXPECT_EQ(out.vif, "Checksum: 01");

    applyCChoice(s, "Initialisation of Slave (SND_NKE)");
    in.shortFrame = true;
    out = composeSend(s, in);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("10 40 01 41 16")));
    EXPECT_EQ(out.header, "Header: 10 40 01");
    EXPECT_EQ(out.info, "None");
    EXPECT_EQ(out.vif, "Checksum: 41");

    in.shortFrame = false;
    in.parameterVisible = true;
    s.Field_CI = *ciFieldFromText("Reset");
    s.Reset_param = *resetParamFromText("Reset user data");
    out = composeSend(s, in);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 04 04 68 40 01 50 10 A1 16")));
    EXPECT_EQ(out.header, "Header: 68 04 04 68 40 01 50 10");
    EXPECT_EQ(s.Stop_byte, 0x16);
    EXPECT_EQ(s.Start_byte, 0x68);

    // "Synchro" hides the parameter box: plain control frame; Reset_param is kept.
    in.parameterVisible = false;
    s.Field_CI = *ciFieldFromText("Synchro");
    composeSend(s, in);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 03 03 68 40 01 54 95 16")));
    EXPECT_EQ(s.Reset_param, 0x10);
}

TEST(MbusSend, DateAndTimeSendAndRequest) {
    DialogRecorder rec;
    FixedClock clock(kMoment);
    TelegramState s = chosen(kSndUd, Action::DateTime);
    SendOutcome out = composeSend(s, single());
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 09 09 68 53 01 51 04 6D 05 0E 4C 37 AC 16")));
    EXPECT_EQ(out.dif, "DIF and VIF: 04 6D");
    EXPECT_EQ(out.info, " 05 0E 4C 37");
    EXPECT_EQ(out.header, "Header: 68 09 09 68 53 01 51");
    EXPECT_EQ(out.vif, "Checksum: AC");

    s = chosen(kReq, Action::DateTime);
    out = composeSend(s, single());
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 05 05 68 5B 01 51 04 6D 1E 16")));
    EXPECT_FALSE(out.info) << "request mode leaves the value label empty";
    EXPECT_TRUE(rec.messages.empty());
}

TEST(MbusSend, TariffRowsSendAndRequest) {
    DialogRecorder rec;
    TelegramState s = chosen(kSndUd, Action::Duration);
    s.Field_DIFE = *tariffDife(0, "1");
    SendOutcome out = composeSend(s, single("12"));
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 08 08 68 53 01 51 81 10 FD 32 0C 71 16")));
    EXPECT_EQ(out.dif, "DIF and VIF: 81 10 FD 32");
    EXPECT_EQ(out.info, " 0C");

    s = chosen(kSndUd, Action::StartTime);
    s.Field_DIFE = 0x20;
    composeSend(s, single("7:30"));
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 0B 0B 68 53 01 51 84 20 ED 30 1E 07 00 00 8B 16")));

    s = chosen(kSndUd, Action::Cost);
    composeSend(s, single("258"));
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 0E 0E 68 53 01 51 8F 00 7F 07 02 01 00 00 42 47 4E 94 16")));

    s = chosen(kReq, Action::Cost);
    s.Field_DIFE = 0x30;
    out = composeSend(s, single());
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 07 07 68 5B 01 51 8F 30 7F 07 F2 16")));
    EXPECT_EQ(out.dif, "DIF and VIF: 8F 30 7F 07");

    s = chosen(kReq, Action::StartTime);
    composeSend(s, single("garbage"));
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 07 07 68 5B 01 51 84 00 ED 30 4E 16")));
    s = chosen(kReq, Action::Duration);
    composeSend(s, single());
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 07 07 68 5B 01 51 81 00 FD 32 5D 16")));
    EXPECT_TRUE(rec.messages.empty());
}

TEST(MbusSend, IdentificationTypeAndBattery) {
    DialogRecorder rec;
    TelegramState s = chosen(kSndUd, Action::Identification);
    s.Medium_code = *mediumFromText("Water");
    s.Medium_valid = true;
    SendOutcome out = composeSend(s, single("12345678"));
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 0D 0D 68 53 01 51 07 79 78 56 34 12 D9 2E 01 07 48 16")));
    EXPECT_TRUE(s.Record_data.isEmpty());
    EXPECT_EQ(out.info, " 78 56 34 12 D9 2E 01 07");

    s = chosen(kReq, Action::Identification);
    composeSend(s, single());
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 05 05 68 5B 01 51 07 79 2D 16")));

    s = chosen(kSndUd, Action::TypeValue);
    s.Field_VIF = *vifFromChoice(0, "kg", "0.1");
    s.Medium_code = 0x07;
    out = composeSend(s, single("1/255"));
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 09 09 68 53 01 51 0F 1A 03 07 01 FF D8 16")));
    EXPECT_TRUE(s.Vif_extended);
    EXPECT_EQ(out.dif, "DIF and VIF: 0F 1A 03");

    // Request mode: VIFE 00, no values, no text checks; "Overwrite VIF" still applies.
    s = chosen(kReq, Action::TypeValue);
    SendInputs in = single();
    in.overwriteVif = true;
    in.vifSpecial = "300";
    composeSend(s, in);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 06 06 68 5B 01 51 0F 2C 00 E8 16")));

    s = chosen(kReq, Action::Battery);
    composeSend(s, single());
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 05 05 68 5B 01 51 0F 7F 3B 16")));

    // Battery in send mode and no action: nothing built, nothing shown.
    s = chosen(kSndUd, Action::Battery);
    out = composeSend(s, single());
    EXPECT_FALSE(out.write);
    EXPECT_FALSE(out.header);
    s = chosen(kSndUd, Action::None);
    EXPECT_FALSE(composeSend(s, single()).write);
    EXPECT_TRUE(rec.messages.empty());
}

TEST(MbusSend, FailingChecksWriteNothing) {
    DialogRecorder rec;
    const struct {
        Action action;
        const char* text;
        const char* message;
    } cases[] = {
        {Action::StartTime, "0730", "Hours and minutes must be separate by :"},
        {Action::StartTime, "7:3", "Wrong time format"},
        {Action::Duration, "", "Please enter hours of duration"},
        {Action::Duration, "1x", "Error in hours"},
        {Action::Cost, "", "Please enter cost of tarif"},
        {Action::Identification, "1234567", "Wrong ID - must be 8-digit"},
        {Action::Identification, "1234567a", "Error in ID - must be digits only"},
        {Action::Identification, "12345678", "Wrong medium"},
        {Action::TypeValue, "", "Please enter NUM/DENUM"},
        {Action::TypeValue, "12", "Error in NUM/DENUM"},
        {Action::TypeValue, "1a/2", "Error in NUM/DENUM - must be digits only"},
        {Action::TypeValue, "12/12", "Please select medium"},
    };
    for (const auto& c : cases) {
        rec.clear();
        TelegramState s = chosen(kSndUd, c.action);
        const SendOutcome out = composeSend(s, single(c.text));
        EXPECT_FALSE(out.write) << c.text;
        EXPECT_FALSE(out.header) << c.text;
        EXPECT_TRUE(s.Telegram_bytes.isEmpty()) << c.text;
        EXPECT_EQ(rec.texts(), QStringList{c.message}) << c.text;
    }
}

TEST(MbusSend, ConversionFailuresAbandonTheSend) {
    DialogRecorder rec;
    const struct {
        Action action;
        const char* text;
        const char* bad;
    } cases[] = {{Action::StartTime, "07:3", ":3"},
                 {Action::Cost, "12a", "12a"},
                 {Action::TypeValue, "/5", ""},
                 {Action::TypeValue, "5/", ""}};
    for (const auto& c : cases) {
        TelegramState s = chosen(kSndUd, c.action);
        s.Medium_code = 0x07;
        try {
            composeSend(s, single(c.text));
            ADD_FAILURE() << "no conversion error for " << c.text;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.message(), QString("'%1' is not a valid integer value").arg(c.bad));
        }
        EXPECT_TRUE(s.Telegram_bytes.isEmpty()) << c.text;
    }
    TelegramState s = chosen(kSndUd, Action::TypeValue);
    SendInputs in = single("1/2");
    in.overwriteVif = true;
    in.vifSpecial = "";
    EXPECT_THROW(composeSend(s, in), EConvertError);
    EXPECT_TRUE(rec.messages.empty());
}

TEST(MbusSend, Multitelegram) {
    DialogRecorder rec;
    FixedClock clock(kMoment);
    SendInputs in;
    in.recordControls = true;
    in.multi = true;

    TelegramState s = chosen(kSndUd, Action::None);
    SendOutcome out = composeSend(s, in);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 03 03 68 53 01 51 A5 16")));

    in.multiDate = true;
    out = composeSend(s, in);
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 09 09 68 53 01 51 04 6D 05 0E 4C 37 AC 16")));
    EXPECT_EQ(out.header, "Header:  68 09 09 68 53 01 51");
    EXPECT_EQ(out.data, "Data 04 6D 05 0E 4C 37");
    EXPECT_EQ(out.crc, "Checksum: AC");
    EXPECT_FALSE(out.dif);
    EXPECT_FALSE(out.vif);

    // A failing record is dropped, the telegram still goes out.
    in.multiId = true;
    in.multiIdText = "1234567";
    s.Medium_valid = true;
    out = composeSend(s, in);
    EXPECT_TRUE(out.write);
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 09 09 68 53 01 51 04 6D 05 0E 4C 37 AC 16")));
    EXPECT_EQ(rec.texts(), QStringList{"Wrong ID - must be 8-digit"});

    // Request mode plays no part; every record in order; type takes the VIF left by the id.
    rec.clear();
    s = chosen(kReq, Action::None);
    s.Medium_code = 0x07;
    s.Medium_valid = true;
    in = SendInputs();
    in.recordControls = in.multi = true;
    in.multiCost = in.multiTime = in.multiDuration = in.multiId = in.multiType = true;
    in.tariff = "1";
    in.multiCostText = "5";
    in.multiTimeText = "12";
    in.multiDurationText = "3";
    in.multiIdText = "12345678";
    in.multiNumText = "2/3";
    out = composeSend(s, in);
    const QByteArray records = hexBytes(
        "8F 10 7F 07 05 00 00 00 42 47 4E"
        " 84 10 ED 30 00 0C 00 00"
        " 81 10 FD 32 03"
        " 07 79 78 56 34 12 D9 2E 01 07"
        " 0F 79 03 07 02 03");
    QByteArray expected = hexBytes("68 00 00 68 5B 01 51") + records;
    expected[1] = expected[2] = static_cast<char>(expected.size() - 4);
    uint8_t cs = 0;
    for (int i = 4; i < expected.size(); ++i)
        cs += static_cast<uint8_t>(expected[i]);
    expected.append(static_cast<char>(cs)).append('\x16');
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(expected));
    EXPECT_EQ(s.Field_L, 3 + records.size());
    EXPECT_TRUE(rec.messages.empty()) << rec.texts().join(" | ").toStdString();

    // A conversion failure in a record abandons the whole telegram.
    s = chosen(kSndUd, Action::None);
    in = SendInputs();
    in.recordControls = in.multi = in.multiTime = true;
    in.multiTimeText = "";
    EXPECT_THROW(composeSend(s, in), EConvertError);
    EXPECT_TRUE(s.Telegram_bytes.isEmpty());
}

TEST(MbusSend, StartTimeParsing) {
    DialogRecorder rec;
    EXPECT_EQ(spaced(*startTimeFromText("7:30")), spaced(hexBytes("1E 07 00 00")));
    EXPECT_EQ(spaced(*startTimeFromText("23:59")), spaced(hexBytes("3B 17 00 00")));
    // No range check: 99:99 goes out as it is.
    EXPECT_EQ(spaced(*startTimeFromText("99:99")), spaced(hexBytes("63 63 00 00")));
    EXPECT_FALSE(startTimeFromText("0730"));
    EXPECT_FALSE(startTimeFromText("1:2"));
    EXPECT_EQ(rec.texts(),
              QStringList({"Hours and minutes must be separate by :", "Wrong time format"}));
    EXPECT_THROW(startTimeFromText("07:3"), EConvertError);
    EXPECT_THROW(startTimeFromText("ab:cd"), EConvertError);
}
