// M-Bus record decoding: a typical reply of 250 bytes (a heat meter's RSP_UD with 27 records
// and manufacturer data) decoded into a Telegram, alone and with its JSON. The decoder runs
// once per reply in the window and once per line in `--mbus-decode`; it should take well under
// 50 µs per reply.
#include <benchmark/benchmark.h>

#include <QByteArray>

#include "core/mbus/MbusFrame.h"
#include "core/mbus/MbusJson.h"
#include "core/mbus/MbusRecords.h"

using namespace trelmo::mbus;

namespace {

// A Kamstrup MULTICAL 601 reply (the libmbus test frame kamstrup_multical_601.hex), 253 bytes.
QByteArray typicalReply() {
    return parseHexLine(
               u"68 F7 F7 68 08 11 72 17 58 85 06 2D 2C 08 04 04 00 00 00 0C 78 17 58 85 06 04 "
               u"06 E7 91 00 00 04 14 2C DB 00 00 04 22 D9 03 00 00 04 59 B9 27 00 00 04 5D 08 "
               u"12 00 00 04 61 B1 15 00 00 04 2D 5B 01 00 00 14 2D C0 01 00 00 04 3B 1F 02 00 "
               u"00 14 3B 74 02 00 00 84 10 06 00 00 00 00 84 20 06 00 00 00 00 84 40 14 00 00 "
               u"00 00 84 80 40 14 00 00 00 00 84 C0 40 06 00 00 00 00 04 6D 1A 2F 65 11 44 06 "
               u"51 82 00 00 44 14 B2 C3 00 00 54 2D 26 02 00 00 54 3B 03 04 00 00 C4 10 06 00 "
               u"00 00 00 C4 20 06 00 00 00 00 C4 40 14 00 00 00 00 C4 80 40 14 00 00 00 00 C4 "
               u"C0 40 06 00 00 00 00 42 6C 5F 1C 0F 00 00 00 00 E7 E4 00 00 63 66 00 00 00 00 "
               u"00 00 00 00 00 00 00 00 00 00 5B C9 A5 02 34 53 00 00 E0 B2 03 00 89 9C 68 00 "
               u"00 00 00 00 01 00 01 07 07 09 01 03 00 00 00 00 00 98 16")
        .value();
}

void BM_DecodeReply(benchmark::State& state) {
    const QByteArray reply = typicalReply();
    for (auto _ : state) {
        Telegram t = decodeTelegram(reply);
        benchmark::DoNotOptimize(t.records.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * reply.size());
    state.counters["records"] = static_cast<double>(decodeTelegram(reply).records.size());
}
BENCHMARK(BM_DecodeReply)->Unit(benchmark::kMicrosecond);

void BM_DecodeReplyToJson(benchmark::State& state) {
    const QByteArray reply = typicalReply();
    for (auto _ : state) {
        QByteArray json = telegramJson(decodeTelegram(reply));
        benchmark::DoNotOptimize(json.data());
    }
}
BENCHMARK(BM_DecodeReplyToJson)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
