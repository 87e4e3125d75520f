// The private-profile INI reader and writer.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include "core/Convert.h"
#include "core/IniFile.h"
#include "tests/common/TempDir.h"

using trelmo::IniFile;
using trelmo::IniWriteError;
using trelmo::test::TempDir;

namespace {

const QByteArray kSample =
    "; settings of the terminal\r\n"
    "[Com port]\r\n"
    "Number = COM3 \r\n"
    "Speed, bps=19200\r\n"
    "; a comment between keys\r\n"
    "Parity=Even\r\n"
    "\r\n"
    "[Misc]\r\n"
    "Delay=0x1F\r\n"
    "Data in hex=1\r\n"
    "[Other]\r\n"
    "Keep=me\r\n";

}  // namespace

TEST(IniFileRead, MissingFileGivesEveryDefault) {
    TempDir dir;
    IniFile ini(dir.path("absent.ini"));
    EXPECT_EQ(ini.readString("Com port", "Number", "dflt"), "dflt");
    EXPECT_EQ(ini.readInteger("Misc", "Delay", 42), 42);
    EXPECT_TRUE(ini.readBool("Misc", "Calc crc", true));
    EXPECT_FALSE(ini.valueExists("Com port", "Number"));
    EXPECT_FALSE(dir.exists("absent.ini"));  // reading creates nothing
}

TEST(IniFileRead, SectionsAndKeysIgnoreCaseAndBlanks) {
    TempDir dir;
    dir.write("s.ini", kSample);
    IniFile ini(dir.path("s.ini"));
    EXPECT_EQ(ini.readString("COM PORT", "number", "x"), "COM3");
    EXPECT_EQ(ini.readString("com port", "  Speed, BPS ", "x"), "19200");
    EXPECT_EQ(ini.readString("Com port", "Parity", "x"), "Even");
    // A key of another section is not found in this one.
    EXPECT_EQ(ini.readString("Com port", "Delay", "none"), "none");
    EXPECT_EQ(ini.readString("Other", "Keep", "x"), "me");
    // A comment line is not a key.
    EXPECT_FALSE(ini.valueExists("Com port", "; a comment between keys"));
}

TEST(IniFileRead, IntegersAndBooleans) {
    TempDir dir;
    dir.write("n.ini",
              "[N]\nhex=0x1F\nHEX=0X10\nbare=0x\nneg=-5\nblank= 42 \nword=fast\nmixed=12ab\n"
              "empty=\ndollar=$FF\nbig=99999999999\nzero=0\ntwo=2\nminus=-1\n");
    IniFile ini(dir.path("n.ini"));
    EXPECT_EQ(ini.readInteger("N", "hex", -1), 31);
    EXPECT_EQ(ini.readInteger("N", "Hex", -1), 31);  // the first of two equal keys wins
    EXPECT_EQ(ini.readInteger("N", "bare", -7), -7);
    EXPECT_EQ(ini.readInteger("N", "neg", 0), -5);
    EXPECT_EQ(ini.readInteger("N", "blank", 0), 42);
    EXPECT_EQ(ini.readInteger("N", "word", 9), 9);
    EXPECT_EQ(ini.readInteger("N", "mixed", 9), 9);
    EXPECT_EQ(ini.readInteger("N", "empty", 9), 9);
    EXPECT_EQ(ini.readInteger("N", "dollar", 7), 7);  // "$" marks no hexadecimal
    EXPECT_EQ(ini.readInteger("N", "big", 3), 3);
    EXPECT_FALSE(ini.readBool("N", "zero", true));
    EXPECT_TRUE(ini.readBool("N", "two", false));
    EXPECT_TRUE(ini.readBool("N", "minus", false));
    EXPECT_FALSE(ini.readBool("N", "word", false));
    EXPECT_TRUE(ini.readBool("N", "word", true));
    EXPECT_EQ(trelmo::StrToIntDef("0x10", 0), 16);
    EXPECT_EQ(trelmo::StrToIntDef("0xZZ", 5), 5);
}

TEST(IniFileRead, ValuesAreCutAtTheReadLimitAndHugeFilesDoNotHang) {
    TempDir dir;
    QByteArray longValue(100000, 'a');
    longValue[2046] = 'b';
    longValue[2047] = 'c';
    dir.write("l.ini", "[S]\nlong=" + longValue + "\nafter=1\n");
    IniFile ini(dir.path("l.ini"));
    const QString v = ini.readString("S", "long", "");
    ASSERT_EQ(v.size(), IniFile::kReadLimit);
    EXPECT_EQ(v.back(), QChar('b'));
    EXPECT_EQ(ini.readInteger("S", "after", 0), 1);
}

TEST(IniFileRead, RandomBytesReadAsDefaultsOrValuesWithoutCrashing) {
    TempDir dir;
    QRandomGenerator gen(1234);
    for (int round = 0; round < 20; ++round) {
        QByteArray junk(64 * 1024, '\0');
        for (auto& c : junk)
            c = char(gen.bounded(256));
        dir.write("r.ini", junk);
        IniFile ini(dir.path("r.ini"));
        const QString v = ini.readString("Com port", "Number", "dflt");
        EXPECT_LE(v.size(), IniFile::kReadLimit);
        ini.writeString("Com port", "Number", "COM7");
        IniFile again(dir.path("r.ini"));
        EXPECT_EQ(again.readString("Com port", "Number", ""), "COM7");
    }
}

TEST(IniFileRead, TextIsDecodedWithTheEightBitCodePage) {
    TempDir dir;
    dir.write("c.ini", "[S]\nk=\xE9t\xE9 \x80\n");  // "été €" in Windows-1252
    IniFile ini(dir.path("c.ini"));
    EXPECT_EQ(ini.readString("S", "k", ""), QString::fromUtf8("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC"));
    ini.writeString("S", "k", QString::fromUtf8("\xC3\xBC"));  // "ü"
    EXPECT_EQ(dir.read("c.ini"), QByteArray("[S]\r\nk=\xFC\r\n"));
}

TEST(IniFileWrite, UpdatesInPlaceAndKeepsEverythingElse) {
    TempDir dir;
    dir.write("s.ini", kSample);
    IniFile ini(dir.path("s.ini"));
    ini.writeString("com PORT", "SPEED, bps", "115200");
    QByteArray expected = kSample;
    expected.replace("Speed, bps=19200", "SPEED, bps=115200");
    EXPECT_EQ(dir.read("s.ini"), expected);

    // A new key goes after the section's last key, before the blank line and next section.
    ini.writeString("Com port", "Stop bits", "2");
    expected.replace("Parity=Even\r\n", "Parity=Even\r\nStop bits=2\r\n");
    EXPECT_EQ(dir.read("s.ini"), expected);

    // A new section goes at the end.
    ini.writeInteger("TCPConn", "Timeout", 30);
    expected += "\r\n[TCPConn]\r\nTimeout=30\r\n";
    EXPECT_EQ(dir.read("s.ini"), expected);

    ini.writeBool("Misc", "Data in hex", false);
    expected.replace("Data in hex=1", "Data in hex=0");
    EXPECT_EQ(dir.read("s.ini"), expected);

    // The same object reads what it wrote, and the lines its inserts moved.
    EXPECT_EQ(ini.readString("Com port", "Stop bits", ""), "2");
    EXPECT_EQ(ini.readString("Com port", "Parity", ""), "Even");
    EXPECT_EQ(ini.readInteger("Misc", "Delay", 0), 0x1F);
    EXPECT_FALSE(ini.readBool("Misc", "Data in hex", true));
    EXPECT_EQ(ini.readString("Other", "Keep", ""), "me");
    EXPECT_EQ(ini.readInteger("TCPConn", "Timeout", 0), 30);
    EXPECT_FALSE(ini.valueExists("TCPConn", "Stop bits"));

    // The written file reads back through a fresh object.
    IniFile back(dir.path("s.ini"));
    EXPECT_EQ(back.readInteger("Com port", "Speed, bps", 0), 115200);
    EXPECT_EQ(back.readString("Other", "Keep", ""), "me");
}

TEST(IniFileWrite, CreatesAMissingFileAndKeepsOneKeyOnOneLine) {
    TempDir dir;
    IniFile ini(dir.path("new.ini"));
    ini.writeString("A", "k", "line1\nline2");
    ini.writeString("A", "j", "  padded  ");
    ini.writeString("B", "x", "1");
    EXPECT_EQ(dir.read("new.ini"),
              QByteArray("[A]\r\nk=line1 line2\r\nj=  padded  \r\n\r\n[B]\r\nx=1\r\n"));
    IniFile back(dir.path("new.ini"));
    EXPECT_EQ(back.readString("A", "j", ""), "padded");
    EXPECT_EQ(back.readString("A", "k", ""), "line1 line2");
}

TEST(IniFileWrite, AFileWithoutFinalLineEndKeepsItsLastLine) {
    TempDir dir;
    dir.write("t.ini", "[A]\nk=1\n[B]\nlast=2");
    IniFile ini(dir.path("t.ini"));
    ini.writeString("A", "k", "3");
    EXPECT_EQ(dir.read("t.ini"), QByteArray("[A]\r\nk=3\r\n[B]\r\nlast=2"));
}

TEST(IniFileWrite, FailureIsReported) {
    TempDir dir;
    // A folder that does not exist cannot take the file.
    IniFile missingFolder(dir.path("gone/t.ini"));
    EXPECT_THROW(missingFolder.writeString("A", "k", "v"), IniWriteError);
    // Nor can a path that is a folder.
    QDir(dir.root()).mkdir("folder.ini");
    IniFile folder(dir.path("folder.ini"));
    EXPECT_THROW(folder.writeString("A", "k", "v"), IniWriteError);
}

TEST(IniFileWrite, ReadOnlyFileIsReported) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    TempDir dir;
    dir.write("ro.ini", "[A]\nk=1\n");
    QFile::setPermissions(dir.path("ro.ini"), QFile::ReadOwner);
    IniFile ini(dir.path("ro.ini"));
    EXPECT_THROW(ini.writeString("A", "k", "2"), IniWriteError);
    EXPECT_EQ(dir.read("ro.ini"), QByteArray("[A]\nk=1\n"));
}

TEST(IniFileWrite, TenMegabyteFileKeepsItsContent) {
    TempDir dir;
    QByteArray big = "[Com port]\r\nNumber=COM1\r\n[Filler]\r\n";
    const QByteArray line = "k=" + QByteArray(100, 'x') + "\r\n";
    while (big.size() < 10 * 1024 * 1024)
        big += line;
    dir.write("big.ini", big);
    IniFile ini(dir.path("big.ini"));
    for (int i = 0; i < 15; ++i)
        ini.writeInteger("Com port", "Number", i);
    QByteArray expected = big;
    expected.replace("Number=COM1", "Number=14");
    EXPECT_EQ(dir.read("big.ini"), expected);
}

TEST(IniFileWrite, HeldWritesReachTheDiskOnlyOnCommit) {
    TempDir dir;
    dir.write("a.ini", "[S]\r\nk=old\r\n");
    IniFile ini(dir.path("a.ini"));
    ini.holdWrites();
    ini.writeString("S", "k", "new");
    ini.writeInteger("T", "n", 5);
    EXPECT_EQ(dir.read("a.ini"), QByteArray("[S]\r\nk=old\r\n"));
    ini.commit();
    EXPECT_EQ(dir.read("a.ini"), QByteArray("[S]\r\nk=new\r\n\r\n[T]\r\nn=5\r\n"));
    // A commit that cannot write throws.
    IniFile gone(dir.path("missing/a.ini"));
    gone.holdWrites();
    gone.writeString("S", "k", "v");
    EXPECT_THROW(gone.commit(), IniWriteError);
}
