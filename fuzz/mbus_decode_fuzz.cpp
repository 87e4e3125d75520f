// libFuzzer target: any text as the M-Bus reply caption. The decoder must never read outside
// the text, never hang and fail only with the conversion error.
//
// Built with the `fuzz` preset (TRELMO_FUZZ=ON, clang); run by scripts/fuzz.sh.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/Convert.h"
#include "widgets/Dialogs.h"
#include "mbus/MbusDecoder.h"

namespace {

// Answers every box without showing it.
class SilentDialogs : public trelmo::DialogProvider {
  public:
    trelmo::MsgResult message(const trelmo::MessageRequest&) override {
        return trelmo::MsgResult::Ok;
    }
    std::optional<QString> openFile(const trelmo::FileDialogRequest&) override {
        return std::nullopt;
    }
    std::optional<QString> saveFile(const trelmo::FileDialogRequest&) override {
        return std::nullopt;
    }
    bool print(QWidget*, QPrinter&) override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static SilentDialogs dialogs;
    trelmo::setDialogProvider(&dialogs);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString reply =
        QStringLiteral("Received: ") +
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    int writes = 0;
    try {
        trelmo::mbus::decodeReply(reply, [&](const QString& label, const QString&) {
            if (label.isEmpty())
                __builtin_trap();
            ++writes;
        });
    } catch (const trelmo::EConvertError&) {
        // The one failure a malformed reply may raise.
    }
    // Every record is at least nine characters long: the walk is bounded by the text.
    if (writes > 4 + 3 * (reply.size() / 9 + 1))
        __builtin_trap();
    return 0;
}
