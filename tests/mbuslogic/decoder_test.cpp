// The reply decoder: positional fields, the record walk, number formats, and texts that are
// short, truncated or malformed; the labels it writes and the message it hands back.

#include <gtest/gtest.h>

#include <QMap>

#include "core/Convert.h"
#include "core/LocaleText.h"
#include "core/mbus/MbusDecoder.h"
#include "tests/common/MbusTestUtil.h"

using namespace trelmo;
using namespace trelmo::mbus;
using trelmo::test::hexBytes;

namespace {

// The caption the receive path builds from these bytes.
QString caption(const QByteArray& bytes) {
    return QStringLiteral("Received: ") + QString::fromLatin1(bytes.toHex().toUpper());
}

// Header bytes 0..18: address A, identification 12345678, access number.
QByteArray header(uint8_t address = 0xFD, uint8_t access = 0x2A) {
    QByteArray h = hexBytes("68 40 40 68 08 00 72 78 56 34 12 2E D9 01 07 00 00 00 00");
    h[5] = static_cast<char>(address);
    h[15] = static_cast<char>(access);
    return h;
}

const char* const kRecords =
    "04 13 10 27 00 00"         // main counter 10000
    " 81 10 AA BB 05"           // tariff 2, duration 5h
    " 84 00 ED AA 00 0C BB CC"  // tariff 1, start 12h
    " 84 30 13 39 30 00 00"     // tariff 4, pulses 12345
    " 0F AA BB 03 9C FF"        // drops 3, BAT 3.10 V, 5.00 V
    " 55 16";                   // checksum (ends the walk) and stop

// Records every label write, in order, and the last text per label.
struct Sink {
    QList<QPair<QString, QString>> writes;
    QMap<QString, QString> labels;
    LabelSink fn() {
        return [this](const QString& name, const QString& text) {
            writes.append({name, text});
            if (!text.isNull())
                labels[name] = text;
        };
    }
};

QString volts(const char* whole, const char* decimals) {
    return QString::fromLatin1(whole) + decimalSeparator() + QString::fromLatin1(decimals);
}

}  // namespace

TEST(MbusDecode, FullReply) {
    Sink sink;
    const auto decoded = decodeReply(caption(header() + hexBytes(kRecords)), sink.fn());
    EXPECT_TRUE(decoded);
    QMap<QString, QString> expected{
        {"Label_mbcs_address", "Slave address: 253"},
        {"Label_mbcs_Id", "Slave ID: 12345678"},
        {"Label_access", "Access No.: 42"},
        {"Label_mbcs_data1", "Main counter: 10000"},
        {"Label_mbcs_tariff2", "Tariff No.: 2"},
        {"Label_mbcs_data3", "Duration: 5h"},
        {"Label_mbcs_tariff1", "Tariff No.: 1"},
        {"Label_mbcs_data4", "Start: 12h"},
        {"Label_mbcs_tariff4", "Tariff No.: 4"},
        {"Label_mbcs_pulse4", "Pulses: 12345"},
        {"Label_mbcs_data8", "Drops 2.8V: 3"},
        {"Label_mbcs_data9", "BAT 1: " + volts("3", "10") + "V"},
        {"Label_mbcs_data10", "BAT 2: " + volts("5", "00") + "V"},
    };
    EXPECT_EQ(sink.labels, expected);
    EXPECT_EQ(decoded.messages(), QStringList());
    // Decoding the same text again gives the same writes.
    Sink again;
    EXPECT_TRUE(decodeReply(caption(header() + hexBytes(kRecords)), again.fn()));
    EXPECT_EQ(again.writes, sink.writes);
}

TEST(MbusDecode, SignedCounterAndTariffSelection) {
    const QByteArray records = hexBytes(
        "04 13 00 00 00 80"
        " 81 40 AA BB 05"  // DIFE 40: consumed, no label
        " 81 20 AA BB 07"
        " 84 10 ED AA 00 17 BB CC"
        " 84 20 13 FF FF FF FF 55 16");
    Sink sink;
    EXPECT_TRUE(decodeReply(caption(header() + records), sink.fn()));
    EXPECT_EQ(sink.labels.value("Label_mbcs_data1"), "Main counter: -2147483648");
    EXPECT_EQ(sink.labels.value("Label_mbcs_tariff3"), "Tariff No.: 3");
    EXPECT_EQ(sink.labels.value("Label_mbcs_data11"), "Duration: 7h");
    EXPECT_EQ(sink.labels.value("Label_mbcs_data5"), "Start: 23h");
    EXPECT_EQ(sink.labels.value("Label_mbcs_pulse3"), "Pulses: -1");
    for (const auto& w : sink.writes) {
        EXPECT_NE(w.second, "Duration: 5h") << "the DIFE 40 record wrote " << w.first.toStdString();
    }
    EXPECT_FALSE(sink.labels.contains("Label_mbcs_tariff1"));
}

TEST(MbusDecode, VoltageFormat) {
    EXPECT_EQ(voltageText(156), volts("3", "10"));
    EXPECT_EQ(voltageText(255), volts("5", "00"));
    EXPECT_EQ(voltageText(30), volts("0", "59"));
    EXPECT_EQ(voltageText(0), volts("0", "00"));
    EXPECT_EQ(voltageText(1), volts("0", "02"));
    EXPECT_EQ(voltageText(100), volts("2", "00")) << "1.96 to two significant digits";
}

TEST(MbusDecode, ShortTextsAreRefusedOnlyUnderTwentyCharacters) {
    Sink sink;
    for (const char* text : {"Received: ", "Received: 680303685"}) {
        const auto refused = decodeReply(text, sink.fn());
        EXPECT_FALSE(refused) << text;
        EXPECT_EQ(refused.messages(), QStringList{"Nothing to decode!"}) << text;
    }
    EXPECT_TRUE(sink.writes.isEmpty());
    const auto passed = decodeReply("Received: 6803036853", sink.fn());
    EXPECT_TRUE(passed);
    EXPECT_EQ(passed.messages(), QStringList());
    EXPECT_TRUE(sink.writes.isEmpty()) << "the address field is not complete";
}

TEST(MbusDecode, TruncatedTextsNeverWriteAPartialField) {
    const QString full = caption(header() + hexBytes(kRecords));
    Sink whole;
    EXPECT_TRUE(decodeReply(full, whole.fn()));
    QStringList said;
    for (int len = 20; len <= full.size(); ++len) {
        Sink part;
        bool passed = false;
        ASSERT_NO_THROW({
            const auto decoded = decodeReply(full.left(len), part.fn());
            passed = decoded.ok();
            said += decoded.messages();
        }) << len;
        EXPECT_TRUE(passed) << len;
        ASSERT_LE(part.writes.size(), whole.writes.size()) << len;
        for (int i = 0; i < part.writes.size(); ++i) {
            EXPECT_EQ(part.writes[i], whole.writes[i]) << "length " << len;
        }
    }
    // Cut inside the pulses value: everything before it, nothing from it.
    const int pulsesEnd = full.indexOf("39300000") + 8;
    Sink cut;
    const auto decoded = decodeReply(full.left(pulsesEnd - 1), cut.fn());
    said += decoded.messages();
    EXPECT_EQ(cut.labels.value("Label_mbcs_data4"), "Start: 12h");
    EXPECT_FALSE(cut.labels.contains("Label_mbcs_pulse4"));
    EXPECT_FALSE(cut.labels.contains("Label_mbcs_tariff4"));
    EXPECT_EQ(said, QStringList());
}

TEST(MbusDecode, ShorterReplyAfterLongerKeepsTheRest) {
    Sink sink;
    EXPECT_TRUE(decodeReply(caption(header() + hexBytes(kRecords)), sink.fn()));
    EXPECT_TRUE(
        decodeReply(caption(header(0x05, 0x07) + hexBytes("04 13 01 00 00 00 55 16")), sink.fn()));
    EXPECT_EQ(sink.labels.value("Label_mbcs_address"), "Slave address: 5");
    EXPECT_EQ(sink.labels.value("Label_access"), "Access No.: 7");
    EXPECT_EQ(sink.labels.value("Label_mbcs_data1"), "Main counter: 1");
    EXPECT_EQ(sink.labels.value("Label_mbcs_pulse4"), "Pulses: 12345");
    EXPECT_EQ(sink.labels.value("Label_mbcs_data8"), "Drops 2.8V: 3");
}

TEST(MbusDecode, ConversionFailureKeepsEarlierLabels) {
    QString text = caption(header() + hexBytes(kRecords));
    text[40] = u'G';  // high digit of the access number
    Sink sink;
    try {
        (void)decodeReply(text, sink.fn());
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.message(), "'G' is not a valid integer value");
    }
    EXPECT_EQ(sink.labels.value("Label_mbcs_address"), "Slave address: 253");
    EXPECT_EQ(sink.labels.value("Label_mbcs_Id"), "Slave ID: 12345678");
    EXPECT_FALSE(sink.labels.contains("Label_access"));
    ASSERT_FALSE(sink.writes.isEmpty());
    EXPECT_EQ(sink.writes.last().first, "Label_access") << "shown before its number is read";
    EXPECT_TRUE(sink.writes.last().second.isNull());

    // The identification is shown unconverted: any characters pass.
    QString odd = caption(header() + hexBytes(kRecords));
    odd[24] = u'Z';
    Sink oddSink;
    EXPECT_TRUE(decodeReply(odd, oddSink.fn()));
    EXPECT_EQ(oddSink.labels.value("Label_mbcs_Id"), "Slave ID: 123456Z8");
}

TEST(MbusDecode, WalkIsCaseSensitiveAndStopsOnUnknownDif) {
    // Lower-case "ed" is not the start-time VIF: read as a pulse record of 13 characters.
    QString text = caption(header() + hexBytes("04 13 01 00 00 00 84 00 ED 01 02 03 04 55 16"));
    text.replace("8400ED", "8400ed");
    Sink sink;
    EXPECT_TRUE(decodeReply(text, sink.fn()));
    EXPECT_EQ(sink.labels.value("Label_mbcs_pulse1"), "Pulses: " + QString::number(0x04030201));
    EXPECT_FALSE(sink.labels.contains("Label_mbcs_data4"));

    Sink stop;
    EXPECT_TRUE(decodeReply(
        caption(header() + hexBytes("04 13 01 00 00 00 02 81 10 AA BB 05 55 16")), stop.fn()));
    EXPECT_FALSE(stop.labels.contains("Label_mbcs_data3")) << "a DIF 02 ends the walk";
}
