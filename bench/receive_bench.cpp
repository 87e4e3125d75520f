// Receive throughput: bytes per second through the receive formatter, the pane model and the
// byte table (store and model), in text and hex mode, for the serial and the TCP policy, on
// mixed text with line breaks and some control bytes. Also the pane's and the table's memory
// per received byte. With the log to file on (raw), each block is also handed to the log
// writer before it is shown, as the receive path does: SerialTextLogged against SerialText.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <random>

#include "core/capture/LogWriter.h"

#include "core/receive/ByteStore.h"
#include "core/receive/ByteTableModel.h"
#include "core/receive/PaneModel.h"
#include "core/receive/ReceiveFormatter.h"

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

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
