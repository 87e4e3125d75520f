// The scan and read tasks run against the simulated bus, as a driver runs them over a port:
// primary scan, secondary scan by wildcard selection (with collisions), reading replies of
// several telegrams, and the faults a bus gives (absent meters, lost and garbled replies).
#include <gtest/gtest.h>

#include <set>

#include "core/mbus/MbusScan.h"
#include "tests/common/MbusMeterBus.h"
#include "tests/mbusrecords/MbusTestUtil.h"

using namespace trelmo::mbus;
using trelmo::mbus::test::hex;
using trelmo::test::MbusMeterBus;
using trelmo::test::SimMeter;

namespace {

constexpr uint16_t kKam = 0x2C2D;
constexpr uint16_t kEls = 0x1593;
constexpr uint16_t kSon = 0x4DEE;

SimMeter heatMeter() {
    return {
        1, QStringLiteral("12345678"), kKam, 8, 4, 0, {hex("04 06 E7 91 00 00 04 13 10 27 00 00")}};
}
// Its id differs from the heat meter's in the last digit only.
SimMeter waterMeter() {
    return {5, QStringLiteral("12345679"), kEls, 10, 7, 0, {hex("04 13 39 30 00 00")}};
}
// A reply in three telegrams.
SimMeter electricityMeter() {
    return {250,
            QStringLiteral("40000001"),
            kSon,
            13,
            2,
            0,
            {hex("04 03 01 00 00 00 02 FD 48 60 03 1F"), hex("84 10 03 02 00 00 00 1F"),
             hex("84 20 03 03 00 00 00 02 FD 59 BD 03")}};
}

MbusMeterBus threeMeters() {
    MbusMeterBus bus;
    bus.addMeter(heatMeter());
    bus.addMeter(waterMeter());
    bus.addMeter(electricityMeter());
    return bus;
}

// Runs a task as a driver does: each request written (byte by byte with `pieces`), the
// bus's answer handed over whole, or a timeout when there is none. Returns the requests sent.
int drive(BusTask& task, MbusMeterBus& bus, bool pieces = false) {
    task.start();
    int sent = 0;
    int lastDone = 0;
    for (Action a = task.next(); a.kind == Action::Kind::Send; a = task.next()) {
        if (++sent > 200000) {
            ADD_FAILURE() << "task does not end";
            break;
        }
        EXPECT_GT(a.timeoutMs, 0);
        EXPECT_FALSE(a.what.isEmpty());
        QByteArray reply;
        if (pieces) {
            for (char b : a.bytes)
                reply += bus.write(QByteArrayView(&b, 1));
        } else {
            reply = bus.write(a.bytes);
        }
        if (reply.isEmpty())
            task.onTimeout();
        else
            task.onReply(reply);
        EXPECT_LE(task.done(), task.total());
        EXPECT_GE(task.done(), lastDone);
        lastDone = task.done();
    }
    EXPECT_TRUE(task.finished());
    EXPECT_EQ(task.done(), task.total());
    return sent;
}

std::set<QString> ids(const std::vector<FoundMeter>& meters) {
    std::set<QString> out;
    for (const FoundMeter& m : meters)
        out.insert(m.id);
    return out;
}

}  // namespace

TEST(MbusPrimaryScan, FindsExactlyTheMetersOnTheBus) {
    MbusMeterBus bus = threeMeters();
    PrimaryScan scan;
    scan.start();
    const Action first = scan.next();
    EXPECT_EQ(first.bytes, sndNke(0));
    EXPECT_EQ(first.timeoutMs, 188);            // 2400 Bd
    EXPECT_EQ(scan.next().bytes, first.bytes);  // the same action until an answer

    const int sent = drive(scan, bus);
    EXPECT_EQ(sent, 251 + 3);
    const std::vector<FoundMeter>& m = scan.meters();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].primary, 1);
    EXPECT_EQ(m[0].id, QStringLiteral("12345678"));
    EXPECT_EQ(m[0].manufacturer, QStringLiteral("KAM"));
    EXPECT_EQ(m[0].version, 8);
    EXPECT_EQ(m[0].medium, 4);
    EXPECT_EQ(m[1].primary, 5);
    EXPECT_EQ(m[1].manufacturer, QStringLiteral("ELS"));
    EXPECT_EQ(m[2].primary, 250);
    EXPECT_EQ(m[2].id, QStringLiteral("40000001"));
    EXPECT_EQ(m[2].mediumText, QStringLiteral("Electricity"));
    EXPECT_EQ(secondaryAddressText(m[2].secondary), QStringLiteral("400000014DEE0D02"));
    for (const FoundMeter& f : m)
        EXPECT_TRUE(f.note.isEmpty()) << f.note.toStdString();
    EXPECT_TRUE(scan.notes().isEmpty());
    // Only the three addresses that answered SND_NKE were asked for data, with FCB set.
    EXPECT_EQ(bus.requestLog()[251], reqUd2(1, true));
    EXPECT_EQ(bus.requestLog()[253], reqUd2(250, true));
}

TEST(MbusPrimaryScan, TwoMetersAtOneAddressAreReportedNotHidden) {
    MbusMeterBus bus = threeMeters();
    SimMeter twin = waterMeter();
    twin.id = QStringLiteral("77777777");
    bus.addMeter(twin);  // also at address 5
    ScanOptions o;
    o.firstAddress = 0;
    o.lastAddress = 10;
    PrimaryScan scan(o);
    EXPECT_EQ(drive(scan, bus), 11 + 2);
    ASSERT_EQ(scan.meters().size(), 2u);
    const FoundMeter& five = scan.meters()[1];
    EXPECT_EQ(five.primary, 5);
    EXPECT_TRUE(five.note.contains(QStringLiteral("several meters"))) << five.note.toStdString();
    EXPECT_TRUE(five.id.isEmpty());
    EXPECT_EQ(scan.notes().size(), 2);  // the SND_NKE answer and the REQ_UD2 reply
}

TEST(MbusPrimaryScan, RetriesAndRange) {
    MbusMeterBus bus = threeMeters();
    ScanOptions o;
    o.firstAddress = 2;
    o.lastAddress = 6;
    o.retries = 2;
    o.baud = 9600;
    PrimaryScan scan(o);
    // Four silent addresses asked three times each, address 5 once, then its data.
    EXPECT_EQ(drive(scan, bus), 4 * 3 + 1 + 1);
    ASSERT_EQ(scan.meters().size(), 1u);
    EXPECT_EQ(scan.meters()[0].primary, 5);
    scan.start();
    EXPECT_EQ(scan.next().timeoutMs, 85);
}

TEST(MbusSecondaryScan, FindsAllMetersIncludingIdsThatDifferInTheLastDigit) {
    for (bool merge : {false, true}) {
        SCOPED_TRACE(merge ? "acknowledgements overlap into one E5" : "one E5 per meter");
        MbusMeterBus bus = threeMeters();
        bus.setMergeAcks(merge);
        SecondaryScan scan;
        const int sent = drive(scan, bus, /*pieces=*/merge);
        EXPECT_EQ(ids(scan.meters()), std::set<QString>({"12345678", "12345679", "40000001"}));
        EXPECT_LT(sent, 200);
        for (const FoundMeter& m : scan.meters()) {
            if (m.id == QStringLiteral("12345679")) {
                EXPECT_EQ(m.primary, 5);
                EXPECT_EQ(m.manufacturer, QStringLiteral("ELS"));
                EXPECT_EQ(m.version, 10);
                EXPECT_EQ(m.medium, 7);
            }
            if (m.id == QStringLiteral("40000001")) {
                EXPECT_EQ(m.primary, 250);
            }
        }
        // The collisions met on the way are explained.
        const QString notes = scan.notes().join(QLatin1Char('\n'));
        EXPECT_TRUE(notes.contains(QStringLiteral("FFFFFFFF: several meters answer")))
            << notes.toStdString();
        EXPECT_TRUE(notes.contains(QStringLiteral("1234567F: several meters answer")))
            << notes.toStdString();
    }
}

TEST(MbusSecondaryScan, EmptyBusAndOneMeter) {
    MbusMeterBus empty;
    SecondaryScan scan;
    EXPECT_EQ(drive(scan, empty), 1);
    EXPECT_TRUE(scan.meters().empty());

    MbusMeterBus one;
    one.addMeter(waterMeter());
    SecondaryScan scanOne;
    EXPECT_EQ(drive(scanOne, one), 2);  // select all, read it
    ASSERT_EQ(scanOne.meters().size(), 1u);
    EXPECT_EQ(scanOne.meters()[0].id, QStringLiteral("12345679"));
    SecondaryAddress all;
    EXPECT_EQ(one.requestLog()[0], selectSecondary(all));
    EXPECT_EQ(one.requestLog()[1], reqUd2(kSelectedAddress, true));
}

TEST(MbusSecondaryScan, MetersWithTheSameIdEndWithANote) {
    MbusMeterBus bus;
    SimMeter a = heatMeter();
    SimMeter b = waterMeter();
    b.id = a.id;  // same id, other manufacturer
    bus.addMeter(a);
    bus.addMeter(b);
    SecondaryScan scan;
    const int sent = drive(scan, bus);
    EXPECT_LT(sent, 100);
    EXPECT_TRUE(scan.meters().empty());
    EXPECT_TRUE(scan.notes().join('\n').contains(
        QStringLiteral("several meters with id 12345678 answer and cannot be told apart")));
}

TEST(MbusMeterRead, ThreeTelegramsByPrimaryAddressWithTheFrameCountBitToggled) {
    MbusMeterBus bus = threeMeters();
    MeterRead read(parseReadTarget(u"250").value());
    EXPECT_EQ(drive(read, bus), 4);
    EXPECT_TRUE(read.ok()) << read.error().toStdString();
    ASSERT_EQ(read.telegrams().size(), 3u);
    EXPECT_TRUE(read.telegrams()[0].moreRecordsFollow);
    EXPECT_FALSE(read.telegrams()[2].moreRecordsFollow);
    EXPECT_EQ(bus.requestLog(), (std::vector<QByteArray>{sndNke(250), reqUd2(250, true),
                                                         reqUd2(250, false), reqUd2(250, true)}));
    const std::vector<NumberedRecord> records = read.records();
    ASSERT_EQ(records.size(), 3u + 2u + 2u);
    std::vector<int> numbers;
    for (const NumberedRecord& r : records)
        numbers.push_back(r.telegram);
    EXPECT_EQ(numbers, (std::vector<int>{1, 1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(records[0].record.value, QStringLiteral("1"));
    EXPECT_EQ(records[1].record.value, QStringLiteral("86.4"));
    EXPECT_EQ(records[3].record.value, QStringLiteral("2"));
    EXPECT_EQ(records[3].record.tariff, 1u);
    EXPECT_EQ(records[5].record.value, QStringLiteral("3"));
    EXPECT_EQ(records[5].record.tariff, 2u);
    EXPECT_EQ(records[6].record.value, QStringLiteral("0.957"));
}

TEST(MbusMeterRead, BySecondaryAddressSelectsFirst) {
    MbusMeterBus bus = threeMeters();
    const Result<ReadTarget> target = parseReadTarget(u"400000014DEE0D02");
    ASSERT_TRUE(target.ok());
    EXPECT_TRUE(target.value().secondary);
    MeterRead read(target.value());
    EXPECT_EQ(drive(read, bus), 4);
    EXPECT_TRUE(read.ok()) << read.error().toStdString();
    EXPECT_EQ(read.telegrams().size(), 3u);
    EXPECT_EQ(bus.requestLog()[0], selectSecondary(target.value().address));
    EXPECT_EQ(bus.requestLog()[1], reqUd2(kSelectedAddress, true));
    EXPECT_EQ(bus.requestLog()[2], reqUd2(kSelectedAddress, false));
}

TEST(MbusMeterRead, LostReplyIsAskedForAgainWithTheSameFrameCountBit) {
    MbusMeterBus bus = threeMeters();
    ScanOptions o;
    o.retries = 1;
    MeterRead read(parseReadTarget(u"250").value(), o);
    read.start();
    int requests = 0;
    bool dropped = false;
    for (Action a = read.next(); a.kind == Action::Kind::Send; a = read.next()) {
        ASSERT_LT(++requests, 20);
        const QByteArray reply = bus.write(a.bytes);
        // The reply of the second telegram is lost on the line once.
        if (!dropped && read.telegrams().size() == 1) {
            dropped = true;
            read.onTimeout();
            continue;
        }
        read.onReply(reply);
    }
    EXPECT_TRUE(read.ok()) << read.error().toStdString();
    ASSERT_EQ(read.telegrams().size(), 3u);
    // The repeat went out with the same FCB, so the meter repeated telegram 2.
    EXPECT_EQ(bus.requestLog()[2], reqUd2(250, false));
    EXPECT_EQ(bus.requestLog()[3], reqUd2(250, false));
    EXPECT_EQ(read.telegrams()[1].records[0].tariff, 1u);
    EXPECT_EQ(read.telegrams()[2].records[0].tariff, 2u);
}

TEST(MbusMeterRead, GarbledReplyIsRetriedThenReported) {
    ScanOptions o;
    o.retries = 1;
    MeterRead read(parseReadTarget(u"1").value(), o);
    read.start();
    read.onReply(hex("E5"));                    // SND_NKE answered
    read.onReply(hex("68 04 04 68 08 01 72"));  // cut reply
    EXPECT_FALSE(read.finished());
    EXPECT_EQ(read.next().bytes, reqUd2(1, true));
    read.onReply(hex("E5 E5"));
    EXPECT_TRUE(read.finished());
    EXPECT_FALSE(read.ok());
    EXPECT_TRUE(read.error().contains(QStringLiteral("garbled"))) << read.error().toStdString();
    EXPECT_EQ(read.notes().size(), 1);
}

TEST(MbusMeterRead, AbsentMetersAndEndlessReplies) {
    MbusMeterBus bus = threeMeters();
    MeterRead absent(parseReadTarget(u"7").value());
    EXPECT_EQ(drive(absent, bus), 2);
    EXPECT_FALSE(absent.ok());
    EXPECT_TRUE(absent.error().contains(QStringLiteral("no reply")));
    EXPECT_TRUE(absent.notes().join(' ').contains(QStringLiteral("no answer to SND_NKE")));

    MeterRead unselected(parseReadTarget(u"99999999 FFFF FF FF").value());
    EXPECT_EQ(drive(unselected, bus), 1);
    EXPECT_TRUE(unselected.error().contains(QStringLiteral("no meter answered the selection")));

    MeterRead both(parseReadTarget(u"1234567F FFFF FF FF").value());
    drive(both, bus);
    EXPECT_TRUE(both.error().contains(QStringLiteral("several meters answered")))
        << both.error().toStdString();

    // A meter whose every telegram says more records follow.
    MbusMeterBus endless;
    endless.addMeter({3, QStringLiteral("00000003"), kKam, 1, 4, 0, {hex("01 FD 3A 01 1F")}});
    ScanOptions o;
    o.maxTelegrams = 5;
    MeterRead read(parseReadTarget(u"3").value(), o);
    EXPECT_EQ(drive(read, endless), 1 + 5);
    EXPECT_EQ(read.telegrams().size(), 5u);
    EXPECT_TRUE(read.error().contains(QStringLiteral("stopped after 5 telegrams")));
}

TEST(MbusMeterRead, TargetText) {
    EXPECT_EQ(parseReadTarget(u" 0 ").value().primary, 0);
    EXPECT_FALSE(parseReadTarget(u"0").value().secondary);
    EXPECT_EQ(parseReadTarget(u"250").value().primary, 250);
    EXPECT_FALSE(parseReadTarget(u"251").ok());
    EXPECT_FALSE(parseReadTarget(u"").ok());
    EXPECT_FALSE(parseReadTarget(u"12G45678").ok());
    const ReadTarget t = parseReadTarget(u"12345678 2C2D 08 04").value();
    EXPECT_TRUE(t.secondary);
    EXPECT_EQ(t.address.id, QStringLiteral("12345678"));
    EXPECT_EQ(t.address.manufacturer, kKam);
}

TEST(MbusMeterBusSim, RequestsInPiecesAndBadSumsIgnored) {
    MbusMeterBus bus = threeMeters();
    const QByteArray req = reqUd2(5, true);
    EXPECT_TRUE(bus.write(req.left(2)).isEmpty());
    const QByteArray reply = bus.write(req.mid(2));
    const Telegram t = decodeTelegram(reply);
    EXPECT_TRUE(t.ok());
    EXPECT_EQ(t.header.id, QStringLiteral("12345679"));
    EXPECT_EQ(t.frame.a, 5);
    EXPECT_TRUE(bus.write(hex("10 40 05 44 16")).isEmpty());  // wrong sum: no answer
    EXPECT_TRUE(bus.write(sndNke(0xFF)).isEmpty());           // broadcast without answers
    EXPECT_EQ(bus.write(sndNke(0xFE)), hex("E5 E5 E5"));      // every meter answers
    // Two long frames on top of each other: no valid frame comes out.
    SecondaryAddress mask;
    mask.id = QStringLiteral("1234567F");
    EXPECT_EQ(bus.write(selectSecondary(mask)), hex("E5 E5"));
    EXPECT_EQ(checkReply(bus.write(reqUd2(kSelectedAddress, true))).kind, ReplyKind::Garbled);
}
