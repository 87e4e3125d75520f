// libFuzzer target: any text as the M-Bus reply caption. The decoder must never read outside
// the text, never hang, fail only with the conversion error and refuse only a text under 20
// characters.
//
// Built with the `fuzz` preset (TRELMO_FUZZ=ON, clang); run by scripts/fuzz.sh.

#include <QString>
#include <cstddef>
#include <cstdint>

#include "core/Convert.h"
#include "core/mbus/MbusDecoder.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString reply =
        QStringLiteral("Received: ") +
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    int writes = 0;
    try {
        const auto decoded =
            trelmo::mbus::decodeReply(reply, [&](const QString& label, const QString&) {
                if (label.isEmpty())
                    __builtin_trap();
                ++writes;
            });
        // Only a text under 20 characters is refused, with its one message and no label.
        FUZZ_CHECK(decoded.ok() == (reply.size() >= 20));
        FUZZ_CHECK(decoded.messages() ==
                   (decoded.ok() ? QStringList() : QStringList{"Nothing to decode!"}));
        FUZZ_CHECK(decoded.ok() || writes == 0);
    } catch (const trelmo::EConvertError&) {
        // The one failure a malformed reply may raise.
    }
    // Every record is at least nine characters long: the walk is bounded by the text.
    if (writes > 4 + 3 * (reply.size() / 9 + 1))
        __builtin_trap();
    return 0;
}
