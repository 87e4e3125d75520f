// The Send composer and the record encoders of a multitelegram: every action in send and
// request mode, control and short frames, the multitelegram, the messages handed back, and
// what a failing check or conversion leaves behind.

#include <gtest/gtest.h>

#include "core/Convert.h"
#include "core/mbus/MbusComposer.h"
#include "core/mbus/MbusOptions.h"
#include "tests/common/MbusTestUtil.h"

using namespace trelmo;
using namespace trelmo::mbus;
using trelmo::test::FixedClock;
using trelmo::test::hexBytes;
using trelmo::test::made;
using trelmo::test::spaced;

namespace {

// 2026-07-12 14:05 -> 05 0E 4C 37.
const QDateTime kMoment(QDate(2026, 7, 12), QTime(14, 5, 9));

TelegramState created() {
    TelegramState s;
    s.create();
    return s;
}

// The state after choosing C, address 1 and CI "Data send" through the option logic.
TelegramState chosen(const char* cText, Action action) {
    TelegramState s = created();
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

// Rethrows the conversion error that abandoned a Send; fails when there is none.
template <typename T>
void rethrow(const Result<T>& result) {
    EXPECT_TRUE(result.abandoned()) << "no conversion error";
    result.throwIfAbandoned();
}

}  // namespace

TEST(MbusSend, ShortAndControlFrames) {
    TelegramState s = created();
    SendInputs in;
    // Right after creation nothing is chosen: C and CI are still 0.
    s.Field_A = 1;
    auto out = composeSend(s, in);
    ASSERT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 03 03 68 00 01 00 01 16")));
    EXPECT_EQ(out->header, "Header: 68 03 03 68 00 01 00");
    EXPECT_EQ(out->dif, "None");
    EXPECT_EQ(out->vif, "Checksum: 01");
    EXPECT_EQ(out.messages(), QStringList());

    applyCChoice(s, "Initialisation of Slave (SND_NKE)");
    in.shortFrame = true;
    out = composeSend(s, in);
    ASSERT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("10 40 01 41 16")));
    EXPECT_EQ(out->header, "Header: 10 40 01");
    EXPECT_EQ(out->info, "None");
    EXPECT_EQ(out->vif, "Checksum: 41");

    in.shortFrame = false;
    in.parameterVisible = true;
    s.Field_CI = *ciFieldFromText("Reset");
    s.Reset_param = *resetParamFromText("Reset user data");
    out = composeSend(s, in);
    ASSERT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 04 04 68 40 01 50 10 A1 16")));
    EXPECT_EQ(out->header, "Header: 68 04 04 68 40 01 50 10");
    EXPECT_EQ(s.Stop_byte, 0x16);
    EXPECT_EQ(s.Start_byte, 0x68);

    // "Synchro" hides the parameter box: plain control frame; Reset_param is kept.
    in.parameterVisible = false;
    s.Field_CI = *ciFieldFromText("Synchro");
    EXPECT_TRUE(composeSend(s, in));
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 03 03 68 40 01 54 95 16")));
    EXPECT_EQ(s.Reset_param, 0x10);
}

TEST(MbusSend, DateAndTimeSendAndRequest) {
    FixedClock clock(kMoment);
    TelegramState s = chosen(kSndUd, Action::DateTime);
    auto out = composeSend(s, single());
    ASSERT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 09 09 68 53 01 51 04 6D 05 0E 4C 37 AC 16")));
    EXPECT_EQ(out->dif, "DIF and VIF: 04 6D");
    EXPECT_EQ(out->info, " 05 0E 4C 37");
    EXPECT_EQ(out->header, "Header: 68 09 09 68 53 01 51");
    EXPECT_EQ(out->vif, "Checksum: AC");
    EXPECT_EQ(out.messages(), QStringList());

    s = chosen(kReq, Action::DateTime);
    out = composeSend(s, single());
    ASSERT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 05 05 68 5B 01 51 04 6D 1E 16")));
    EXPECT_FALSE(out->info) << "request mode leaves the value label empty";
    EXPECT_EQ(out.messages(), QStringList());
}

TEST(MbusSend, TariffRowsSendAndRequest) {
    QStringList said;
    TelegramState s = chosen(kSndUd, Action::Duration);
    s.Field_DIFE = *tariffDife(0, "1");
    const auto out = composeSend(s, single("12"));
    ASSERT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 08 08 68 53 01 51 81 10 FD 32 0C 71 16")));
    EXPECT_EQ(out->dif, "DIF and VIF: 81 10 FD 32");
    EXPECT_EQ(out->info, " 0C");
    said += out.messages();

    s = chosen(kSndUd, Action::StartTime);
    s.Field_DIFE = 0x20;
    said += composeSend(s, single("7:30")).messages();
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 0B 0B 68 53 01 51 84 20 ED 30 1E 07 00 00 8B 16")));

    s = chosen(kSndUd, Action::Cost);
    said += composeSend(s, single("258")).messages();
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 0E 0E 68 53 01 51 8F 00 7F 07 02 01 00 00 42 47 4E 94 16")));

    s = chosen(kReq, Action::Cost);
    s.Field_DIFE = 0x30;
    const auto request = composeSend(s, single());
    ASSERT_TRUE(request);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 07 07 68 5B 01 51 8F 30 7F 07 F2 16")));
    EXPECT_EQ(request->dif, "DIF and VIF: 8F 30 7F 07");
    said += request.messages();

    s = chosen(kReq, Action::StartTime);
    said += composeSend(s, single("garbage")).messages();
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 07 07 68 5B 01 51 84 00 ED 30 4E 16")));
    s = chosen(kReq, Action::Duration);
    said += composeSend(s, single()).messages();
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 07 07 68 5B 01 51 81 00 FD 32 5D 16")));
    EXPECT_EQ(said, QStringList());
}

TEST(MbusSend, IdentificationTypeAndBattery) {
    QStringList said;
    TelegramState s = chosen(kSndUd, Action::Identification);
    s.Medium_code = *mediumFromText("Water");
    s.Medium_valid = true;
    auto out = composeSend(s, single("12345678"));
    ASSERT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 0D 0D 68 53 01 51 07 79 78 56 34 12 D9 2E 01 07 48 16")));
    EXPECT_TRUE(s.Record_data.isEmpty());
    EXPECT_EQ(out->info, " 78 56 34 12 D9 2E 01 07");
    said += out.messages();

    s = chosen(kReq, Action::Identification);
    said += composeSend(s, single()).messages();
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 05 05 68 5B 01 51 07 79 2D 16")));

    s = chosen(kSndUd, Action::TypeValue);
    s.Field_VIF = *vifFromChoice(0, "kg", "0.1");
    s.Medium_code = 0x07;
    out = composeSend(s, single("1/255"));
    ASSERT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 09 09 68 53 01 51 0F 1A 03 07 01 FF D8 16")));
    EXPECT_TRUE(s.Vif_extended);
    EXPECT_EQ(out->dif, "DIF and VIF: 0F 1A 03");
    said += out.messages();

    // Request mode: VIFE 00, no values, no text checks; "Overwrite VIF" still applies.
    s = chosen(kReq, Action::TypeValue);
    SendInputs in = single();
    in.overwriteVif = true;
    in.vifSpecial = "300";
    said += composeSend(s, in).messages();
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 06 06 68 5B 01 51 0F 2C 00 E8 16")));

    s = chosen(kReq, Action::Battery);
    said += composeSend(s, single()).messages();
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 05 05 68 5B 01 51 0F 7F 3B 16")));
    EXPECT_EQ(said, QStringList());

    // Battery in send mode and no action: nothing built, nothing said.
    s = chosen(kSndUd, Action::Battery);
    out = composeSend(s, single());
    EXPECT_FALSE(out);
    EXPECT_EQ(out.messages(), QStringList());
    EXPECT_FALSE(out.abandoned());
    s = chosen(kSndUd, Action::None);
    out = composeSend(s, single());
    EXPECT_FALSE(out);
    EXPECT_EQ(out.messages(), QStringList());
}

TEST(MbusSend, FailingChecksWriteNothing) {
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
        TelegramState s = chosen(kSndUd, c.action);
        const auto out = composeSend(s, single(c.text));
        EXPECT_FALSE(out) << c.text;
        EXPECT_FALSE(out.abandoned()) << c.text;
        EXPECT_TRUE(s.Telegram_bytes.isEmpty()) << c.text;
        EXPECT_EQ(out.messages(), QStringList{c.message}) << c.text;
    }
}

TEST(MbusSend, ConversionFailuresAbandonTheSend) {
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
        const auto out = composeSend(s, single(c.text));
        EXPECT_FALSE(out) << c.text;
        EXPECT_EQ(out.messages(), QStringList()) << c.text;
        try {
            rethrow(out);
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.message(), QString("'%1' is not a valid integer value").arg(c.bad));
        }
        EXPECT_TRUE(s.Telegram_bytes.isEmpty()) << c.text;
    }
    TelegramState s = chosen(kSndUd, Action::TypeValue);
    SendInputs in = single("1/2");
    in.overwriteVif = true;
    in.vifSpecial = "";
    const auto out = composeSend(s, in);
    EXPECT_FALSE(out);
    EXPECT_EQ(out.messages(), QStringList());
    EXPECT_THROW(rethrow(out), EConvertError);
}

TEST(MbusSend, Multitelegram) {
    FixedClock clock(kMoment);
    SendInputs in;
    in.recordControls = true;
    in.multi = true;

    TelegramState s = chosen(kSndUd, Action::None);
    auto out = composeSend(s, in);
    EXPECT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes), spaced(hexBytes("68 03 03 68 53 01 51 A5 16")));

    in.multiDate = true;
    out = composeSend(s, in);
    ASSERT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 09 09 68 53 01 51 04 6D 05 0E 4C 37 AC 16")));
    EXPECT_EQ(out->header, "Header:  68 09 09 68 53 01 51");
    EXPECT_EQ(out->data, "Data 04 6D 05 0E 4C 37");
    EXPECT_EQ(out->crc, "Checksum: AC");
    EXPECT_FALSE(out->dif);
    EXPECT_FALSE(out->vif);
    EXPECT_EQ(out.messages(), QStringList());

    // A failing record is dropped, the telegram still goes out, with the record's message.
    in.multiId = true;
    in.multiIdText = "1234567";
    s.Medium_valid = true;
    out = composeSend(s, in);
    EXPECT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 09 09 68 53 01 51 04 6D 05 0E 4C 37 AC 16")));
    EXPECT_EQ(out.messages(), QStringList{"Wrong ID - must be 8-digit"});

    // Request mode plays no part; every record in order; type takes the VIF left by the id.
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
    EXPECT_TRUE(out);
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
    EXPECT_EQ(out.messages(), QStringList());

    // Several failing records: the telegram goes out with what is left, and every message
    // comes back in the order of the records.
    s = chosen(kSndUd, Action::None);
    in = SendInputs();
    in.recordControls = in.multi = true;
    in.multiCost = in.multiDuration = in.multiDate = in.multiId = in.multiType = true;
    in.multiCostText = "";
    in.multiDurationText = "123";
    in.multiIdText = "1234567a";
    in.multiNumText = "12";
    out = composeSend(s, in);
    ASSERT_TRUE(out);
    EXPECT_EQ(spaced(s.Telegram_bytes),
              spaced(hexBytes("68 09 09 68 53 01 51 04 6D 05 0E 4C 37 AC 16")));
    EXPECT_EQ(out.messages(),
              QStringList({"Please enter cost of tarif", "Error in hours",
                           "Error in ID - must be digits only", "Error in NUM/DENUM"}));

    // A conversion failure in a record abandons the whole telegram.
    s = chosen(kSndUd, Action::None);
    in = SendInputs();
    in.recordControls = in.multi = in.multiTime = true;
    in.multiTimeText = "";
    out = composeSend(s, in);
    EXPECT_FALSE(out);
    EXPECT_THROW(rethrow(out), EConvertError);
    EXPECT_TRUE(s.Telegram_bytes.isEmpty());

    // ... and comes after the messages of the records before it, which are kept.
    in.multiCost = true;
    in.multiCostText = "";
    out = composeSend(s, in);
    EXPECT_FALSE(out);
    EXPECT_EQ(out.messages(), QStringList{"Please enter cost of tarif"});
    try {
        rethrow(out);
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.message(), "'' is not a valid integer value");
    }
    EXPECT_TRUE(s.Telegram_bytes.isEmpty());
}

TEST(MbusSend, StartTimeParsing) {
    EXPECT_EQ(made(startTimeFromText("7:30")), spaced(hexBytes("1E 07 00 00")));
    EXPECT_EQ(made(startTimeFromText("23:59")), spaced(hexBytes("3B 17 00 00")));
    // No range check: 99:99 goes out as it is.
    EXPECT_EQ(made(startTimeFromText("99:99")), spaced(hexBytes("63 63 00 00")));
    EXPECT_EQ(startTimeFromText("7:30").messages(), QStringList());
    const auto noColon = startTimeFromText("0730");
    EXPECT_FALSE(noColon);
    EXPECT_EQ(noColon.messages(), QStringList{"Hours and minutes must be separate by :"});
    const auto tooShort = startTimeFromText("1:2");
    EXPECT_FALSE(tooShort);
    EXPECT_EQ(tooShort.messages(), QStringList{"Wrong time format"});
    EXPECT_THROW((void)startTimeFromText("07:3"), EConvertError);
    EXPECT_THROW((void)startTimeFromText("ab:cd"), EConvertError);
}

TEST(MbusRecords, DateTimeRecordFromTheInjectedClock) {
    FixedClock clock(kMoment);
    EXPECT_EQ(spaced(dateTimeRecord(created())), spaced(hexBytes("04 6D 05 0E 4C 37")));
}

TEST(MbusRecords, TariffRecordsTakeTariffBitsAndLeaveHeaders) {
    TelegramState s = created();
    s.Field_DIFE = 0x45;
    const auto cost = costRecord(s, "2", "258");
    EXPECT_EQ(made(cost), spaced(hexBytes("8F 65 7F 07 02 01 00 00 42 47 4E")));
    EXPECT_EQ(s.Field_VIFE, 0x07);
    // "0" clears the whole DIFE.
    EXPECT_EQ(spaced(startTimeRecord(s, "0", "12")), spaced(hexBytes("84 00 ED 30 00 0C 00 00")));
    EXPECT_EQ(s.Field_VIF, 0xED);
    const auto duration = durationRecord(s, "3", "5");
    EXPECT_EQ(made(duration), spaced(hexBytes("81 30 FD 32 05")));
    EXPECT_EQ(s.Field_DIF, 0x81);
    EXPECT_EQ(cost.messages() + duration.messages(), QStringList());

    // An empty cost: its message, no record, but DIF and VIF already set.
    s = created();
    const auto noCost = costRecord(s, "", "");
    EXPECT_FALSE(noCost);
    EXPECT_EQ(noCost.messages(), QStringList{"Please enter cost of tarif"});
    EXPECT_EQ(s.Field_DIF, 0x8F);
    EXPECT_EQ(s.Field_VIF, 0x7F);
    EXPECT_EQ(s.Field_VIFE, 0x00);

    // Duration sets its header before checking.
    s = created();
    const auto badHours = durationRecord(s, "", "1x");
    EXPECT_FALSE(badHours);
    EXPECT_EQ(badHours.messages(), QStringList{"Error in hours"});
    EXPECT_EQ(s.Field_VIF, 0xFD);

    // An empty hour text fails conversion before the header is set.
    s = created();
    try {
        startTimeRecord(s, "", "");
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.message(), "'' is not a valid integer value");
    }
    EXPECT_EQ(s.Field_DIF, 0x00);
}

TEST(MbusRecords, IdentificationChecksInOrder) {
    TelegramState s = created();
    s.Medium_valid = true;
    s.Medium_code = 0x00;  // "Other" is accepted here
    const auto id = identificationRecord(s, "12345678");
    EXPECT_EQ(made(id), spaced(hexBytes("07 79 78 56 34 12 D9 2E 01 00")));
    EXPECT_EQ(id.messages(), QStringList());
    EXPECT_EQ(s.Field_DIF, 0x07);
    EXPECT_EQ(s.Field_VIF, 0x79);

    s = created();
    s.Medium_valid = true;
    QStringList said;
    for (const char* text : {"1234567", "1234567a"}) {
        const auto refused = identificationRecord(s, text);
        EXPECT_FALSE(refused) << text;
        said += refused.messages();
    }
    s.Medium_valid = false;
    const auto noMedium = identificationRecord(s, "12345678");
    EXPECT_FALSE(noMedium);
    said += noMedium.messages();
    EXPECT_EQ(said, QStringList({"Wrong ID - must be 8-digit", "Error in ID - must be digits only",
                                 "Wrong medium"}));
    EXPECT_EQ(s.Field_DIF, 0x00) << "a failing identification record leaves the header alone";
}

TEST(MbusRecords, TypeAndValueChecksAndCurrentVif) {
    TelegramState s = created();
    s.Medium_code = 0x07;
    s.Field_VIF = 0x9A;
    const auto record = typeValueRecord(s, "1/255");
    EXPECT_EQ(made(record), spaced(hexBytes("0F 9A 03 07 01 FF")));
    EXPECT_EQ(s.Field_DIF, 0x0F);
    EXPECT_EQ(record.messages(), QStringList());

    const struct {
        const char* text;
        const char* message;
    } failing[] = {{"", "Please enter NUM/DENUM"},
                   {"12", "Error in NUM/DENUM"},
                   {"1a/2", "Error in NUM/DENUM - must be digits only"},
                   {"1/256", "Denumerator must be < 255"},
                   {"256/1", "Numerator must be < 255"}};
    for (const auto& f : failing) {
        s = created();
        s.Medium_code = 0x07;
        const auto refused = typeValueRecord(s, f.text);
        EXPECT_FALSE(refused) << f.text;
        EXPECT_EQ(refused.messages(), QStringList{f.message}) << f.text;
        EXPECT_EQ(s.Field_DIF, 0x00) << f.text;
    }
    // Medium "Other" (code 0) is refused here; VIFE is already set by then.
    s = created();
    const auto noMedium = typeValueRecord(s, "12/12");
    EXPECT_FALSE(noMedium);
    EXPECT_EQ(noMedium.messages(), QStringList{"Please select medium"});
    EXPECT_EQ(s.Field_VIFE, 0x03);
    // Empty parts and a second "/" fail conversion.
    s.Medium_code = 0x07;
    EXPECT_THROW((void)typeValueRecord(s, "/5"), EConvertError);
    EXPECT_THROW((void)typeValueRecord(s, "5/"), EConvertError);
    EXPECT_THROW((void)typeValueRecord(s, "1/2/3"), EConvertError);
}
