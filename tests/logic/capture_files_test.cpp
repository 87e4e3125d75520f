// The text log and the BIN file: byte-exact formats, safe replacement. (A capture of ten million
// bytes streamed to disk is a soak case.)
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QBuffer>
#include <QDir>
#include <QFile>

#include "core/Codec.h"
#include "core/capture/CaptureFiles.h"
#include "tests/common/CaptureSamples.h"
#include "tests/common/TempDir.h"

using namespace trelmo;
using namespace trelmo::test;

namespace {

class Pane : public CapturePaneSource {
  public:
    explicit Pane(QStringList lines) : lines_(std::move(lines)) {}
    qsizetype paneLineCount() const override { return lines_.size(); }
    QString paneLine(qsizetype i) const override { return lines_.at(i); }

  private:
    QStringList lines_;
};

}  // namespace

TEST(CaptureTextLog, TextModeWritesHeaderPaneAndTable) {
    TempDir dir;
    saveTextLog(dir.path("log.txt"), header(), Pane({"AB"}), TcpTable("AB"), false);
    const QByteArray expected = kHead + "AB\r\n" + kHeading + kRule +
                                "1\t|\tA\t|\t0x41\t|\t65\t|\t\t|\t\r\n" + kRule +
                                "2\t|\tB\t|\t0x42\t|\t66\t|\t\t|\t\r\n" + kRule + kEmptyRow + kRule;
    EXPECT_EQ(dir.read("log.txt"), expected);
}

TEST(CaptureTextLog, ReceivedTabIsNotDoubledAndNamesStay) {
    TempDir dir;
    const QByteArray bytes("\t\r\x80", 3);
    saveTextLog(dir.path("tab.txt"), header(), Pane({QStringLiteral("\t<CR>\u20AC")}),
                TcpTable(bytes), false);
    const QByteArray expected =
        kHead + "\t<CR>\x80\r\n" + kHeading + kRule + "1\t|\t\t|\t0x09\t|\t9\t|\t\t|\t\r\n" +
        kRule + "2\t|\t<CR>\t|\t0x0D\t|\t13\t|\t\t|\t\r\n" + kRule +
        "3\t|\t\x80\t|\t0x80\t|\t128\t|\t\t|\t\r\n" + kRule + kEmptyRow + kRule;
    EXPECT_EQ(dir.read("tab.txt"), expected);
}

TEST(CaptureTextLog, HexModeEndsWithThePaneLines) {
    TempDir dir;
    saveTextLog(dir.path("hex.txt"), header(), Pane({"0x41 0x42 ", "", "0x0A 0x43 "}),
                TcpTable("AB\nC"), true);
    EXPECT_EQ(dir.read("hex.txt"), kHead + "0x41 0x42 \r\n\r\n0x0A 0x43 \r\n");
}

TEST(CaptureTextLog, AfterClearOnlyHeaderHeadingRuleAndEmptyRow) {
    TempDir dir;
    saveTextLog(dir.path("clear.txt"), header(), Pane({}), TcpTable(""), false);
    EXPECT_EQ(dir.read("clear.txt"), kHead + kHeading + kRule + kEmptyRow + kRule);
    saveTextLog(dir.path("clearhex.txt"), header(), Pane({}), TcpTable(""), true);
    EXPECT_EQ(dir.read("clearhex.txt"), kHead);
}

TEST(CaptureTextLog, PiecesAndCharacterSet) {
    EXPECT_EQ(captureDateLine(header()), QStringLiteral("Date: 01.02.2024    Time: 12:34:56"));
    EXPECT_EQ(captureSettingsLine(header()), QStringLiteral("Settings: COM1, 9600, 8, None"));
    EXPECT_EQ(captureTableRule().size(), 73);
    EXPECT_EQ(captureRowLine(TcpTable("A"), 0),
              QStringLiteral("No.\t|\tASCII\t|\tHex\t|\tDec\t|\tParity\t|\t"));
    // Pane text outside the code page is written as '?'.
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    writeTextLog(out, header(), Pane({QStringLiteral("\u4E2D\u00E9")}), TcpTable(""), true);
    EXPECT_EQ(out.data(), kHead + "?\xE9\r\n");
}

TEST(CaptureBin, EightDigitsPerByteFromTheHexCell) {
    TempDir dir;
    EXPECT_EQ(saveBinFile(dir.path("a.bin"), header(), TcpTable("\x41\x0D")),
              BinSaveResult::Written);
    EXPECT_EQ(dir.read("a.bin"), kHead + "0100000100001101\r\n");

    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    saveBinFile(dir.path("all.bin"), header(), TcpTable(all));
    const QByteArray file = dir.read("all.bin");
    ASSERT_TRUE(file.startsWith(kHead));
    const QByteArray digits = file.mid(kHead.size());
    ASSERT_EQ(digits.size(), 256 * 8 + 2);
    EXPECT_TRUE(digits.endsWith("\r\n"));
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(digits.mid(b * 8, 8).toInt(nullptr, 2), b) << b;

    EXPECT_EQ(binaryDigitsOfHexCell("0xFF"), QStringLiteral("11111111"));
    EXPECT_EQ(binaryDigitsOfHexCell("0xa5"), QStringLiteral("10100101"));
    for (const char* bad : {"", "41", "0x4", "0x4G", "0x123", "1x41"})
        EXPECT_THROW(binaryDigitsOfHexCell(bad), ECaptureError) << bad;
}

TEST(CaptureBin, NothingReceivedWritesNothing) {
    TempDir dir;
    EXPECT_EQ(saveBinFile(dir.path("none.bin"), header(), TcpTable("")),
              BinSaveResult::NothingReceived);
    EXPECT_FALSE(dir.exists("none.bin"));
    // An existing file of that name is not touched either.
    dir.write("old.bin", "old");
    EXPECT_EQ(saveBinFile(dir.path("old.bin"), header(), TcpTable("")),
              BinSaveResult::NothingReceived);
    EXPECT_EQ(dir.read("old.bin"), QByteArray("old"));
}

TEST(CaptureFailures, MalformedTableOrUnwritableTargetKeepsTheOldFile) {
    TempDir dir;
    dir.write("keep.bin", "old bin");
    // A table whose Hex cell is not a byte: the save is refused with a message, file unchanged.
    class BadHex : public TcpTable {
      public:
        BadHex() : TcpTable("AB") {}
        QString cellText(int column, qsizetype row) const override {
            return (column == 2 && row == 2) ? QStringLiteral("zz")
                                             : TcpTable::cellText(column, row);
        }
    };
    try {
        saveBinFile(dir.path("keep.bin"), header(), BadHex());
        FAIL() << "no exception";
    } catch (const ECaptureError& e) {
        EXPECT_TRUE(e.message().contains("zz")) << e.what();
    }
    EXPECT_EQ(dir.read("keep.bin"), QByteArray("old bin"));

    EXPECT_THROW(
        saveTextLog(dir.path("missing/log.txt"), header(), Pane({"A"}), TcpTable("A"), false),
        ECaptureError);

    // The disk fills half way (file size limit): the old log stays, no temporary file is left.
    dir.write("keep.txt", "old log");
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        saveTextLog(dir.path("keep.txt"), header(), Pane({}), TcpTable(QByteArray(20000, 'x')),
                    false);
    } catch (const ECaptureError&) {
        threw = true;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(dir.read("keep.txt"), QByteArray("old log"));
    EXPECT_EQ(QDir(dir.root()).entryList(QDir::Files), (QStringList{"keep.bin", "keep.txt"}));
}
