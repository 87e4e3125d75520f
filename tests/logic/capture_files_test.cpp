// The text log and the BIN file: byte-exact formats, streaming of large captures, safe replacement.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>

#include <QBuffer>
#include <QDir>
#include <QFile>

#include "core/Codec.h"
#include "terminal/CaptureFiles.h"
#include "tests/common/TempDir.h"

using namespace trelmo;
using trelmo::test::TempDir;

namespace {

// A byte table as a TCP receive path fills it: names in the ASCII column, no parity.
class TcpTable : public CaptureTableSource {
  public:
    explicit TcpTable(QByteArray bytes) : bytes_(std::move(bytes)) {}
    qsizetype gridRowCount() const override { return bytes_.size() + 2; }
    QString cellText(int column, qsizetype row) const override {
        static const char* const heads[] = {"No.", "ASCII", "Hex", "Dec", "Parity"};
        if (row == 0)
            return QString::fromLatin1(heads[column]);
        if (row > bytes_.size())
            return {};
        const auto b = static_cast<uint8_t>(bytes_[row - 1]);
        switch (column) {
            case 0:
                return QString::number(row);
            case 1:
                return ascii(b);
            case 2:
                return QStringLiteral("0x%1")
                    .arg(b, 2, 16, QChar('0'))
                    .toUpper()
                    .replace("0X", "0x");
            case 3:
                return QString::number(b);
            default:
                return {};
        }
    }
    static QString ascii(uint8_t b) {
        static const char* const names[] = {"",      "<SOH>", "<STX>", "<ETX>",
                                            "<EOT>", "<ENQ>", "<ACK>"};
        if (b >= 1 && b <= 6)
            return QString::fromLatin1(names[b]);
        if (b == 13)
            return QStringLiteral("<CR>");
        if (b == 10)
            return QStringLiteral("<LF>");
        return QString(codec::toChar(b));
    }

  private:
    QByteArray bytes_;
};

class Pane : public CapturePaneSource {
  public:
    explicit Pane(QStringList lines) : lines_(std::move(lines)) {}
    qsizetype paneLineCount() const override { return lines_.size(); }
    QString paneLine(qsizetype i) const override { return lines_.at(i); }

  private:
    QStringList lines_;
};

CaptureHeader header() {
    CaptureHeader h;
    h.date = "01.02.2024";
    h.time = "12:34:56";
    h.port = "COM1";
    h.speed = "9600";
    h.dataBits = "8";
    h.parity = "None";
    h.stopBits = "1";
    return h;
}

const QByteArray kHead = "Date: 01.02.2024    Time: 12:34:56\r\nSettings: COM1, 9600, 8, None\r\n";
const QByteArray kHeading = "No.\t|\tASCII\t|\tHex\t|\tDec.\t|\tParity\r\n";
const QByteArray kRule = QByteArray(72, '-') + "|\r\n";
const QByteArray kEmptyRow = "\t|\t\t|\t\t|\t\t|\t\t|\t\r\n";

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

namespace {

// A large text capture: letters with a line break after every 99, the pane lines made on demand.
QByteArray bigCapture(qsizetype n) {
    QByteArray bytes(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = (i % 100 == 99) ? '\n' : static_cast<char>('A' + (i / 100) % 26);
    return bytes;
}

class BigPane : public CapturePaneSource {
  public:
    explicit BigPane(const QByteArray& bytes) : bytes_(bytes) {}
    qsizetype paneLineCount() const override { return bytes_.size() / 100 + 1; }
    QString paneLine(qsizetype i) const override {
        return QString::fromLatin1(bytes_.mid(i * 100, 100)).remove('\n');
    }

  private:
    const QByteArray& bytes_;
};

#if defined(__SANITIZE_ADDRESS__)
#define TRELMO_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRELMO_TEST_ASAN 1
#endif
#endif

#ifdef TRELMO_TEST_ASAN
// Under AddressSanitizer the process size says nothing about what the program holds (freed
// blocks wait in a quarantine, every block has red zones, the shadow memory grows with the
// heap), so the heap is measured from the sanitizer's allocation hooks instead: the highest
// number of bytes live at once since the last reset. The capture is smaller there too, since
// every allocation is slow; the plain build writes the full ten million bytes.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                              void (*)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void*);
}

std::atomic<long long> liveHeap{0};
std::atomic<long long> peakHeap{0};

void onMalloc(const volatile void*, size_t size) {
    const auto added = static_cast<long long>(size);
    const long long now = liveHeap.fetch_add(added) + added;
    long long seen = peakHeap.load();
    while (now > seen && !peakHeap.compare_exchange_weak(seen, now)) {
    }
}
void onFree(const volatile void* p) {
    if (p)
        liveHeap.fetch_sub(static_cast<long long>(__sanitizer_get_allocated_size(p)));
}

// Starts a measurement: returns the live heap, from which the peak is counted.
long long startHeapPeak() {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
    EXPECT_TRUE(installed);
    peakHeap = liveHeap.load();
    return peakHeap.load();
}
long long heapPeakKbSince(long long start) {
    return (peakHeap.load() - start) / 1024;
}
constexpr qsizetype kLargeCapture = 1'000'000;
// A whole text log of a million bytes is over 100 MB and its BIN file 8 MB.
constexpr long kLargeHeapLimitKb = 4 * 1024;
#else
long startHeapPeak() {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}
long heapPeakKbSince(long start) {
    return startHeapPeak() - start;
}
constexpr qsizetype kLargeCapture = 10'000'000;
constexpr long kLargeHeapLimitKb = 64 * 1024;
#endif

QByteArray tailOf(const QString& path, qint64 count) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    f.seek(qMax<qint64>(0, f.size() - count));
    return f.readAll();
}

}  // namespace

TEST(CaptureLarge, TenMillionBytesStreamToDisk) {
    constexpr qsizetype n = kLargeCapture;
    const QByteArray bytes = bigCapture(n);
    const TcpTable table(bytes);
    const BigPane pane(bytes);
    TempDir dir;
    const auto heapBefore = startHeapPeak();

    saveTextLog(dir.path("big.txt"), header(), pane, table, false);
    qint64 expectedSize = kHead.size() + (n / 100) * (99 + 2) + 2 + kHeading.size() + kRule.size();
    for (qsizetype r = 1; r <= n; ++r)
        expectedSize += QString::number(r).size() + TcpTable::ascii(bytes[r - 1]).size() + 4 +
                        QString::number(static_cast<uint8_t>(bytes[r - 1])).size() + 15 + 2 +
                        kRule.size();
    expectedSize += kEmptyRow.size() + kRule.size();
    EXPECT_EQ(QFileInfo(dir.path("big.txt")).size(), expectedSize);
    {
        QFile f(dir.path("big.txt"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray start = f.read(kHead.size() + 202);
        EXPECT_EQ(start, kHead + QByteArray(99, 'A') + "\r\n" + QByteArray(99, 'B') + "\r\n");
    }
#ifdef TRELMO_TEST_ASAN
    const QByteArray lastRows = "999999\t|\tP\t|\t0x50\t|\t80\t|\t\t|\t\r\n" + kRule +
                                "1000000\t|\t<LF>\t|\t0x0A\t|\t10\t|\t\t|\t\r\n";
    const QByteArray lastButOneDigits = "01010000";
#else
    const QByteArray lastRows = "9999999\t|\tD\t|\t0x44\t|\t68\t|\t\t|\t\r\n" + kRule +
                                "10000000\t|\t<LF>\t|\t0x0A\t|\t10\t|\t\t|\t\r\n";
    const QByteArray lastButOneDigits = "01000100";
#endif
    const QByteArray tail = kRule + lastRows + kRule + kEmptyRow + kRule;
    EXPECT_EQ(tailOf(dir.path("big.txt"), tail.size()), tail);
    QFile::remove(dir.path("big.txt"));

    EXPECT_EQ(saveBinFile(dir.path("big.bin"), header(), table), BinSaveResult::Written);
    EXPECT_EQ(QFileInfo(dir.path("big.bin")).size(), kHead.size() + n * 8 + 2);
    EXPECT_EQ(tailOf(dir.path("big.bin"), 18), lastButOneDigits + "00001010" + "\r\n");
    {
        QFile f(dir.path("big.bin"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.read(kHead.size() + 16), kHead + "0100000101000001");
    }
    // Neither save held the file (about 1 GB of text, 80 MB of digits) in memory.
    EXPECT_LT(heapPeakKbSince(heapBefore), kLargeHeapLimitKb);
}
