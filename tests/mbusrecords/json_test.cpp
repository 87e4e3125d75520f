// The JSON, JSON Lines and CSV export: the field names scripts are written against, exact
// numbers, UTF-8 text, escaping, and several telegrams at once.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "core/mbus/MbusJson.h"
#include "tests/mbusrecords/MbusTestUtil.h"

using namespace trelmo::mbus;
using trelmo::mbus::test::decodeRecords;
using trelmo::mbus::test::hex;

namespace {

QJsonObject parse(const QByteArray& json) {
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    EXPECT_EQ(err.error, QJsonParseError::NoError) << err.errorString().toStdString() << "\n"
                                                   << json.toStdString();
    EXPECT_TRUE(doc.isObject());
    return doc.object();
}

}  // namespace

TEST(MbusJson, OneTelegramWithTheNamedFields) {
    const Telegram t = decodeRecords("0C 12 34 12 78 56");
    const QByteArray json = telegramJson(t);
    const QJsonObject o = parse(json);
    EXPECT_EQ(o.value("hex").toString(), toHex(t.bytes));
    EXPECT_FALSE(o.contains("telegram"));

    const QJsonObject frame = o.value("frame").toObject();
    EXPECT_EQ(frame.value("type").toString(), QStringLiteral("long"));
    EXPECT_EQ(frame.value("c").toInt(), 8);
    EXPECT_EQ(frame.value("a").toInt(), 1);
    EXPECT_EQ(frame.value("ci").toInt(), 114);
    EXPECT_EQ(frame.value("checksum_ok").toBool(false), true);

    const QJsonObject h = o.value("header").toObject();
    EXPECT_EQ(h.value("id").toString(), QStringLiteral("12345678"));
    EXPECT_EQ(h.value("manufacturer").toString(), QStringLiteral("ABC"));
    EXPECT_EQ(h.value("version").toInt(), 1);
    EXPECT_EQ(h.value("medium").toInt(), 7);
    EXPECT_EQ(h.value("medium_text").toString(), QStringLiteral("Water"));
    EXPECT_EQ(h.value("access").toInt(), 42);
    EXPECT_EQ(h.value("status").toInt(-1), 0);
    EXPECT_EQ(h.value("signature").toInt(-1), 0);

    const QJsonArray records = o.value("records").toArray();
    ASSERT_EQ(records.size(), 1);
    const QJsonObject r = records[0].toObject();
    EXPECT_EQ(r.value("offset").toInt(), 19);
    EXPECT_EQ(r.value("hex").toString(), QStringLiteral("0C1234127856"));
    EXPECT_EQ(r.value("dif").toString(), QStringLiteral("0C"));
    EXPECT_EQ(r.value("vif").toString(), QStringLiteral("12"));
    EXPECT_EQ(r.value("storage").toInt(-1), 0);
    EXPECT_EQ(r.value("tariff").toInt(-1), 0);
    EXPECT_EQ(r.value("subunit").toInt(-1), 0);
    EXPECT_EQ(r.value("function").toString(), QStringLiteral("instantaneous"));
    EXPECT_EQ(r.value("quantity").toString(), QStringLiteral("Volume"));
    EXPECT_TRUE(r.value("value").isDouble());
    EXPECT_EQ(r.value("unit").toString(), QStringLiteral("m³"));
    EXPECT_EQ(r.value("raw").toInteger(), 56781234);
    EXPECT_EQ(o.value("more_records_follow").toBool(true), false);
    EXPECT_TRUE(o.value("errors").toArray().isEmpty());
    EXPECT_TRUE(o.value("errors").isArray());

    // The number as decoded, digit for digit, and the unit in UTF-8.
    EXPECT_TRUE(json.contains("\"value\":5678.1234,")) << json.toStdString();
    EXPECT_TRUE(json.contains("\"unit\":\"m\xC2\xB3\"")) << json.toStdString();
    EXPECT_FALSE(json.contains('\n'));
}

TEST(MbusJson, NumbersStayExactAndTextsAreStrings) {
    const Telegram t = decodeRecords(
        "05 5A D0 0F 49 40  0A 5E 34 F1  0C 13 A0 00 00 00  05 5B 00 00 C0 7F  00 13  "
        "04 6D 1A 2F 65 11  07 FD 3A FF FF FF FF FF FF FF 7F");
    const QByteArray json = telegramJson(t);
    const QJsonArray records = parse(json).value("records").toArray();
    ASSERT_EQ(records.size(), 7);
    EXPECT_TRUE(json.contains("\"value\":0.314159,"));
    EXPECT_TRUE(json.contains("\"value\":-13.4,"));
    EXPECT_TRUE(
        json.contains("\"unit\":\"\xC2\xB0"
                      "C\""));  // °C
    EXPECT_EQ(records[2].toObject().value("value").toString(), QStringLiteral("000000A0"));
    EXPECT_TRUE(records[2].toObject().value("invalid").toBool());
    EXPECT_EQ(records[3].toObject().value("value").toString(), QStringLiteral("NaN"));
    EXPECT_TRUE(records[4].toObject().value("value").isString());
    EXPECT_EQ(records[4].toObject().value("value").toString(), QString());
    EXPECT_EQ(records[5].toObject().value("value").toString(),
              QStringLiteral("2011-01-05T15:26:00"));
    // Beyond 2^53: the text keeps every digit even where a double would not.
    EXPECT_TRUE(json.contains("\"value\":9223372036854775807,"));
}

TEST(MbusJson, FunctionsAndFrameTypesByName) {
    const Telegram t = decodeRecords(
        "04 13 01 00 00 00 14 13 01 00 00 00 24 13 01 00 00 00 "
        "34 13 01 00 00 00 0F 01");
    const QJsonArray records = parse(telegramJson(t)).value("records").toArray();
    QStringList functions;
    for (const QJsonValue& r : records)
        functions << r.toObject().value("function").toString();
    EXPECT_EQ(functions,
              QStringList({"instantaneous", "maximum", "minimum", "error", "manufacturer"}));
    const QJsonObject more = parse(telegramJson(decodeRecords("1F")));
    EXPECT_EQ(more.value("records").toArray()[0].toObject().value("function").toString(),
              QStringLiteral("more"));
    EXPECT_TRUE(more.value("more_records_follow").toBool());

    const auto type = [](const char* h) {
        return parse(telegramJson(test::decodeHex(h)))
            .value("frame")
            .toObject()
            .value("type")
            .toString();
    };
    EXPECT_EQ(type("E5"), QStringLiteral("ack"));
    EXPECT_EQ(type("10 40 05 45 16"), QStringLiteral("short"));
    EXPECT_EQ(type("68 03 03 68 53 FE BD 0E 16"), QStringLiteral("control"));
    EXPECT_EQ(type("68 04 04 68 08 01 70 08 81 16"), QStringLiteral("long"));
    const QJsonObject app = parse(telegramJson(test::decodeHex("68 04 04 68 08 01 70 08 81 16")));
    EXPECT_EQ(app.value("application_error").toObject().value("code").toInt(), 8);
}

TEST(MbusJson, FaultsAreListedWithOffsets) {
    QByteArray f = test::rsp(test::defaultHeader() + hex("04 13 01 00 00 00 0D FD 11 09 41"));
    f[f.size() - 2] = 0;
    const QJsonObject o = parse(telegramJson(decodeTelegram(f)));
    EXPECT_FALSE(o.value("frame").toObject().value("checksum_ok").toBool(true));
    const QJsonArray errors = o.value("errors").toArray();
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors[0].toObject().value("offset").toInt(), f.size() - 2);
    EXPECT_TRUE(errors[1].toObject().value("reason").toString().contains("cut"));
    EXPECT_EQ(o.value("records").toArray().size(), 1);
}

TEST(MbusJson, JsonLinesKeepsEachTelegramOnOneLine) {
    // A text with a line break, a quote, a backslash and a control character.
    const Telegram t = decodeRecords("0D FD 11 06 01 5C 22 0A 62 61");
    const QByteArray line = telegramJsonLine(t, 3);
    EXPECT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(line.count('\n'), 1);
    const QJsonObject o = parse(line.trimmed());
    EXPECT_EQ(o.value("telegram").toInt(), 3);
    EXPECT_EQ(o.value("records").toArray()[0].toObject().value("value").toString(),
              QStringLiteral("ab\n\"\\\x01"));
    EXPECT_TRUE(line.contains("\\u0001"));
}

TEST(MbusJson, SeveralTelegramsAsOneArray) {
    const std::vector<Telegram> ts = {decodeRecords("04 13 01 00 00 00 1F"),
                                      decodeRecords("02 FD 48 60 03")};
    const QByteArray json = telegramsJson(ts);
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    ASSERT_EQ(err.error, QJsonParseError::NoError);
    ASSERT_TRUE(doc.isArray());
    ASSERT_EQ(doc.array().size(), 2);
    EXPECT_EQ(doc.array()[0].toObject().value("telegram").toInt(), 1);
    EXPECT_EQ(doc.array()[1].toObject().value("telegram").toInt(), 2);
    EXPECT_EQ(doc.array()[1].toObject().value("records").toArray()[0].toObject().value("unit"),
              QStringLiteral("V"));
    EXPECT_EQ(telegramsJson({}), QByteArray("[\n]\n"));
}

TEST(MbusCsv, OneRowPerRecordWithQuoting) {
    const std::vector<Telegram> ts = {
        decodeRecords("04 13 01 00 00 00 84 10 06 05 00 00 00"),
        decodeRecords("02 7C 03 62 2C 61 05 00 0D FD 11 03 22 42 41")};
    const QByteArray csv = recordsCsv(ts);
    const QList<QByteArray> lines = csv.split('\n');
    ASSERT_EQ(lines.size(), 6);  // heading, 4 rows, the empty rest after the last CRLF
    EXPECT_EQ(lines[0], QByteArray("telegram,record,offset,hex,dif,vif,storage,tariff,subunit,"
                                   "function,quantity,value,unit\r"));
    EXPECT_EQ(lines[1], QByteArray("1,1,19,041301000000,04,13,0,0,0,instantaneous,Volume,0.001,"
                                   "m\xC2\xB3\r"));
    EXPECT_EQ(lines[2], QByteArray("1,2,25,84100605000000,84,06,0,1,0,instantaneous,Energy,5000,"
                                   "Wh\r"));
    // A unit with a comma and a text with a quote are quoted.
    EXPECT_EQ(lines[3], QByteArray("2,1,19,027C03622C610500,02,7C,0,0,0,instantaneous,"
                                   "Plain-text unit,5,\"a,b\"\r"));
    EXPECT_EQ(lines[4], QByteArray("2,2,27,0DFD1103224241,0D,FD,0,0,0,instantaneous,Customer,"
                                   "\"AB\"\"\",\r"));
    EXPECT_TRUE(lines[5].isEmpty());
}
