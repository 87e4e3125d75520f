// The program's M-Bus runs, started as from a shell without a window system: --mbus-decode on
// files of telegrams (and bad input), and --mbus-scan / --mbus-read against three simulated
// meters behind a pseudo-terminal.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <set>

#include "tests/common/MbusPtyBus.h"
#include "tests/common/TempDir.h"
#include "tests/mbus/MbusMeters.h"

using namespace trelmo::test;

namespace {

struct ProgramRun {
    int code = -1;
    QByteArray out;
    QByteArray err;
    QList<QByteArray> lines() const {
        QList<QByteArray> l = out.split('\n');
        if (!l.isEmpty() && l.last().isEmpty())
            l.removeLast();
        return l;
    }
};

// Runs the program without any window system (no display, no platform named), feeding
// `input` to its standard input.
ProgramRun run(const QStringList& arguments, const QByteArray& input = QByteArray()) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    program.setProcessEnvironment(env);
    program.start(TRELMO_PROGRAM, arguments);
    ProgramRun r;
    if (!program.waitForStarted(30000)) {
        ADD_FAILURE() << "the program did not start";
        return r;
    }
    program.write(input);
    program.closeWriteChannel();
    if (!program.waitForFinished(120000)) {
        program.kill();
        program.waitForFinished(30000);
        ADD_FAILURE() << "the program did not end";
        return r;
    }
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    r.code = program.exitCode();
    r.out = program.readAllStandardOutput();
    r.err = program.readAllStandardError();
    return r;
}

QJsonObject object(const QByteArray& line) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    EXPECT_TRUE(doc.isObject()) << line.toStdString();
    return doc.object();
}

// "68 1B 1B 68 ..." in lower case, as someone types it.
QByteArray spacedLower(const QByteArray& bytes) {
    return bytes.toHex(' ');
}

}  // namespace

TEST(MbusCommandLine, DecodeWritesOneJsonLinePerTelegram) {
    TempDir dir;
    const QByteArray water = replyOf(waterMeter());
    const QByteArray heat = replyOf(heatMeter());
    dir.write("telegrams.txt",
              spacedLower(water) + "\n\n  " + heat.toHex().toUpper() + "  \r\nE5\n\n");
    const ProgramRun r = run({"--mbus-decode", dir.path("telegrams.txt")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    const QList<QByteArray> lines = r.lines();
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();

    const QJsonObject first = object(lines[0]);
    EXPECT_EQ(first["hex"].toString(), hexText(water));
    EXPECT_EQ(first["telegram"].toInt(), 1);
    EXPECT_EQ(first["frame"].toObject()["type"].toString(), "long");
    EXPECT_TRUE(first["frame"].toObject()["checksum_ok"].toBool());
    const QJsonObject header = first["header"].toObject();
    EXPECT_EQ(header["id"].toString(), "12345670");
    EXPECT_EQ(header["manufacturer"].toString(), "ABC");
    EXPECT_EQ(header["medium"].toInt(), 7);
    const QJsonArray records = first["records"].toArray();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].toObject()["quantity"].toString(), "Volume");
    EXPECT_DOUBLE_EQ(records[0].toObject()["value"].toDouble(), 12.345);
    EXPECT_EQ(records[0].toObject()["unit"].toString(), QString::fromUtf8("m³"));
    EXPECT_TRUE(first["errors"].toArray().isEmpty());

    const QJsonObject second = object(lines[1]);
    EXPECT_EQ(second["hex"].toString(), hexText(heat));
    EXPECT_EQ(second["header"].toObject()["status_text"].toArray().size(), 2);
    const QJsonObject third = object(lines[2]);
    EXPECT_EQ(third["frame"].toObject()["type"].toString(), "ack");
    EXPECT_EQ(third["telegram"].toInt(), 3);

    // Standard input, for a pipe.
    const ProgramRun piped = run({"--mbus-decode", "-"}, water.toHex() + "\n");
    EXPECT_EQ(piped.code, 0) << piped.err.toStdString();
    ASSERT_EQ(piped.lines().size(), 1);
    EXPECT_EQ(piped.lines()[0], lines[0]);
}

TEST(MbusCommandLine, DecodeTellsWhatCouldNotBeDecoded) {
    TempDir dir;
    const QByteArray water = replyOf(waterMeter());
    QByteArray broken = water;
    broken[broken.size() - 2] = static_cast<char>(broken[broken.size() - 2] + 1);
    dir.write("bad.txt", water.toHex() + "\n680 A0\n" + broken.toHex() + "\n");
    const ProgramRun r = run({"--mbus-decode", dir.path("bad.txt")});
    EXPECT_EQ(r.code, 1);
    // The good telegram and the one with a wrong check sum are written; the odd digits are
    // not a telegram at all.
    const QList<QByteArray> lines = r.lines();
    ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
    EXPECT_EQ(object(lines[0])["telegram"].toInt(), 1);
    const QJsonObject bad = object(lines[1]);
    EXPECT_EQ(bad["telegram"].toInt(), 3);
    EXPECT_FALSE(bad["frame"].toObject()["checksum_ok"].toBool());
    EXPECT_FALSE(bad["errors"].toArray().isEmpty());
    EXPECT_TRUE(
        r.err.contains("bad.txt:2: telegram 2 is not hex: odd number of hex digits in "
                       "'680'"))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("bad.txt:3: telegram 3 could not be decoded: byte "))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("check sum")) << r.err.toStdString();

    // No file: a usage mistake.
    const ProgramRun missing = run({"--mbus-decode", dir.path("none.txt")});
    EXPECT_EQ(missing.code, 2);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_TRUE(missing.err.contains("cannot read")) << missing.err.toStdString();
    const ProgramRun noName = run({"--mbus-decode"});
    EXPECT_EQ(noName.code, 2);
    EXPECT_FALSE(noName.err.isEmpty());
    // Other mistakes, told without a window system too.
    for (const QStringList& wrong :
         {QStringList{"--mbus-scan", "tertiary", "--port", "/dev/null"},
          QStringList{"--mbus-scan", "primary"}, QStringList{"--mbus-read", "251", "--port", "x"},
          QStringList{"--mbus-read", "1234567A", "--port", "x"},
          QStringList{"--mbus-decode", "a", "--mbus-read", "1", "--port", "x"},
          QStringList{"--mbus-decode", "a", "--mbus-timeout", "10"}}) {
        const ProgramRun w = run(wrong);
        EXPECT_EQ(w.code, 2) << wrong.join(' ').toStdString();
        EXPECT_TRUE(w.err.endsWith("See --help.\n")) << w.err.toStdString();
    }
    // --help lists the three runs.
    const ProgramRun help = run({"--help"});
    for (const char* option : {"--mbus-decode", "--mbus-scan", "--mbus-read"})
        EXPECT_TRUE(help.out.contains(option)) << option;
}

TEST(MbusCommandLine, PrimaryScanFindsExactlyTheMeters) {
    MbusPtyBus bus(threeMeters());
    ASSERT_TRUE(bus.Ok());
    const ProgramRun r = run({"--port", bus.SlavePath(), "--speed", "115200", "--mbus-scan",
                              "primary", "--mbus-timeout", "60"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(
        r.lines(),
        QList<QByteArray>(
            {R"({"address": 5, "id": "12345670", "manufacturer": "ABC", "version": 1, "medium": 7})",
             R"({"address": 17, "id": "12345671", "manufacturer": "KAM", "version": 8, "medium": 4})",
             R"({"address": 250, "id": "40000001", "manufacturer": "SON", "version": 13, "medium": 2})"}))
        << r.out.toStdString() << r.err.toStdString();
    // Every primary address was asked, then each meter that answered.
    EXPECT_EQ(bus.requests(), 251 + 3);
}

TEST(MbusCommandLine, SecondaryScanTellsApartIdsThatDifferInTheLastDigit) {
    MbusPtyBus bus(threeMeters());
    ASSERT_TRUE(bus.Ok());
    const ProgramRun r = run({"--port", bus.SlavePath(), "--speed", "9600", "--mbus-scan",
                              "secondary", "--mbus-timeout", "60"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    std::set<QByteArray> lines;
    for (const QByteArray& line : r.lines())
        lines.insert(line);
    EXPECT_EQ(
        lines,
        std::set<QByteArray>(
            {R"({"address": 5, "id": "12345670", "manufacturer": "ABC", "version": 1, "medium": 7})",
             R"({"address": 17, "id": "12345671", "manufacturer": "KAM", "version": 8, "medium": 4})",
             R"({"address": 250, "id": "40000001", "manufacturer": "SON", "version": 13, "medium": 2})"}))
        << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(r.lines().size(), 3);
    // How the scan got there: notes on standard error.
    EXPECT_TRUE(r.err.contains("several meters answer")) << r.err.toStdString();
}

TEST(MbusCommandLine, ReadPrintsEveryTelegramOfTheReply) {
    MbusPtyBus bus(threeMeters());
    ASSERT_TRUE(bus.Ok());
    const int records[3] = {3, 2, 2};  // the first two end with the 0x1F record
    for (const QString& address : {QStringLiteral("250"), QStringLiteral("400000014DEE0D02")}) {
        const ProgramRun r =
            run({"--port", bus.SlavePath(), "--speed", "2400", "--mbus-read", address});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        const QList<QByteArray> lines = r.lines();
        ASSERT_EQ(lines.size(), 3) << address.toStdString() << r.out.toStdString();
        for (int i = 0; i < 3; ++i) {
            const QJsonObject t = object(lines[i]);
            EXPECT_EQ(t["telegram"].toInt(), i + 1);
            EXPECT_EQ(t["header"].toObject()["id"].toString(), "40000001");
            EXPECT_EQ(t["more_records_follow"].toBool(), i < 2) << i;
            EXPECT_EQ(t["records"].toArray().size(), records[i]) << i;
        }
    }

    // A meter that is not there: exit 1 and why.
    const ProgramRun absent = run(
        {"--port", bus.SlavePath(), "--speed", "9600", "--mbus-read", "9", "--mbus-timeout", "50"});
    EXPECT_EQ(absent.code, 1);
    EXPECT_TRUE(absent.out.isEmpty());
    EXPECT_TRUE(absent.err.contains("no reply")) << absent.err.toStdString();
    // A port that does not open: exit 1 and why.
    const ProgramRun noPort = run({"--port", "/dev/trelmo-no-such-port", "--mbus-scan", "primary"});
    EXPECT_EQ(noPort.code, 1);
    EXPECT_TRUE(noPort.err.contains("Cannot open /dev/trelmo-no-such-port"))
        << noPort.err.toStdString();
}
