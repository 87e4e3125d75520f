// A capture of ten million bytes streamed to disk as the text log (about 1 GB) and as the BIN
// file (80 MB): the files are exact and neither save holds them in memory.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>

#include "core/capture/CaptureFiles.h"
#include "tests/common/CaptureSamples.h"
#include "tests/common/Sanitizers.h"
#include "tests/common/TempDir.h"

using namespace trelmo;
using namespace trelmo::test;

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
    // A table row is its number, its byte's ASCII, Hex (4) and Dec cells, the separators (15),
    // CR LF and a rule. The numbers' digits are added up by their length and the cells by byte
    // value: adding up ten million rows one by one would cost more than the save.
    qint64 rowNumberDigits = 0;
    for (qint64 first = 1, digits = 1; first <= n; first *= 10, ++digits)
        rowNumberDigits += (std::min<qint64>(n, first * 10 - 1) - first + 1) * digits;
    qint64 bytesOfValue[256] = {};
    for (const char b : bytes)
        ++bytesOfValue[static_cast<uint8_t>(b)];
    qint64 cellChars = 0;
    for (int b = 0; b < 256; ++b)
        if (bytesOfValue[b] > 0)
            cellChars +=
                bytesOfValue[b] * (TcpTable::ascii(uint8_t(b)).size() + QString::number(b).size());
    qint64 expectedSize = kHead.size() + (n / 100) * (99 + 2) + 2 + kHeading.size() + kRule.size();
    expectedSize += rowNumberDigits + cellChars + n * (4 + 15 + 2 + kRule.size());
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
