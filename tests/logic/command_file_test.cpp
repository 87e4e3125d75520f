// Command files: reading every line ending, writing CR LF after each command, safe replacement.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>

#include "core/commands/CommandFile.h"
#include "tests/common/TempDir.h"

using namespace trelmo;
using trelmo::test::TempDir;

TEST(CommandFileRead, EveryLineEndingEndsALine) {
    const QStringList abc{"AT", "B", "C"};
    EXPECT_EQ(splitCommandLines("AT\r\nB\r\nC\r\n"), abc);
    EXPECT_EQ(splitCommandLines("AT\nB\nC\n"), abc);
    EXPECT_EQ(splitCommandLines("AT\rB\rC\r"), abc);
    EXPECT_EQ(splitCommandLines("AT\r\nB\nC\r"), abc);
    // The last line without a break is still a command.
    EXPECT_EQ(splitCommandLines("AT\r\nB\r\nC"), abc);
    EXPECT_EQ(splitCommandLines("AT"), QStringList{"AT"});
    // LF CR is two breaks: an empty command between them.
    EXPECT_EQ(splitCommandLines("A\n\rB"), (QStringList{"A", "", "B"}));
}

TEST(CommandFileRead, EmptyLinesInsideAreEmptyCommands) {
    EXPECT_EQ(splitCommandLines("AT\r\n\r\n#01#02\r\n"), (QStringList{"AT", "", "#01#02"}));
    EXPECT_EQ(splitCommandLines("\r\n\r\n"), (QStringList{"", ""}));
    EXPECT_EQ(splitCommandLines("\n"), QStringList{""});
    EXPECT_TRUE(splitCommandLines("").isEmpty());
    EXPECT_EQ(splitCommandLines("a\r\r\nb"), (QStringList{"a", "", "b"}));
}

TEST(CommandFileRead, TxtAndCsvReadAlikeLinesTakenWhole) {
    TempDir dir;
    const QByteArray contents = "01,02\r\n\"a\",b;c\r\n";
    dir.write("cmds.csv", contents);
    dir.write("cmds.txt", contents);
    const QStringList expected{"01,02", "\"a\",b;c"};
    EXPECT_EQ(readCommandFile(dir.path("cmds.csv")), expected);
    EXPECT_EQ(readCommandFile(dir.path("cmds.txt")), expected);
}

TEST(CommandFileRead, BytesAreWindows1252AndNulIsKept) {
    const QStringList cmds = splitCommandLines(QByteArray("a\0b\r\n\x80\xE9", 7));
    ASSERT_EQ(cmds.size(), 2);
    EXPECT_EQ(cmds[0], QString(QChar('a')) + QChar(0) + QChar('b'));
    EXPECT_EQ(cmds[1], QStringLiteral("\u20AC\u00E9"));
}

TEST(CommandFileRead, MissingFileThrowsWithItsName) {
    TempDir dir;
    try {
        readCommandFile(dir.path("absent.txt"));
        FAIL() << "no exception";
    } catch (const ETextFileError& e) {
        EXPECT_TRUE(e.message().contains("absent.txt")) << e.what();
    }
}

TEST(CommandFileRead, HugeInputsLoadWhole) {
    TempDir dir;
    // One line of a megabyte, between two short ones.
    QByteArray big(1 << 20, 'x');
    big[12345] = 'y';
    dir.write("big.txt", "first\r\n" + big + "\r\nlast");
    const QStringList bigCmds = readCommandFile(dir.path("big.txt"));
    ASSERT_EQ(bigCmds.size(), 3);
    EXPECT_EQ(bigCmds[1].size(), 1 << 20);
    EXPECT_EQ(bigCmds[1].at(12345), QChar('y'));
    EXPECT_EQ(bigCmds[2], QStringLiteral("last"));

    // A million lines, mixed endings.
    QByteArray many;
    for (int i = 0; i < 1000000; ++i) {
        many += QByteArray::number(i);
        many += (i % 3 == 0) ? "\r\n" : (i % 3 == 1 ? "\n" : "\r");
    }
    dir.write("many.txt", many);
    const QStringList manyCmds = readCommandFile(dir.path("many.txt"));
    ASSERT_EQ(manyCmds.size(), 1000000);
    EXPECT_EQ(manyCmds.first(), QStringLiteral("0"));
    EXPECT_EQ(manyCmds.at(500001), QStringLiteral("500001"));
    EXPECT_EQ(manyCmds.last(), QStringLiteral("999999"));
}

TEST(CommandFileWrite, EveryCommandEndsWithCrLf) {
    EXPECT_EQ(joinCommandLines({"AT", "", "#01#02"}), QByteArray("AT\r\n\r\n#01#02\r\n"));
    EXPECT_EQ(joinCommandLines({}), QByteArray());
    EXPECT_EQ(joinCommandLines({QStringLiteral("\u20AC\u4E2D")}), QByteArray("\x80?\r\n"));

    TempDir dir;
    writeCommandFile(dir.path("out.txt"), {"AT", "", "#01#02"});
    EXPECT_EQ(dir.read("out.txt"), QByteArray("AT\r\n\r\n#01#02\r\n"));
    // An existing file is replaced, not appended to.
    writeCommandFile(dir.path("out.txt"), {"X"});
    EXPECT_EQ(dir.read("out.txt"), QByteArray("X\r\n"));
}

TEST(CommandFileWrite, SaveThenReadRestoresTheList) {
    TempDir dir;
    QStringList list{"AT#0D#0A",
                     "",
                     "01,02",
                     "AT",
                     "AT",
                     QStringLiteral("\u00E9t\u00E9"),
                     QString(QChar(0)) + "z"};
    for (int i = 0; i < 70000; ++i)
        list.append(QStringLiteral("cmd %1").arg(i));
    list.append(QString());
    list.append("end");
    writeCommandFile(dir.path("list.txt"), list);
    EXPECT_EQ(readCommandFile(dir.path("list.txt")), list);
    // A list whose last command is empty keeps it: its CR LF is the last line break.
    writeCommandFile(dir.path("tail.txt"), {"a", ""});
    EXPECT_EQ(readCommandFile(dir.path("tail.txt")), (QStringList{"a", ""}));
}

TEST(CommandFileWrite, FailedSaveKeepsTheOldFile) {
    TempDir dir;
    const QByteArray old = "old 1\r\nold 2\r\n";
    dir.write("keep.txt", old);

    // The target's folder does not exist: refused, nothing created.
    EXPECT_THROW(writeCommandFile(dir.path("no/such/dir.txt"), {"a"}), ETextFileError);

    // Writing fails half way (file size limit reached): the old file stays as it was and no
    // temporary file is left in the folder.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QStringList many;
    for (int i = 0; i < 20000; ++i)
        many.append(QStringLiteral("command number %1").arg(i));
    bool threw = false;
    try {
        writeCommandFile(dir.path("keep.txt"), many);
    } catch (const ETextFileError& e) {
        threw = true;
        EXPECT_TRUE(e.message().contains("keep.txt")) << e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(dir.read("keep.txt"), old);
    EXPECT_EQ(QDir(dir.root()).entryList(QDir::Files), QStringList{"keep.txt"});
}
