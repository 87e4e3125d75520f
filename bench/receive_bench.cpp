// Receive throughput: bytes per second through the receive formatter, the pane model and the
// byte table (store and model), in text and hex mode, for the serial and the TCP policy, on
// mixed text with line breaks and some control bytes. Also the pane's and the table's memory
// per received byte, with and without time stamps (64-byte lines), and finding in a 100 MiB
// capture: the first match, counting every match, and the longest slice of the count. With the
// log to file on (raw), each block is also handed to the log writer before it is shown, as the
// receive path does: SerialTextLogged against SerialText.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <memory>
#include <random>

#include "core/capture/LogWriter.h"
#include "core/receive/ByteStore.h"
#include "core/receive/ByteTableModel.h"
#include "core/receive/PaneModel.h"
#include "core/receive/PaneSearch.h"
#include "core/receive/ReceiveFormatter.h"
#include "core/receive/TimeStamps.h"

using namespace trelmo;

namespace {

// Printable text in lines of 0..120 characters, with a CR before most line feeds and an
// occasional STX/ETX or other control byte.
QByteArray mixedText(qsizetype size) {
    std::mt19937 rng(42);
    QByteArray out;
    out.reserve(size);
    while (out.size() < size) {
        const int len = static_cast<int>(rng() % 121);
        for (int i = 0; i < len && out.size() < size; ++i) {
            const unsigned r = rng() % 100;
            out.append(static_cast<char>(r == 0 ? 2 : r == 1 ? 3 : r == 2 ? 0 : 0x20 + rng() % 95));
        }
        if (rng() % 4 != 0)
            out.append('\r');
        out.append('\n');
    }
    out.truncate(size);
    return out;
}

// One capture of `total` bytes, fed in blocks of the policy's size; the models are cleared
// between iterations (outside the timing) so memory stays bounded.
void runCapture(benchmark::State& state, const LinkPolicy& policy, bool hex, bool logged = false) {
    const qsizetype total = 8 * 1024 * 1024;
    const QByteArray data = mixedText(total);
    const qsizetype block = policy.maxBlockBytes;
    const LineParity parity = policy.hasParity ? LineParity::Even : LineParity::None;
    PaneModel pane;
    ByteTableModel table;
    ReceiveFormatter fmt(pane, table);
    QTemporaryDir dir;
    LogWriter log;
    for (auto _ : state) {
        if (logged) {
            state.PauseTiming();
            log.open(dir.filePath(QStringLiteral("bench.log")), LogMode::Raw);
            state.ResumeTiming();
        }
        ReceiveState st;
        for (qsizetype at = 0; at < total; at += block) {
            const QByteArrayView piece =
                QByteArrayView(data).sliced(at, std::min(block, total - at));
            if (logged)
                log.append(piece);
            benchmark::DoNotOptimize(fmt.receiveBlock(st, piece, policy, hex, parity));
        }
        state.PauseTiming();
        if (logged && (!log.close() || log.writtenBytes() != total))
            state.SkipWithError("the log did not get every byte");
        state.counters["table_bytes_per_byte"] =
            static_cast<double>(table.store().memoryUsage()) / static_cast<double>(total);
        state.counters["pane_bytes_per_byte"] =
            static_cast<double>(pane.memoryUsage()) / static_cast<double>(total);
        pane.clear();
        table.clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * total);
}

void BM_SerialText(benchmark::State& s) {
    runCapture(s, LinkPolicy::serial(), false);
}
void BM_SerialTextLogged(benchmark::State& s) {
    runCapture(s, LinkPolicy::serial(), false, true);
}
void BM_SerialHex(benchmark::State& s) {
    runCapture(s, LinkPolicy::serial(), true);
}
void BM_TcpClientText(benchmark::State& s) {
    runCapture(s, LinkPolicy::tcpClient(), false);
}
void BM_TcpClientHex(benchmark::State& s) {
    runCapture(s, LinkPolicy::tcpClient(), true);
}
void BM_TcpListenerText(benchmark::State& s) {
    runCapture(s, LinkPolicy::tcpListener(), false);
}

// Memory of the byte table for a large capture, per received byte.
void BM_StoreMemoryPerByte(benchmark::State& state) {
    const qsizetype n = state.range(0);
    for (auto _ : state) {
        ByteStore store;
        for (qsizetype i = 0; i < n; ++i)
            store.append(static_cast<uint8_t>(i), (i >> 12 & 1) != 0, LineParity::Odd);
        state.counters["bytes_per_byte"] =
            static_cast<double>(store.memoryUsage()) / static_cast<double>(n);
        benchmark::DoNotOptimize(store.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

// 64-byte numbered lines, as the end-to-end benchmark feeds them: an 8-digit number, a blank,
// 53 characters, CR LF.
QByteArray numberedLines(qsizetype size) {
    static const char alpha[] =
        "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ!#$%&()*+,-./:;<=>?@";
    const int alphaLen = static_cast<int>(sizeof alpha - 1);
    QByteArray out;
    out.reserve(size + 64);
    for (qsizetype i = 0; out.size() < size; ++i) {
        char line[65];
        std::snprintf(line, sizeof line, "%08lld ", static_cast<long long>(i % 100000000));
        for (int k = 0; k < 53; ++k)
            line[9 + k] = alpha[(i + k) % alphaLen];
        line[62] = '\r';
        line[63] = '\n';
        out.append(line, 64);
    }
    out.truncate(size);
    return out;
}

// Feeds a capture as the serial link does: reads of 2048 bytes (the port's read size), each
// with its arrival mark, handed over in blocks of up to 10000 bytes.
void feedSerial(ReceiveFormatter& fmt, ReceiveState& st, const QByteArray& data, bool hex,
                ByteTableModel* tableToClear = nullptr) {
    constexpr qsizetype kBlock = 10000;
    constexpr qsizetype kRead = 2048;
    int64_t ns = steadyNowNs();
    std::vector<ArrivalTime> marks;
    for (qsizetype at = 0; at < data.size(); at += kBlock) {
        const qsizetype n = std::min(kBlock, data.size() - at);
        marks.clear();
        for (qsizetype o = 0; o < n; o += kRead)
            marks.push_back(ArrivalTime{o, ns += 1000000});  // 1 ms a read
        fmt.receiveBlock(st, QByteArrayView(data).sliced(at, n), LinkPolicy::serial(), hex,
                         LineParity::None, marks);
        if (tableToClear && tableToClear->receivedCount() > 64 * 1024 * 1024)
            tableToClear->clear();
    }
}

// Memory of the pane and the table per received byte for 64-byte lines, with the time stamps
// on (the packet gap set, as the receive path sets it) or off. The pane keeps a line's time
// either way; the text mode never frames by gaps, the hex mode does.
void BM_MemoryPerByte64(benchmark::State& state) {
    const bool stamps = state.range(0) != 0;
    const bool hex = state.range(1) != 0;
    const qsizetype total = 32 * 1024 * 1024;
    const QByteArray data = numberedLines(total);
    for (auto _ : state) {
        PaneModel pane;
        ByteTableModel table;
        ReceiveFormatter fmt(pane, table);
        fmt.setPacketGap(stamps ? 20 * 1000000 : 0);
        ReceiveState st;
        feedSerial(fmt, st, data, hex);
        const double pane1 = double(pane.memoryUsage()) / double(total);
        const double table1 = double(table.store().memoryUsage()) / double(total);
        state.counters["pane_bytes_per_byte"] = pane1;
        state.counters["table_bytes_per_byte"] = table1;
        state.counters["bytes_per_byte"] = pane1 + table1;
        state.counters["lines"] = pane.lineCount();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * total);
}

// Receive rate of 64-byte lines read as the serial link reads them (with arrival marks), time
// stamps on (packet gap set) or off, text or hex mode: what the stamps cost the receive path.
void BM_Receive64(benchmark::State& state) {
    const bool stamps = state.range(0) != 0;
    const bool hex = state.range(1) != 0;
    const qsizetype total = 16 * 1024 * 1024;
    const QByteArray data = numberedLines(total);
    PaneModel pane;
    ByteTableModel table;
    ReceiveFormatter fmt(pane, table);
    fmt.setPacketGap(stamps ? 20 * 1000000 : 0);
    for (auto _ : state) {
        ReceiveState st;
        feedSerial(fmt, st, data, hex);
        state.PauseTiming();
        pane.clear();
        table.clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * total);
}

// ---- Finding in a 100 MiB capture -----------------------------------------------------------

constexpr qsizetype kFindCapture = 100 * 1024 * 1024;

// The capture, built once: 64-byte numbered lines in text mode (or hex mode).
const PaneModel& capturedPane(bool hex) {
    static std::unique_ptr<PaneModel> panes[2];
    std::unique_ptr<PaneModel>& pane = panes[hex ? 1 : 0];
    if (!pane) {
        panes[hex ? 0 : 1].reset();  // one at a time
        pane = std::make_unique<PaneModel>();
        ByteTableModel table;
        ReceiveFormatter fmt(*pane, table);
        ReceiveState st;
        feedSerial(fmt, st, numberedLines(kFindCapture), hex, &table);
    }
    return *pane;
}

FindQuery textQuery(const char* s) {
    return FindQuery{FindQuery::Input::Text, QString::fromLatin1(s), false};
}
FindQuery hexQuery(const char* s) {
    return FindQuery{FindQuery::Input::Hex, QString::fromLatin1(s), false};
}

// The first match from the top. The number of the last line occurs only there: the whole
// capture is scanned before the match is found (the worst case).
void findFirst(benchmark::State& state, bool hex, const FindQuery& query) {
    const PaneModel& pane = capturedPane(hex);
    PaneFinder finder(pane);
    if (finder.setQuery(query) != FindError::None) {
        state.SkipWithError("bad query");
        return;
    }
    int line = -1;
    for (auto _ : state) {
        const auto m = finder.findNext(PanePosition{}, false);
        line = m ? m->start.line : -1;
        benchmark::DoNotOptimize(line);
    }
    state.counters["match_line"] = line;
    state.counters["lines"] = pane.lineCount();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFindCapture);
}

// The previous match from the end when the only one is on the first line: the windows before
// the end grow until they reach it (the worst case of findPrevious).
void findPreviousFar(benchmark::State& state, const FindQuery& query) {
    const PaneModel& pane = capturedPane(false);
    PaneFinder finder(pane);
    if (finder.setQuery(query) != FindError::None) {
        state.SkipWithError("bad query");
        return;
    }
    int line = -1;
    for (auto _ : state) {
        const auto m = finder.findPrevious(PanePosition{pane.lineCount(), 0}, false);
        line = m ? m->start.line : -1;
        benchmark::DoNotOptimize(line);
    }
    state.counters["match_line"] = line;
}

// Counting every match in slices of 20 ms (as the find bar does); the longest slice is how long
// the window would wait at most.
void countAll(benchmark::State& state, bool hex, const FindQuery& query) {
    const PaneModel& pane = capturedPane(hex);
    qsizetype matches = 0;
    double longest = 0;
    int slices = 0;
    for (auto _ : state) {
        PaneFinder finder(pane);
        if (finder.setQuery(query) != FindError::None) {
            state.SkipWithError("bad query");
            return;
        }
        slices = 0;
        for (bool done = false; !done; ++slices) {
            const auto t0 = std::chrono::steady_clock::now();
            done = finder.countSome(20 * 1000000);
            longest = std::max(longest, std::chrono::duration<double, std::milli>(
                                            std::chrono::steady_clock::now() - t0)
                                            .count());
        }
        matches = finder.count();
    }
    state.counters["matches"] = static_cast<double>(matches);
    state.counters["slices"] = slices;
    state.counters["longest_slice_ms"] = longest;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFindCapture);
}

void BM_FindFirstText(benchmark::State& s) {
    findFirst(s, false, textQuery("01638399"));
}
void BM_FindFirstTextCaseSensitive(benchmark::State& s) {
    findFirst(s, false, FindQuery{FindQuery::Input::Text, "01638399 ", true});
}
void BM_FindFirstBytes(benchmark::State& s) {
    findFirst(s, false, hexQuery("0D 0A 30 31 36 33 38 33 39 39"));
}
void BM_FindPreviousText(benchmark::State& s) {
    findPreviousFar(s, textQuery("00000000"));
}
void BM_CountText(benchmark::State& s) {
    countAll(s, false, textQuery("abc"));
}
void BM_CountTextNamed(benchmark::State& s) {
    countAll(s, false, textQuery("<cr>"));
}
void BM_CountBytes(benchmark::State& s) {
    countAll(s, false, hexQuery("0D 0A"));
}
void BM_FindFirstHexPane(benchmark::State& s) {
    findFirst(s, true, textQuery("0x30 0x31 0x36 0x33 0x38 0x33 0x39 0x39"));
}
void BM_CountHexPane(benchmark::State& s) {
    countAll(s, true, textQuery("0x0A 0x30"));
}

}  // namespace

BENCHMARK(BM_SerialText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SerialTextLogged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SerialHex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TcpClientText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TcpClientHex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TcpListenerText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreMemoryPerByte)
    ->Arg(1000)
    ->Arg(1000000)
    ->Arg(10000000)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_MemoryPerByte64)
    ->ArgNames({"stamps", "hex"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Receive64)
    ->ArgNames({"stamps", "hex"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFirstText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFirstTextCaseSensitive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFirstBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindPreviousText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountTextNamed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFirstHexPane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountHexPane)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
