// The link layer: the four frame kinds, their checks and faults, the requests a master sends,
// secondary addresses, the reply check a driver waits on, and hex text.
#include <gtest/gtest.h>

#include "core/mbus/MbusFrame.h"
#include "core/mbus/MbusRecords.h"
#include "tests/mbusrecords/MbusTestUtil.h"

using namespace trelmo::mbus;
using trelmo::mbus::test::decodeHex;
using trelmo::mbus::test::hex;

TEST(MbusFrameKinds, EachKindWithItsFieldsAndRoles) {
    const Telegram ack = decodeHex("E5");
    EXPECT_EQ(ack.frame.type, FrameType::Ack);
    EXPECT_TRUE(ack.ok());
    EXPECT_EQ(byteRole(ack, 0), ByteRole::Ack);

    const Telegram nke = decodeHex("10 40 05 45 16");
    EXPECT_EQ(nke.frame.type, FrameType::Short);
    EXPECT_EQ(nke.frame.c, 0x40);
    EXPECT_EQ(nke.frame.a, 5);
    EXPECT_EQ(nke.frame.ci, -1);
    EXPECT_TRUE(nke.frame.checksumOk);
    EXPECT_TRUE(nke.ok());
    EXPECT_EQ(byteRoles(nke),
              (std::vector<ByteRole>{ByteRole::Start, ByteRole::Control, ByteRole::Address,
                                     ByteRole::Checksum, ByteRole::Stop}));

    // Control frame: C A CI and nothing else (here a baud rate switch to 9600).
    const Telegram control = decodeHex("68 03 03 68 53 FE BD 0E 16");
    EXPECT_EQ(control.frame.type, FrameType::Control);
    EXPECT_EQ(control.frame.ci, 0xBD);
    EXPECT_EQ(control.ciText, QStringLiteral("set baud rate to 9600"));
    EXPECT_TRUE(control.frame.checksumOk);

    const Telegram app = decodeHex("68 04 04 68 08 01 70 08 81 16");
    EXPECT_EQ(app.frame.type, FrameType::Long);
    EXPECT_EQ(app.frame.lField, 4);
    EXPECT_EQ(app.applicationError, 8);
    EXPECT_EQ(app.applicationErrorText,
              QStringLiteral("application too busy for handling readout request"));
    EXPECT_TRUE(app.ok());
    EXPECT_EQ(byteRole(app, 7), ByteRole::ApplicationError);
    EXPECT_EQ(byteRole(app, 8), ByteRole::Checksum);
    EXPECT_EQ(frameTypeName(app.frame.type), QStringLiteral("long"));
}

TEST(MbusFrameFaults, WrongChecksumIsReportedAndTheRecordsStillDecoded) {
    QByteArray f = test::rsp(test::defaultHeader() + hex("0C 13 78 56 34 12"));
    f[f.size() - 2] = char(f[f.size() - 2] ^ 0x01);
    const Telegram t = decodeTelegram(f);
    EXPECT_FALSE(t.frame.checksumOk);
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_EQ(t.errors[0].offset, f.size() - 2);
    EXPECT_TRUE(t.errors[0].reason.contains(QStringLiteral("check sum")));
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].value, QStringLiteral("12345.678"));
}

TEST(MbusFrameFaults, LengthStartAndStopFaultsAreNamed) {
    // L fields differ.
    Telegram t = decodeHex("68 04 05 68 08 01 70 08 81 16");
    ASSERT_FALSE(t.errors.empty());
    EXPECT_EQ(t.errors[0].offset, 2);
    EXPECT_FALSE(t.frame.lengthOk);
    // Second start byte wrong.
    t = decodeHex("68 04 04 69 08 01 70 08 81 16");
    EXPECT_EQ(t.errors[0].offset, 3);
    // Stop byte wrong.
    t = decodeHex("68 04 04 68 08 01 70 08 81 17");
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_EQ(t.errors[0].offset, 9);
    EXPECT_FALSE(t.frame.stopOk);
    // L too small for C, A and CI.
    t = decodeHex("68 02 02 68 08 01 09 16");
    EXPECT_FALSE(t.frame.lengthOk);
    EXPECT_EQ(t.errors[0].offset, 1);
    // Bytes after the frame (two answers run together).
    t = decodeHex("E5 E5");
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_EQ(t.errors[0].offset, 1);
    EXPECT_EQ(byteRole(t, 1), ByteRole::Trailing);
    t = decodeHex("68 04 04 68 08 01 70 08 81 16 E5");
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_EQ(t.errors[0].offset, 10);
    // Not a frame at all.
    t = decodeHex("72 01 02");
    EXPECT_EQ(t.frame.type, FrameType::None);
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_EQ(t.errors[0].offset, 0);
    t = decodeTelegram(QByteArray());
    EXPECT_EQ(t.errors.size(), 1u);
    // A short frame with a wrong sum.
    t = decodeHex("10 40 05 46 16");
    EXPECT_FALSE(t.frame.checksumOk);
    EXPECT_EQ(t.errors[0].offset, 3);
}

TEST(MbusFrameFaults, EveryCutOfALongReplySaysWhereItStopped) {
    const QByteArray whole = test::rsp(
        test::defaultHeader() +
        hex("04 13 10 27 00 00  02 FD 17 00 00  0D FD 0B 05 31 32 48 46 57  82 40 FD 48 60 03  "
            "0F 01 02"));
    ASSERT_TRUE(decodeTelegram(whole).ok()) << test::describe(decodeTelegram(whole));
    const std::size_t wholeRecords = decodeTelegram(whole).records.size();
    for (qsizetype n = 1; n < whole.size(); ++n) {
        const Telegram t = decodeTelegram(whole.left(n));
        ASSERT_FALSE(t.errors.empty()) << n;
        bool cutNamed = false;
        for (const DecodeError& e : t.errors) {
            EXPECT_GE(e.offset, 0);
            EXPECT_LE(e.offset, n);
            cutNamed = cutNamed || e.reason.contains(QStringLiteral("cut"));
        }
        EXPECT_TRUE(cutNamed) << n;
        EXPECT_LE(t.records.size(), wholeRecords);
        for (const Record& r : t.records)
            EXPECT_LE(r.offset + r.length, n) << n;
        EXPECT_EQ(t.roles.size(), n);
    }
    // Cut inside the VIFEs of the FD record at 25: the error names that record.
    const Telegram t = decodeTelegram(whole.left(27));
    ASSERT_EQ(t.records.size(), 1u);
    bool named = false;
    for (const DecodeError& e : t.errors)
        named = named || e.reason.contains(QStringLiteral("record at 25 cut"));
    EXPECT_TRUE(named) << test::describe(t);
}

TEST(MbusRequests, BytesOfEachRequest) {
    EXPECT_EQ(sndNke(5), hex("10 40 05 45 16"));
    EXPECT_EQ(reqUd2(1, true), hex("10 7B 01 7C 16"));
    EXPECT_EQ(reqUd2(1, false), hex("10 5B 01 5C 16"));
    EXPECT_EQ(reqUd2(kSelectedAddress, true), hex("10 7B FD 78 16"));
    EXPECT_EQ(applicationReset(3), hex("68 03 03 68 53 03 50 A6 16"));

    SecondaryAddress a;
    a.id = QStringLiteral("12345678");
    EXPECT_EQ(selectSecondary(a), hex("68 0B 0B 68 53 FD 52 78 56 34 12 FF FF FF FF B2 16"));
    const Result<SecondaryAddress> kam = parseSecondaryAddress(u"1FFFFFF8 2c2d 08 04");
    ASSERT_TRUE(kam.ok()) << kam.error().toStdString();
    EXPECT_EQ(kam.value().manufacturer, 0x2C2D);
    EXPECT_EQ(selectSecondary(kam.value()),
              hex("68 0B 0B 68 53 FD 52 F8 FF FF 1F 2D 2C 08 04 1C 16"));
    EXPECT_EQ(secondaryAddressText(kam.value()), QStringLiteral("1FFFFFF82C2D0804"));

    // The request frames decode as what they are.
    const Telegram sel = decodeTelegram(selectSecondary(kam.value()));
    EXPECT_TRUE(sel.ok() || sel.errors.size() == 1);  // CI 0x52 is named, not decoded
    EXPECT_EQ(sel.ciText, QStringLiteral("selection of slaves"));
    EXPECT_EQ(sel.frame.a, 0xFD);
}

TEST(MbusRequests, SecondaryAddressTextAndSelectionMatch) {
    EXPECT_FALSE(parseSecondaryAddress(u"1234567").ok());
    EXPECT_FALSE(parseSecondaryAddress(u"1234567A").ok());  // A-E are no id digits
    EXPECT_FALSE(parseSecondaryAddress(u"12345678 2C2D 08 0G").ok());
    const SecondaryAddress idOnly = parseSecondaryAddress(u"12345678").value();
    EXPECT_EQ(idOnly.manufacturer, 0xFFFF);
    EXPECT_EQ(idOnly.version, 0xFF);

    SecondaryAddress meter = parseSecondaryAddress(u"12345678 2C2D 08 04").value();
    SecondaryAddress mask;
    EXPECT_TRUE(matchesSelection(mask, meter));
    mask.id = QStringLiteral("1FFFFFF8");
    EXPECT_TRUE(matchesSelection(mask, meter));
    mask.id = QStringLiteral("1FFFFFF9");
    EXPECT_FALSE(matchesSelection(mask, meter));
    mask.id = QStringLiteral("FFFFFFFF");
    mask.medium = 0x07;
    EXPECT_FALSE(matchesSelection(mask, meter));
    mask.medium = 0x04;
    mask.manufacturer = 0x2C2D;
    EXPECT_TRUE(matchesSelection(mask, meter));
}

TEST(MbusReplyCheck, AckFrameIncompleteAndGarbled) {
    EXPECT_EQ(checkReply({}).kind, ReplyKind::Nothing);
    EXPECT_EQ(checkReply(hex("E5")).kind, ReplyKind::Ack);
    EXPECT_EQ(checkReply(hex("E5 E5")).kind, ReplyKind::Garbled);
    EXPECT_EQ(checkReply(hex("E5 E5")).text.contains(QStringLiteral("several")), true);
    const QByteArray frame = hex("68 04 04 68 08 01 70 08 81 16");
    EXPECT_EQ(checkReply(frame).kind, ReplyKind::Frame);
    for (qsizetype n = 1; n < frame.size(); ++n)
        EXPECT_EQ(checkReply(frame.left(n)).kind, ReplyKind::Incomplete) << n;
    EXPECT_EQ(checkReply(frame + hex("E5")).kind, ReplyKind::Garbled);
    EXPECT_EQ(checkReply(hex("68 04 04 68 08 01 70 08 82 16")).kind, ReplyKind::Garbled);
    EXPECT_EQ(checkReply(hex("68 04 05")).kind, ReplyKind::Garbled);
    EXPECT_EQ(checkReply(hex("A5")).kind, ReplyKind::Garbled);
    EXPECT_TRUE(replyComplete(hex("E5")));
    EXPECT_FALSE(replyComplete(hex("68 04 04 68 08")));
    EXPECT_TRUE(replyComplete(hex("C5 35")));
}

TEST(MbusReplyCheck, TimeoutFollowsTheLineSpeed) {
    EXPECT_EQ(defaultReplyTimeoutMs(2400), 188);  // 137.5 ms rounded up, plus 50
    EXPECT_EQ(defaultReplyTimeoutMs(300), 1150);
    EXPECT_EQ(defaultReplyTimeoutMs(9600), 85);
    EXPECT_EQ(defaultReplyTimeoutMs(38400), 59);
    EXPECT_GT(defaultReplyTimeoutMs(1200), defaultReplyTimeoutMs(2400));
}

TEST(MbusHexLine, DigitsInAnyCaseWithOrWithoutBlanks) {
    EXPECT_EQ(parseHexLine(u"68 0a 0A 68").value(), QByteArray::fromHex("680a0a68"));
    EXPECT_EQ(parseHexLine(u"680a0A68").value(), QByteArray::fromHex("680a0a68"));
    EXPECT_EQ(parseHexLine(u"  e5\t\r\n").value(), QByteArray(1, char(0xE5)));
    EXPECT_TRUE(parseHexLine(u"").value().isEmpty());

    Result<QByteArray> r = parseHexLine(u"68 0A 0");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.errorOffset(), 6);
    EXPECT_TRUE(r.error().contains(QStringLiteral("odd")));
    r = parseHexLine(u"68 0A 0x");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.errorOffset(), 7);
    r = parseHexLine(u"68,0A");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.errorOffset(), 2);
    EXPECT_EQ(toHex(hex("0a ff 10")), QStringLiteral("0AFF10"));
}
